#include "platform/SerialLines.h"
#include "platform/SysRoot.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace velmo {

namespace {

// The resolved path, or "" when it cannot be resolved.
std::string Resolved(const fs::path& path)
{
    std::error_code ec;
    fs::path real = fs::canonical(path, ec);
    return ec ? std::string() : real.string();
}

// The entries of a folder whose names begin with prefix, sorted; none when
// the folder cannot be read.
std::vector<fs::path> Entries(const std::string& folder, const std::string& prefix)
{
    std::vector<fs::path> found;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().filename().string().rfind(prefix, 0) == 0)
            found.push_back(it->path());
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace

std::vector<SerialLine> ModemLineCandidates()
{
    std::vector<SerialLine> lines;
    std::set<std::string> named;
    for (const fs::path& link : Entries(SysRootPath("dev/serial/by-id"), "")) {
        std::string tty = Resolved(link);
        if (!tty.empty() && named.insert(tty).second)
            lines.push_back({link.string(), tty});
    }
    for (const char* prefix : {"ttyUSB", "ttyACM"})
        for (const fs::path& tty : Entries(SysRootPath("dev"), prefix)) {
            std::string real = Resolved(tty);
            if (!real.empty() && !named.count(real))
                lines.push_back({tty.string(), tty.string()});
        }
    return lines;
}

std::vector<std::string> SerialLineHolders(const std::string& tty)
{
    std::vector<std::string> holders;
    std::string target = Resolved(tty);
    if (target.empty())
        return holders;
    std::error_code ec;
    for (fs::directory_iterator proc("/proc", ec), end; !ec && proc != end; proc.increment(ec)) {
        std::string pid = proc->path().filename().string();
        if (pid.empty() || !std::all_of(pid.begin(), pid.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        std::error_code fdError;
        for (fs::directory_iterator fd(proc->path() / "fd", fdError), fdEnd; !fdError && fd != fdEnd;
             fd.increment(fdError)) {
            std::error_code linkError;
            fs::path open = fs::read_symlink(fd->path(), linkError);
            if (linkError || open.string() != target)
                continue;
            std::string name;
            std::getline(std::ifstream(proc->path() / "comm"), name);
            holders.push_back((name.empty() ? "a program" : name) + " (pid " + pid + ")");
            break;
        }
    }
    return holders;
}

}  // namespace velmo

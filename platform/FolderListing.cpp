#include "platform/FolderListing.h"

#include "platform/Text.h"

#include <cstring>
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <time.h>

namespace velmo {

namespace {

// A POSIX time as Windows counts it: 100 ns steps since 1601-01-01 UTC.
std::uint64_t Ticks(const timespec& t)
{
    constexpr std::uint64_t kEpochDifference = 11644473600ULL;  // seconds from 1601 to 1970
    return (static_cast<std::uint64_t>(t.tv_sec) + kEpochDifference) * 10000000ULL +
           static_cast<std::uint64_t>(t.tv_nsec) / 100;
}

}  // namespace

std::uint64_t WrittenNow()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return Ticks(now);
}

std::vector<FolderEntry> ListFolder(const std::string& folder, std::string_view pattern)
{
    std::vector<FolderEntry> entries;
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return entries;
    std::string wanted(pattern);
    while (dirent* e = readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        if (fnmatch(wanted.c_str(), e->d_name, FNM_CASEFOLD | FNM_PERIOD) != 0)
            continue;
        FolderEntry entry{e->d_name, 0, false};
        struct stat st {};
        if (fstatat(dirfd(dir), e->d_name, &st, 0) == 0) {
            entry.folder = S_ISDIR(st.st_mode);
            entry.written = Ticks(st.st_mtim);
        }
        entries.push_back(std::move(entry));
    }
    closedir(dir);
    return entries;
}

std::vector<FolderEntry> ListFolder(const std::u16string& folder, std::string_view pattern)
{
    return ListFolder(Utf16ToUtf8(folder), pattern);
}

std::vector<std::string> ListFileNames(const std::string& folder, std::string_view pattern)
{
    std::vector<std::string> names;
    for (FolderEntry& e : ListFolder(folder, pattern))
        if (!e.folder)
            names.push_back(std::move(e.name));
    return names;
}

}  // namespace velmo

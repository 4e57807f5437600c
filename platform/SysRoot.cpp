#include "platform/SysRoot.h"

#include "platform/Registry.h"
#include "platform/Text.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>

namespace velmo {

std::string SysRoot()
{
    const char* env = std::getenv("VELMO_SYSROOT");
    std::string root = env && *env ? env : "/";
    if (root.back() != '/')
        root += '/';
    return root;
}

std::string SysRootPath(std::string_view relative)
{
    while (!relative.empty() && relative.front() == '/')
        relative.remove_prefix(1);
    return SysRoot() + std::string(relative);
}

bool MakeDirectories(const std::string& path)
{
    if (path.empty())
        return false;
    for (std::size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/')
            continue;
        std::string part = path.substr(0, pos);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::u16string InstallationRoot()
{
    auto value = ReadRegistryString(Hive::LocalMachine, u"Software\\Norvane\\Velmo", u"root");
    // An empty value has no meaning of its own: it counts as missing.
    std::u16string root = value && !value->empty() ? *value : Utf8ToUtf16(SysRootPath("var/lib/velmo"));
    if (root.back() != u'/')
        root += u'/';
    return root;
}

}  // namespace velmo

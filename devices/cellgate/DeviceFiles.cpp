#include "devices/cellgate/DeviceFiles.h"

#include "platform/SysRoot.h"
#include "platform/Text.h"

#include <cctype>

namespace velmo::cellgate {

namespace {

std::string Folder() { return Utf16ToUtf8(InstallationRoot()) + "cellgate/"; }

std::string SafeName(const std::string& device)
{
    std::string out = device.empty() ? std::string("device") : device;
    for (char& c : out)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_')
            c = '_';
    if (out[0] == '.')
        out[0] = '_';
    return out;
}

}  // namespace

std::string DeviceFile(const std::string& device, const std::string& suffix)
{
    return Folder() + SafeName(device) + suffix;
}

bool MakeDeviceFolder() { return MakeDirectories(Folder()); }

}  // namespace velmo::cellgate

#include "platform/BusFiles.h"

#include "platform/File.h"
#include "platform/SysRoot.h"

#include <cerrno>
#include <unistd.h>

namespace velmo {

namespace {
bool WriteText(const std::string& path, const std::string& text)
{
    return MakeDirectories(path.substr(0, path.rfind('/'))) && WriteFileDurably(path, text.data(), text.size());
}
}  // namespace

std::string BusActivationPath(std::string_view busName)
{
    return SysRootPath("usr/share/dbus-1/system-services/" + std::string(busName) + ".service");
}

std::string BusPolicyPath(std::string_view busName)
{
    return SysRootPath("etc/dbus-1/system.d/" + std::string(busName) + ".conf");
}

bool WriteBusActivation(std::string_view busName, const std::string& program, std::string_view systemdUnit,
                        std::string_view user)
{
    std::string text = "[D-BUS Service]\nName=" + std::string(busName) + "\nExec=" + program +
                       "\nUser=" + std::string(user) + "\nSystemdService=" + std::string(systemdUnit) + "\n";
    return WriteText(BusActivationPath(busName), text);
}

bool WriteBusPolicy(std::string_view busName, std::string_view serviceUser, std::string_view callerGroup)
{
    std::string name(busName);
    std::string text = "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
                       " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                       "<busconfig>\n"
                       "  <policy context=\"default\">\n"
                       "    <deny send_destination=\"" +
                       name +
                       "\"/>\n"
                       "    <deny receive_sender=\"" +
                       name +
                       "\" receive_type=\"signal\"/>\n"
                       "  </policy>\n"
                       "  <policy user=\"root\">\n"
                       "    <allow own=\"" +
                       name +
                       "\"/>\n"
                       "    <allow send_destination=\"" +
                       name +
                       "\"/>\n"
                       "    <allow receive_sender=\"" +
                       name +
                       "\" receive_type=\"signal\"/>\n"
                       "  </policy>\n"
                       "  <policy user=\"" +
                       std::string(serviceUser) +
                       "\">\n"
                       "    <allow own=\"" +
                       name +
                       "\"/>\n"
                       "  </policy>\n"
                       "  <policy group=\"" +
                       std::string(callerGroup) +
                       "\">\n"
                       "    <allow send_destination=\"" +
                       name +
                       "\"/>\n"
                       "    <allow receive_sender=\"" +
                       name +
                       "\" receive_type=\"signal\"/>\n"
                       "  </policy>\n"
                       "</busconfig>\n";
    return WriteText(BusPolicyPath(busName), text);
}

bool RemoveBusPolicy(std::string_view busName)
{
    return unlink(BusPolicyPath(busName).c_str()) == 0 || errno == ENOENT;
}

}  // namespace velmo

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
    std::string text = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <policy context="default">
    <deny send_destination="@NAME@"/>
    <deny receive_sender="@NAME@" receive_type="signal"/>
  </policy>
  <policy user="root">
    <allow own="@NAME@"/>
    <allow send_destination="@NAME@"/>
    <allow receive_sender="@NAME@" receive_type="signal"/>
  </policy>
  <policy user="@USER@">
    <allow own="@NAME@"/>
  </policy>
  <policy group="@GROUP@">
    <allow send_destination="@NAME@"/>
    <allow receive_sender="@NAME@" receive_type="signal"/>
  </policy>
</busconfig>
)";
    for (auto [mark, value] :
         {std::pair{std::string_view("@NAME@"), busName}, std::pair{std::string_view("@USER@"), serviceUser},
          std::pair{std::string_view("@GROUP@"), callerGroup}})
        for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + value.size()))
            text.replace(at, mark.size(), value);
    return WriteText(BusPolicyPath(busName), text);
}

bool RemoveBusPolicy(std::string_view busName)
{
    return unlink(BusPolicyPath(busName).c_str()) == 0 || errno == ENOENT;
}

}  // namespace velmo

#include "platform/BusConnection.h"

#include "platform/Registry.h"
#include "platform/Text.h"
#include "platform/SysRoot.h"

#include <cstdlib>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace velmo::detail {

namespace {
const char* Env(const char* name)
{
    const char* v = std::getenv(name);
    return v && *v ? v : nullptr;
}
}  // namespace

std::string LocalBusAddress(BusRole role)
{
    if (role == BusRole::Server && Env("DBUS_STARTER_BUS_TYPE") && Env("DBUS_STARTER_ADDRESS"))
        return Env("DBUS_STARTER_ADDRESS");
    if (const char* system = Env("DBUS_SYSTEM_BUS_ADDRESS"))
        return system;
    if (Env("VELMO_SYSROOT"))
        return "unix:path=" + SysRootPath("run/dbus/system_bus_socket");
    return std::string();
}

std::unique_ptr<sdbus::IConnection> OpenBus(BusRole role, const std::string& host)
{
    if (!host.empty())
        return sdbus::createRemoteSystemBusConnection(host);
    std::string address = LocalBusAddress(role);
    // A socket that is not there fails here: sdbus-c++ loses its half-made
    // connection when opening one fails.
    std::string socket = address.empty() ? "/run/dbus/system_bus_socket" : address;
    if (socket.starts_with("unix:path="))
        socket = socket.substr(10, socket.find(',') == std::string::npos ? std::string::npos : socket.find(',') - 10);
    if (socket.starts_with("/") && access(socket.c_str(), F_OK) != 0)
        throw sdbus::Error("org.freedesktop.DBus.Error.FileNotFound", "no bus at " + socket);
    if (address.empty())
        return sdbus::createSystemBusConnection();
    // Despite its name this opens a bus client connection to any address.
    return sdbus::createSessionBusConnectionWithAddress(address);
}

std::string RemoteServerOf(REFCLSID clsid)
{
    auto appId = ReadRegistryString(Hive::ClassesRoot, u"CLSID\\" + GuidToString(clsid), u"AppID");
    if (!appId || appId->empty())
        return std::string();
    std::u16string key = u"AppId\\" + *appId;
    if (ReadRegistryString(Hive::ClassesRoot, key, u"LocalService"))
        return std::string();
    auto host = ReadRegistryString(Hive::ClassesRoot, key, u"RemoteServerName");
    return host ? Utf16ToUtf8(*host) : std::string();
}

}  // namespace velmo::detail

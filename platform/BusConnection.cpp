#include "platform/BusConnection.h"

#include "platform/BusClient.h"
#include "platform/SysRoot.h"

#include <cstdlib>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
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

}  // namespace velmo::detail

bool velmo::WaitForBusTraffic(sdbus::IConnection& conn, int timeoutMs, std::string* error)
{
    try {
        auto data = conn.getEventLoopPollData();
        int wait = timeoutMs < 0 ? -1 : timeoutMs;
        if (auto relative = data.getRelativeTimeout()) {
            int bus = static_cast<int>((relative->count() + 999) / 1000);
            wait = wait < 0 ? bus : std::min(wait, bus);
        }
        pollfd fd{data.fd, static_cast<short>(data.events), 0};
        if (poll(&fd, 1, wait) >= 0 || errno == EINTR)
            return true;
        if (error)
            *error = std::string("waiting on the bus failed: ") + std::strerror(errno);
    } catch (const sdbus::Error& e) {
        if (error)
            *error = e.getMessage();
    }
    return false;
}

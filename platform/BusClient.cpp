#include "platform/BusClient.h"

#include "platform/BusConnection.h"
#include "platform/BusDataCodec.h"
#include "platform/Timing.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <poll.h>

namespace velmo {

struct BusClient::State {
    std::string destination;
    std::unique_ptr<sdbus::IConnection> conn;
    std::map<std::string, std::unique_ptr<sdbus::IProxy>> proxies;  // by path

    sdbus::IProxy& Proxy(const std::string& path)
    {
        auto& proxy = proxies[path];
        if (!proxy)
            proxy = sdbus::createProxy(*conn, destination, path);
        return *proxy;
    }

    // Waits until the connection has something to process or timeoutMs
    // pass (negative: as long as it takes); false when the wait failed.
    bool WaitForTraffic(int timeoutMs, BusError& error)
    {
        auto data = conn->getEventLoopPollData();
        int wait = timeoutMs < 0 ? -1 : timeoutMs;
        if (auto relative = data.getRelativeTimeout()) {
            int bus = static_cast<int>((relative->count() + 999) / 1000);
            wait = wait < 0 ? bus : std::min(wait, bus);
        }
        pollfd fd{data.fd, static_cast<short>(data.events), 0};
        if (poll(&fd, 1, wait) >= 0 || errno == EINTR)
            return true;
        error = {"org.freedesktop.DBus.Error.IOError",
                 std::string("waiting on the bus failed: ") + std::strerror(errno)};
        return false;
    }
};

namespace {

BusError ErrorOf(const sdbus::Error& e) { return {e.getName(), e.getMessage()}; }

// Runs step; false, with error, when the bus or the values failed it.
template <class Step>
bool Guarded(BusError& error, Step step)
{
    try {
        step();
        return true;
    } catch (const sdbus::Error& e) {
        error = ErrorOf(e);
    } catch (const detail::BusDataError& e) {
        error = {"org.freedesktop.DBus.Error.InvalidSignature", e.what()};
    }
    return false;
}

}  // namespace

BusClient::BusClient(std::unique_ptr<State> state) : state_(std::move(state)) {}

BusClient::~BusClient() = default;

std::unique_ptr<BusClient> BusClient::Connect(const std::string& destination, const std::string& host,
                                              const CLSID* serviceClass, std::string& error)
{
    using namespace velmo::detail;
    try {
        auto state = std::make_unique<State>();
        state->destination = destination;
        state->conn = OpenBus(BusRole::Client, !host.empty() || !serviceClass ? host : RemoteServerOf(*serviceClass));
        return std::unique_ptr<BusClient>(new BusClient(std::move(state)));
    } catch (const sdbus::Error& e) {
        error = e.getMessage();
        return nullptr;
    }
}

bool BusClient::Call(const std::string& path, const std::string& interfaceName, const std::string& method,
                     const std::string& inSignature, const std::vector<BusData>& in, const std::string& outSignature,
                     std::vector<BusData>& out, BusError& error)
{
    return Guarded(error, [&] {
        sdbus::IProxy& proxy = state_->Proxy(path);
        auto call = proxy.createMethodCall(interfaceName, method);
        detail::WriteBusData(call, inSignature, in);
        auto reply = proxy.callMethod(call);
        out = detail::ReadBusData(reply, outSignature);
    });
}

bool BusClient::Subscribe(const std::string& path, const std::string& interfaceName, const std::string& name,
                          const std::string& signature, SignalHandler onSignal, BusError& error)
{
    return Guarded(error, [&] {
        sdbus::IProxy& proxy = state_->Proxy(path);
        proxy.registerSignalHandler(interfaceName, name,
                                    [signature, onSignal = std::move(onSignal)](sdbus::Signal& signal) {
                                        try {
                                            onSignal(detail::ReadBusData(signal, signature));
                                        } catch (const std::exception&) {
                                            // a signal that does not fit is news for nobody
                                        }
                                    });
        proxy.finishRegistration();
    });
}

BusClient::WaitResult BusClient::Wait(int timeoutMs, const std::function<bool()>& done, BusError& error)
{
    const std::int64_t deadline = SteadyMs() + (timeoutMs < 0 ? 0 : timeoutMs);
    try {
        while (true) {
            while (state_->conn->processPendingRequest())
                if (done())
                    return WaitResult::Done;
            if (done())
                return WaitResult::Done;
            int wait = -1;
            if (timeoutMs >= 0) {
                std::int64_t left = deadline - SteadyMs();
                if (left <= 0)
                    return WaitResult::TimedOut;
                wait = static_cast<int>(left);
            }
            if (!state_->WaitForTraffic(wait, error))
                return WaitResult::Lost;
        }
    } catch (const sdbus::Error& e) {
        error = ErrorOf(e);
        return WaitResult::Lost;
    }
}

}  // namespace velmo

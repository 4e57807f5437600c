// A plain client connection to the bus the service is on, for programs
// that speak to its fixed objects (BusObject.h) directly rather than
// through automation proxies. It follows the same rules as the automation
// proxies (docs/platform.md): DBUS_SYSTEM_BUS_ADDRESS, else the system
// root's socket under VELMO_SYSROOT, else the machine's system bus; a host
// name reaches that machine's system bus over SSH.
//
// Arguments, replies and signals are plain values (BusData.h), read and
// written by the signatures the caller gives. A BusClient is used from one
// thread at a time; signals are delivered only while Wait runs, on the
// caller's thread. No exception leaves it: failures are false (or Lost)
// with the bus error's name and message.
#pragma once

#include "platform/BusData.h"
#include "platform/Guid.h"
#include "platform/Types.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velmo {

class VELMO_PLATFORM_API BusClient {
public:
    // host: [USER@]HOST, or "" for the host that the AppID of serviceClass
    // names (RemoteServerName, as CoCreateInstanceEx follows it for a
    // remote server), or this machine when it names none or serviceClass
    // is null. destination is the bus name called. Null when the bus
    // cannot be reached, with the reason in error.
    static std::unique_ptr<BusClient> Connect(const std::string& destination, const std::string& host,
                                              const CLSID* serviceClass, std::string& error);
    ~BusClient();
    BusClient(const BusClient&) = delete;
    BusClient& operator=(const BusClient&) = delete;

    // Calls method of interface at path with in (one value per complete
    // type of inSignature) and waits for the reply, read by outSignature
    // into out. False with error when the call failed or its reply does not
    // fit outSignature.
    bool Call(const std::string& path, const std::string& interfaceName, const std::string& method,
              const std::string& inSignature, const std::vector<BusData>& in, const std::string& outSignature,
              std::vector<BusData>& out, BusError& error);

    // From now on the signal name of interface at path goes to onSignal
    // with its arguments read by signature, during Wait. A signal whose
    // arguments do not fit is dropped.
    using SignalHandler = std::function<void(const std::vector<BusData>& args)>;
    bool Subscribe(const std::string& path, const std::string& interfaceName, const std::string& name,
                   const std::string& signature, SignalHandler onSignal, BusError& error);

    enum class WaitResult { Done, TimedOut, Lost };
    // Handles bus traffic until done() is true (asked after each message),
    // timeoutMs pass (negative: no limit) or the bus fails (Lost, with
    // error).
    WaitResult Wait(int timeoutMs, const std::function<bool()>& done, BusError& error);

private:
    struct State;
    explicit BusClient(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace velmo

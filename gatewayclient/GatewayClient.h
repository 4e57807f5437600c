// The client side of the service's gateway object (docs/gateway.md): one
// connection to the bus, the gateway's methods as plain calls, and its
// signals delivered while the caller waits. Used by velmo and velmo-http.
//
// A GatewayClient is used from one thread at a time. Every call gives
// true, or false with Error() (a sentence for a person) and ErrorName()
// (the bus error's name, for a program to tell cases apart).
#pragma once

#include "interfaces/GatewayNames.h"
#include "platform/BusClient.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmo::gatewayclient {

using gateway::kAccessDeniedError;
using gateway::kInvalidArgsError;
using gateway::kNotFoundError;
using gateway::kRefusedError;

struct MessageStatus {
    std::string status;  // QUEUED, SENT, FAILED, RECEIVED, DELIVERED, UNDELIVERED
    std::string statusText;
    std::string date;  // ISO 8601, UTC
};

struct MessageSummary {
    std::string id, status, to, from, date;
};

// Every field of one message, as Get gives it.
struct Message {
    std::string id, folder, status, to, from, text, statusText, created, completed, received;
    std::int32_t retries = 0;
    // The network's report: when its centre took the message and when it
    // delivered it (or last tried); "" when no report told.
    std::string accepted, discharged;
};

struct Device {
    std::int32_t id = 0;  // 0 for a removed device
    std::string name;
    std::string state;         // starting, running, restarting, waiting, removed
    std::int32_t signal = -1;  // +CSQ 0..31; -1 when not known
    std::string registration;  // home, roaming, searching, denied, none, unknown; "" when not known
    std::string op;            // the operator's name; "" when not known
    // From DeviceDetails; "" (0) where not known or the service is older.
    std::string lastError;  // the last failure since the device last ran
    std::string nextTry;    // ISO 8601, UTC: the next start of a device that is not running
    std::int32_t failedStarts = 0;
    std::string manufacturer, model, revision, imei, imsi;
    std::string smsc;          // the service centre it sends through
    std::string storages;      // where it reads received messages, "SM,ME"
    std::string notification;  // the AT+CNMI setting in use; "none" when it lists its storage
    std::string port;          // the line it is on
    // The gateway host it belongs to, when hosts share the queue; "" otherwise.
    std::string host;
};

// The service's counts since it started (Counters).
struct Counters {
    std::uint64_t queued = 0;
    std::uint64_t waiting = 0;  // messages in the queue now
    struct PerDevice {
        std::string device;  // "" for failures no device took
        std::uint64_t sent = 0, failed = 0, received = 0;
        std::uint64_t delivered = 0, undelivered = 0;  // by the network's reports
        std::string host;                              // its gateway host, when hosts share the queue
    };
    std::vector<PerDevice> devices;
    // Seconds from queued to delivered: bucketCounts[i] messages took at
    // most bounds[i] (cumulative); empty from a service without reports.
    std::vector<double> bounds;
    std::vector<std::uint64_t> bucketCounts;
    double deliverySeconds = 0;
    std::uint64_t deliveries = 0;
    // When hosts share the queue (HostCounters): each host's own counts,
    // this one's included; devices then holds every host's devices.
    // Empty otherwise.
    struct PerHost {
        std::string host;
        std::int64_t reported = 0;  // seconds since 1970 of its figures
        std::uint64_t queued = 0;
        std::vector<std::uint64_t> bucketCounts;  // against bounds
        double deliverySeconds = 0;
        std::uint64_t deliveries = 0;
    };
    std::vector<PerHost> hosts;
};

struct Event {
    enum class Kind { StatusChanged, Received } kind = Kind::StatusChanged;
    std::string id;
    std::string status;      // StatusChanged: QUEUED, SENT, FAILED, DELIVERED or UNDELIVERED
    std::string statusText;  // StatusChanged
    std::string sender;      // Received
    std::string device;      // Received
};

class GatewayClient {
public:
    // host: [USER@]HOST (over SSH), or "" for the machine the registry's
    // AppID of the service names (this one, unless a client machine's
    // RemoteServerName says otherwise). Null when the bus cannot be
    // reached, with the reason in error.
    static std::unique_ptr<GatewayClient> Connect(const std::string& host, std::string& error);
    ~GatewayClient();
    GatewayClient(const GatewayClient&) = delete;
    GatewayClient& operator=(const GatewayClient&) = delete;

    // A recipient or text that holds a NUL fails at once (kInvalidArgsError).
    // expire: how long the message may wait in the queue ("30m"; "" for
    // the queue's own limit), through SendExpiring.
    bool Send(const std::string& to, const std::string& text, std::string& id, const std::string& expire = "");
    bool Status(const std::string& id, MessageStatus& status);
    // limit 0: the service's default page; cursor "" for the first page.
    // next is "" after the last page.
    bool List(const std::string& folder, std::uint32_t limit, const std::string& cursor,
              std::vector<MessageSummary>& messages, std::string& next);
    bool Get(const std::string& id, Message& message);
    // DeviceDetails, or Devices from a service that has no DeviceDetails.
    bool Devices(std::vector<Device>& devices);
    // Counters, and Deliveries and HostCounters where the service has them.
    bool ReadCounters(Counters& counters);

    // From now on every signal of the gateway goes to onEvent, during Wait.
    bool Watch(std::function<void(const Event&)> onEvent);
    enum class WaitResult { Done, TimedOut, Lost };
    // Handles bus traffic until done() is true (asked after each event),
    // timeoutMs pass (negative: no limit) or the bus fails (Lost, with
    // Error()).
    WaitResult Wait(int timeoutMs, const std::function<bool()>& done);

    const std::string& Error() const { return error_; }
    const std::string& ErrorName() const { return errorName_; }

private:
    explicit GatewayClient(std::unique_ptr<BusClient> bus) : bus_(std::move(bus)) {}
    bool Failed(const BusError& e);
    // One method of the gateway; false with the error set.
    bool Call(const char* method, const char* inSignature, const std::vector<BusData>& in, const char* outSignature,
              std::vector<BusData>& out);

    std::unique_ptr<BusClient> bus_;
    std::function<void(const Event&)> onEvent_;
    std::string error_;
    std::string errorName_;
};

// -113 + 2 × signal for a +CSQ signal of 0 to 31 (dBm); nullopt otherwise.
std::optional<int> SignalDbm(std::int32_t signal);

// What a person reads when the bus refuses the caller.
inline constexpr char kAccessDeniedText[] = "access denied: only root and the members of the group velmo may use it "
                                            "(an administrator adds a user with: adduser USER velmo)";

// What a person should read when the service cannot be reached with name.
std::string DescribeBusError(const std::string& name, const std::string& message);

}  // namespace velmo::gatewayclient

// Plain bus objects at fixed paths, served beside the automation classes.
//
// An automation object lives only as long as the client connection that
// holds it; a fixed object is there for every caller the bus policy lets
// through, so one-shot clients (busctl, gdbus, scripts) can use it. It is
// published on the connection that serves the classes (see Automation.h):
// it appears with the first registered class, goes with the last revoked
// one and comes back when the classes are registered again after a lost
// bus. Introspection describes its methods and signals, argument names
// included.
//
// Threads: a method's start runs on the bus thread and must not block; the
// work it returns runs on the bus's worker pool and may; the reply's
// writer runs on the bus thread again. Signals may be emitted from any
// thread; they are sent from the bus thread in order of emission.
//
// Arguments, replies and signals are plain values (BusData.h), read and
// written by the declared signatures. No exception leaves these functions,
// and none may leave the callbacks: an error reply is a BusReply with an
// error name.
#pragma once

#include "platform/BusData.h"
#include "platform/Types.h"

#include <functional>
#include <string>
#include <vector>

namespace velmo {

// The outcome of one method call. errorName empty: success, and values
// are the reply's, one per complete type of the method's outSignature (a
// reply whose values do not fit it is sent as an error instead).
// Otherwise an error reply with that name (for example
// "org.freedesktop.DBus.Error.InvalidArgs") and errorMessage.
struct BusReply {
    std::string errorName;
    std::string errorMessage;
    std::vector<BusData> values;

    static BusReply Success(std::vector<BusData> values) { return BusReply{{}, {}, std::move(values)}; }
    static BusReply Error(std::string name, std::string message)
    {
        return BusReply{std::move(name), std::move(message), {}};
    }
};

// The work of one call, run on a worker thread.
using BusWork = std::function<BusReply()>;

struct BusMethod {
    std::string name;
    std::string inSignature;
    std::vector<std::string> inNames;
    std::string outSignature;
    std::vector<std::string> outNames;
    // Takes the arguments, one per complete type of inSignature (the bus
    // refuses other calls before this runs), and returns the work. A null
    // work answers with an empty success.
    std::function<BusWork(std::vector<BusData> args)> start;
};

struct BusSignal {
    std::string name;
    std::string signature;
    std::vector<std::string> argNames;
};

struct BusObjectSpec {
    std::string path;
    std::string interfaceName;
    std::vector<BusMethod> methods;
    std::vector<BusSignal> signals;
};

// Adds the object to those served. E_INVALIDARG for an empty path or
// interface, or a path already published; S_OK otherwise, also while no
// class is registered (the object appears with the first).
VELMO_PLATFORM_API HRESULT PublishBusObject(BusObjectSpec spec);
// Removes the object; S_FALSE when none is published at path.
VELMO_PLATFORM_API HRESULT WithdrawBusObject(const std::string& path);
// Emits the signal of the object at path with args, one per complete type
// of the signal's declared signature. Dropped, silently, while the object
// is not on the bus (not published, or no class registered, or the bus
// lost), and when args do not fit the signature: a signal is news for
// whoever listens now, never a record.
VELMO_PLATFORM_API void EmitBusSignal(const std::string& path, const std::string& signal, std::vector<BusData> args);

}  // namespace velmo

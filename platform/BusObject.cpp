// The fixed bus objects: what is published, and serving it on the bus
// connection of the automation server while there is one.
#include "platform/BusObject.h"

#include "platform/BusDataCodec.h"
#include "platform/BusFixedObjects.h"

#include <cstdio>
#include <mutex>

namespace velmo::detail {

namespace {

// What is published, and the server that serves it now (null: none).
struct Registry {
    std::mutex mu;
    std::map<std::string, BusObjectSpec> specs;
    FixedObjects* serving = nullptr;
};

Registry& TheRegistry()
{
    static Registry* r = new Registry();  // never destroyed: signals may be emitted until the process ends
    return *r;
}

constexpr const char* kFailedError = "org.freedesktop.DBus.Error.Failed";
constexpr const char* kInvalidArgsError = "org.freedesktop.DBus.Error.InvalidArgs";

}  // namespace

FixedObjects::FixedObjects(sdbus::IConnection& conn, WorkerPool& pool, Later later)
    : conn_(conn), pool_(pool), later_(std::move(later))
{
    std::map<std::string, BusObjectSpec> specs;
    {
        Registry& r = TheRegistry();
        std::lock_guard lock(r.mu);
        specs = r.specs;
        r.serving = this;
    }
    for (const auto& [path, spec] : specs)
        Add(spec);
}

FixedObjects::~FixedObjects()
{
    {
        Registry& r = TheRegistry();
        std::lock_guard lock(r.mu);
        r.serving = nullptr;
    }
    pending_.clear();
    served_.clear();
}

void FixedObjects::Add(const BusObjectSpec& spec)
{
    if (served_.count(spec.path))
        return;
    try {
        Served& s = served_[spec.path];
        s.spec = spec;
        s.bus = sdbus::createObject(conn_, s.spec.path);
        for (const BusMethod& m : s.spec.methods)
            s.bus->registerMethod(s.spec.interfaceName, m.name, m.inSignature, m.inNames, m.outSignature, m.outNames,
                                  [this, &m](sdbus::MethodCall call) { Start(m, std::move(call)); });
        for (const BusSignal& sig : s.spec.signals)
            s.bus->registerSignal(s.spec.interfaceName, sig.name, sig.signature, sig.argNames);
        s.bus->finishRegistration();
    } catch (const sdbus::Error& e) {
        std::fprintf(stderr, "automation bus: %s cannot be served: %s\n", spec.path.c_str(), e.what());
        served_.erase(spec.path);
    }
}

void FixedObjects::Remove(const std::string& path) { served_.erase(path); }

void FixedObjects::Emit(const std::string& path, const std::string& signal, const std::vector<BusData>& args)
{
    auto it = served_.find(path);
    if (it == served_.end())
        return;
    const BusSignal* declared = nullptr;
    for (const BusSignal& s : it->second.spec.signals)
        if (s.name == signal)
            declared = &s;
    try {
        if (!declared)
            throw BusDataError("it is not declared");
        sdbus::Signal message = it->second.bus->createSignal(it->second.spec.interfaceName, signal);
        WriteBusData(message, declared->signature, args);
        it->second.bus->emitSignal(message);
    } catch (const std::exception& e) {
        // Nobody is owed a signal: a lost bus is reported by the server itself.
        std::fprintf(stderr, "automation bus: signal %s not sent: %s\n", signal.c_str(), e.what());
    }
}

void FixedObjects::Start(const BusMethod& method, sdbus::MethodCall call)
{
    BusWork work;
    BusReply early;
    try {
        work = method.start(ReadBusData(call, method.inSignature));
    } catch (const BusDataError& e) {
        early = BusReply::Error(kInvalidArgsError, e.what());
    } catch (const std::exception& e) {
        early = BusReply::Error(kFailedError, e.what());
    }
    std::string client = call.getSender();
    std::uint64_t id = nextCall_++;
    pending_.emplace(id, Call{std::move(call), method.outSignature});
    if (!work) {
        Finish(id, std::move(early));
        return;
    }
    pool_.Post(client, [this, id, work = std::move(work)] {
        auto reply = std::make_shared<BusReply>();
        try {
            *reply = work();
        } catch (const std::exception& e) {
            *reply = BusReply::Error(kFailedError, e.what());
        }
        later_([this, id, reply] { Finish(id, std::move(*reply)); });
    });
}

void FixedObjects::Finish(std::uint64_t id, BusReply outcome)
{
    auto it = pending_.find(id);
    if (it == pending_.end())
        return;
    sdbus::MethodCall call = std::move(it->second.message);
    std::string outSignature = std::move(it->second.outSignature);
    pending_.erase(it);
    try {
        if (!outcome.errorName.empty()) {
            call.createErrorReply(sdbus::Error(outcome.errorName, outcome.errorMessage)).send();
            return;
        }
        auto reply = call.createReply();
        WriteBusData(reply, outSignature, outcome.values);
        reply.send();
    } catch (const sdbus::Error& e) {
        // A reply that cannot be built becomes an error reply; one that
        // cannot be sent has nobody left to receive it.
        try {
            call.createErrorReply(e).send();
        } catch (const sdbus::Error&) {
        }
    } catch (const BusDataError& e) {
        try {
            call.createErrorReply(sdbus::Error(kFailedError, e.what())).send();
        } catch (const sdbus::Error&) {
        }
    }
}

}  // namespace velmo::detail

HRESULT velmo::PublishBusObject(BusObjectSpec spec)
{
    using namespace velmo::detail;
    if (spec.path.empty() || spec.interfaceName.empty())
        return E_INVALIDARG;
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mu);
    if (r.specs.count(spec.path))
        return E_INVALIDARG;
    if (r.serving)
        r.serving->Post([serving = r.serving, spec] { serving->Add(spec); });
    std::string path = spec.path;
    r.specs.emplace(std::move(path), std::move(spec));
    return S_OK;
}

HRESULT velmo::WithdrawBusObject(const std::string& path)
{
    using namespace velmo::detail;
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mu);
    if (!r.specs.erase(path))
        return S_FALSE;
    if (r.serving)
        r.serving->Post([serving = r.serving, path] { serving->Remove(path); });
    return S_OK;
}

void velmo::EmitBusSignal(const std::string& path, const std::string& signal, std::vector<BusData> args)
{
    using namespace velmo::detail;
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mu);
    if (!r.serving || !r.specs.count(path))
        return;
    r.serving->Post([serving = r.serving, path, signal, args = std::move(args)] { serving->Emit(path, signal, args); });
}

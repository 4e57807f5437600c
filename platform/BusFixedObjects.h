// The server side of the fixed bus objects (BusObject.h). Internal to the
// platform library.
//
// The automation bus server owns one FixedObjects while it is on the bus.
// It puts every published object on the server's connection and keeps the
// calls in progress. Construction, destruction and every call into sd-bus
// happen on the bus thread; other threads reach it only through later.
#pragma once

#include "platform/BusObject.h"
#include "platform/WorkerPool.h"

#include <sdbus-c++/sdbus-c++.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace velmo::detail {

class FixedObjects {
public:
    using Later = std::function<void(std::function<void()>)>;

    // Serves every object published now and those published later, until
    // destroyed. pool runs the calls' work; later runs a job on the bus
    // thread after the current dispatch. Both must outlive this, and the
    // pool must be stopped before this is destroyed.
    FixedObjects(sdbus::IConnection& conn, WorkerPool& pool, Later later);
    ~FixedObjects();
    FixedObjects(const FixedObjects&) = delete;
    FixedObjects& operator=(const FixedObjects&) = delete;

    // On the bus thread: puts the object on the bus, or takes it off.
    void Add(const BusObjectSpec& spec);
    void Remove(const std::string& path);
    // On the bus thread: sends one signal of the object at path, if it is
    // on the bus.
    void Emit(const std::string& path, const std::string& signal, const std::vector<BusData>& args);
    // Hands a job to the bus thread.
    void Post(std::function<void()> job) { later_(std::move(job)); }

private:
    struct Served {
        BusObjectSpec spec;
        std::unique_ptr<sdbus::IObject> bus;
    };

    void Start(const BusMethod& method, sdbus::MethodCall call);
    struct Call {
        sdbus::MethodCall message;
        std::string outSignature;
    };
    void Finish(std::uint64_t id, BusReply reply);

    sdbus::IConnection& conn_;
    WorkerPool& pool_;
    Later later_;
    std::map<std::string, Served> served_;
    std::map<std::uint64_t, Call> pending_;
    std::uint64_t nextCall_ = 1;
};

}  // namespace velmo::detail

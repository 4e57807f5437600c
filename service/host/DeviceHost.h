// The home of one configured device inside the service: its id, name,
// class and parameter text as the configuration gave them. The host is
// created by the dispatcher's AddDevice and lives in its device table; it
// does not run a thread until it is started.
#pragma once

#include "platform/Guid.h"

#include <string>

namespace velmo::host {

class DeviceHost {
public:
    DeviceHost(LONG id, std::u16string name, const CLSID& clsid, std::u16string params)
        : id_(id), name_(std::move(name)), clsid_(clsid), params_(std::move(params))
    {
    }
    DeviceHost(const DeviceHost&) = delete;
    DeviceHost& operator=(const DeviceHost&) = delete;

    LONG Id() const { return id_; }
    const std::u16string& Name() const { return name_; }
    const CLSID& Clsid() const { return clsid_; }
    // The whole device entry element of the configuration, as XML text.
    const std::u16string& Params() const { return params_; }

private:
    LONG id_;
    std::u16string name_;
    CLSID clsid_;
    std::u16string params_;
};

} // namespace velmo::host

#include "service/store/Dispatcher.h"

namespace velmo::store {

HRESULT Dispatcher::AddDevice(LONG id, std::u16string name, const CLSID& clsid, std::u16string params)
{
    if (id <= 0)
        return E_FAIL;
    ModeLock::Hold hold(lock_, 2);
    if (devices_.count(id))
        return E_FAIL;
    devices_.emplace(id, std::make_unique<host::DeviceHost>(id, std::move(name), clsid, std::move(params)));
    return S_OK;
}

void Dispatcher::ClearDevices()
{
    ModeLock::Hold hold(lock_, 2);
    devices_.clear();
}

std::size_t Dispatcher::DeviceCount()
{
    ModeLock::Hold hold(lock_, 1);
    return devices_.size();
}

void Dispatcher::ForEachDevice(const std::function<void(host::DeviceHost&)>& visit)
{
    ModeLock::Hold hold(lock_, 1);
    for (auto& [id, device] : devices_)
        visit(*device);
}

int Dispatcher::AddRule(std::u16string_view pattern, LONG deviceId, bool continueSearch)
{
    ModeLock::Hold hold(lock_, 2);
    int error = 0;
    auto rule = RoutingRule::Compile(pattern, deviceId, continueSearch, &error);
    if (rule)
        rules_.push_back(std::move(rule));
    return error;
}

void Dispatcher::ForEachRule(const std::function<void(const RoutingRule&)>& visit)
{
    ModeLock::Hold hold(lock_, 1);
    for (const auto& rule : rules_)
        visit(*rule);
}

} // namespace velmo::store

// The dispatcher's routing rules and the choice of a device for a message.
#include "service/store/Dispatcher.h"

#include <cstdlib>

namespace velmo::store {

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

LONG Dispatcher::ChooseDevice(const Bstr& to) const
{
    if (to.IsNull())
        return defaultDevice_;
    std::vector<LONG> candidates;
    for (const auto& rule : rules_) {
        if (!rule->Matches(to.view()))
            continue;
        candidates.push_back(rule->DeviceId());
        if (!rule->ContinueSearch())
            break;
    }
    if (candidates.empty())
        return defaultDevice_;
    if (candidates.size() == 1)
        return candidates.front();
    return candidates[static_cast<std::size_t>(std::rand()) % candidates.size()];
}

} // namespace velmo::store

// The dispatcher's routing rules and the choice of a device for a message.
#include "service/store/Dispatcher.h"

#include <cstdint>
#include <mutex>
#include <random>

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
    if (choice == Choice::FewestWaiting) {
        // Those with the fewest messages queued or handed out and not yet
        // reported; a device no longer in the table is passed over.
        std::size_t fewest = SIZE_MAX;
        std::vector<LONG> best;
        for (LONG id : candidates) {
            auto it = devices_.find(id);
            if (it == devices_.end())
                continue;
            std::size_t waiting = it->second->PendingCount();
            if (waiting < fewest)
                best.clear();
            if (waiting <= fewest) {
                fewest = waiting;
                best.push_back(id);
            }
        }
        if (!best.empty())
            candidates = std::move(best);
    }
    std::lock_guard lock(randomLock_);
    return candidates[std::uniform_int_distribution<std::size_t>(0, candidates.size() - 1)(random_)];
}

}  // namespace velmo::store

#include "service/routing/Router.h"

#include <algorithm>
#include <cstdint>

namespace velmo::routing {

int Router::AddRule(std::u16string_view pattern, LONG deviceId, bool continueSearch)
{
    int error = 0;
    auto rule = RoutingRule::Compile(pattern, deviceId, continueSearch, &error);
    if (rule)
        rules_.push_back(std::move(rule));
    return error;
}

void Router::RemoveRulesOf(LONG deviceId)
{
    std::erase_if(rules_, [&](const auto& rule) { return rule->DeviceId() == deviceId; });
}

void Router::ForEachRule(const std::function<void(const RoutingRule&)>& visit) const
{
    for (const auto& rule : rules_)
        visit(*rule);
}

LONG Router::Choose(const Bstr& to, const Waiting& waiting) const
{
    if (to.IsNull())
        return leaveUnmatched_ ? kLeave : defaultDevice_;
    std::vector<LONG> candidates;
    for (const auto& rule : rules_) {
        if (!rule->Matches(to.view()))
            continue;
        candidates.push_back(rule->DeviceId());
        if (!rule->ContinueSearch())
            break;
    }
    if (candidates.empty())
        return leaveUnmatched_ ? kLeave : defaultDevice_;
    if (candidates.size() == 1)
        return candidates.front();
    if (choice_ == Choice::FewestWaiting) {
        // Those with the fewest messages queued or handed out and not yet
        // reported; a device no longer in the table is passed over.
        std::size_t fewest = SIZE_MAX;
        std::vector<LONG> best;
        for (LONG id : candidates) {
            std::optional<std::size_t> count = waiting(id);
            if (!count)
                continue;
            if (*count < fewest)
                best.clear();
            if (*count <= fewest) {
                fewest = *count;
                best.push_back(id);
            }
        }
        if (!best.empty())
            candidates = std::move(best);
    }
    std::lock_guard lock(randomLock_);
    return candidates[std::uniform_int_distribution<std::size_t>(0, candidates.size() - 1)(random_)];
}

}  // namespace velmo::routing

// The routing rules and the choice of a device for a recipient.
//
// The rules are tried in the order they were added; each that matches the
// recipient makes its device a candidate, and the search ends at the first
// matching rule that does not continue it. Among several candidates one is
// picked at random, or among those with the fewest messages waiting when
// the choice says so; with no candidate the default device is chosen.
//
// A Router is not locked itself: the device table holds it under its lock
// (mode 1 to choose and visit, mode 2 to change). Choose may run on many
// threads at once; only the random draw has a lock of its own.
#pragma once

#include "platform/Bstr.h"
#include "service/routing/RoutingRule.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <vector>

namespace velmo::routing {

class Router {
public:
    enum class Choice { Random, FewestWaiting };

    // 0, or the non-zero code of regcompW (the rule is not added then).
    int AddRule(std::u16string_view pattern, LONG deviceId, bool continueSearch);
    // Drops every rule that names the device.
    void RemoveRulesOf(LONG deviceId);
    void ForEachRule(const std::function<void(const RoutingRule&)>& visit) const;

    // What Choose gives for a recipient no rule matches when unmatched
    // recipients are left to other hosts.
    static constexpr LONG kLeave = -1;
    // Whether a recipient no rule matches is left to the other hosts of a
    // shared store (kLeave) rather than given to the default device.
    void SetLeaveUnmatched(bool leave) { leaveUnmatched_ = leave; }
    bool LeavesUnmatched() const { return leaveUnmatched_; }
    void SetDefaultDevice(LONG id) { defaultDevice_ = id; }
    LONG DefaultDevice() const { return defaultDevice_; }
    void SetChoice(Choice choice) { choice_ = choice; }
    Choice GetChoice() const { return choice_; }

    // How many messages a device has waiting; nullopt when it is not in the
    // table (it is passed over then).
    using Waiting = std::function<std::optional<std::size_t>(LONG id)>;
    // The device for a recipient; a null recipient, or one no rule
    // matches, gets the default (or kLeave, see SetLeaveUnmatched).
    LONG Choose(const Bstr& to, const Waiting& waiting) const;

private:
    std::vector<std::unique_ptr<RoutingRule>> rules_;
    LONG defaultDevice_ = 0;
    bool leaveUnmatched_ = false;
    Choice choice_ = Choice::Random;
    // Seeded once, before anything is routed; routing threads share it.
    mutable std::mutex randomLock_;
    mutable std::mt19937 random_{std::random_device{}()};
};

}  // namespace velmo::routing

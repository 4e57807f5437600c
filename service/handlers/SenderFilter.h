// Who may talk to one event handler: the allow list and the deny list of
// a handler entry in config.xml (its attributes allow and deny).
//
// Each list holds patterns separated by commas or spaces, each matched
// against the whole sender as the network gives it ("+491711234567", a
// national "01711234567" or a name like "Vodafone"): "*" stands for any
// run of characters, "?" for one, "[0-9]" for one of a set (MatchesShellPattern).
// A message is offered to the handler when the allow list is empty or one
// of its patterns matches, and no pattern of the deny list does. A message
// without a sender matches no pattern. An empty filter lets everyone in.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmo::handlers {

class SenderFilter {
public:
    // The filter of the two attribute texts; nullopt with the reason in
    // error when a list holds more than kMaxPatterns patterns or one longer
    // than kMaxPatternLength.
    static std::optional<SenderFilter> Parse(std::string_view allow, std::string_view deny, std::string& error);

    static constexpr std::size_t kMaxPatterns = 1000;
    static constexpr std::size_t kMaxPatternLength = 64;

    // Whether a message from sender (UTF-8) is offered; when not, why says
    // which list kept it out.
    bool Allows(const std::string& sender, std::string* why = nullptr) const;
    bool Empty() const { return allow_.empty() && deny_.empty(); }

private:
    std::vector<std::string> allow_, deny_;
};

}  // namespace velmo::handlers

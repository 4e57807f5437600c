// One routing rule: a compiled extended regular expression tried against a
// recipient address, the device it names, and whether the search goes on
// after it matched. Compiled once with Boost.Regex's POSIX wide interface;
// the compiled pattern is freed with the rule. (Boost's POSIX header stays
// out of this one: its macros clash with the C library's regex.h.)
#pragma once

#include "platform/Types.h"

#include <memory>
#include <string>

namespace velmo::routing {

class RoutingRule {
public:
    // Compiles pattern with REG_EXTENDED; null and the non-zero code of
    // regcompW in error when it does not compile.
    static std::unique_ptr<RoutingRule> Compile(std::u16string_view pattern, LONG deviceId, bool continueSearch,
                                                int* error);
    RoutingRule(const RoutingRule&) = delete;
    RoutingRule& operator=(const RoutingRule&) = delete;
    ~RoutingRule();

    // Whether the pattern matches somewhere in address (REG_STARTEND over
    // the whole text, REG_NOTBOL | REG_NOTEOL).
    bool Matches(std::u16string_view address) const;
    LONG DeviceId() const { return deviceId_; }
    bool ContinueSearch() const { return continue_; }

private:
    struct Compiled;
    RoutingRule(LONG deviceId, bool continueSearch);
    std::unique_ptr<Compiled> pattern_;
    LONG deviceId_;
    bool continue_;
};

// What is wrong with a pattern that compiles but has an anchor, ^ or $
// outside a bracket expression and not escaped: with the address searched
// as the middle of a line neither ever matches, so the rule (or that
// branch of it) never does. A sentence for an administrator; "" when the
// pattern has no anchor.
std::string AnchorWarning(std::u16string_view pattern);

// regcompW's error code in words ("Unmatched [ or [^"); "error N" for a
// code without words.
std::string PatternErrorText(int code);

// UTF-16 to the wchar_t (UTF-32) text the wide regex interface reads; an
// unpaired surrogate becomes U+FFFD.
std::wstring ToWide(std::u16string_view text);

}  // namespace velmo::routing

// The rules every new outgoing message keeps, whichever way it comes in:
// the gateway's Send (and so velmo send and velmo-http), the automation
// object NewSMS, velmo drop and a file in pickup/.
//
// A recipient is written as people write numbers: spaces, dashes, dots and
// parentheses are dropped, and what is left must be an optional "+" and 1
// to kMaxDigits digits. A text holds no NUL character and at most
// kMaxTextUnits UTF-16 units (the longest concatenated message, 255 parts
// of 153 GSM characters, fits).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace velmo::messagefile {

inline constexpr std::size_t kMaxDigits = 20;
inline constexpr std::size_t kMaxTextUnits = 40000;
inline constexpr char kNoRecipient[] = "Must specify To address";
inline constexpr char kTextTooLong[] = "The text is longer than 40000 characters: it is refused";

// The recipient as it is sent (the separators dropped); nullopt with the
// rule it breaks in why (kNoRecipient for an empty or null one).
std::optional<std::u16string> NormalRecipient(std::u16string_view to, std::string& why);

// Empty when text keeps the rules, else the rule it breaks.
std::string TextProblem(std::u16string_view text);

// Both checks of a new message, the recipient's first: the recipient as
// it is sent, or nullopt with the first rule broken in why.
std::optional<std::u16string> CheckNewMessage(std::u16string_view to, std::u16string_view text, std::string& why);

}  // namespace velmo::messagefile

#include "messagefile/MessageRules.h"

#include "platform/Text.h"

namespace velmo::messagefile {

namespace {

constexpr std::size_t kQuoted = 40;  // of a refused recipient, quoted back

bool Separator(char16_t c) { return c == u' ' || c == u'-' || c == u'.' || c == u'(' || c == u')'; }

}  // namespace

std::optional<std::u16string> NormalRecipient(std::u16string_view to, std::string& why)
{
    std::u16string normal;
    for (char16_t c : to)
        if (!Separator(c)) {
            if (normal.size() > kMaxDigits + 1)
                break;  // already too long; the rest does not change the verdict
            normal += c;
        }
    if (normal.empty()) {
        why = kNoRecipient;
        return std::nullopt;
    }
    std::size_t digits = normal.size() - (normal[0] == u'+' ? 1 : 0);
    bool onlyDigits = true;
    for (std::size_t i = normal.size() - digits; i < normal.size(); ++i)
        onlyDigits = onlyDigits && normal[i] >= u'0' && normal[i] <= u'9';
    if (onlyDigits && digits >= 1 && digits <= kMaxDigits)
        return normal;
    std::u16string shown(to.substr(0, kQuoted));
    why = "The recipient '" + EscapeControls(Utf16ToUtf8(shown)) + (to.size() > kQuoted ? "..." : "") +
          "' is not a phone number: without spaces, dashes, dots and parentheses it must be an optional + "
          "and 1 to " +
          std::to_string(kMaxDigits) + " digits";
    return std::nullopt;
}

std::string TextProblem(std::u16string_view text)
{
    if (text.size() > kMaxTextUnits)
        return kTextTooLong;
    if (text.find(u'\0') != std::u16string_view::npos)
        return "The text holds a NUL character: it is refused";
    return {};
}

std::optional<std::u16string> CheckNewMessage(std::u16string_view to, std::u16string_view text, std::string& why)
{
    std::optional<std::u16string> normal = NormalRecipient(to, why);
    if (normal && !(why = TextProblem(text)).empty())
        return std::nullopt;
    return normal;
}

}  // namespace velmo::messagefile

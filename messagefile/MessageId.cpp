#include "messagefile/MessageId.h"

#include "platform/Text.h"

namespace velmo::messagefile {

std::optional<GUID> ParseMessageId(std::string_view text)
{
    std::string braced(text);
    if (!braced.starts_with("{"))
        braced = "{" + braced + "}";
    if (braced.size() != 38)
        return std::nullopt;
    GUID id{};
    if (FAILED(CLSIDFromString(Utf8ToUtf16(braced).c_str(), &id)))
        return std::nullopt;
    return id;
}

std::optional<GUID> IdOfFileName(std::u16string_view name, std::u16string_view suffix)
{
    if (name.size() <= suffix.size())
        return std::nullopt;
    std::u16string_view end = name.substr(name.size() - suffix.size());
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
        if (lower(end[i]) != lower(suffix[i]))
            return std::nullopt;
    }
    return ParseGuid(name.substr(0, name.size() - suffix.size()));
}

}  // namespace velmo::messagefile

#include "messagefile/TextLines.h"

#include "platform/Text.h"

namespace velmo::messagefile {

std::string PlainLines(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r')
            out += text[i];
        else if (i + 1 >= text.size() || text[i + 1] != '\n')
            out += '\n';
    }
    std::size_t first = out.find_first_not_of('\n');
    if (first == std::string::npos)
        return {};
    return out.substr(first, out.find_last_not_of('\n') - first + 1);
}

std::string OneLine(std::string_view text)
{
    std::string out;
    bool pendingBreak = false;
    for (char c : text) {
        if (c == '\r' || c == '\n') {
            pendingBreak = !out.empty();
            continue;
        }
        if (pendingBreak)
            out += "; ";
        pendingBreak = false;
        out += c;
    }
    return out;
}

std::string BoundedText(std::u16string_view text, std::size_t maxUnits)
{
    if (text.size() <= maxUnits)
        return Utf16ToUtf8(text);
    std::size_t keep = maxUnits;
    if (keep > 0 && text[keep - 1] >= 0xD800 && text[keep - 1] <= 0xDBFF)
        --keep;
    return Utf16ToUtf8(text.substr(0, keep)) + " [cut: " + std::to_string(text.size()) + " characters in all]";
}

}  // namespace velmo::messagefile

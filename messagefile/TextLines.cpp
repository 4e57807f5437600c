#include "messagefile/TextLines.h"

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

}  // namespace velmo::messagefile

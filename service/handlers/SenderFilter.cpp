#include "service/handlers/SenderFilter.h"

#include "platform/Text.h"

namespace velmo::handlers {

namespace {

bool Separator(char c) { return c == ',' || c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::optional<std::vector<std::string>> Patterns(std::string_view text, const char* list, std::string& error)
{
    std::vector<std::string> patterns;
    std::size_t i = 0;
    while (i < text.size()) {
        if (Separator(text[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && !Separator(text[end]))
            ++end;
        if (end - i > SenderFilter::kMaxPatternLength) {
            error = std::string("a pattern of the ") + list + " list is longer than " +
                    std::to_string(SenderFilter::kMaxPatternLength) + " characters";
            return std::nullopt;
        }
        if (patterns.size() == SenderFilter::kMaxPatterns) {
            error = std::string("the ") + list + " list holds more than " + std::to_string(SenderFilter::kMaxPatterns) +
                    " patterns";
            return std::nullopt;
        }
        patterns.emplace_back(text.substr(i, end - i));
        i = end;
    }
    return patterns;
}

bool AnyMatches(const std::vector<std::string>& patterns, const std::string& sender)
{
    for (const std::string& p : patterns)
        if (MatchesShellPattern(p, sender))
            return true;
    return false;
}

}  // namespace

std::optional<SenderFilter> SenderFilter::Parse(std::string_view allow, std::string_view deny, std::string& error)
{
    auto allowed = Patterns(allow, "allow", error);
    auto denied = allowed ? Patterns(deny, "deny", error) : std::nullopt;
    if (!allowed || !denied)
        return std::nullopt;
    SenderFilter filter;
    filter.allow_ = std::move(*allowed);
    filter.deny_ = std::move(*denied);
    return filter;
}

bool SenderFilter::Allows(const std::string& sender, std::string* why) const
{
    // A sender with a NUL is nobody's number.
    const bool known = !sender.empty() && sender.find('\0') == std::string::npos;
    if (!allow_.empty() && !(known && AnyMatches(allow_, sender))) {
        if (why)
            *why = "not on its allow list";
        return false;
    }
    if (known && AnyMatches(deny_, sender)) {
        if (why)
            *why = "on its deny list";
        return false;
    }
    return true;
}

}  // namespace velmo::handlers

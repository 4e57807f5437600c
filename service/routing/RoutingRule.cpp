#include "service/routing/RoutingRule.h"

#include <boost/cregex.hpp>

#include <cstring>

namespace velmo::routing {

std::wstring ToWide(std::u16string_view text)
{
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        out.push_back(static_cast<wchar_t>(c));
    }
    return out;
}

std::string AnchorWarning(std::u16string_view pattern)
{
    bool bracket = false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        char16_t c = pattern[i];
        if (bracket) {
            // ] ends the expression, except first ([]...] and [^]...]); [:alpha:] and the like hold no ].
            bool first = pattern[i - 1] == u'[' || (pattern[i - 1] == u'^' && i >= 2 && pattern[i - 2] == u'[');
            if (c == u'[' && i + 1 < pattern.size() &&
                (pattern[i + 1] == u':' || pattern[i + 1] == u'.' || pattern[i + 1] == u'=')) {
                std::size_t end = pattern.find(std::u16string{pattern[i + 1], u']'}, i + 2);
                i = end == std::u16string_view::npos ? pattern.size() : end + 1;
            } else if (c == u']' && !first) {
                bracket = false;
            }
            continue;
        }
        if (c == u'\\') {
            ++i;
        } else if (c == u'[') {
            bracket = true;
        } else if (c == u'^' || c == u'$') {
            return std::string(1, static_cast<char>(c)) +
                   " never matches here: a rule is searched for anywhere in the address, and ^ and $ match at "
                   "neither of its ends (leave the anchor out: \\+49 finds +49 anywhere in the address)";
        }
    }
    return "";
}

std::string PatternErrorText(int code)
{
    char text[256] = {};
    boost::regerrorA(code, nullptr, text, sizeof text);
    std::string words = text;
    while (!words.empty() && (words.back() == '.' || words.back() == ' '))
        words.pop_back();
    return words.empty() ? "error " + std::to_string(code) : words;
}

struct RoutingRule::Compiled {
    boost::regex_tW regex{};
};

RoutingRule::RoutingRule(LONG deviceId, bool continueSearch)
    : pattern_(std::make_unique<Compiled>()), deviceId_(deviceId), continue_(continueSearch)
{}

std::unique_ptr<RoutingRule> RoutingRule::Compile(std::u16string_view pattern, LONG deviceId, bool continueSearch,
                                                  int* error)
{
    std::unique_ptr<RoutingRule> rule(new RoutingRule(deviceId, continueSearch));
    std::wstring wide = ToWide(pattern);
    int rc = boost::regcompW(&rule->pattern_->regex, wide.c_str(), boost::REG_EXTENDED);
    if (error)
        *error = rc;
    if (rc != 0) {
        // A failed compile leaves nothing to free; keep the destructor from trying.
        rule->pattern_->regex.guts = nullptr;
        return nullptr;
    }
    return rule;
}

RoutingRule::~RoutingRule()
{
    if (pattern_->regex.guts)
        boost::regfreeW(&pattern_->regex);
}

bool RoutingRule::Matches(std::u16string_view address) const
{
    std::wstring wide = ToWide(address);
    boost::regmatch_t match[1];
    match[0].rm_so = 0;
    match[0].rm_eo = static_cast<boost::regoff_t>(wide.size());
    int rc = boost::regexecW(&pattern_->regex, wide.c_str(), 1, match,
                             boost::REG_STARTEND | boost::REG_NOTBOL | boost::REG_NOTEOL);
    return rc == 0;
}

}  // namespace velmo::routing

#include "messagefile/Duration.h"

namespace velmo::messagefile {

namespace {

constexpr std::size_t kLongestText = 32;

struct Unit {
    char letter;
    std::uint64_t seconds;
};
constexpr Unit kUnits[] = {{'w', 604800}, {'d', 86400}, {'h', 3600}, {'m', 60}, {'s', 1}};

}  // namespace

std::optional<std::uint64_t> ParseDuration(std::string_view text)
{
    if (text.empty() || text.size() > kLongestText)
        return std::nullopt;
    std::uint64_t total = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        std::uint64_t number = 0;
        std::size_t digits = 0;
        for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits) {
            number = number * 10 + static_cast<std::uint64_t>(text[at] - '0');
            if (number > kLongestPeriod)
                return std::nullopt;
        }
        if (digits == 0)
            return std::nullopt;
        std::uint64_t unit = 1;
        if (at < text.size()) {
            const Unit* found = nullptr;
            for (const Unit& u : kUnits)
                if (text[at] == u.letter)
                    found = &u;
            if (!found)
                return std::nullopt;
            unit = found->seconds;
            ++at;
        }
        total += number * unit;  // both at most kLongestPeriod, so no wrap
        if (total > kLongestPeriod)
            return std::nullopt;
    }
    return total;
}

double SecondsBetween(const SYSTEMTIME& from, const SYSTEMTIME& to)
{
    double a = 0, b = 0;
    if (!from.wYear || !to.wYear || !SystemTimeToVariantTime(&from, &a) || !SystemTimeToVariantTime(&to, &b))
        return 0;
    return b > a ? (b - a) * 86400.0 : 0;
}

std::string FormatDuration(std::uint64_t seconds)
{
    if (seconds == 0)
        return "0s";
    std::string out;
    for (const Unit& u : kUnits) {
        if (u.letter == 'w' && seconds % u.seconds != 0)
            continue;  // weeks only when they say it whole: "10d", not "1w3d"
        if (std::uint64_t n = seconds / u.seconds) {
            out += std::to_string(n) + u.letter;
            seconds %= u.seconds;
        }
    }
    return out;
}

}  // namespace velmo::messagefile

// Periods as administrators write them in config.xml, device parameters,
// HTTP fields and command lines: "30m", "6h", "4d", "1h30m", "90s", "2w",
// or a bare number of seconds.
#pragma once

#include "platform/SystemTime.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmo::messagefile {

// The longest period any setting takes: ten years, in seconds.
inline constexpr std::uint64_t kLongestPeriod = 10ULL * 366 * 86400;

// The seconds of text: one or more numbers each followed by s, m, h, d or w
// (a bare number is seconds), no signs, no spaces, at most 32 characters.
// nullopt for anything else, or for a period past kLongestPeriod.
std::optional<std::uint64_t> ParseDuration(std::string_view text);
// The period in the largest units that say it exactly: 5400 gives
// "1h30m", 172800 "2d", 0 "0s".
std::string FormatDuration(std::uint64_t seconds);

// Seconds from one UTC time to a later one: how long a message waited. 0
// when either is not set, or when to is not later.
double SecondsBetween(const SYSTEMTIME& from, const SYSTEMTIME& to);

}  // namespace velmo::messagefile

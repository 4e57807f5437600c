// The SMS text of one Alertmanager webhook notification (one alert group):
//
//   [FIRING:2] HighLoad db1: Load above 10 on db1; Load above 10 on db2
//
// The head is Alertmanager's own default title: the group's status in
// capitals, for a firing group the number of firing alerts, then the
// values of the group labels (sorted by name; the alert name when the
// group has none). Then the alerts' summaries (the annotation "summary",
// else "description", else the label "instance"), each once, firing
// alerts first, joined by "; ".
//
// At most maxLength characters: summaries that do not fit are left out
// and counted ("... (+3 more)"); a first summary too long is cut at a word
// with "..."; so is a head too long. Only GSM characters are added, so a
// text that fits one SMS stays in one.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <string>

namespace velmo::http {

// Only the first maxAlerts alerts are read; how many more there were goes
// to leftOut when given. nullopt with the reason in error for a payload
// that is not an Alertmanager notification (no "status", no "alerts"
// array, no alert, an alert that is not an object).
std::optional<std::string> AlertText(const nlohmann::json& payload, std::size_t maxLength, std::size_t maxAlerts,
                                     std::string& error, std::size_t* leftOut = nullptr);

// The characters (code points) of UTF-8 text.
std::size_t Characters(const std::string& text);
// text cut to at most max characters, at a word where there is one, with
// "..." in place of what was cut; text itself when it fits.
std::string CutText(const std::string& text, std::size_t max);

}  // namespace velmo::http

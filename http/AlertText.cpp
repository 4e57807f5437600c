#include "http/AlertText.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <set>

namespace velmo::http {

namespace {

constexpr char kEllipsis[] = "...";

bool Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The byte offset after the first n characters of text.
std::size_t BytesOf(const std::string& text, std::size_t n)
{
    std::size_t i = 0;
    for (std::size_t count = 0; i < text.size() && count < n; ++count) {
        ++i;
        while (i < text.size() && Continuation(text[i]))
            ++i;
    }
    return i;
}

// The member key of object, or an empty object; never a copy.
const nlohmann::json& Member(const nlohmann::json& object, const char* key)
{
    static const nlohmann::json empty = nlohmann::json::object();
    if (!object.is_object())
        return empty;
    auto it = object.find(key);
    return it != object.end() ? *it : empty;
}

// The string member key of object; empty when it is absent or no string.
std::string Str(const nlohmann::json& object, const char* key)
{
    const nlohmann::json& value = Member(object, key);
    return value.is_string() ? value.get<std::string>() : std::string();
}

std::string Upper(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

std::string Summary(const nlohmann::json& alert)
{
    const nlohmann::json& annotations = Member(alert, "annotations");
    const nlohmann::json& labels = Member(alert, "labels");
    for (const std::string& s : {Str(annotations, "summary"), Str(annotations, "description"), Str(labels, "instance"),
                                 Str(labels, "alertname")})
        if (!s.empty())
            return s;
    return {};
}

}  // namespace

std::size_t Characters(const std::string& text)
{
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) { return !Continuation(c); }));
}

std::string CutText(const std::string& text, std::size_t max)
{
    if (Characters(text) <= max)
        return text;
    std::size_t keep = max > 3 ? max - 3 : 0;
    std::string cut = text.substr(0, BytesOf(text, keep));
    auto space = cut.find_last_of(' ');
    if (space != std::string::npos && space > cut.size() / 2)
        cut.resize(space);
    while (!cut.empty() && (cut.back() == ' ' || cut.back() == ';' || cut.back() == ','))
        cut.pop_back();
    return cut + kEllipsis;
}

std::optional<std::string> AlertText(const nlohmann::json& payload, std::size_t maxLength, std::size_t maxAlerts,
                                     std::string& error, std::size_t* leftOut)
{
    const nlohmann::json& all = Member(payload, "alerts");
    if (!all.is_array() || Str(payload, "status").empty()) {
        error = "not an Alertmanager notification: \"status\" and \"alerts\" are missing";
        return std::nullopt;
    }
    if (all.empty()) {
        error = "the notification holds no alert";
        return std::nullopt;
    }
    std::vector<const nlohmann::json*> alerts;
    for (const auto& a : all) {
        if (alerts.size() == maxAlerts)
            break;
        if (!a.is_object()) {
            error = "alert " + std::to_string(alerts.size() + 1) + " is not an object";
            return std::nullopt;
        }
        alerts.push_back(&a);
    }
    if (leftOut)
        *leftOut = all.size() - alerts.size();
    std::string status = Str(payload, "status");
    std::size_t firing = 0;
    for (const nlohmann::json* a : alerts)
        firing += Str(*a, "status") == "firing" ? 1 : 0;

    std::string head = "[" + Upper(status) + (status == "firing" ? ":" + std::to_string(firing) : "") + "]";
    std::map<std::string, std::string> group;  // sorted by label name, as Alertmanager sorts them
    if (const nlohmann::json& labels = Member(payload, "groupLabels"); labels.is_object())
        for (const auto& [name, value] : labels.items())
            if (value.is_string())
                group[name] = value.get<std::string>();
    if (group.empty()) {
        std::string name = Str(Member(payload, "commonLabels"), "alertname");
        if (name.empty())
            name = Str(Member(*alerts[0], "labels"), "alertname");
        if (!name.empty())
            group["alertname"] = name;
    }
    for (const auto& [name, value] : group)
        head += " " + value;
    head = CutText(head, maxLength);

    std::vector<std::string> summaries;
    std::set<std::string> seen;
    for (bool firingPass : {true, false})
        for (const nlohmann::json* a : alerts) {
            if ((Str(*a, "status") == "firing") != firingPass)
                continue;
            std::string s = Summary(*a);
            if (!s.empty() && seen.insert(s).second)
                summaries.push_back(s);
        }

    std::string text = head;
    std::size_t used = 0;
    for (const std::string& s : summaries) {
        std::string next = text + (used == 0 ? ": " : "; ") + s;
        std::size_t left = summaries.size() - used - 1;
        std::string more = left ? " (+" + std::to_string(left) + " more)" : "";
        if (Characters(next + more) > maxLength)
            break;
        text = next;
        ++used;
    }
    if (used == 0 && !summaries.empty() && Characters(head) + 2 < maxLength) {
        // Not even the first fits whole: as much of it as there is room for.
        std::string more = summaries.size() > 1 ? " (+" + std::to_string(summaries.size() - 1) + " more)" : "";
        std::size_t room = maxLength - Characters(head) - 2;
        if (room > Characters(more) + 8) {
            text += ": " + CutText(summaries[0], room - Characters(more));
            used = 1;
        }
    }
    if (used < summaries.size() && used > 0)
        text += " (+" + std::to_string(summaries.size() - used) + " more)";
    return text;
}

}  // namespace velmo::http

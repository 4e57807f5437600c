#include "atprotocol/ModemCapabilities.h"

#include "atprotocol/AtCodes.h"
#include "atprotocol/AtParse.h"

#include <cctype>

namespace velmo::at {

namespace {

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '"'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '"'))
        s.remove_suffix(1);
    return s;
}

std::string Upper(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// The parenthesised groups of a line: "(0-2),(1)" gives "0-2" and "1".
std::vector<std::string_view> Groups(std::string_view line)
{
    std::vector<std::string_view> groups;
    for (std::size_t open = line.find('('); open != std::string_view::npos; open = line.find('(', open + 1)) {
        std::size_t close = line.find(')', open);
        if (close == std::string_view::npos)
            break;
        groups.push_back(line.substr(open + 1, close - open - 1));
        open = close;
    }
    return groups;
}

// The numbers of a list such as "0-2" or "0,2" or "0,1-3"; at most 0..99.
std::set<int> Numbers(std::string_view list)
{
    std::set<int> values;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t comma = list.find(',', start);
        std::string_view item =
            Trim(list.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        // Two digits: a range is expanded, and no setting goes past 99.
        auto number = [](std::string_view t) { return ParseNumber(t, 2); };
        std::size_t dash = item.find('-');
        int low = number(Trim(item.substr(0, dash)));
        int high = dash == std::string_view::npos ? low : number(Trim(item.substr(dash + 1)));
        for (int v = low; low >= 0 && high >= low && v <= high; ++v)
            values.insert(v);
        if (comma == std::string_view::npos)
            break;
        start = comma + 1;
    }
    return values;
}

// The mode and mt of a setting "1,2"; -1 where missing or not a number.
std::pair<int, int> ModeAndMt(std::string_view setting)
{
    std::size_t comma = setting.find(',');
    auto one = [](std::string_view t) {
        std::set<int> v = Numbers(t);
        return v.size() == 1 && t.find('-') == std::string_view::npos ? *v.begin() : -1;
    };
    if (comma == std::string_view::npos)
        return {one(setting), -1};
    std::size_t next = setting.find(',', comma + 1);
    return {one(setting.substr(0, comma)),
            one(setting.substr(comma + 1, next == std::string_view::npos ? std::string_view::npos : next - comma - 1))};
}

}  // namespace

std::optional<CnmiSupport> ParseCnmiTest(std::string_view reply)
{
    std::string_view line = LineOf(reply, "+CNMI:");
    std::vector<std::string_view> groups = Groups(line);
    if (groups.empty())
        return std::nullopt;
    CnmiSupport support;
    for (std::string_view g : groups)
        support.fields.push_back(Numbers(g));
    return support;
}

Notification NotificationOf(std::string_view setting)
{
    int mt = ModeAndMt(setting).second;
    return mt == 1 ? Notification::StoreAndAnnounce : mt == 2 || mt == 3 ? Notification::Direct : Notification::None;
}

CnmiChoice ChooseCnmi(const CnmiSupport& support, std::string_view configured)
{
    int wanted = ModeAndMt(configured).first;
    int mode = -1;
    for (int candidate : {wanted, 2, 1})
        if (mode < 0 && (candidate == 1 || candidate == 2) && support.Allows(0, candidate))
            mode = candidate;
    if (mode < 0)
        return {};
    if (support.Allows(1, 1))
        return {Notification::StoreAndAnnounce, std::to_string(mode) + ",1"};
    if (support.Allows(1, 2))
        return {Notification::Direct, std::to_string(mode) + ",2"};
    return {};
}

std::vector<std::string> ParseStorageList(std::string_view reply)
{
    std::vector<std::string_view> groups = Groups(LineOf(reply, "+CPMS:"));
    std::vector<std::string> storages;
    if (groups.empty())
        return storages;
    std::string_view first = groups.front();
    for (std::size_t start = 0; start <= first.size();) {
        std::size_t comma = first.find(',', start);
        std::string_view item =
            Trim(first.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        if (!item.empty())
            storages.push_back(Upper(item));
        if (comma == std::string_view::npos)
            break;
        start = comma + 1;
    }
    return storages;
}

std::vector<std::string> ReceiveStorages(const std::vector<std::string>& offered)
{
    auto has = [&](const char* storage) {
        for (const std::string& o : offered)
            if (o == storage)
                return true;
        return false;
    };
    std::vector<std::string> chosen;
    for (const char* storage : {"SM", "ME"})
        if (has(storage))
            chosen.push_back(storage);
    // MT is SM and ME seen together: reading it beside them would offer
    // each message twice.
    if (chosen.empty() && has("MT"))
        chosen.push_back("MT");
    return chosen;
}

namespace {

// The first field of the first line that begins with prefix, without
// blanks and quotes; empty when there is no such line.
std::string_view FirstFieldOf(std::string_view reply, std::string_view prefix)
{
    std::string_view line = LineOf(reply, prefix);
    if (line.empty())
        return {};
    line.remove_prefix(prefix.size());
    return Trim(line.substr(0, line.find(',')));
}

}  // namespace

std::string ParseCurrentStorage(std::string_view reply) { return Upper(FirstFieldOf(reply, "+CPMS:")); }

std::string ParseServiceCentre(std::string_view reply) { return std::string(FirstFieldOf(reply, "+CSCA:")); }

std::string ParseIdentity(std::string_view reply)
{
    for (const std::string& line : SplitLines(reply)) {
        std::string_view l = Trim(line);
        if (l.empty() || MatchFinal(l) != Final::None)
            continue;
        if (l.front() == '+') {
            std::size_t colon = l.find(':');
            if (colon != std::string_view::npos)
                l = Trim(l.substr(colon + 1));
        }
        return std::string(l.substr(0, kIdentityLimit));
    }
    return {};
}

}  // namespace velmo::at

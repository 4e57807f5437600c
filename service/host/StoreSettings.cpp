#include "service/host/StoreSettings.h"

#include "messagefile/Duration.h"
#include "platform/Process.h"
#include "platform/Text.h"

#include <algorithm>
#include <libpq-fe.h>
#include <memory>

namespace velmo::host {

namespace {

constexpr std::size_t kLongestHost = 64;
constexpr std::uint32_t kShortestLease = 10, kLongestLease = 3600;
constexpr int kConnectTimeout = 10;  // seconds

std::string Shown(const std::string& text) { return "\"" + EscapeControls(text.substr(0, 60)) + "\""; }

bool IsHostName(const std::string& name)
{
    return !name.empty() && name.size() <= kLongestHost && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
               c == '-';
    });
}

// A value as a connection string quotes it.
std::string Quoted(const std::string& value)
{
    std::string out = "'";
    for (char c : value) {
        if (c == '\'' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "'";
}

// Why libpq would not take the connection string, or why config.xml may not
// hold it; "" when it is good. timeoutGiven tells whether it sets
// connect_timeout.
std::string ConnectionFault(const std::string& connection, bool& timeoutGiven)
{
    char* error = nullptr;
    std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)> options(PQconninfoParse(connection.c_str(), &error),
                                                                         &PQconninfoFree);
    if (!options) {
        std::string why = error ? EscapeControls(error) : "it cannot be read";
        PQfreemem(error);
        while (!why.empty() && (why.back() == 'n' || why.back() == '\\'))
            why.pop_back();  // the escaped line end libpq puts last
        return why;
    }
    for (PQconninfoOption* o = options.get(); o->keyword; ++o) {
        std::string keyword = o->keyword;
        bool set = o->val && *o->val;
        if (keyword == "password" && set)
            return "it holds a password, which config.xml never does: give a passfile";
        timeoutGiven = timeoutGiven || (keyword == "connect_timeout" && set);
    }
    return {};
}

}  // namespace

std::string MachineName()
{
    std::string name = MachineHostName();
    return IsHostName(name) ? name : "localhost";
}

std::optional<StoreChoice> ReadStoreChoice(const StoreAttributes& a, std::vector<std::string>& problems)
{
    std::size_t before = problems.size();
    StoreChoice choice;
    std::string store = a.store.value_or("folders");
    if (store == "folders") {
        for (const auto& [name, value] :
             {std::pair{"connection", a.connection}, {"passfile", a.passfile}, {"host", a.host}, {"lease", a.lease}})
            if (value)
                problems.push_back(std::string(name) + " is only for store=\"postgresql\"");
        return problems.size() == before ? std::optional(choice) : std::nullopt;
    }
    if (store != "postgresql") {
        problems.push_back("store " + Shown(store) + " is neither \"folders\" nor \"postgresql\"");
        return std::nullopt;
    }
    choice.postgres = true;
    choice.connection = a.connection.value_or("");
    bool timeoutGiven = false;
    if (choice.connection.empty())
        problems.push_back("store=\"postgresql\" needs a connection, such as \"service=velmo\"");
    else if (std::string why = ConnectionFault(choice.connection, timeoutGiven); !why.empty())
        problems.push_back("connection " + Shown(choice.connection) + ": " + why);
    choice.passfile = a.passfile.value_or("");
    if (a.passfile && (choice.passfile.empty() || choice.passfile[0] != '/'))
        problems.push_back("passfile " + Shown(choice.passfile) + " is not an absolute path");
    choice.settings.host = a.host.value_or(MachineName());
    if (!IsHostName(choice.settings.host))
        problems.push_back("host " + Shown(choice.settings.host) +
                           " is not a name of letters, digits, '.', '_' and '-' (at most 64)");
    if (a.lease) {
        std::optional<std::uint64_t> lease = messagefile::ParseDuration(*a.lease);
        if (!lease || *lease < kShortestLease || *lease > kLongestLease)
            problems.push_back("lease " + Shown(*a.lease) + " is not a period from 10s to 1h");
        else
            choice.settings.leaseSeconds = static_cast<std::uint32_t>(*lease);
    }
    // A database host that does not answer must not hold a client for the
    // minutes TCP would wait.
    choice.settings.connection = choice.connection +
                                 (choice.passfile.empty() ? "" : " passfile=" + Quoted(choice.passfile)) +
                                 (timeoutGiven ? "" : " connect_timeout=" + std::to_string(kConnectTimeout));
    return problems.size() == before ? std::optional(choice) : std::nullopt;
}

}  // namespace velmo::host

#include "gatewayclient/GatewayJson.h"
#include "messagefile/TextLines.h"
#include "tools/velmo/GatewayCommands.h"
#include "tools/velmo/GatewaySession.h"

#include <ostream>

namespace velmo::cli {

namespace {

const char kUsage[] = "usage: velmo show [--host [USER@]HOST] [--json] ID\n";

// "name: value", or "name:" and the value's lines indented when it has several.
void Field(std::ostream& out, const char* name, const std::string& value)
{
    std::string lines = messagefile::PlainLines(value);
    if (lines.find('\n') == std::string::npos) {
        out << name << ": " << (lines.empty() ? "-" : lines) << '\n';
        return;
    }
    out << name << ":\n  ";
    for (char c : lines)
        out << c << (c == '\n' ? "  " : "");
    out << '\n';
}

}  // namespace

int ShowCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    CommandOptions opts;
    int code = 0;
    auto session = BeginCommand(args, 1, kUsage, opts, err, code);
    if (!session)
        return code;
    gatewayclient::Message m;
    if (!session->Get(opts.positional[0], m))
        return Failure(*session, err);
    if (opts.Has("--json")) {
        out << gatewayclient::JsonText(m, 2) << '\n';
        return 0;
    }
    Field(out, "id", m.id);
    Field(out, "folder", m.folder);
    Field(out, "status", m.status);
    Field(out, "to", m.to);
    Field(out, "from", m.from);
    Field(out, "created", m.created);
    Field(out, "completed", m.completed);
    Field(out, "received", m.received);
    Field(out, "retries", std::to_string(m.retries));
    Field(out, "status text", m.statusText);
    Field(out, "text", m.text);
    return 0;
}

}  // namespace velmo::cli

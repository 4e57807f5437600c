#include "tools/velmo/ModemsCommand.h"

#include "atprotocol/AtParse.h"
#include "gatewayclient/GatewayClient.h"
#include "platform/Serial.h"
#include "platform/SerialLines.h"
#include "platform/Text.h"
#include "tools/velmo/CommandOptions.h"
#include "tools/velmo/ModemProbe.h"

#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include <algorithm>
#include <future>
#include <map>
#include <ostream>
#include <sstream>

namespace velmo::cli {

namespace {

const char kUsage[] = "usage: velmo modems [--json] [--comm SETTINGS] [PATH...]\n";
const char kDefaultComm[] = "115200,n,8,1";
// The class id of the GSM modem device, as every config.xml names it.
const char kCellgateClassId[] = "{852F907B-3A8B-4CF5-B19D-8B813B2F7367}";
// Lines probed at once: a silent line costs its full wait, so they are not
// taken one after the other.
constexpr std::size_t kAtOnce = 8;

std::vector<ModemReport> ProbeAll(const std::vector<SerialLine>& lines, const std::u16string& comm)
{
    std::vector<ModemReport> reports;
    for (std::size_t first = 0; first < lines.size(); first += kAtOnce) {
        std::vector<std::future<ModemReport>> batch;
        for (std::size_t i = first; i < std::min(lines.size(), first + kAtOnce); ++i)
            batch.push_back(std::async(std::launch::async, ProbeModemLine, lines[i].path, lines[i].tty, comm));
        for (auto& probe : batch)
            reports.push_back(probe.get());
    }
    return reports;
}

// The device entry for a modem found on path, numbered n among those found.
std::string DeviceEntry(const ModemReport& r, int n, const std::string& comm)
{
    pugi::xml_document doc;
    pugi::xml_node device = doc.append_child("device");
    device.append_attribute("status") = "1";
    device.append_attribute("id") = n;
    device.append_attribute("name") = ("Modem" + (n > 1 ? std::to_string(n) : "")).c_str();
    device.append_attribute("clsid") = kCellgateClassId;
    auto param = [&](const char* name, const std::string& value) {
        pugi::xml_node p = device.append_child("param");
        p.append_attribute("name") = name;
        p.append_attribute("value") = value.c_str();
    };
    param("Port", r.path);
    param("CommConfig", comm);
    param("CNMI", "2,1");
    if (r.sim == "PIN")
        param("Pin", "....");
    std::ostringstream text;
    device.print(text, "  ", pugi::format_indent | pugi::format_no_declaration);
    std::string entry = text.str();
    return entry.substr(0, entry.find_last_not_of('\n') + 1);
}

// The line a modem answered on before, when the report is the same modem
// (the same IMEI) answering on a second line; "" otherwise.
std::string SameModemAs(const ModemReport& r, const std::map<std::string, std::string>& seen)
{
    if (r.line != ModemReport::Line::Answers || r.imei.empty())
        return {};
    auto it = seen.find(r.imei);
    return it == seen.end() ? std::string() : it->second;
}

std::string Known(const std::string& s) { return s.empty() ? "-" : s; }

std::string Heading(const ModemReport& r)
{
    std::string name = r.path + (r.tty.empty() || r.tty == r.path ? "" : " (" + r.tty + ")");
    switch (r.line) {
    case ModemReport::Line::Answers: return name + ": a modem answers";
    case ModemReport::Line::Silent: return name + ": nothing answers AT (not the modem's AT line, or the modem is off)";
    case ModemReport::Line::InUse: {
        std::string who;
        for (const std::string& h : r.holders)
            who += (who.empty() ? "" : ", ") + h;
        return name + ": skipped, " + (who.empty() ? "another program has it open" : "held by " + who) +
               " (velmosvc holds its modems' lines while it runs)";
    }
    case ModemReport::Line::Denied: return name + ": this user may not open it (root or the group dialout may)";
    case ModemReport::Line::Absent: return name + ": there is no such device";
    case ModemReport::Line::NotTty: return name + ": not a serial line";
    case ModemReport::Line::Unusable: return name + ": its line settings cannot be set";
    }
    return name;
}

void PrintText(const std::vector<ModemReport>& reports, const std::string& comm, std::ostream& out)
{
    std::map<std::string, std::string> seen;
    int n = 0;
    for (const ModemReport& r : reports) {
        out << Heading(r) << '\n';
        if (r.line != ModemReport::Line::Answers)
            continue;
        std::string same = SameModemAs(r, seen);
        std::string model = r.manufacturer + (r.manufacturer.empty() || r.model.empty() ? "" : " ") + r.model;
        std::optional<int> dbm = gatewayclient::SignalDbm(r.signal);
        out << "\tmodem: " << Known(model) << ", revision " << Known(r.revision) << ", IMEI " << Known(r.imei) << '\n'
            << "\tSIM: " << r.sim << ", signal " << (dbm ? std::to_string(*dbm) + " dBm" : "-") << ", registration "
            << Known(r.registration) << ", operator " << Known(r.op) << '\n';
        if (!same.empty()) {
            out << "\tthe same modem as " << same << ": one entry is enough\n";
            continue;
        }
        if (!r.imei.empty())
            seen[r.imei] = r.path;
        if (r.sim == "PIN")
            out << "\tthe SIM asks for its PIN: put it in the Pin parameter\n";
        out << "\tdevice entry for config.xml:\n";
        std::string entry = DeviceEntry(r, ++n, comm);
        for (const std::string& line : at::SplitLines(entry))
            out << "\t  " << line << '\n';
    }
}

nlohmann::json OrNull(const std::string& s) { return s.empty() ? nlohmann::json() : nlohmann::json(s); }

void PrintJson(const std::vector<ModemReport>& reports, const std::string& comm, std::ostream& out)
{
    std::map<std::string, std::string> seen;
    int n = 0;
    nlohmann::json all = nlohmann::json::array();
    for (const ModemReport& r : reports) {
        nlohmann::json line{
            {"path", r.path}, {"tty", OrNull(r.tty)}, {"line", LineWord(r.line)}, {"holders", r.holders}};
        if (r.line == ModemReport::Line::Answers) {
            std::optional<int> dbm = gatewayclient::SignalDbm(r.signal);
            std::string same = SameModemAs(r, seen);
            line.update({{"manufacturer", OrNull(r.manufacturer)},
                         {"model", OrNull(r.model)},
                         {"revision", OrNull(r.revision)},
                         {"imei", OrNull(r.imei)},
                         {"sim", r.sim},
                         {"signal", r.signal},
                         {"signalDbm", dbm ? nlohmann::json(*dbm) : nlohmann::json()},
                         {"registration", OrNull(r.registration)},
                         {"operator", OrNull(r.op)},
                         {"sameModemAs", OrNull(same)}});
            if (same.empty() && !r.imei.empty())
                seen[r.imei] = r.path;
            line["deviceEntry"] = same.empty() ? nlohmann::json(DeviceEntry(r, ++n, comm)) : nlohmann::json();
        }
        all.push_back(std::move(line));
    }
    out << all.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

}  // namespace

int ModemsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    CommandOptions opts;
    std::string error;
    if (!ParseOptions(args, {"--comm"}, {"--json"}, opts, error)) {
        err << "velmo modems: " << error << '\n' << kUsage;
        return 2;
    }
    std::string comm = opts.Value("--comm", kDefaultComm);
    std::u16string comm16 = Utf8ToUtf16(comm);
    DCB check{};
    check.DCBlength = sizeof check;
    if (!BuildCommDCBW(comm16.c_str(), &check)) {
        err << "velmo modems: --comm " << comm << " is no line setting (such as 115200,n,8,1)\n" << kUsage;
        return 2;
    }
    std::vector<SerialLine> lines;
    for (const std::string& path : opts.positional)
        lines.push_back({path, path});
    if (opts.positional.empty())
        lines = ModemLineCandidates();
    if (lines.empty()) {
        err << "velmo modems: no serial line found under /dev/serial/by-id/, /dev/ttyUSB* or /dev/ttyACM*: is the "
               "modem plugged in? (lsusb, dmesg)\n";
        return 1;
    }
    std::vector<ModemReport> reports = ProbeAll(lines, comm16);
    if (opts.Has("--json"))
        PrintJson(reports, comm, out);
    else
        PrintText(reports, comm, out);
    bool any = std::any_of(reports.begin(), reports.end(),
                           [](const ModemReport& r) { return r.line == ModemReport::Line::Answers; });
    return any ? 0 : 1;
}

}  // namespace velmo::cli

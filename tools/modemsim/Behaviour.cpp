#include "Behaviour.h"

#include <cctype>
#include <fstream>

namespace modemsim {

namespace {

bool Flag(const std::string& value, bool& out)
{
    if (value == "on" || value == "true" || value == "1")
        out = true;
    else if (value == "off" || value == "false" || value == "0")
        out = false;
    else
        return false;
    return true;
}

bool Number(const std::string& value, int& out)
{
    if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos || value.size() > 7)
        return false;
    out = std::stoi(value);
    return true;
}

// The items of a list separated by sep (an empty text is one empty item).
std::vector<std::string> Split(const std::string& value, char sep)
{
    std::vector<std::string> items;
    for (std::size_t start = 0;;) {
        std::size_t at = value.find(sep, start);
        items.push_back(value.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos)
            return items;
        start = at + 1;
    }
}

// TP-ST values in hex, two digits each, joined by ">" (sent one after the other).
bool IsStatus(const std::string& value)
{
    for (const std::string& one : Split(value, '>'))
        if (one.size() != 2 || !std::isxdigit(static_cast<unsigned char>(one[0])) ||
            !std::isxdigit(static_cast<unsigned char>(one[1])))
            return false;
    return true;
}

// The options of status reports ("report-..."): false when name is none
// of them; ok says whether the value was taken.
bool ApplyReportOption(Behaviour& b, const std::string& name, const std::string& value, bool& ok)
{
    if (name == "report-delay")
        ok = Number(value, b.reportDelayMs);
    else if (name == "report-status")
        ok = (value == "random" || IsStatus(value)) && (b.reportStatus = value, true);
    else if (name == "report-status-for") {
        b.reportStatusFor = value.empty() ? std::vector<std::string>{} : Split(value, ',');
        for (const std::string& item : b.reportStatusFor)
            ok = ok && item.find('=') != std::string::npos && IsStatus(item.substr(item.find('=') + 1));
    } else if (name == "report-as")
        ok = (value == "cds" || value == "cdsi" || value == "cnmi") && (b.reportAs = value, true);
    else if (name == "report-lose")
        ok = Number(value, b.reportLose);
    else
        return false;
    return true;
}

}  // namespace

bool ApplyOption(Behaviour& b, const std::string& name, const std::string& value, std::string& error)
{
    bool ok = true;
    if (name == "link")
        b.link = value;
    else if (name == "echo")
        ok = Flag(value, b.echo);
    else if (name == "pin-state")
        ok = (value == "ready" || value == "pin" || value == "puk") && (b.pinState = value, true);
    else if (name == "pin")
        b.pin = value;
    else if (name == "csms-fail")
        ok = Number(value, b.csmsFailures);
    else if (name == "delivery")
        ok = (value == "cmt" || value == "cmti" || value == "cnmi") && (b.delivery = value, true);
    else if (name == "cmgs") {
        b.cmgs = Split(value, ',');
        for (const std::string& item : b.cmgs) {
            int code = 0;
            ok = ok && (item == "ok" || item == "error" || item == "silent" || item == "noprompt" ||
                        ((item.rfind("cms:", 0) == 0 || item.rfind("cme:", 0) == 0) && Number(item.substr(4), code)));
        }
    } else if (name == "delay")
        ok = Number(value, b.delayMs);
    else if (name == "split")
        ok = Flag(value, b.split);
    else if (name == "gap")
        ok = Number(value, b.gapMs);
    else if (name == "prompt-delay")
        ok = Number(value, b.promptDelayMs);
    else if (name == "before-prompt")
        b.beforePrompt = value;
    else if (name == "urc") {
        b.urc = Split(value, '|');
    } else if (name == "urc-every")
        ok = Number(value, b.urcEveryMs);
    else if (name == "sim-busy")
        ok = Number(value, b.simBusyMs);
    else if (name == "pin-attempts")
        ok = Number(value, b.pinAttempts);
    else if (name == "nul")
        ok = Flag(value, b.nul);
    else if (name == "mute")
        ok = Flag(value, b.mute);
    else if (name == "control")
        b.control = value;
    else if (name == "transcript")
        b.transcript = value;
    else if (name == "smsc")
        b.smsc = value;
    else if (name == "cpin-final")
        ok = Flag(value, b.cpinFinal);
    else if (name == "refuse")
        b.refuse = value.empty() ? std::vector<std::string>{} : Split(value, '|');
    else if (name == "refuse-with")
        ok = !value.empty() && (b.refuseWith = value, true);
    else if (name == "storage")
        ok = (value == "SM" || value == "ME" || value == "MT") && (b.storage = value, true);
    else if (name == "storages") {
        b.storages = Split(value, ',');
        for (const std::string& item : b.storages)
            ok = ok && (item == "SM" || item == "ME" || item == "MT");
    } else if (name == "cnma-wait") {
        ok = Number(value, b.cnmaWaitMs);
    } else if (name == "cnmi-test")
        b.cnmiTest = value;
    else if (name == "manufacturer")
        b.manufacturer = value;
    else if (name == "model")
        b.model = value;
    else if (name == "revision")
        b.revision = value;
    else if (name == "imei")
        b.imei = value;
    else if (name == "imsi")
        b.imsi = value;
    else if (!ApplyReportOption(b, name, value, ok)) {
        error = "unknown option '" + name + "'";
        return false;
    }
    if (!ok)
        error = "bad value '" + value + "' for " + name;
    return ok;
}

bool ParseBehaviour(int argc, char** argv, Behaviour& b, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("--", 0) != 0 || arg.find('=') == std::string::npos) {
            error = "expected --name=value, got '" + arg + "'";
            return false;
        }
        std::string name = arg.substr(2, arg.find('=') - 2), value = arg.substr(arg.find('=') + 1);
        if (name == "config") {
            std::ifstream in(value);
            if (!in) {
                error = "cannot read " + value;
                return false;
            }
            for (std::string line; std::getline(in, line);) {
                if (line.empty() || line[0] == '#')
                    continue;
                std::size_t eq = line.find('=');
                if (eq == std::string::npos) {
                    error = "expected name=value in " + value + ": '" + line + "'";
                    return false;
                }
                if (!ApplyOption(b, line.substr(0, eq), line.substr(eq + 1), error))
                    return false;
            }
        } else if (!ApplyOption(b, name, value, error)) {
            return false;
        }
    }
    return true;
}

}  // namespace modemsim

#include "tools/velmo/ModemProbe.h"

#include "atprotocol/AtFraming.h"
#include "atprotocol/AtParse.h"
#include "atprotocol/ModemCapabilities.h"
#include "platform/File.h"
#include "platform/Serial.h"
#include "platform/SerialLines.h"
#include "platform/Sync.h"

#include <optional>

namespace velmo::cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How long a reply that may end without a final result (AT+CPIN? on old
// modems) stays quiet before it is taken as whole.
constexpr auto kQuietEnd = 300ms;
constexpr DWORD kReadTick = 100;

// One AT command at a time on an open line, within the line's budget.
class LineDialogue {
public:
    LineDialogue(HANDLE port, Clock::time_point deadline) : port_(port), deadline_(deadline) {}

    // The reply to command (without CR), or nullopt when none came within
    // wait (or the budget's end) or the line failed.
    std::optional<at::AtReply> Ask(const std::string& command, at::AtExpect expect,
                                   std::chrono::milliseconds wait = kAnswerWait)
    {
        Clock::time_point until = std::min(deadline_, Clock::now() + wait);
        if (Clock::now() >= until)
            return std::nullopt;
        framing_.Begin(command, std::move(expect));
        std::string line = command + "\r";
        DWORD written = 0;
        if (!WriteFile(port_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
            written != line.size()) {
            framing_.Abandon();
            return std::nullopt;
        }
        Clock::time_point lastByte = Clock::now();
        char buffer[512];
        while (Clock::now() < until) {
            DWORD read = 0;
            if (!ReadFile(port_, buffer, sizeof buffer, &read, nullptr))
                break;
            if (read > 0) {
                lastByte = Clock::now();
                if (auto out = framing_.Feed(std::string_view(buffer, read)); out.reply)
                    return out.reply;
            } else if (framing_.QuietEndDue() && Clock::now() - lastByte >= kQuietEnd) {
                return framing_.EndQuietly();
            }
        }
        framing_.Abandon();
        return std::nullopt;
    }

private:
    HANDLE port_;
    Clock::time_point deadline_;
    at::AtFraming framing_;
};

at::AtExpect Information(std::vector<std::string> prefixes, bool quietEnd = false)
{
    at::AtExpect e;
    e.prefixes = std::move(prefixes);
    e.quietEnd = quietEnd;
    return e;
}

at::AtExpect AnyLine()
{
    at::AtExpect e;
    e.anyLine = true;
    return e;
}

ModemReport::Line OpenFailure(DWORD code)
{
    switch (code) {
    case ERROR_SHARING_VIOLATION: return ModemReport::Line::InUse;
    case ERROR_ACCESS_DENIED: return ModemReport::Line::Denied;
    case ERROR_INVALID_FUNCTION: return ModemReport::Line::NotTty;
    default: return ModemReport::Line::Absent;
    }
}

// Asks what the modem says of itself, its SIM and its radio.
void ReadModem(LineDialogue& modem, ModemReport& report)
{
    auto identity = [&](const char* command) {
        auto reply = modem.Ask(command, AnyLine());
        return reply && reply->final == at::Final::Ok ? at::ParseIdentity(reply->text) : std::string();
    };
    report.manufacturer = identity("AT+CGMI");
    report.model = identity("AT+CGMM");
    report.revision = identity("AT+CGMR");
    report.imei = identity("AT+CGSN");
    if (auto pin = modem.Ask("AT+CPIN?", Information({"+CPIN:"}, true)))
        report.sim = at::ParseSimState(pin->text);
    if (auto csq = modem.Ask("AT+CSQ", Information({"+CSQ:"})); csq && csq->final == at::Final::Ok)
        report.signal = at::ParseSignal(at::LineOf(csq->text, "+CSQ:"));
    if (auto creg = modem.Ask("AT+CREG?", Information({"+CREG:"})); creg && creg->final == at::Final::Ok) {
        int status = at::ParseRegistration(at::LineOf(creg->text, "+CREG:"), true);
        if (status >= 0)
            report.registration = at::RegistrationWord(status);
    }
    if (auto cops = modem.Ask("AT+COPS?", Information({"+COPS:"})); cops && cops->final == at::Final::Ok)
        report.op = at::ParseOperator(cops->text);
}

}  // namespace

const char* LineWord(ModemReport::Line line)
{
    switch (line) {
    case ModemReport::Line::Answers: return "answers";
    case ModemReport::Line::Silent: return "silent";
    case ModemReport::Line::InUse: return "in use";
    case ModemReport::Line::Denied: return "denied";
    case ModemReport::Line::Absent: return "absent";
    case ModemReport::Line::NotTty: return "not a serial line";
    case ModemReport::Line::Unusable: return "unusable";
    }
    return "unusable";
}

ModemReport ProbeModemLine(const std::string& path, const std::string& tty, const std::u16string& commConfig)
{
    ModemReport report;
    report.path = path;
    report.tty = tty;
    HANDLE opened = OpenSerialPort(path);
    if (opened == INVALID_HANDLE_VALUE) {
        report.line = OpenFailure(GetLastError());
        if (report.line == ModemReport::Line::InUse)
            report.holders = SerialLineHolders(tty.empty() ? path : tty);
        return report;
    }
    Handle port(opened);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, kReadTick, 0, 1000};
    if (!BuildCommDCBW(commConfig.c_str(), &dcb) || !SetCommState(port.get(), &dcb) ||
        !SetCommTimeouts(port.get(), &timeouts)) {
        report.line = ModemReport::Line::Unusable;
        return report;
    }
    LineDialogue modem(port.get(), Clock::now() + kLineBudget);
    // A modem may take the first AT as the end of a line of noise: one more try.
    std::optional<at::AtReply> alive = modem.Ask("AT", {});
    if (!alive)
        alive = modem.Ask("AT", {});
    if (!alive) {
        report.line = ModemReport::Line::Silent;
        return report;
    }
    report.line = ModemReport::Line::Answers;
    ReadModem(modem, report);
    return report;
}

}  // namespace velmo::cli

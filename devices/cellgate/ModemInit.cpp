// Opening the modem: echo off, the SIM unlocked without ever risking its
// PIN, the message service, indications, service centre, PDU mode.
#include "devices/cellgate/AtModem.h"

#include "devices/cellgate/PinGuard.h"
#include "platform/EventLog.h"
#include "platform/Timing.h"

namespace velmo::cellgate {

namespace {
constexpr char kMaskedPin[] = "AT+CPIN=\"****\"\r";
}  // namespace

HRESULT AtModem::InitModem()
{
    try {
        Init();
        return S_OK;
    } catch (const CSmartException& e) {
        return ReportFailure(e);
    }
}

void AtModem::Init()
{
    // Whatever the escape brings up (the end of a PDU the modem was still
    // waiting for) is read and thrown away before the dialogue starts.
    char raw[33] = {};
    port_.Write("\x1b", 1);
    port_.ReadRaw(raw, 32);

    port_.SetSink(this);
    if (!port_.SetReaderTimeouts() || !port_.StartReader())
        throw CSmartException("ATE0 command failed. No modem on port?");
    NoteAnswer();
    bool echoOff = false;
    for (int attempt = 0; attempt < kEchoAttempts && !echoOff; ++attempt) {
        Result r = Transact("ATE0\r", {}, kEchoWait);  // a read time-out of the line, not a design wait
        echoOff = r.Ok();
        if (r.status == Status::LinkGone)
            break;
    }
    if (!echoOff)
        throw CSmartException("ATE0 command failed. No modem on port?");

    // Numeric errors first, so a refused PIN is told from other failures.
    (void)Command("AT+CMEE=1\r");
    UnlockSim();

    std::string response;
    bool csms = false;
    for (int attempt = 0; attempt < kCsmsAttempts && !csms; ++attempt) {
        response = Command("AT+CSMS=0\r", {{"+CSMS:"}}).Text();
        csms = BeginsWith(response, "+CSMS");
        if (!csms)
            Sleep(DesignWait(kCsmsPause));
    }
    if (!csms)
        throw CSmartException("Unexpected response [%s] to command AT+CSMS=0", response.c_str());

    if (!settings_.CNMI.empty()) {
        response = Command("AT+CNMI=" + settings_.CNMI + "\r").Text();
        if (!BeginsWith(response, "OK"))
            throw CSmartException("Unexpected response [%s] to command AT+CNMI=%s : ", response.c_str(),
                                  settings_.CNMI.c_str());
    }
    response = Command("AT+CSCA=\"" + settings_.SMSCentral + "\"\r").Text();
    if (!BeginsWith(response, "OK"))
        throw CSmartException("Unexpected response [%s] to command AT+CSCA=%s", response.c_str(),
                              settings_.SMSCentral.c_str());
    response = Command("AT+CMGF=0\r").Text();
    if (!BeginsWith(response, "OK"))
        throw CSmartException("Unexpected response [%s] to command AT+CMGF=0", response.c_str());
    response = Command("AT+CSCS=\"GSM\"\r").Text();
    if (!BeginsWith(response, "OK"))
        throw CSmartException("Unexpected response [%s] to command AT+CSCS=\"GSM\"", response.c_str());
    (void)Command("AT+CMEE=1\r");  // any answer will do
    (void)Command("ATS0=0\r");     // any answer will do
    opened_ = true;
    (void)ReadState();  // what the modem knows of its radio; a modem that cannot tell still sends
}

void AtModem::UnlockSim()
{
    std::string response = Command("AT+CPIN?\r", {{"+CPIN:"}}).Text();
    if (BeginsWith(response, "+CPIN: READY"))
        return;
    if (!BeginsWith(response, "+CPIN: SIM PIN"))
        throw CSmartException("Unexpected response [%s] to command AT+CPIN?", response.c_str());
    if (settings_.Pin.empty())
        throw CSmartException("The SIM asks for its PIN and the device has no Pin parameter: no PIN is sent");
    PinGuard guard(settings_.Name);
    if (guard.Refused(settings_.Pin))
        throw CSmartException("The SIM refused the PIN of the Pin parameter before: it is not sent again until the Pin "
                              "parameter changes (a SIM locks itself after three wrong PINs)");
    Result sent = Command("AT+CPIN=\"" + settings_.Pin + "\"\r", {}, kMaskedPin);
    if (sent.Ok()) {
        guard.Forget();
        return;
    }
    // Whatever the answer, the SIM's own word decides whether it took the
    // PIN: one that still asks for a PIN (or now for its PUK) refused it.
    std::string after = Command("AT+CPIN?\r", {{"+CPIN:"}}).Text();
    if (BeginsWith(after, "+CPIN: READY")) {
        guard.Forget();
        return;
    }
    std::string answer = sent.Text();
    if (!guard.Remember(settings_.Pin))
        Log(EVENTLOG_WARNING_TYPE, "The refused PIN is remembered only until the service stops: %s cannot be written",
            guard.FilePath().c_str());
    throw CSmartException(
        "The SIM refused the PIN: response [%s] to command AT+CPIN=\"****\". It is not sent again until "
        "the Pin parameter changes",
        answer.c_str());
}

AtModem::Result AtModem::ReadState()
{
    Result csq = Command("AT+CSQ\r", {{"+CSQ:"}});
    if (csq.status != Status::Answered)
        return csq;
    Result creg = Command("AT+CREG?\r", {{"+CREG:"}});
    Result cops = Command("AT+COPS?\r", {{"+COPS:"}});
    std::lock_guard lock(stateLock_);
    for (const std::string& line : SplitLines(csq.reply.text))
        if (BeginsWith(line, "+CSQ:"))
            state_.signal = ParseSignal(line);
    for (const std::string& line : SplitLines(creg.Text()))
        if (BeginsWith(line, "+CREG:") && ParseRegistration(line, true) >= 0)
            state_.registration = ParseRegistration(line, true);
    if (cops.Ok())
        state_.operatorName = ParseOperator(cops.reply.text);
    return csq;
}

}  // namespace velmo::cellgate

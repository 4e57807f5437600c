// Opening the modem: echo off, the SIM unlocked without ever risking its
// PIN, the message service, indications, service centre, PDU mode.
#include "devices/cellgate/ModemStartup.h"

#include "devices/cellgate/PinGuard.h"
#include "platform/EventLog.h"
#include "platform/Timing.h"

namespace velmo::cellgate {

namespace {
constexpr char kMaskedPin[] = "AT+CPIN=\"****\"\r";
}  // namespace

using Result = AtModem::Result;
using Status = AtModem::Status;

HRESULT ModemStartup::Run()
{
    try {
        Open();
        return S_OK;
    } catch (const CSmartException& e) {
        return ReportFailure(e);
    }
}

void ModemStartup::Open()
{
    // Whatever the escape brings up (the end of a PDU the modem was still
    // waiting for) is read and thrown away before the dialogue starts.
    char raw[33] = {};
    SerialPort& port = modem_.Port();
    port.Write("\x1b", 1);
    port.ReadRaw(raw, 32);

    port.SetSink(&modem_);
    if (!port.SetReaderTimeouts() || !port.StartReader())
        throw CSmartException("ATE0 command failed. No modem on port?");
    modem_.NoteAnswer();
    bool echoOff = false;
    for (int attempt = 0; attempt < AtModem::kEchoAttempts && !echoOff; ++attempt) {
        Result r = modem_.Transact("ATE0\r", {}, AtModem::kEchoWait);  // a read time-out of the line, not a design wait
        echoOff = r.Ok();
        if (r.status == Status::LinkGone)
            break;
    }
    if (!echoOff)
        throw CSmartException("ATE0 command failed. No modem on port?");

    // Numeric errors first, so a refused PIN is told from other failures.
    (void)modem_.Command("AT+CMEE=1\r");
    UnlockSim();

    std::string response;
    bool csms = false;
    for (int attempt = 0; attempt < AtModem::kCsmsAttempts && !csms; ++attempt) {
        response = modem_.Command("AT+CSMS=0\r", {{"+CSMS:"}}).Text();
        csms = BeginsWith(response, "+CSMS");
        if (!csms)
            Sleep(DesignWait(AtModem::kCsmsPause));
    }
    if (!csms)
        throw CSmartException("Unexpected response [%s] to command AT+CSMS=0", response.c_str());

    if (!settings_.CNMI.empty()) {
        response = modem_.Command("AT+CNMI=" + settings_.CNMI + "\r").Text();
        if (!BeginsWith(response, "OK"))
            throw CSmartException("Unexpected response [%s] to command AT+CNMI=%s : ", response.c_str(),
                                  settings_.CNMI.c_str());
    }
    response = modem_.Command("AT+CSCA=\"" + settings_.SMSCentral + "\"\r").Text();
    if (!BeginsWith(response, "OK"))
        throw CSmartException("Unexpected response [%s] to command AT+CSCA=%s", response.c_str(),
                              settings_.SMSCentral.c_str());
    response = modem_.Command("AT+CMGF=0\r").Text();
    if (!BeginsWith(response, "OK"))
        throw CSmartException("Unexpected response [%s] to command AT+CMGF=0", response.c_str());
    response = modem_.Command("AT+CSCS=\"GSM\"\r").Text();
    if (!BeginsWith(response, "OK"))
        throw CSmartException("Unexpected response [%s] to command AT+CSCS=\"GSM\"", response.c_str());
    (void)modem_.Command("AT+CMEE=1\r");  // any answer will do
    (void)modem_.Command("ATS0=0\r");     // any answer will do
    modem_.SetOpened(true);
    (void)modem_.ReadState();  // what the modem knows of its radio; a modem that cannot tell still sends
}

void ModemStartup::UnlockSim()
{
    std::string response = modem_.Command("AT+CPIN?\r", {{"+CPIN:"}}).Text();
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
    Result sent = modem_.Command("AT+CPIN=\"" + settings_.Pin + "\"\r", {}, kMaskedPin);
    if (sent.Ok()) {
        guard.Forget();
        return;
    }
    // Whatever the answer, the SIM's own word decides whether it took the
    // PIN: one that still asks for a PIN (or now for its PUK) refused it.
    std::string after = modem_.Command("AT+CPIN?\r", {{"+CPIN:"}}).Text();
    if (BeginsWith(after, "+CPIN: READY")) {
        guard.Forget();
        return;
    }
    std::string answer = sent.Text();
    if (!guard.Remember(settings_.Pin))
        modem_.Log(EVENTLOG_WARNING_TYPE,
                   "The refused PIN is remembered only until the service stops: %s cannot be written",
                   guard.FilePath().c_str());
    throw CSmartException(
        "The SIM refused the PIN: response [%s] to command AT+CPIN=\"****\". It is not sent again until "
        "the Pin parameter changes",
        answer.c_str());
}

}  // namespace velmo::cellgate

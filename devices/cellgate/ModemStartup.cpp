#include "devices/cellgate/ModemStartup.h"

#include "atprotocol/ModemCapabilities.h"
#include "devices/cellgate/PinGuard.h"
#include "platform/EventLog.h"
#include "platform/Timing.h"

namespace velmo::cellgate {

namespace {

constexpr char kMaskedPin[] = "AT+CPIN=\"****\"\r";

// The command as a log shows it: without its CR.
std::string Shown(const std::string& command)
{
    return command.size() > 0 && command.back() == '\r' ? command.substr(0, command.size() - 1) : command;
}

// The reply on one line, for a log.
std::string OneLine(const std::string& reply)
{
    std::string out;
    for (const std::string& line : SplitLines(reply))
        out += (out.empty() ? "" : " ") + line;
    return out;
}

// A query whose information line may come without a final result.
AtExpect Query(const char* prefix) { return {{prefix}, false, false, false, false, true}; }

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

Result ModemStartup::Ask(const std::string& command, AtExpect expect)
{
    Result r = modem_.Command(command, std::move(expect));
    if (r.status == Status::LinkGone)
        ThrowLinkGone();
    return r;
}

void ModemStartup::Open()
{
    EchoOff();
    // Numeric errors first, so a refused PIN is told from other failures.
    Optional("AT+CMEE=1\r", "errors then come as words only");
    UnlockSim();
    StartMessageService();
    ReadIdentity();
    ChooseNotification();
    AskForReports();
    ChooseStorage();
    ChooseServiceCentre();
    Result pdu = Ask("AT+CMGF=0\r");
    if (!pdu.Ok())
        throw CSmartException("Unexpected response [%s] to command AT+CMGF=0: the modem does not take PDU mode, "
                              "which this device needs",
                              pdu.Text().c_str());
    Optional("AT+CSCS=\"GSM\"\r", "PDU mode does not use the character set");
    (void)Ask("AT+CMEE=1\r");  // once more, for modems that forget it; refused above already if at all
    Optional("ATS0=0\r", "it only keeps the modem from answering calls");
    modem_.SetOpened(true);
    (void)modem_.ReadState();  // what the modem knows of its radio; a modem that cannot tell still sends
}

void ModemStartup::EchoOff()
{
    std::string noModem =
        "ATE0 command failed. No modem on port" + (settings_.Port.empty() ? "" : " " + settings_.Port) + "?";
    SerialPort& port = modem_.Port();
    port.SetSink(&modem_);
    if (!port.SetReaderTimeouts() || !port.StartReader())
        throw CSmartException("%s", noModem.c_str());
    // The escape ends a PDU the modem may still be waiting for. Its answer,
    // and whatever the line held from before (a message the modem handed
    // over while the service was down), is framed like every later line,
    // before the dialogue starts: nothing is thrown away.
    port.Write("\x1b", 1);
    modem_.WaitForQuiet(AtModem::kCancelWait);
    modem_.NoteAnswer();
    bool echoOff = false;
    for (int attempt = 0; attempt < AtModem::kEchoAttempts && !echoOff; ++attempt) {
        Result r = modem_.Transact("ATE0\r", {}, AtModem::kEchoWait);  // a read time-out of the line, not a design wait
        echoOff = r.Ok();
        if (r.status == Status::LinkGone)
            break;
    }
    if (!echoOff)
        throw CSmartException("%s", noModem.c_str());
}

void ModemStartup::Optional(const std::string& command, const char* why)
{
    Result r = Ask(command);
    if (!r.Ok())
        modem_.Log(EVENTLOG_WARNING_TYPE, "The modem refused %s ([%s]): %s; the device goes on without it",
                   Shown(command).c_str(), OneLine(r.Text()).c_str(), why);
}

void ModemStartup::UnlockSim()
{
    std::string response = Ask("AT+CPIN?\r", Query("+CPIN:")).Text();
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
    std::string after = Ask("AT+CPIN?\r", Query("+CPIN:")).Text();
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

void ModemStartup::StartMessageService()
{
    std::string response;
    for (int attempt = 0; attempt < AtModem::kCsmsAttempts; ++attempt) {
        response = Ask("AT+CSMS=0\r", {{"+CSMS:"}}).Text();
        if (BeginsWith(response, "+CSMS"))
            return;
        Sleep(DesignWait(AtModem::kCsmsPause));
    }
    throw CSmartException("Unexpected response [%s] to command AT+CSMS=0", response.c_str());
}

void ModemStartup::ReadIdentity()
{
    AtExpect anyLine{{}, false, false, false, true, true};
    auto read = [&](const char* command) {
        Result r = Ask(command, anyLine);
        return r.Ok() ? ParseIdentity(r.reply.text) : std::string();
    };
    std::string manufacturer = read("AT+CGMI\r"), model = read("AT+CGMM\r"), revision = read("AT+CGMR\r"),
                imei = read("AT+CGSN\r"), imsi = read("AT+CIMI\r");
    modem_.Learn([&](ModemState& s) {
        s.manufacturer = manufacturer;
        s.model = model;
        s.revision = revision;
        s.imei = imei;
        s.imsi = imsi;
    });
}

void ModemStartup::ChooseNotification()
{
    std::string chosen = settings_.CNMI;
    if (chosen.empty()) {
        modem_.Learn([](ModemState& s) { s.notification = "none"; });  // as configured: the storage is listed
        return;
    }
    Result r = Ask("AT+CNMI=" + chosen + "\r");
    if (!r.Ok()) {
        Result test = Ask("AT+CNMI=?\r", Query("+CNMI:"));
        std::optional<CnmiSupport> support = test.Ok() ? ParseCnmiTest(test.reply.text) : std::nullopt;
        CnmiChoice choice = support ? ChooseCnmi(*support, chosen) : CnmiChoice{};
        if (choice.kind != Notification::None && Ask("AT+CNMI=" + choice.setting + "\r").Ok()) {
            modem_.Log(EVENTLOG_WARNING_TYPE, "The modem refused AT+CNMI=%s ([%s]): it %s with AT+CNMI=%s instead",
                       chosen.c_str(), OneLine(r.Text()).c_str(),
                       choice.kind == Notification::StoreAndAnnounce
                           ? "stores and announces new messages"
                           : "delivers new messages directly (they are lost if the service is down when they come)",
                       choice.setting.c_str());
            chosen = choice.setting;
        } else {
            modem_.Log(EVENTLOG_WARNING_TYPE,
                       "The modem refused AT+CNMI=%s ([%s]) and offers no setting that announces new messages: "
                       "the device still sends, and lists the modem's storage for new messages at every idle check",
                       chosen.c_str(), OneLine(r.Text()).c_str());
            chosen = "none";
        }
    }
    bool acknowledges = NotificationOf(chosen) == Notification::Direct && AcknowledgeDirect(chosen);
    modem_.Learn([&](ModemState& s) {
        s.notification = chosen;
        s.acknowledges = acknowledges;
    });
}

bool ModemStartup::AcknowledgeDirect(const std::string& cnmi)
{
    // Phase 2+ message service: the modem waits for AT+CNMA after each
    // +CMT, and the network delivers again what is not acknowledged.
    Result csms = Ask("AT+CSMS=1\r", {{"+CSMS:"}});
    if (csms.Ok() && BeginsWith(csms.Text(), "+CSMS: 1")) {
        (void)Ask("AT+CNMI=" + cnmi + "\r");  // some modems forget it when the service changes
        modem_.Log(EVENTLOG_INFORMATION_TYPE,
                   "The modem hands new messages over directly (AT+CNMI=%s); the device acknowledges each one "
                   "(AT+CNMA) only once it is kept, so the network delivers again what was not",
                   cnmi.c_str());
        return true;
    }
    (void)Ask("AT+CSMS=0\r", {{"+CSMS:"}});
    modem_.Log(EVENTLOG_WARNING_TYPE,
               "The modem hands new messages over directly (AT+CNMI=%s) and keeps no copy: a message that "
               "arrives while the service is down is lost. CNMI 2,1 has the modem store each one until the "
               "service has it",
               cnmi.c_str());
    return false;
}

void ModemStartup::AskForReports()
{
    if (!settings_.StatusReport)
        return;
    std::string current = modem_.State().notification;
    std::vector<std::string> fields;
    for (std::size_t start = 0; !current.empty() && current != "none" && start <= current.size();) {
        std::size_t comma = current.find(',', start);
        fields.push_back(current.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        start = comma == std::string::npos ? current.size() + 1 : comma + 1;
    }
    if (fields.size() >= 4 && fields[3] != "0" && !fields[3].empty())
        return;  // the configured setting asks for reports itself
    if (fields.size() >= 2) {
        fields.resize(std::max<std::size_t>(fields.size(), 4));
        if (fields[2].empty())
            fields[2] = "0";
        for (const char* ds : {"1", "2"}) {
            fields[3] = ds;
            std::string setting;
            for (const std::string& f : fields)
                setting += (setting.empty() ? "" : ",") + f;
            if (Ask("AT+CNMI=" + setting + "\r").Ok()) {
                modem_.Learn([&](ModemState& s) { s.notification = setting; });
                modem_.Log(EVENTLOG_INFORMATION_TYPE, "The modem %s status reports (AT+CNMI=%s)",
                           ds[0] == '1' ? "hands over" : "stores and announces", setting.c_str());
                return;
            }
        }
    }
    modem_.Log(EVENTLOG_WARNING_TYPE,
               "The modem does not announce status reports (AT+CNMI with ds 1 or 2 %s): they are taken when its "
               "storage is listed at every idle check",
               fields.size() >= 2 ? "was refused" : "cannot be set without notification");
}

void ModemStartup::ChooseStorage()
{
    Result test = Ask("AT+CPMS=?\r", Query("+CPMS:"));
    std::vector<std::string> storages =
        test.Ok() ? ReceiveStorages(ParseStorageList(test.reply.text)) : std::vector<std::string>{};
    if (storages.empty()) {
        Result current = Ask("AT+CPMS?\r", Query("+CPMS:"));
        std::string storage = current.Ok() ? ParseCurrentStorage(current.reply.text) : std::string();
        if (!storage.empty())
            storages.push_back(storage);
        else
            modem_.Debug("The modem names no message storage (AT+CPMS): received messages are read where it keeps "
                         "them");
    }
    std::string list;
    for (const std::string& s : storages)
        list += (list.empty() ? "" : ",") + s;
    modem_.Learn([&](ModemState& s) { s.storages = list; });
}

void ModemStartup::ChooseServiceCentre()
{
    if (!settings_.SMSCentral.empty()) {
        std::string response = Ask("AT+CSCA=\"" + settings_.SMSCentral + "\"\r").Text();
        if (!BeginsWith(response, "OK"))
            throw CSmartException("Unexpected response [%s] to command AT+CSCA=%s", response.c_str(),
                                  settings_.SMSCentral.c_str());
        modem_.Learn([&](ModemState& s) { s.serviceCentre = settings_.SMSCentral; });
        return;
    }
    Result r = Ask("AT+CSCA?\r", Query("+CSCA:"));
    std::string centre = r.Ok() ? ParseServiceCentre(r.reply.text) : std::string();
    if (centre.empty())
        modem_.Log(EVENTLOG_WARNING_TYPE,
                   "The SIM names no service centre ([%s]) and the device has no SMSCentral parameter: messages "
                   "may not go out until one is set",
                   OneLine(r.Text()).c_str());
    else
        modem_.Log(EVENTLOG_INFORMATION_TYPE, "The device sends through the SIM's own service centre %s",
                   centre.c_str());
    modem_.Learn([&](ModemState& s) { s.serviceCentre = centre; });
}

}  // namespace velmo::cellgate

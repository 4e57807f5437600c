#include "devices/gsm/AtModem.h"

#include "devices/gsm/DeliverPdu.h"
#include "devices/gsm/SubmitPdu.h"
#include "platform/ErrorInfo.h"
#include "platform/Text.h"
#include "platform/Timing.h"

#include <cstdarg>
#include <cstdio>

namespace velmo::gsm {

namespace {

constexpr const char16_t* kSource = u"Cellgate.PDU.1";
constexpr std::size_t kMessageLimit = 2048;
constexpr char kTimedOut[] = "timedout reading comport";

HRESULT Report(const CSmartException& e) { return ReportError(kSource, Utf8ToUtf16(e.what()).c_str()); }

} // namespace

CSmartException::CSmartException(const char* format, ...)
{
    char buffer[kMessageLimit + 1];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    text_ = buffer;
}

void AtModem::OnData(const std::string& text)
{
    SortedDelivery sorted = SortDelivery(text);
    for (InboundNote& note : sorted.notes) {
        {
            std::lock_guard lock(inboundLock_);
            inbound_.push_back(std::move(note));
        }
        SetEvent(inboundEvent_.get());
    }
    if (!sorted.response.empty()) {
        {
            std::lock_guard lock(responseLock_);
            responses_.push_back(std::move(sorted.response));
        }
        // Past 256 waiting entries the count stops rising; the entry still
        // waits for a later read.
        (void)ReleaseSemaphore(responseCounter_.get(), 1, nullptr);
    }
}

bool AtModem::ReadResponse(std::string& out, DWORD timeoutMs)
{
    out.clear();
    HANDLE reader = port_.ReaderThread();
    HANDLE waits[2] = {responseCounter_.get(), reader};
    DWORD r = WaitForMultipleObjects(reader ? 2 : 1, waits, FALSE, timeoutMs);
    if (r == WAIT_OBJECT_0) {
        std::lock_guard lock(responseLock_);
        if (!responses_.empty()) {
            out = std::move(responses_.front());
            responses_.pop_front();
            return true;
        }
    }
    out = kTimedOut;
    return false;
}

std::string AtModem::Command(const char* format, ...)
{
    char line[SerialPort::kFormatBuffer];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n > 0 && static_cast<std::size_t>(n) < sizeof line)
        port_.Write(line, static_cast<std::size_t>(n));
    std::string response;
    ReadResponse(response, DesignWait(kResponseWait));
    return response;
}

HRESULT AtModem::InitModem()
{
    try {
        Init();
        return S_OK;
    } catch (const CSmartException& e) {
        return Report(e);
    }
}

void AtModem::Init()
{
    char raw[33] = {};
    port_.Write("\x1b", 1);
    port_.ReadRaw(raw, 32);

    port_.Write("ATE0\r", 0);
    DWORD n = port_.ReadRaw(raw, 32);
    if (!EchoAccepted(std::string_view(raw, n)))
        throw CSmartException("ATE0 command failed. No modem on port?");

    port_.SetSink(this);
    port_.StartReader();

    std::string response = Command("AT+CPIN?\r");
    if (BeginsWith(response, "+CPIN: SIM PIN")) {
        response = Command("AT+CPIN=\"%s\"\r", settings_.Pin.c_str());
        if (!BeginsWith(response, "OK"))
            throw CSmartException("Unexpected response [%s] to command AT+CPIN=\"%s\"", response.c_str(),
                                  settings_.Pin.c_str());
    } else if (!BeginsWith(response, "+CPIN: READY")) {
        throw CSmartException("Unexpected response [%s] to command AT+CPIN?", response.c_str());
    }

    bool csms = false;
    for (int attempt = 0; attempt < kCsmsAttempts && !csms; ++attempt) {
        response = Command("AT+CSMS=0\r");
        csms = BeginsWith(response, "+CSMS");
        if (!csms)
            Sleep(DesignWait(kCsmsPause));
    }
    if (!csms)
        throw CSmartException("Unexpected response [%s] to command AT+CSMS=0", response.c_str());

    if (!settings_.CNMI.empty()) {
        response = Command("AT+CNMI=%s\r", settings_.CNMI.c_str());
        if (!BeginsWith(response, "OK"))
            throw CSmartException("Unexpected response [%s] to command AT+CNMI=%s : ", response.c_str(),
                                  settings_.CNMI.c_str());
    }
    response = Command("AT+CSCA=\"%s\"\r", settings_.SMSCentral.c_str());
    if (!BeginsWith(response, "OK"))
        throw CSmartException("Unexpected response [%s] to command AT+CSCA=%s", response.c_str(),
                              settings_.SMSCentral.c_str());
    response = Command("AT+CMGF=0\r");
    if (!BeginsWith(response, "OK"))
        throw CSmartException("Unexpected response [%s] to command AT+CMGF=0", response.c_str());
    response = Command("AT+CSCS=\"GSM\"\r");
    if (!BeginsWith(response, "OK"))
        throw CSmartException("Unexpected response [%s] to command AT+CSCS=\"GSM\"", response.c_str());
    Command("AT+CMEE=1\r");  // any answer will do
    Command("ATS0=0\r");     // any answer will do
    opened_ = true;
}

HRESULT AtModem::RunLoop(IVelmo_Q* queue)
{
    if (!opened_)
        return S_OK;
    if (!queue)
        return E_POINTER;
    try {
        while (true) {
            LONG reason = WAKE_NONE;
            GUID id{};
            Bstr to, body;
            if (FAILED(queue->WaitForMsg(inboundEvent_.get(), &reason, &id, to.Receive(), body.Receive())))
                return S_OK;
            if (reason == WAKE_MESSAGE)
                Send(queue, id, to, body);
            else if (reason == WAKE_EVENT)
                HandleInbound(queue);
        }
    } catch (const CSmartException& e) {
        return Report(e);
    }
}

void AtModem::Send(IVelmo_Q* queue, const GUID& id, const Bstr& to, const Bstr& body)
{
    std::string number = Utf16ToAnsi(to.view());
    if (number.size() < 2) {
        Bstr status(u"Invalid Phoneno.");
        queue->ReportMsgResult(id, 0, SEND_FAILED, status.get());
        return;
    }
    std::string pdu = EncodeSubmitPdu(number, Utf16ToAnsi(body.view()), settings_.NoSMSC);
    int length = SubmitLength(pdu, settings_.NoSMSC);
    port_.WriteFormatted("AT+CMGS=%d\r", length);
    Sleep(DesignWait(kPduPause));
    port_.WriteFormatted("%s%c", pdu.c_str(), 26);
    std::string response;
    ReadResponse(response, DesignWait(kResponseWait));
    SendOutcome outcome = ClassifySendResponse(response);
    if (!outcome.expected)
        throw CSmartException("Unexpected response [%s] to tpdu [%s]", response.c_str(), pdu.c_str());
    Bstr status = outcome.withStatusText ? Bstr(AnsiToUtf16(response)) : Bstr();
    queue->ReportMsgResult(id, 0, outcome.result, status.get());
}

void AtModem::HandleInbound(IVelmo_Q* queue)
{
    while (true) {
        InboundNote note;
        {
            std::lock_guard lock(inboundLock_);
            if (inbound_.empty())
                return;
            note = std::move(inbound_.front());
            inbound_.pop_front();
        }
        std::string pdu;
        if (note.kind == InboundNote::StoredIndex) {
            pdu = PduOfCmgr(Command("AT+CMGR=%s\r", note.value.c_str()));
            Command("AT+CMGD=%s\r", note.value.c_str());  // deleted whatever the read gave
        } else {
            pdu = note.value;
        }
        std::string sender, text;
        if (DecodeDeliverPdu(pdu, sender, text, settings_.NoSMSC)) {
            Bstr from(AnsiToUtf16(sender)), message(AnsiToUtf16(text));
            (void)queue->ReportIncomingMsg(0, from.get(), message.get());  // its result is not used
        }
    }
}

} // namespace velmo::gsm

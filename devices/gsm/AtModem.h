// The GSM device's dialogue with its modem: GSM 07.05 AT commands in PDU
// mode over a SerialPort.
//
// InitModem brings the modem into a known state; RunLoop serves the
// service's queue and the modem's new-message indications on the device
// thread; OnData, on the serial reader thread, sorts what the modem says
// into the response queue (one entry per delivery holding ordinary lines,
// counted by a semaphore of at most 256) and the inbound list (signalled by
// an auto-reset event handed to WaitForMsg). Each lock guards only its own
// queue and is never held while another is taken, while writing to the
// port or while calling the service. Every command is followed by exactly
// one ReadResponse, except the AT+CMGS line, after which the PDU follows.
// Failures of the two entry points become error information with the
// source "Cellgate.PDU.1" and DISP_E_EXCEPTION.
#pragma once

#include "devices/gsm/AtParse.h"
#include "devices/gsm/SerialPort.h"
#include "interfaces/VelmoDevice.h"

#include <deque>
#include <mutex>
#include <stdexcept>
#include <string>

namespace velmo::gsm {

// The error of the device: one message text of at most 2048 characters.
class CSmartException : public std::exception {
public:
    explicit CSmartException(const char* format, ...) __attribute__((format(printf, 2, 3)));
    const char* what() const noexcept override { return text_.c_str(); }

private:
    std::string text_;
};

// The parameters the AT layer uses, in the device's 8-bit text.
struct AtSettings {
    std::string Pin;
    std::string SMSCentral;
    std::string CNMI = "1,2";
    std::uint16_t NoSMSC = 0;
};

class AtModem final : public ISerialSink {
public:
    static constexpr LONG kResponseLimit = 256;
    static constexpr DWORD kResponseWait = 60000;
    static constexpr DWORD kCsmsPause = 10000;
    static constexpr int kCsmsAttempts = 5;
    static constexpr DWORD kPduPause = 100;

    AtModem(SerialPort& port, const AtSettings& settings) : port_(port), settings_(settings) {}
    AtModem(const AtModem&) = delete;
    AtModem& operator=(const AtModem&) = delete;

    // The initialisation sequence on an open, configured port.
    HRESULT InitModem();
    // The device's Run body: S_OK when WaitForMsg ends it.
    HRESULT RunLoop(IVelmo_Q* queue);
    void OnData(const std::string& text) override;
    // The oldest response, or false and "timedout reading comport" after
    // the time-out or once the reader thread has ended.
    bool ReadResponse(std::string& out, DWORD timeoutMs);

    bool Opened() const { return opened_; }
    void ResetOpened() { opened_ = false; }
    HANDLE InboundEvent() const { return inboundEvent_.get(); }

private:
    void Init();
    // Sends a command and reads its one response.
    std::string Command(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void Send(IVelmo_Q* queue, const GUID& id, const Bstr& to, const Bstr& body);
    void HandleInbound(IVelmo_Q* queue);

    SerialPort& port_;
    const AtSettings& settings_;
    std::mutex responseLock_;
    std::deque<std::string> responses_;
    Handle responseCounter_{CreateSemaphoreW(nullptr, 0, kResponseLimit, nullptr)};
    std::mutex inboundLock_;
    std::deque<InboundNote> inbound_;
    Handle inboundEvent_{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    bool opened_ = false;
};

} // namespace velmo::gsm

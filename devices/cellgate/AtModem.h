// The GSM device's dialogue with its modem: GSM 07.05 AT commands in PDU
// mode over a SerialPort. What is said in it is up to ModemStartup (the
// opening) and ModemSession (the running device).
//
// One command is pending at a time, and its reply is complete when its final
// result line arrives (or the "> " prompt, for AT+CMGS); AtFraming sorts
// every line the modem sends on the serial reader thread (OnData), so an
// unsolicited line is never taken for a reply, wherever it arrives. Lines of
// new messages (+CMTI, +CMT) and of status reports (+CDSI, +CDS) become
// notes on the inbound list and set the
// inbound event, which WaitForMsg watches; registration and signal lines
// update the modem state; other known codes are counted; lines that fit
// nothing are logged (once per kind of line) and skipped. Once the modem is
// open, a modem quiet for kIdleCheck sets the inbound event with a check
// due. Locks: the framing lock (the framer, the reply slot), the inbound
// lock (the inbound list) and the state lock (the modem state) are each
// held only for their own short changes, never while another is taken,
// while writing to the port or while calling the service. Failures are
// CSmartException inside the device; its entry points turn them into error
// information with the source "Cellgate.PDU.1" and DISP_E_EXCEPTION.
#pragma once

#include "atprotocol/AtFraming.h"
#include "atprotocol/AtParse.h"
#include "devices/cellgate/SerialPort.h"
#include "interfaces/VelmoDevice.h"

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>

namespace velmo::cellgate {

// The device speaks the shared AT protocol's vocabulary as its own.
using namespace velmo::at;

// The error of the device: one message text of at most 2048 characters.
class CSmartException : public std::exception {
public:
    explicit CSmartException(const char* format, ...) __attribute__((format(printf, 2, 3)));
    const char* what() const noexcept override { return text_.c_str(); }

private:
    std::string text_;
};

// The exception as error information of the source "Cellgate.PDU.1";
// returns DISP_E_EXCEPTION.
HRESULT ReportFailure(const CSmartException& e);

// The failure of a line that has closed under a command.
[[noreturn]] void ThrowLinkGone();

// The parameters the AT layer uses, in the device's 8-bit text.
struct AtSettings {
    std::string Name;  // the device's name, for events and the PIN guard
    std::string Port;  // the port as an administrator finds it: "COM3: (/dev/ttyUSB0)" or a path
    std::string Pin;   // empty: no PIN is ever sent
    std::string SMSCentral;
    std::string CNMI = "1,2";
    std::uint16_t NoSMSC = 0;
    bool FullAlphabet = false;  // the extension table and UCS2
    unsigned MaxParts = 1;      // most parts of a long text
    bool StatusReport = false;  // every message asks for a delivery report (TP-SRR)
    unsigned Validity = 0xAA;   // TP-VP, relative: four days
};

// What the modem last said of its radio (IVelmoDeviceState's values), and
// what the opening learned of it; an empty text is not known.
struct ModemState {
    int signal = 99;        // +CSQ scale, 99 unknown
    int registration = -1;  // +CREG status, -1 unknown
    std::string operatorName;
    std::string manufacturer, model, revision, imei, imsi;  // AT+CGMI, +CGMM, +CGMR, +CGSN, +CIMI
    std::string serviceCentre;                              // the one the device sends through
    std::string storages;                                   // read for received messages, "SM,ME"
    std::string notification;                               // the AT+CNMI setting in use; "none" when it lists
    bool acknowledges = false;                              // AT+CSMS=1: each +CMT is acknowledged once kept
};

class AtModem final : public ISerialSink {
public:
    static constexpr DWORD kResponseWait = 60000;  // the reply to any command
    static constexpr DWORD kPromptWait = 15000;    // the "> " after AT+CMGS
    static constexpr DWORD kEchoWait = 1000;       // each ATE0 attempt (not shortened in tests)
    static constexpr int kEchoAttempts = 3;
    static constexpr DWORD kCancelWait = 1000;  // the answer to the ESC that cancels a PDU
    static constexpr DWORD kLineQuiet = 100;    // a line this long without a byte has said what it had
    static constexpr DWORD kCsmsPause = 10000;
    static constexpr int kCsmsAttempts = 5;
    static constexpr DWORD kBusyPause = 1000;  // between commands the SIM called busy
    static constexpr int kBusyAttempts = 20;
    static constexpr DWORD kIdleCheck = 30000;  // quiet time before the modem is checked
    static constexpr DWORD kQuietEnd = 500;     // quiet after the information of a reply without final result
                                                // (a time of the line, not a design wait: never shortened)

    enum class Status { Answered, TimedOut, LinkGone };
    struct Result {
        Status status = Status::TimedOut;
        AtReply reply;
        // The reply's text; "timedout reading comport" when none came.
        std::string Text() const;
        bool Ok() const { return status == Status::Answered && (reply.final == Final::Ok || reply.quiet); }
    };

    AtModem(SerialPort& port, const AtSettings& settings) : port_(port), settings_(settings) {}
    // Stops the reader it started, so nothing calls into it once it is gone.
    ~AtModem();
    AtModem(const AtModem&) = delete;
    AtModem& operator=(const AtModem&) = delete;

    // ISerialSink, on the reader thread.
    void OnData(const std::string& bytes) override;
    void OnIdle() override;
    void OnEnded() override;

    // Writes one command line (dumped as dumpAs when given) and waits up to
    // timeoutMs for its reply; TimedOut when none came, LinkGone once the
    // reader has ended. A reply that comes after the time-out is never
    // taken for a later command's.
    Result Transact(std::string_view line, AtExpect expect, DWORD timeoutMs, std::string_view dumpAs = {});
    // Transact with kResponseWait, asked again while the SIM says it is busy.
    Result Command(std::string_view line, AtExpect expect = {}, std::string_view dumpAs = {});
    // Reads signal, registration and operator into the modem state; the
    // result of AT+CSQ.
    Result ReadState();
    // One event under the service's source, prefixed with the device's name.
    void Log(WORD type, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // The same at the debug priority.
    void Debug(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Changes what the opening learned of the modem (under the state lock).
    void Learn(const std::function<void(ModemState&)>& change);

    // The port, for the opening's raw first bytes and its reader.
    SerialPort& Port() { return port_; }
    const AtSettings& Settings() const { return settings_; }

    // Opened: the opening is done and the idle check may fall due.
    bool Opened() const { return opened_; }
    void SetOpened(bool opened) { opened_ = opened; }
    bool LinkEnded() const { return linkEnded_; }
    // The modem answered: the idle check waits kIdleCheck from now.
    // Returns once no byte has come for kLineQuiet (counted from the call
    // at the earliest), or after mostMs; what came meanwhile was framed
    // and taken as usual. A time of the line: never shortened in tests.
    void WaitForQuiet(DWORD mostMs);
    void NoteAnswer();
    // Whether an idle check fell due since the last call (it is taken).
    bool TakeCheckDue() { return checkDue_.exchange(false); }
    // The oldest note of a new message, taken; nullopt when none waits.
    std::optional<InboundNote> TakeInbound();
    HANDLE InboundEvent() const { return inboundEvent_.get(); }
    ModemState State() const;
    // Known unsolicited lines that were only counted, and stray lines.
    std::size_t IgnoredCount() const { return ignored_; }
    std::size_t StrayCount() const { return stray_; }

private:
    void TakeUnsolicited(const UnsolicitedLine& line);
    void Stray(const std::string& line);
    void RequestCheckIfDue();

    SerialPort& port_;
    const AtSettings& settings_;

    mutable std::mutex framingLock_;
    AtFraming framing_;
    std::optional<AtReply> reply_;
    Handle replyEvent_{CreateEventW(nullptr, FALSE, FALSE, nullptr)};

    std::mutex inboundLock_;
    std::deque<InboundNote> inbound_;
    Handle inboundEvent_{CreateEventW(nullptr, FALSE, FALSE, nullptr)};

    mutable std::mutex stateLock_;
    ModemState state_;
    std::set<std::string> loggedStray_;

    std::atomic<bool> opened_{false};
    std::atomic<bool> linkEnded_{false};
    std::atomic<bool> checkDue_{false};
    std::atomic<std::int64_t> lastAnswer_{0};
    std::atomic<std::int64_t> lastData_{0};
    std::atomic<std::size_t> ignored_{0};
    std::atomic<std::size_t> stray_{0};
};

}  // namespace velmo::cellgate

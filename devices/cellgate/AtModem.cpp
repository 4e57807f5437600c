// The dialogue: commands and their replies, and what the modem says of its
// own accord, sorted on the reader thread.
#include "devices/cellgate/AtModem.h"

#include "platform/ErrorInfo.h"
#include "platform/EventLog.h"
#include "platform/Text.h"
#include "platform/Timing.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace velmo::cellgate {

namespace {

constexpr const char16_t* kSource = u"Cellgate.PDU.1";
constexpr std::size_t kMessageLimit = 2048;
constexpr char kTimedOut[] = "timedout reading comport";
constexpr std::size_t kStrayKinds = 32;  // distinct kinds of stray lines logged per run
constexpr std::size_t kShownLine = 80;   // characters of a stray line shown in its event
constexpr DWORD kReaderStopWait = 5000;
constexpr int kSimBusy = 14;      // +CME ERROR: SIM busy
constexpr int kSimBusySms = 314;  // +CMS ERROR: SIM busy
constexpr int kPleaseWait = 515;  // +CME/+CMS ERROR: please wait, initialisation in progress

// What a stray line is, for logging each kind once: its text up to the
// first ':' or blank, at most 16 characters.
std::string KindOf(const std::string& line)
{
    std::size_t end = line.find_first_of(": ");
    return line.substr(0, std::min<std::size_t>(end == std::string::npos ? line.size() : end, 16));
}

}  // namespace

CSmartException::CSmartException(const char* format, ...)
{
    char buffer[kMessageLimit + 1];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    text_ = buffer;
}

HRESULT ReportFailure(const CSmartException& e) { return ReportError(kSource, Utf8ToUtf16(e.what()).c_str()); }

void ThrowLinkGone() { throw CSmartException("The modem's line has closed: the port failed or the modem went away"); }

AtModem::~AtModem() { (void)port_.StopReader(kReaderStopWait); }  // an abandoned reader is logged by nobody

std::string AtModem::Result::Text() const { return status == Status::Answered ? reply.text : kTimedOut; }

void AtModem::Log(WORD type, const char* format, ...)
{
    char buffer[kMessageLimit];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    // Under the service's source, so the device's events stand beside the
    // service's own in the journal.
    ReportEventText(u"velmosvc", type, "[" + settings_.Name + "] " + buffer);
}

void AtModem::Debug(const char* format, ...)
{
    char buffer[kMessageLimit];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    ReportDebugText(u"velmosvc", "[" + settings_.Name + "] " + buffer);
}

void AtModem::Learn(const std::function<void(ModemState&)>& change)
{
    std::lock_guard lock(stateLock_);
    change(state_);
}

AtModem::Result AtModem::Transact(std::string_view line, AtExpect expect, DWORD timeoutMs, std::string_view dumpAs)
{
    const bool quietEnd = expect.quietEnd;
    const std::int64_t quiet = kQuietEnd;  // how long a modem is quiet between lines: not a design wait
    {
        std::lock_guard lock(framingLock_);
        framing_.Begin(line, std::move(expect));
        reply_.reset();
    }
    port_.Write(line.data(), line.size(), dumpAs);
    auto take = [&]() -> std::optional<Result> {
        std::lock_guard lock(framingLock_);
        if (!reply_)
            return std::nullopt;
        Result r{Status::Answered, std::move(*reply_)};
        reply_.reset();
        return r;
    };
    std::int64_t deadline = SteadyMs() + timeoutMs;
    while (true) {
        if (auto r = take())
            return *r;
        std::int64_t sinceData = SteadyMs() - lastData_;
        if (quietEnd) {
            std::lock_guard lock(framingLock_);
            if (framing_.QuietEndDue() && sinceData >= quiet) {
                AtReply partial = *framing_.EndQuietly();
                Debug("%.*s ended without a final result: its reply was taken after %lld ms of quiet",
                      static_cast<int>(line.size() > 0 && line.back() == '\r' ? line.size() - 1 : line.size()),
                      line.data(), static_cast<long long>(quiet));
                return Result{Status::Answered, std::move(partial)};
            }
        }
        HANDLE reader = port_.ReaderThread();
        bool ended = linkEnded_ || (reader && WaitForSingleObject(reader, 0) == WAIT_OBJECT_0);
        std::int64_t left = deadline - SteadyMs();
        if (ended || left <= 0) {
            {
                std::lock_guard lock(framingLock_);
                framing_.Abandon();
            }
            if (auto r = take())  // it came as time ran out
                return *r;
            return Result{ended ? Status::LinkGone : Status::TimedOut, {}};
        }
        if (quietEnd)
            left = std::min(left, std::max<std::int64_t>(quiet - sinceData, 1));
        HANDLE waits[2] = {replyEvent_.get(), reader};
        (void)WaitForMultipleObjects(reader ? 2 : 1, waits, FALSE,
                                     static_cast<DWORD>(left));  // every outcome is looked at above
    }
}

AtModem::Result AtModem::Command(std::string_view line, AtExpect expect, std::string_view dumpAs)
{
    for (int attempt = 1;; ++attempt) {
        Result r = Transact(line, expect, DesignWait(kResponseWait), dumpAs);
        int code = r.status == Status::Answered ? ErrorCode(r.reply.text) : -1;
        bool busy = code == kSimBusy || code == kSimBusySms || code == kPleaseWait;
        if (!busy || attempt >= kBusyAttempts)
            return r;
        Sleep(DesignWait(kBusyPause));
    }
}

void AtModem::OnData(const std::string& bytes)
{
    lastData_ = SteadyMs();
    FramedOutput out;
    bool answered = false;
    {
        std::lock_guard lock(framingLock_);
        out = framing_.Feed(bytes);
        if (out.reply) {
            reply_ = std::move(out.reply);
            answered = true;
        }
    }
    if (answered) {
        NoteAnswer();
        SetEvent(replyEvent_.get());
    }
    for (const UnsolicitedLine& line : out.unsolicited)
        TakeUnsolicited(line);
    for (const std::string& line : out.stray)
        Stray(line);
    RequestCheckIfDue();
}

void AtModem::OnIdle() { RequestCheckIfDue(); }

void AtModem::NoteAnswer() { lastAnswer_ = SteadyMs(); }

void AtModem::WaitForQuiet(DWORD mostMs)
{
    const std::int64_t start = SteadyMs();
    while (!linkEnded_) {
        std::int64_t now = SteadyMs();
        if (now - std::max<std::int64_t>(start, lastData_) >= kLineQuiet || now - start >= mostMs)
            return;
        Sleep(10);
    }
}

void AtModem::OnEnded()
{
    linkEnded_ = true;
    SetEvent(replyEvent_.get());
    SetEvent(inboundEvent_.get());
}

void AtModem::RequestCheckIfDue()
{
    if (!opened_ || checkDue_)
        return;
    if (SteadyMs() - lastAnswer_ < static_cast<std::int64_t>(DesignWait(kIdleCheck)))
        return;
    checkDue_ = true;
    SetEvent(inboundEvent_.get());
}

void AtModem::TakeUnsolicited(const UnsolicitedLine& line)
{
    std::optional<InboundNote> note;
    switch (line.code->kind) {
    case Unsolicited::StoredMessage:
        if (auto stored = ParseCmti(line.line))
            note = InboundNote{InboundNote::StoredIndex, stored->index, stored->storage};
        break;
    case Unsolicited::DirectMessage:
        if (!line.pdu.empty())
            note = InboundNote{InboundNote::DirectPdu, line.pdu, {}};
        else
            Log(EVENTLOG_WARNING_TYPE, "The modem announced a message [%s] without its PDU line; it cannot be read",
                line.line.c_str());
        break;
    case Unsolicited::StatusReport:
        if (auto stored = ParseCdsi(line.line))
            note = InboundNote{InboundNote::StoredReport, stored->index, stored->storage};
        else if (!line.pdu.empty())
            note = InboundNote{InboundNote::DirectReport, line.pdu, {}};
        break;
    case Unsolicited::Registration: {
        int status = ParseRegistration(line.line, false);
        std::lock_guard lock(stateLock_);
        if (status >= 0)
            state_.registration = status;
        return;
    }
    case Unsolicited::Signal: {
        int signal = ParseSignal(line.line);
        std::lock_guard lock(stateLock_);
        state_.signal = signal;
        return;
    }
    default: break;
    }
    if (!note) {
        ++ignored_;
        return;
    }
    {
        std::lock_guard lock(inboundLock_);
        inbound_.push_back(std::move(*note));
    }
    SetEvent(inboundEvent_.get());
}

void AtModem::Stray(const std::string& line)
{
    ++stray_;
    std::string kind = KindOf(line);
    {
        std::lock_guard lock(stateLock_);
        if (loggedStray_.size() >= kStrayKinds || !loggedStray_.insert(kind).second)
            return;
    }
    std::string shown = BeginsWith(line, "AT+CPIN=") ? std::string("AT+CPIN=\"****\"") : line.substr(0, kShownLine);
    Log(EVENTLOG_WARNING_TYPE,
        "The modem sent a line that answers no command: [%s%s]; it is skipped (further such lines are not logged)",
        shown.c_str(), line.size() > shown.size() ? "..." : "");
}

std::optional<InboundNote> AtModem::TakeInbound()
{
    std::lock_guard lock(inboundLock_);
    if (inbound_.empty())
        return std::nullopt;
    InboundNote note = std::move(inbound_.front());
    inbound_.pop_front();
    return note;
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

ModemState AtModem::State() const
{
    std::lock_guard lock(stateLock_);
    return state_;
}

}  // namespace velmo::cellgate

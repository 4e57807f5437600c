// The home of one configured device inside the service.
//
// The host owns the device's thread, which creates the component by its
// class and drives it (Load, Open, Run, Close); it keeps the device's queue
// of outgoing messages with a semaphore of one count per queued message,
// and the set of message ids handed out and not yet reported (ordered by
// the GUID's bytes). It implements IVelmo_Q (and IVelmo_Q2, IVelmo_Q3),
// the interfaces the device calls. A queued message older than its expiry
// (MessageOutcomes::ExpiryOf) is failed in WaitForMsg, never handed out;
// the network's reports go to MessageOutcomes::RecordDelivery. The lock guards the queue, its count, the semaphore handle and
// the pending set, and is never held across a wait or a call into the
// dispatcher. Start count, last start and the thread handle belong to the
// supervising thread.
//
// Every start but the device's first waits before it creates the device:
// 1 s, then 2, 4, 8 and 16 s for the further starts of one run of quick
// starts (kRestartPause doubled, at most kRestartPauseCap), so a modem that
// is away for a few seconds does not use up the restarts at once. After
// kQuickStarts quick starts the device is waiting: it is started every
// kWaitingRetry until it runs, its messages wait in its queue, and a
// failure that repeats the last one word for word is not reported again.
// The pause ends early when the host is stopped.
#pragma once

#include "interfaces/VelmoDevice.h"
#include "interfaces/VelmoDeviceState.h"
#include "platform/Guid.h"
#include "messagefile/MessageRecord.h"
#include "service/devices/DeviceReports.h"
#include "service/events/EventSink.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace velmo::devices {

class DeviceHost final : public IVelmo_Q3 {
public:
    static constexpr LONG kQueueLimit = 16384;
    static constexpr int kQuickStarts = 5;
    static constexpr DWORD kRestartPause = 1000;
    static constexpr DWORD kRestartPauseCap = 16000;
    static constexpr DWORD kWaitingRetry = 60000;

    // One message the host held when its device ended.
    struct Pending {
        GUID id;
        bool handedOut;  // WaitForMsg gave it to the device (else it was still queued)
    };

    // log takes the device's events, outcomes its reports of messages,
    // incoming its received messages; all three must outlive the host.
    DeviceHost(events::EventSink& log, MessageOutcomes& outcomes, IncomingMessages& incoming, LONG id,
               std::u16string name, const CLSID& clsid, std::u16string params);
    ~DeviceHost();
    DeviceHost(const DeviceHost&) = delete;
    DeviceHost& operator=(const DeviceHost&) = delete;

    LONG Id() const { return id_; }
    const std::u16string& Name() const { return name_; }
    const CLSID& Clsid() const { return clsid_; }
    // The whole device entry element of the configuration, as XML text.
    const std::u16string& Params() const { return params_; }
    // Signalled once the device thread has ended; null before the first start.
    HANDLE Thread() const { return thread_.get(); }

    // Takes a reference, notes the id as pending, appends to the queue and
    // wakes the device; E_FAIL when the queue holds the queue limit
    // (kQueueLimit unless a test lowered it).
    HRESULT Enqueue(messagefile::MessageRecord* record);
    // Applies the restart rule and starts a new device thread; false only
    // when no thread can be made.
    bool StartThread();
    // Signals the stop event and waits, without a time limit, for the thread.
    void StopThread();
    // Empties queue and pending set for a restart and gives the pending
    // messages in ascending byte order of their ids; the semaphore is
    // replaced by a fresh one.
    std::vector<Pending> TakePendingForRestart();
    std::size_t PendingCount();
    std::size_t QueuedCount();

    // IVelmo_Q
    HRESULT QueryInterface(REFIID iid, void** out) override;
    ULONG AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG Release() override { return static_cast<ULONG>(--refs_); }
    HRESULT WaitForMsg(HANDLE hEvent, LONG* reason, GUID* msgId, BSTR* to, BSTR* body) override;
    HRESULT ReportMsgResult(GUID msgId, LONG reserved, LONG result, BSTR statusText) override;
    HRESULT ReportIncomingMsg(LONG reserved, BSTR from, BSTR body) override;
    // IVelmo_Q2
    HRESULT ReportIncomingMsgEx(BSTR from, BSTR body, BSTR statusText) override;
    // IVelmo_Q3
    HRESULT ReportDelivery(GUID msgId, LONG state, BSTR statusText, const SYSTEMTIME* accepted,
                           const SYSTEMTIME* discharged) override;

    // Where the device is in its life: Starting until its first Run,
    // Running while in Run, Restarting from the end of a Run (or a failed
    // start) until the next Run, Waiting once the quick starts are used up
    // until it runs again.
    enum class RunState { Starting, Running, Restarting, Waiting };
    RunState State() const { return runState_.load(); }

    // How the device fares, for people.
    struct Health {
        RunState state = RunState::Starting;
        std::string lastError;     // the last failure since it last ran; empty when none
        std::int64_t nextTry = 0;  // wall clock (ms since 1970) of the next start; 0 when none is due
        int failedStarts = 0;      // starts since it last ran that did not reach Run
    };
    Health GetHealth();

    // The "name=value" lines the device's IVelmoDeviceInfo gave when it last
    // reached Run; empty when it never did or offers none.
    std::string ModemInfo();

    // The running device's IVelmoDeviceState answer; E_NOTIMPL while no
    // device runs or when the device offers none.
    HRESULT GetModemState(LONG* signal, LONG* registration, BSTR* operatorName);

    // The clock of the restart rule, in milliseconds; tests replace it.
    static void SetClock(std::function<std::int64_t()> clock);
    // The number of messages one queue holds, for every host; tests lower
    // it. A limit outside 1..kQueueLimit restores kQueueLimit.
    static void SetQueueLimit(LONG limit);

private:
    static DWORD ThreadMain(void* self);
    DWORD DeviceThread();
    // Creates, loads, opens and runs the device; ran tells whether it
    // reached Run. The failure of the step that failed, or Run's result.
    HRESULT CreateAndRun(bool& ran);
    // Keeps the running device's IVelmoDeviceState (null: none) and, for a
    // device that reached Run, its IVelmoDeviceInfo lines.
    void SetStateSource(IVelmoDevice* device);
    // Notes a failure of the device thread and reports it unless the host
    // is waiting and it repeats the last one.
    void Failed(const std::string& text);

    events::EventSink& log_;
    MessageOutcomes& outcomes_;
    IncomingMessages& incoming_;
    const LONG id_;
    const std::u16string name_;
    const CLSID clsid_;
    const std::u16string params_;

    Handle stop_{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    std::mutex lock_;
    std::deque<messagefile::RecordPtr> queue_;
    LONG queueCount_ = 0;
    Handle semaphore_;
    std::set<GUID, GuidByteLess> pending_;
    ComPtr<IVelmoDeviceState> state_;  // the running device's, under the lock
    std::atomic<RunState> runState_{RunState::Starting};
    std::string lastError_;     // under the lock
    std::int64_t nextTry_ = 0;  // under the lock
    int failedStarts_ = 0;      // under the lock
    std::string info_;          // under the lock

    Handle thread_;
    int startCount_ = 0;
    std::int64_t lastStart_ = 0;
    bool started_ = false;
    std::atomic<bool> waiting_{false};  // the quick starts are used up; cleared when the device runs
    DWORD pause_ = 0;                   // before the next thread creates its device
    std::atomic<LONG> refs_{0};
};

}  // namespace velmo::devices

#include "service/pgstore/PgWatch.h"

#include "platform/Timing.h"

#include <algorithm>

namespace velmo::pgstore {

namespace {

constexpr unsigned kReconnectPause = 1000;

}  // namespace

PgWatch::PgWatch(PgStore& store, std::function<void()> wake, std::function<std::vector<GUID>()> held,
                 std::function<gateway::HostFigures()> report)
    : store_(store), wake_(std::move(wake)), held_(std::move(held)), report_(std::move(report))
{}

bool PgWatch::Start()
{
    if (thread_.joinable())
        return true;
    stop_ = Handle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stop_)
        return false;
    stopping_ = false;
    thread_ = std::thread([this] { Run(); });
    return true;
}

void PgWatch::Stop()
{
    if (!thread_.joinable())
        return;
    stopping_ = true;
    (void)SetEvent(stop_.get());  // had it failed, the thread sees stopping_ at its next wake
    thread_.join();
    stop_ = Handle();
}

bool PgWatch::WaitFor(int socket, unsigned ms)
{
    return WaitForObjectOrReadable(stop_.get(), socket, ms) == WAIT_OBJECT_0 + 1;
}

void PgWatch::Run()
{
    const unsigned idle = DesignWait(kIdleCheckMs);
    // Renewed at a quarter of the lease, so three renewals may fail before
    // another host could take what this one holds.
    const unsigned renewEvery = DesignWait(store_.Settings().leaseSeconds * 1000 / 4);
    const unsigned reportEvery = PgStore::ReportEveryMs();
    PgConnection listener(store_.Settings().connection);
    std::int64_t nextWake = 0, nextRenew = 0, nextReport = 0;
    while (!stopping_) {
        PgFailure failure;
        bool listening = listener.Native() != nullptr;
        if (!listening) {
            listening = listener.Exec("LISTEN velmo_queued", failure) != nullptr;
            if (listening)
                nextWake = 0;  // what was announced while the connection was down
        }
        if (listening && store_.ReplayJournal() > 0)
            nextWake = 0;
        std::int64_t now = SteadyMs();
        if (now >= nextRenew) {
            (void)store_.RenewLeases(held_());  // a failure is logged by the store's pool
            nextRenew = now + renewEvery;
        }
        if (now >= nextReport) {
            (void)store_.ReportHost(report_());  // a failure is logged by the store
            nextReport = now + reportEvery;
        }
        if (now >= nextWake) {
            wake_();
            nextWake = SteadyMs() + idle;
        }
        std::int64_t next = std::min({nextWake, nextRenew, nextReport});
        unsigned wait = static_cast<unsigned>(std::max<std::int64_t>(1, next - SteadyMs()));
        if (!listening) {
            (void)WaitFor(-1, std::min(wait, DesignWait(kReconnectPause)));
            continue;
        }
        if (!WaitFor(PQsocket(listener.Native()), wait))
            continue;
        if (!PQconsumeInput(listener.Native())) {
            listener.Close();
            continue;
        }
        bool announced = false;
        while (PGnotify* note = PQnotifies(listener.Native())) {
            announced = true;
            PQfreemem(note);
        }
        if (announced)
            nextWake = 0;
    }
}

}  // namespace velmo::pgstore

// Send over the automation bus: a velmosvc with the loopback device under a
// temporary system root and its private bus, and clients in this process,
// one bus connection each. Prints Sends per second for 1 and for 8
// connections and the p50 / p99 latency of one Send as the client sees it
// (a Send writes and syncs the message file before it answers).
//
//   bus_bench [--messages N]   (N per run, default 2000)
#include "interfaces/VelmoLib.h"
#include "platform/Activation.h"
#include "platform/Automation.h"
#include "platform/Text.h"
#include "ServiceRoot.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

velmo::ComPtr<IDispatch> NewSms()
{
    velmo::ComPtr<IDispatch> d;
    (void)CoCreateInstance(CLSID_NewSMS, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, d.ReceiveVoid());
    return d;
}

DISPID SendId(IDispatch* d)
{
    DISPID id = -1;
    LPOLESTR names[] = {const_cast<LPOLESTR>(u"Send")};
    (void)d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, &id);
    return id;
}

bench::Figures Measure(int connections, int messages)
{
    std::vector<std::vector<double>> latencies(connections);
    std::atomic<int> failures{0};
    std::vector<velmo::ComPtr<IDispatch>> clients;
    for (int c = 0; c < connections; ++c)
        clients.push_back(NewSms());
    auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < connections; ++c)
        threads.emplace_back([&, c] {
            IDispatch* sms = clients[c].get();
            if (!sms) {
                failures += (messages - c + connections - 1) / connections;
                return;
            }
            DISPID send = SendId(sms);
            velmo::Variant to = velmo::Variant::FromBstr(u"+491711234567");
            velmo::Variant body = velmo::Variant::FromBstr(u"Disk usage on db1 is above 90%");
            VARIANT args[2] = {body, to};  // reverse order
            for (int i = c; i < messages; i += connections) {
                DISPPARAMS params{args, nullptr, 2, 0};
                velmo::Variant id;
                auto t0 = Clock::now();
                HRESULT hr = sms->Invoke(send, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD, &params, id.Receive(),
                                         nullptr, nullptr);
                latencies[c].push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
                if (FAILED(hr))
                    ++failures;
            }
        });
    for (auto& t : threads)
        t.join();
    return bench::Summarise(latencies, std::chrono::duration<double>(Clock::now() - start).count(), failures.load());
}

}  // namespace

int main(int argc, char** argv)
{
    int messages = bench::MessagesOption(argc, argv, 2000, 1);
    std::string dir = bench::MakeServiceRoot("bus_bench");
    if (dir.empty())
        return 1;
    pid_t svc = fork();
    if (svc == 0) {
        execl(VELMO_SVC, VELMO_SVC, "/DEBUG", static_cast<char*>(nullptr));
        _exit(127);
    }
    velmo::RegisterBusInterfaces(velmo::velmolib::kInterfaces);
    // The classes are on the bus a moment before the dispatcher accepts
    // messages: wait until one Send goes through.
    auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline && Measure(1, 1).failures != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));

    std::printf("Send over the automation bus, %d messages per run (velmosvc, loopback device)\n", messages);
    int rc = 0;
    for (int connections : {1, 8}) {
        bench::Figures f = Measure(connections, messages);
        std::printf("%d connection%s: %8.0f Sends/s   p50 %7.0f us   p99 %7.0f us%s\n", connections,
                    connections == 1 ? " " : "s", f.perSecond, f.p50us, f.p99us,
                    f.failures ? "   (some Sends failed)" : "");
        if (f.failures)
            rc = 1;
    }
    kill(svc, SIGTERM);
    waitpid(svc, nullptr, 0);
    bench::RemoveServiceRoot(dir);
    return rc;
}

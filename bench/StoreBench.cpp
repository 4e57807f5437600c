// The queue stores side by side: the folders against PostgreSQL (a
// throwaway cluster that syncs its writes as a production server does),
// on this machine. Prints:
//   - Accept (the store's part of a Send) p50/p99 and per second, from 1
//     and from 16 threads;
//   - the claim cycle of a host in a shared queue (find an unclaimed
//     message, take it for a device, finish it), from 1 and 8 threads,
//     which bounds how many modems one database serves;
//   - List of one page with 100,000 messages stored: the first page and a
//     page deep in the folder;
//   - velmosvc hosts sharing the queue, loopback devices that take 1 s a
//     message: 1 host with 1 device against 2 hosts with 2 devices each,
//     and velmosvc's own processor time per message.
//
//   store_bench [--messages N]   (N per Accept run, default 2000)
#include "messagefile/MessageRecord.h"
#include "platform/Text.h"
#include "service/PgCluster.h"
#include "service/pgstore/PgStore.h"
#include "service/queue/FolderStore.h"

#include "ServiceRoot.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>
#include <thread>

using velmo::messagefile::MessageRecord;
using velmo::messagefile::RecordPtr;
using Clock = std::chrono::steady_clock;

namespace {

class Quiet final : public velmo::events::EventSink {
public:
    void Report(WORD, const std::string&) override {}
};

RecordPtr NewMessage()
{
    RecordPtr r = MessageRecord::New();
    r->Initialise();
    r->To = velmo::Bstr(u"+491711234567");
    r->Body = velmo::Bstr(u"Disk usage on db1 is above 90%");
    return r;
}

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// Runs step(thread, i) for i in [0, count) spread over threads, timing each.
bench::Figures Timed(int threads, int count, const std::function<bool(int, int)>& step)
{
    std::vector<std::vector<double>> latencies(threads);
    std::atomic<int> failures{0};
    auto start = Clock::now();
    std::vector<std::thread> running;
    for (int t = 0; t < threads; ++t)
        running.emplace_back([&, t] {
            for (int i = t; i < count; i += threads) {
                auto t0 = Clock::now();
                if (!step(t, i))
                    ++failures;
                latencies[t].push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
            }
        });
    for (auto& t : running)
        t.join();
    return bench::Summarise(latencies, Since(start), failures.load());
}

void Print(const char* what, int threads, const bench::Figures& f)
{
    std::printf("  %-34s %2d thread%s %8.0f /s   p50 %7.0f us   p99 %7.0f us", what, threads, threads == 1 ? " " : "s",
                f.perSecond, f.p50us, f.p99us);
    if (f.failures)
        std::printf("   (%d found nothing to do)", f.failures);
    std::printf("\n");
}

void AcceptRuns(velmo::queue::QueueStore& store, const char* name, int messages)
{
    for (int threads : {1, 16})
        Print(name, threads,
              Timed(threads, messages, [&](int, int) { return SUCCEEDED(store.Accept(*NewMessage())); }));
}

// What one host's device does for each message in a shared queue.
void ClaimRuns(velmo::pgstore::PgStore& store, int messages)
{
    for (int i = 0; i < messages * 2; ++i)
        (void)store.Accept(*NewMessage());
    for (int threads : {1, 8}) {
        Print("find, take and finish", threads, Timed(threads, messages, [&](int t, int) {
                  RecordPtr found;
                  std::u16string device = u"modem" + velmo::Utf8ToUtf16(std::to_string(t));
                  (void)store.Unclaimed(0, 32, [&](RecordPtr r) {
                      if (FAILED(store.Take(*r, device)))
                          return true;  // another thread took it: look at the next
                      found = r;
                      return false;
                  });
                  if (!found)
                      return false;
                  found->Status = SENT;
                  return store.Finish(*found) == S_OK;
              }));
    }
}

// What the hosts' reports cost: each host writes its figures every 10 s,
// and every DeviceDetails or /metrics reads the others'.
void ReportRuns(velmo::events::EventSink& log, PgCluster& cluster)
{
    constexpr int kHosts = 20, kDevices = 8;
    std::vector<std::unique_ptr<velmo::pgstore::PgStore>> hosts;
    velmo::gateway::HostFigures figures;
    for (int d = 0; d < kDevices; ++d) {
        velmo::gateway::DeviceFigures device;
        device.id = d + 1;
        device.name = "Modem" + std::to_string(d);
        device.state = "running";
        device.info = "manufacturer=Norvane\nmodel=modemsim\nimei=356938035643809";
        figures.devices.push_back(device);
        figures.counts.devices[device.name] = {1000, 3, 20, 900, 5};
    }
    std::string why;
    for (int h = 0; h < kHosts; ++h) {
        hosts.push_back(std::make_unique<velmo::pgstore::PgStore>(
            log, velmo::pgstore::PgSettings{cluster.ConnInfo(), "host" + std::to_string(h), 120, 2, ""}));
        if (FAILED(hosts.back()->Open(why)))
            return;
    }
    for (int threads : {1, 8})
        Print("a report of 8 devices", threads,
              Timed(threads, 400, [&](int, int i) { return SUCCEEDED(hosts[i % kHosts]->ReportHost(figures)); }));
    Print("the other 19 hosts' figures read", 1,
          Timed(1, 400, [&](int, int) { return hosts[0]->OtherHosts().size() == kHosts - 1; }));
}

void ListRuns(velmo::queue::QueueStore& store, const char* name, velmo::messagefile::Folder folder)
{
    auto t0 = Clock::now();
    std::optional<velmo::queue::Page> first = store.List(folder, 100, "");
    double firstMs = Since(t0) * 1000;
    std::string cursor = first ? first->next : "";
    for (int page = 0; page < 499 && !cursor.empty(); ++page)
        cursor = store.List(folder, 100, cursor)->next;  // to the middle of the folder
    t0 = Clock::now();
    std::optional<velmo::queue::Page> deep = store.List(folder, 100, cursor);
    double deepMs = Since(t0) * 1000;
    t0 = Clock::now();
    std::optional<velmo::queue::Page> again = store.List(folder, 100, "");
    std::printf("  %-10s first page %8.2f ms, again %8.2f ms, page 500 %8.2f ms (%zu lines)\n", name, firstMs,
                Since(t0) * 1000, deepMs, deep ? deep->messages.size() : 0);
}

// The processor seconds a process has used (user and system).
double CpuOf(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15)
            stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct Host {
    std::string root;
    pid_t pid = -1;
};

// A velmosvc under its own system root with `devices` loopback devices
// that take 1 s a message, sharing the queue as `name`.
Host StartHost(const std::string& name, int devices, const std::string& connection)
{
    Host host{bench::MakeServiceRoot(("store_bench_" + name).c_str())};
    std::string entries, rules;
    for (int d = 1; d <= devices; ++d) {
        entries += "<device status='1' id='" + std::to_string(d) + "' name='" + name + std::to_string(d) +
                   "' clsid='{A12F36AA-5B02-4D44-AF51-8B3E6B864F17}'><param name='delay' value='1000'/></device>";
        rules += "<r match='.' device_id='" + std::to_string(d) + "'/>";  // every device a candidate
    }
    std::ofstream(host.root + "/var/lib/velmo/config.xml")
        << "<velmo><configuration><queue max='0' store='postgresql' connection='" << connection << "' host='" << name
        << "'/><retries max='2'/></configuration><devices>" << entries << "</devices><rules choose='fewest_waiting'>"
        << rules << "</rules><eventhandlers/></velmo>";
    host.pid = fork();
    if (host.pid == 0) {
        setenv("VELMO_SYSROOT", host.root.c_str(), 1);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        execl(VELMO_SVC, VELMO_SVC, "/DEBUG", static_cast<char*>(nullptr));
        _exit(127);
    }
    return host;
}

void StopHost(Host& host)
{
    kill(host.pid, SIGTERM);
    waitpid(host.pid, nullptr, 0);
    bench::RemoveServiceRoot(host.root);
}

// Seconds until `count` messages queued through store are all sent by the
// hosts; the hosts' processor seconds in cpu.
double SendThrough(velmo::pgstore::PgStore& store, PgCluster& cluster, std::vector<Host>& hosts, int count, double& cpu)
{
    cluster.Psql("DELETE FROM velmo_messages");
    std::vector<double> before;
    for (Host& h : hosts)
        before.push_back(CpuOf(h.pid));
    auto start = Clock::now();
    for (int i = 0; i < count; ++i)
        (void)store.Accept(*NewMessage());
    while (Since(start) < 600) {
        if (cluster.Psql("SELECT count(*) FROM velmo_messages WHERE folder = 'sent'") &&
            cluster.Output() == std::to_string(count))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    double seconds = Since(start);
    cpu = 0;
    for (std::size_t i = 0; i < hosts.size(); ++i)
        cpu += CpuOf(hosts[i].pid) - before[i];
    return seconds;
}

void HostRuns(velmo::pgstore::PgStore& store, PgCluster& cluster)
{
    std::printf("Hosts sharing the queue, loopback devices at 1 s a message (PostgreSQL)\n");
    const int perDevice = 15;
    double oneRate = 0;
    for (auto [hosts, devices] : {std::pair{1, 1}, std::pair{2, 2}}) {
        std::vector<Host> running;
        for (int h = 0; h < hosts; ++h)
            running.push_back(StartHost(h == 0 ? "alpha" : "beta", devices, cluster.ConnInfo()));
        double warmCpu = 0;
        (void)SendThrough(store, cluster, running, hosts * devices, warmCpu);  // every host up and listening
        int count = perDevice * hosts * devices;
        double cpu = 0;
        double seconds = SendThrough(store, cluster, running, count, cpu);
        double rate = count / seconds;
        if (oneRate == 0)
            oneRate = rate;
        std::printf("  %d host%s x %d device%s: %3d messages in %5.1f s, %5.2f /s (%.2f times one device), "
                    "velmosvc's own time %.1f ms a message\n",
                    hosts, hosts == 1 ? " " : "s", devices, devices == 1 ? " " : "s", count, seconds, rate,
                    rate / oneRate, cpu * 1000 / count);
        for (Host& h : running)
            StopHost(h);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    int messages = bench::MessagesOption(argc, argv, 2000, 16);
    PgCluster cluster(true);
    if (!cluster.Started() || !cluster.CreateDatabase()) {
        std::fprintf(stderr, "store_bench: PostgreSQL's programs are missing or the cluster does not start\n");
        return 1;
    }
    Quiet quiet;
    velmo::pgstore::PgStore pg(quiet, {cluster.ConnInfo(), "bench", 120, 16, ""});
    std::string why;
    if (FAILED(pg.Open(why))) {
        std::fprintf(stderr, "store_bench: %s\n", why.c_str());
        return 1;
    }
    char tmpl[] = "/var/tmp/velmo-store-bench-XXXXXX";
    std::string root = mkdtemp(tmpl);
    for (const char* f : {"out/sent", "out/failed", "in", "bad"})
        std::filesystem::create_directories(root + "/" + f);
    velmo::queue::FolderStore folders(quiet, velmo::Utf8ToUtf16(root + "/"));

    std::printf("Accept, %d messages per run (each durable before it returns)\n", messages);
    AcceptRuns(folders, "folders", messages);
    AcceptRuns(pg, "PostgreSQL", messages);

    std::printf("A host's claim cycle in the shared queue (PostgreSQL)\n");
    ClaimRuns(pg, messages);

    std::printf("Hosts' reports, 20 hosts of 8 devices (PostgreSQL)\n");
    ReportRuns(quiet, cluster);

    std::printf("List, one page of 100 among 100,000 sent messages\n");
    auto t0 = Clock::now();
    cluster.Psql("INSERT INTO velmo_messages (id, folder, status, recipient, file, host) SELECT gen_random_uuid(), "
                 "'sent', 2, '+491711234567', (SELECT file FROM velmo_messages LIMIT 1), 'bench' FROM "
                 "generate_series(1, 100000)");
    double pgFill = Since(t0);
    t0 = Clock::now();
    std::vector<unsigned char> bytes = NewMessage()->Serialize();
    for (int i = 0; i < 100000; ++i) {
        RecordPtr r = NewMessage();
        r->Status = SENT;
        bytes = r->Serialize();
        std::ofstream(root + "/out/sent/" + velmo::GuidToUtf8(r->Id) + ".velmo", std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::printf("  (filled in %.1f s in PostgreSQL, %.1f s as files)\n", pgFill, Since(t0));
    ListRuns(folders, "folders", velmo::messagefile::Folder::Sent);
    ListRuns(pg, "PostgreSQL", velmo::messagefile::Folder::Sent);
    std::filesystem::remove_all(root);

    HostRuns(pg, cluster);
    return 0;
}

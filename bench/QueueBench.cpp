// Throughput of the queue: messages through QueueMessage and through pickup
// files to a loopback device that reports at once, the time to load 10,000
// stored messages, Find among 100,000 sent messages, and List by pages
// of 1,000, 10,000 and 100,000 sent messages. A timed
// program: it prints its figures. Runs under a temporary system root.
#include "platform/Activation.h"
#include "platform/Text.h"
#include "service/host/ServiceModule.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

using velmo::Bstr;
using velmo::messagefile::MessageRecord;
using Clock = std::chrono::steady_clock;

namespace {

constexpr CLSID kLoopback = velmo::MakeGuid("{A12F36AA-5B02-4D44-AF51-8B3E6B864F17}");

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long PeakKilobytes()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::size_t CountFiles(const std::string& folder)
{
    std::size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        n += e.is_regular_file() && e.path().extension() == ".velmo";
    return n;
}

struct Root {
    std::string path;
    Root()
    {
        char tmpl[] = "/var/tmp/velmo-bench-XXXXXX";
        path = mkdtemp(tmpl);
        setenv("VELMO_SYSROOT", path.c_str(), 1);
        for (const char* f : {"out/sent", "out/failed", "in", "bad", "pickup"})
            std::filesystem::create_directories(Folder(f));
        std::string error;
        HMODULE module = velmo::LoadModule(VELMO_LOOPBACK, &error);
        auto reg = module ? reinterpret_cast<PFN_DllRegisterServer>(velmo::ModuleSymbol(module, "DllRegisterServer"))
                          : nullptr;
        if (!reg || FAILED(reg())) {
            std::fprintf(stderr, "queue_bench: cannot register the loopback device: %s\n", error.c_str());
            std::exit(1);
        }
    }
    ~Root() { std::filesystem::remove_all(path); }
    std::string Folder(const std::string& f) const { return path + "/var/lib/velmo/" + f + "/"; }
};

std::u16string RootOf(const Root& root)
{
    return velmo::Utf8ToUtf16(root.Folder("").substr(0, root.Folder("").size() - 1));
}

void Setup(velmo::host::ServiceModule& module)
{
    module.mainThreadId = GetCurrentThreadId();
    module.dispatcher.Devices().Add(1, u"Loop", kLoopback, u"<device/>");
    module.dispatcher.Devices().SetDefaultDevice(1);
}

// A service core in its own system root, set up as every run wants it.
struct Bench {
    Root root;
    velmo::host::ServiceModule module{RootOf(root)};
    Bench() { Setup(module); }
};

void WaitForIdle(velmo::host::ServiceModule& module)
{
    while (module.dispatcher.InFlight() > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void Report(const char* what, int n, double seconds, double cpu)
{
    std::printf("%-34s %6d messages  %8.0f msg/s  %7.1f us CPU/msg  peak RSS %ld KiB\n", what, n, n / seconds,
                cpu / n * 1e6, PeakKilobytes());
}

void ThroughQueueMessage(int n)
{
    Bench bench;
    bench.module.dispatcher.Start();
    double cpu0 = CpuSeconds();
    auto start = Clock::now();
    Bstr to(u"+491711234567"), body(u"Disk usage on host db1 is above 90 percent");
    for (int i = 0; i < n; ++i)
        bench.module.dispatcher.QueueMessage(to, body, nullptr);
    WaitForIdle(bench.module);
    double seconds = Since(start), cpu = CpuSeconds() - cpu0;
    bench.module.dispatcher.Stop();
    if (CountFiles(bench.root.Folder("out/sent")) != static_cast<std::size_t>(n))
        std::fprintf(stderr, "queue_bench: not every message was sent\n");
    Report("QueueMessage to loopback", n, seconds, cpu);
}

void ThroughPickup(int n)
{
    Bench bench;
    for (int i = 0; i < n; ++i) {
        auto* r = new MessageRecord();
        r->Initialise();
        r->To = Bstr(u"+491711234567");
        r->Body = Bstr(u"Disk usage on host db1 is above 90 percent");
        auto bytes = r->Serialize();
        std::ofstream(bench.root.Folder("pickup") + "p" + std::to_string(i) + ".velmo", std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        r->Release();
    }
    bench.module.dispatcher.Start();
    double cpu0 = CpuSeconds();
    auto start = Clock::now();
    bench.module.dispatcher.ScanPickup();
    WaitForIdle(bench.module);
    double seconds = Since(start), cpu = CpuSeconds() - cpu0;
    bench.module.dispatcher.Stop();
    if (CountFiles(bench.root.Folder("out/sent")) != static_cast<std::size_t>(n))
        std::fprintf(stderr, "queue_bench: not every pickup file was sent\n");
    Report("pickup files to loopback", n, seconds, cpu);
}

void WriteRecords(const std::string& folder, int n, std::vector<GUID>* ids)
{
    for (int i = 0; i < n; ++i) {
        auto* r = new MessageRecord();
        r->Initialise();
        r->To = Bstr(u"+491711234567");
        r->Body = Bstr(u"stored");
        auto bytes = r->Serialize();
        std::ofstream(folder + velmo::Utf16ToUtf8(r->FileName()), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (ids)
            ids->push_back(r->Id);
        r->Release();
    }
}

void LoadStored(int n)
{
    Bench bench;
    WriteRecords(bench.root.Folder("out"), n, nullptr);
    double cpu0 = CpuSeconds();
    auto start = Clock::now();
    int loaded = bench.module.dispatcher.LoadStoredMessages();
    double seconds = Since(start), cpu = CpuSeconds() - cpu0;
    std::printf("%-34s %6d files     %8.3f s       %7.1f us CPU/file (%d loaded)\n", "LoadStoredMessages", n, seconds,
                cpu / n * 1e6, loaded);
}

void Find(int n, int lookups)
{
    Bench bench;
    std::vector<GUID> ids;
    WriteRecords(bench.root.Folder("out/sent"), n, &ids);
    auto start = Clock::now();
    int found = 0;
    for (int i = 0; i < lookups; ++i) {
        std::optional<velmo::queue::Found> f =
            bench.module.store.Find(ids[static_cast<std::size_t>(i * 7919) % ids.size()]);
        if (f && f->record)
            ++found;
    }
    double hit = Since(start) / lookups;
    start = Clock::now();
    for (int i = 0; i < lookups; ++i) {
        GUID missing{};
        CoCreateGuid(&missing);
        (void)bench.module.store.Find(missing);  // only the time counts
    }
    double miss = Since(start) / lookups;
    std::printf("%-34s %6d files     %8.1f us/found  %7.1f us/not found (%d found)\n", "Find in out/sent", n, hit * 1e6,
                miss * 1e6, found);
}

// List of out/sent: the first page (the index made from the folder), a
// second first page (from the index), and every page of 100 in turn; and
// the memory the index of n messages takes.
void List(int n)
{
    Bench bench;
    WriteRecords(bench.root.Folder("out/sent"), n, nullptr);
    long kb0 = PeakKilobytes();
    auto start = Clock::now();
    (void)bench.module.store.List(velmo::queue::Folder::Sent, 100, "");
    double first = Since(start);
    start = Clock::now();
    (void)bench.module.store.List(velmo::queue::Folder::Sent, 100, "");
    double again = Since(start);
    long kb = PeakKilobytes() - kb0;
    start = Clock::now();
    std::string cursor;
    int pages = 0;
    std::size_t listed = 0;
    do {
        std::optional<velmo::queue::Page> page = bench.module.store.List(velmo::queue::Folder::Sent, 100, cursor);
        listed += page->messages.size();
        cursor = page->next;
        ++pages;
    } while (!cursor.empty());
    double all = Since(start);
    std::printf("%-34s %6d files     %8.3f s first page (index made), %.4f s a page after, %.2f s all %d pages "
                "(%zu listed); index about %ld KiB\n",
                "List out/sent, 100 a page", n, first, again, all, pages, listed, kb);
}

}  // namespace

int main(int argc, char** argv)
{
    int messages = argc > 1 ? std::atoi(argv[1]) : 10000;
    int sentFiles = argc > 2 ? std::atoi(argv[2]) : 100000;
    ThroughQueueMessage(messages);
    ThroughPickup(messages);
    LoadStored(messages);
    Find(sentFiles, 2000);
    for (int n : {1000, 10000, sentFiles})
        List(n);
    velmo::ExitProcess(0);
}

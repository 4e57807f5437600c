// Several modems against one: messages per second through 1 and 4 loopback
// devices that each take 1 s per message, as a real modem does, with the
// rules' random choice and with choose="fewest_waiting". A timed program:
// it prints its figures. Runs under a temporary system root.
//
//   routing_bench [MESSAGES_PER_DEVICE]   (default 8)
#include "platform/Activation.h"
#include "platform/Text.h"
#include "service/host/ServiceModule.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

namespace {

constexpr CLSID kLoopback = velmo::MakeGuid("{A12F36AA-5B02-4D44-AF51-8B3E6B864F17}");

// Messages per second through devices, each 1 s a message.
double Rate(int devices, velmo::routing::Router::Choice choice, int messages)
{
    char tmpl[] = "/var/tmp/velmo-routing-XXXXXX";
    std::string root = mkdtemp(tmpl);
    std::string folder = root + "/var/lib/velmo/";
    for (const char* f : {"out/sent", "out/failed", "in", "bad", "pickup"})
        std::filesystem::create_directories(folder + f);
    // Never deleted: its threads may still unwind when the run ends.
    auto* module = new velmo::host::ServiceModule(velmo::Utf8ToUtf16(folder));
    module->mainThreadId = GetCurrentThreadId();
    for (LONG id = 1; id <= devices; ++id) {
        module->dispatcher.Devices().Add(id, u"Modem", kLoopback,
                                         u"<device><param name='delay' value='1000'/></device>");
        module->dispatcher.Devices().AddRule(u".", id, true);
    }
    module->dispatcher.Devices().SetDefaultDevice(1);
    module->dispatcher.Devices().SetChoice(choice);
    module->dispatcher.Start();
    auto start = Clock::now();
    velmo::Bstr to(u"+491711234567"), body(u"Disk usage on host db1 is above 90 percent");
    for (int i = 0; i < messages; ++i)
        module->dispatcher.QueueMessage(to, body, nullptr);
    while (module->dispatcher.InFlight() > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    module->dispatcher.Stop();
    module->dispatcher.Devices().Clear();
    std::filesystem::remove_all(root);
    return messages / seconds;
}

}  // namespace

int main(int argc, char** argv)
{
    int perDevice = argc > 1 ? std::atoi(argv[1]) : 8;
    char tmpl[] = "/var/tmp/velmo-routing-reg-XXXXXX";
    std::string sysroot = mkdtemp(tmpl);
    setenv("VELMO_SYSROOT", sysroot.c_str(), 1);
    std::string error;
    HMODULE module = velmo::LoadModule(VELMO_LOOPBACK, &error);
    auto reg =
        module ? reinterpret_cast<PFN_DllRegisterServer>(velmo::ModuleSymbol(module, "DllRegisterServer")) : nullptr;
    if (!reg || FAILED(reg())) {
        std::fprintf(stderr, "routing_bench: cannot register the loopback device: %s\n", error.c_str());
        return 1;
    }
    using Choice = velmo::routing::Router::Choice;
    double one = Rate(1, Choice::Random, perDevice);
    double random = Rate(4, Choice::Random, 4 * perDevice);
    double fewest = Rate(4, Choice::FewestWaiting, 4 * perDevice);
    std::printf("1 device at 1 s a message: %.2f messages/s\n", one);
    std::printf("4 devices, random choice: %.2f messages/s, %.2f times one device\n", random, random / one);
    std::printf("4 devices, fewest waiting: %.2f messages/s, %.2f times one device\n", fewest, fewest / one);
    std::filesystem::remove_all(sysroot);
    velmo::ExitProcess(0);
}

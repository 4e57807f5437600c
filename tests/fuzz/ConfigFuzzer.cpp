// libFuzzer entry for the configuration loader: any text is a config.xml an
// administrator may write. Loading must never crash, and a configuration it
// accepts must leave the service something it can run: at least one device,
// a default device that is in the table, and rules that name only devices
// that are there. The check (/CHECK) of the same text must reach the same
// verdict, or find that a device would fail.
#include "service/host/ServiceModule.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdlib.h>
#include <string>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

const std::string& Root()
{
    static const std::string root = [] {
        char tmpl[] = "/tmp/velmo-config-fuzz-XXXXXX";
        std::string dir = mkdtemp(tmpl);
        setenv("VELMO_SYSROOT", dir.c_str(), 1);
        std::string folder = dir + "/var/lib/velmo";
        std::filesystem::create_directories(folder);
        static const std::string made = dir;
        std::atexit([] { std::filesystem::remove_all(made); });
        return folder + "/";
    }();
    return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::ofstream(Root() + "config.xml", std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    auto* module = new velmo::host::ServiceModule();
    bool loaded = velmo::host::LoadConfiguration(*module);
    if (loaded) {
        velmo::devices::DeviceTable& devices = module->dispatcher.Devices();
        Check(devices.Count() > 0);
        Check(devices.Has(devices.DefaultDevice()));
        devices.ForEachRule([&](const auto& rule) { Check(devices.Has(rule.DeviceId())); });
    }
    delete module;
    // The check reads the same file to the same verdict; it may also find
    // that a device of a configuration the service would load would fail
    // (its class is not even registered here).
    static std::FILE* sink = std::tmpfile();
    std::rewind(sink);
    auto* checked = new velmo::host::ServiceModule();
    int code = velmo::host::CheckConfiguration(*checked, sink);
    delete checked;
    std::fflush(sink);
    std::string said(static_cast<std::size_t>(std::ftell(sink)), '\0');
    std::rewind(sink);
    said.resize(std::fread(said.data(), 1, said.size(), sink));
    // The verdict is the last line; the lines before it may quote the file.
    while (!said.empty() && said.back() == '\n')
        said.pop_back();
    std::string verdict = said.substr(said.rfind('\n') == std::string::npos ? 0 : said.rfind('\n') + 1);
    bool deviceWouldFail = verdict == "The service would start, but a device would fail: see above.";
    bool wouldNotStart = verdict == "The service would not start.";
    Check(loaded ? code == 0 || (code == 1 && deviceWouldFail) : code == 1 && wouldNotStart);
    return 0;
}

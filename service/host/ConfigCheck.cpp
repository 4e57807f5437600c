// velmosvc /CHECK: config.xml read as the service reads it at start-up,
// with everything found printed for the administrator instead of logged.
#include "service/host/ConfigReport.h"
#include "service/host/ServiceModule.h"

#include "platform/File.h"
#include "platform/Guid.h"
#include "platform/Registry.h"
#include "platform/Text.h"

namespace velmo::host {

namespace {

// Where the class of a device or handler lives, or why it cannot be created.
std::string ClassState(const std::string& written, bool& usable)
{
    usable = false;
    CLSID clsid{};
    if (FAILED(CLSIDFromString(Utf8ToUtf16(written).c_str(), &clsid)))
        return "not a class id";
    auto file = ReadRegistryString(Hive::ClassesRoot, u"CLSID\\" + GuidToString(clsid) + u"\\InprocServer32", u"");
    if (!file || file->empty())
        return "the class is not registered (regsvr its module)";
    std::string path = Utf16ToUtf8(*file);
    if (!PathExists(path))
        return "the class is registered to " + path + ", which is not there";
    usable = true;
    return path;
}

void Lines(std::FILE* out, const char* label, const std::vector<std::string>& lines)
{
    for (const std::string& line : lines)
        std::fprintf(out, "%s: %s\n", label, line.c_str());
}

}  // namespace

int CheckConfiguration(ServiceModule& module, std::FILE* out)
{
    ConfigReport report;
    bool ok = ReadConfiguration(module, report);
    std::fprintf(out, "%s\n", report.path.c_str());
    Lines(out, "problem", report.problems);
    Lines(out, "skipped", report.skipped);
    Lines(out, "warning", report.warnings);
    if (!report.rejected) {
        std::fprintf(out, "queue max %d, retries max %d\n", static_cast<int>(report.queueMax),
                     static_cast<int>(report.retryMax));
        for (const ConfigReport::Device& d : report.devices) {
            if (!d.enabled) {
                std::fprintf(out, "device %d \"%s\": disabled (status 0)\n", static_cast<int>(d.id), d.name.c_str());
                continue;
            }
            bool usable = false;
            std::string state = ClassState(d.clsid, usable);
            std::fprintf(out, "device %d \"%s\" %s: %s%s\n", static_cast<int>(d.id), d.name.c_str(), d.clsid.c_str(),
                         usable ? "starts from " : "",
                         usable ? state.c_str() : (state + ": it would fail to start").c_str());
        }
        for (const ConfigReport::Rule& r : report.rules)
            std::fprintf(out, "rule [%s] -> device %d%s\n", r.pattern.c_str(), static_cast<int>(r.device),
                         r.continueSearch ? "" : ", last");
        std::fprintf(out, "default device %d\n", static_cast<int>(module.dispatcher.Devices().DefaultDevice()));
        for (const std::string& h : report.handlers) {
            bool usable = false;
            std::string state = ClassState(h, usable);
            std::fprintf(out, "event handler %s: %s\n", h.c_str(), state.c_str());
        }
    }
    std::fprintf(out, ok ? "The service would start.\n" : "The service would not start.\n");
    return ok ? 0 : 1;
}

}  // namespace velmo::host

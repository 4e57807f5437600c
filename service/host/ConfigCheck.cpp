// velmosvc /CHECK: config.xml read as the service reads it at start-up,
// with everything found printed for the administrator instead of logged.
#include "service/host/ConfigReport.h"
#include "messagefile/Duration.h"
#include "service/host/ServiceModule.h"

#include "interfaces/VelmoDevice.h"
#include "platform/Activation.h"
#include "service/events/EventSink.h"

#include "platform/File.h"
#include "platform/Guid.h"
#include "platform/Registry.h"
#include "platform/Text.h"

#include <optional>

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

// The device's own check of its entry, by IVelmoDeviceCheck where the
// class has it, else by a Load that opens nothing: one finding per line,
// "problem: ..." or "warning: ...". False when the device would not load.
bool CheckDevice(const CLSID& clsid, const std::u16string& params, std::vector<std::string>& findings)
{
    ComPtr<IVelmoDevice> device;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IVelmoDevice, device.ReceiveVoid());
    if (FAILED(hr)) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
        findings.push_back(std::string("problem: the class cannot be created (") + code + ")");
        return false;
    }
    Bstr xml(params);
    ComPtr<IVelmoDeviceCheck> check;
    if (SUCCEEDED(device->QueryInterface(IID_IVelmoDeviceCheck, check.ReceiveVoid()))) {
        Bstr report;
        hr = check->CheckParams(xml.get(), report.Receive());
        std::string text = report.IsNull() ? "" : Utf16ToUtf8(report.str());
        for (std::size_t start = 0; start < text.size();) {
            std::size_t end = text.find('\n', start);
            std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
            start = end == std::string::npos ? text.size() : end + 1;
            if (!line.empty())
                findings.push_back(line);
        }
        return hr == S_OK;
    }
    ComPtr<IPersistXMLParam> persist;
    hr = device->QueryInterface(IID_IPersistXMLParam, persist.ReceiveVoid());
    if (FAILED(hr)) {
        findings.push_back("problem: the class has no IPersistXMLParam, so the service cannot load it");
        return false;
    }
    hr = persist->Load(xml.get());
    if (FAILED(hr))
        findings.push_back("problem: " + events::CallFailureText(hr, persist.get(), "Load"));
    return SUCCEEDED(hr);
}

// CheckDevice for the device of that id as the configuration added it.
bool CheckDevice(LONG id, std::vector<std::string>& findings, ServiceModule& module)
{
    std::optional<std::pair<CLSID, std::u16string>> entry;
    module.dispatcher.Devices().ForEach([&](devices::DeviceHost& host) {
        if (host.Id() == id)
            entry.emplace(host.Clsid(), host.Params());
    });
    if (!entry) {
        findings.push_back("problem: the device was not added to the service");
        return false;
    }
    return CheckDevice(entry->first, entry->second, findings);
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
    bool devicesFail = false, storeFails = false;
    std::fprintf(out, "%s\n", report.path.c_str());
    Lines(out, "problem", report.problems);
    Lines(out, "skipped", report.skipped);
    Lines(out, "warning", report.warnings);
    if (!report.rejected) {
        std::fprintf(out, "queue max %d, retries max %d%s\n", static_cast<int>(report.queueMax),
                     static_cast<int>(report.retryMax),
                     report.queueExpire ? (", expire after " + messagefile::FormatDuration(report.queueExpire)).c_str()
                                        : "");
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
            std::vector<std::string> findings;
            bool loads = usable && CheckDevice(d.id, findings, module);
            for (const std::string& f : findings)
                std::fprintf(out, "device %d \"%s\": %s\n", static_cast<int>(d.id), d.name.c_str(), f.c_str());
            devicesFail = devicesFail || !loads;
        }
        for (const ConfigReport::Rule& r : report.rules)
            std::fprintf(out, "rule [%s] -> device %d%s\n", r.pattern.c_str(), static_cast<int>(r.device),
                         r.continueSearch ? "" : ", last");
        if (report.leaveUnmatched)
            std::fprintf(out, "a recipient no rule matches is left to the other hosts\n");
        else
            std::fprintf(out, "default device %d\n", static_cast<int>(module.dispatcher.Devices().DefaultDevice()));
        storeFails = !CheckStore(report.store, out);
        for (const std::string& h : report.handlers) {
            bool usable = false;
            std::string state = ClassState(h, usable);
            std::fprintf(out, "event handler %s: %s\n", h.c_str(), state.c_str());
        }
    }
    if (ok && devicesFail)
        std::fprintf(out, "The service would start, but a device would fail: see above.\n");
    else if (ok && storeFails)
        std::fprintf(out, "The service would start, but the queue store cannot be used now: see above.\n");
    else
        std::fprintf(out, ok ? "The service would start.\n" : "The service would not start.\n");
    return ok && !devicesFail && !storeFails ? 0 : 1;
}

}  // namespace velmo::host

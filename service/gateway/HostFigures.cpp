#include "service/gateway/HostFigures.h"

#include "interfaces/VelmoDeviceState.h"
#include "platform/Bstr.h"
#include "platform/Text.h"

#include <algorithm>
#include <ctime>

namespace velmo::gateway {

namespace {

std::string RegistrationName(LONG registration)
{
    switch (registration) {
    case REGISTRATION_UNKNOWN: return "";
    case REGISTRATION_NONE: return "none";
    case REGISTRATION_HOME: return "home";
    case REGISTRATION_SEARCHING: return "searching";
    case REGISTRATION_DENIED: return "denied";
    case REGISTRATION_ROAMING: return "roaming";
    default: return "unknown";
    }
}

const char* StateName(devices::DeviceHost::RunState state)
{
    switch (state) {
    case devices::DeviceHost::RunState::Starting: return "starting";
    case devices::DeviceHost::RunState::Running: return "running";
    case devices::DeviceHost::RunState::Restarting: return "restarting";
    case devices::DeviceHost::RunState::Waiting: return "waiting";
    }
    return "unknown";
}

// The radio of a device from IVelmoDeviceState; unknown for a device that
// tells nothing of it.
void ReadRadio(devices::DeviceHost& device, DeviceFigures& figures)
{
    LONG signal = SIGNAL_UNKNOWN, registration = REGISTRATION_UNKNOWN;
    Bstr op;
    if (FAILED(device.GetModemState(&signal, &registration, op.Receive())))
        return;
    figures.signal = static_cast<std::int32_t>(signal == SIGNAL_UNKNOWN ? -1 : signal);
    figures.registration = RegistrationName(registration);
    figures.op = Utf16ToUtf8(op.str());
}

// The "name=value" lines of IVelmoDeviceInfo as entries; lines with another
// shape, and names outside [a-z0-9], are left out.
void AddInfoLines(const std::string& lines, BusData::Entries& fields)
{
    std::size_t start = 0;
    while (start < lines.size()) {
        std::size_t end = lines.find('\n', start);
        std::string line = lines.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? lines.size() : end + 1;
        std::size_t eq = line.find('=');
        if (eq == 0 || eq == std::string::npos)
            continue;
        std::string name = line.substr(0, eq);
        bool plain = std::all_of(name.begin(), name.end(),
                                 [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
        bool taken = std::any_of(fields.begin(), fields.end(), [&](const auto& f) { return f.first == name; });
        if (plain && !taken)
            fields.emplace_back(name, line.substr(eq + 1));
    }
}

// "2026-12-09T01:20:15Z" for a wall-clock time in ms since 1970; "" for 0.
std::string IsoOfMs(std::int64_t ms)
{
    if (ms <= 0)
        return "";
    std::time_t t = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    char text[32];
    if (!gmtime_r(&t, &utc) || !std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc))
        return "";
    return text;
}

}  // namespace

std::vector<DeviceFigures> DeviceFiguresOf(devices::DeviceTable& table)
{
    std::vector<DeviceFigures> all;
    table.ForEach([&](devices::DeviceHost& device) {
        devices::DeviceHost::Health health = device.GetHealth();
        DeviceFigures d;
        d.id = static_cast<std::int32_t>(device.Id());
        d.name = Utf16ToUtf8(device.Name());
        d.state = StateName(health.state);
        ReadRadio(device, d);
        d.lastError = health.lastError;
        d.nextTry = IsoOfMs(health.nextTry);
        d.failedStarts = static_cast<std::int32_t>(health.failedStarts);
        d.info = device.ModemInfo();
        all.push_back(std::move(d));
    });
    for (const std::u16string& name : table.Removed()) {
        DeviceFigures d;
        d.name = Utf16ToUtf8(name);
        d.state = "removed";
        all.push_back(std::move(d));
    }
    return all;
}

BusData::Entries DetailEntries(const DeviceFigures& d, const std::string& host)
{
    BusData::Entries fields{{"id", d.id}, {"name", d.name}, {"state", d.state}};
    if (d.id) {
        BusData::Entries more{{"signal", d.signal},   {"registration", d.registration},
                              {"operator", d.op},     {"lastError", d.lastError},
                              {"nextTry", d.nextTry}, {"failedStarts", d.failedStarts}};
        fields.insert(fields.end(), more.begin(), more.end());
    }
    if (!host.empty())
        fields.emplace_back("host", host);
    AddInfoLines(d.info, fields);
    std::sort(fields.begin(), fields.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return fields;
}

}  // namespace velmo::gateway

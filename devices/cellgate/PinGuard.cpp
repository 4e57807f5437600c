#include "devices/cellgate/PinGuard.h"

#include "devices/cellgate/DeviceFiles.h"

#include "platform/File.h"
#include "platform/Text.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>

namespace velmo::cellgate {

namespace {

std::mutex g_lock;
std::map<std::string, std::string>& Remembered()
{
    static auto* remembered =
        new std::map<std::string, std::string>();  // used by device threads until the process ends
    return *remembered;
}

// FNV-1a over a fixed prefix and the PIN, as 16 hex digits.
std::string Fingerprint(const std::string& pin)
{
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (char c : "velmo-sim-pin:" + pin) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

}  // namespace

PinGuard::PinGuard(std::string device) : device_(std::move(device)) {}

std::string PinGuard::FilePath() const { return DeviceFile(device_, ".pin-refused"); }

bool PinGuard::Refused(const std::string& pin) const
{
    std::string fingerprint = Fingerprint(pin);
    {
        std::lock_guard lock(g_lock);
        auto it = Remembered().find(device_);
        if (it != Remembered().end())
            return it->second == fingerprint;
    }
    std::ifstream in(FilePath());
    std::string stored;
    return in && std::getline(in, stored) && stored == fingerprint;
}

bool PinGuard::Remember(const std::string& pin)
{
    std::string fingerprint = Fingerprint(pin);
    {
        std::lock_guard lock(g_lock);
        Remembered()[device_] = fingerprint;
    }
    std::string text = fingerprint + "\n";
    return MakeDeviceFolder() && WriteFileDurably(FilePath(), text.data(), text.size());
}

void PinGuard::Forget()
{
    {
        std::lock_guard lock(g_lock);
        Remembered()[device_] = std::string();
    }
    if (PathExists(FilePath()))
        (void)DeleteFileW(Utf8ToUtf16(FilePath()).c_str());  // a file left behind names a PIN that no longer matches
}

}  // namespace velmo::cellgate

#include "devices/cellgate/PartStore.h"

#include "devices/cellgate/DeviceFiles.h"
#include "smscodec/PartJoin.h"
#include "platform/File.h"
#include "platform/FolderListing.h"
#include "platform/SysRoot.h"
#include "platform/Text.h"
#include "platform/Timing.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

namespace velmo::cellgate {

namespace {

constexpr char kMagic[] = "velmo part 1";

std::string Hex(const std::string& bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 0xF];
    }
    return out;
}

std::string Unhex(const std::string& hex)
{
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

// The key of a message: its sender, reference and count, as a file-name part.
std::string Key(const std::u16string& sender, const sms::Concatenation& c)
{
    std::uint64_t hash = 0xcbf29ce484222325ull;
    std::string text = Utf16ToUtf8(sender) + "|" + std::to_string(c.reference) + "|" + (c.sixteenBit ? "16" : "8") +
                       "|" + std::to_string(c.total);
    for (unsigned char ch : text) {
        hash ^= ch;
        hash *= 0x100000001b3ull;
    }
    char out[17];
    std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(hash));
    return out;
}

struct Part {
    std::string file;
    std::u16string sender;
    unsigned total = 0, sequence = 0;
    std::int64_t arrived = 0;
    std::u16string text;
};

std::optional<Part> ReadPart(const std::string& path)
{
    std::ifstream in(path);
    std::string magic, field, value;
    if (!std::getline(in, magic) || magic != kMagic)
        return std::nullopt;
    Part p;
    p.file = path;
    try {
        while (in >> field >> value) {
            if (field == "sender")
                p.sender = Utf8ToUtf16(Unhex(value));
            else if (field == "total")
                p.total = static_cast<unsigned>(std::stoul(value));
            else if (field == "sequence")
                p.sequence = static_cast<unsigned>(std::stoul(value));
            else if (field == "arrived")
                p.arrived = std::stoll(value);
            else if (field == "text")
                p.text = Utf8ToUtf16(Unhex(value));
        }
    } catch (const std::exception&) {
        return std::nullopt;  // a damaged file is passed over, never deleted
    }
    if (p.total == 0 || p.sequence == 0 || p.sequence > p.total)
        return std::nullopt;
    return p;
}

// The parts in the folder, by message key.
std::map<std::string, std::vector<Part>> Scan(const std::string& folder)
{
    std::map<std::string, std::vector<Part>> messages;
    for (const std::string& name : ListFileNames(folder)) {
        std::size_t dash = name.find('-');
        if (name.empty() || name[0] == '.' || dash == std::string::npos)
            continue;
        if (auto part = ReadPart(folder + name))
            messages[name.substr(0, dash)].push_back(std::move(*part));
    }
    return messages;
}

// The message made of the parts that came: whole, or with gaps and a note.
// Parts that disagree with the first on the count (a file edited by hand)
// are passed over.
PartStore::Message Assemble(const std::vector<Part>& parts)
{
    unsigned total = parts.front().total;
    std::vector<sms::ReceivedPart> same;
    for (const Part& p : parts)
        if (p.total == total)
            same.push_back({p.sequence, p.text, p.file});
    sms::JoinedParts joined = sms::JoinParts(std::move(same), total);
    return {parts.front().sender, std::move(joined.text), sms::MissingPartsNote(total, joined.missing),
            std::move(joined.files)};
}

bool Whole(const std::vector<Part>& parts)
{
    std::vector<sms::ReceivedPart> same;
    for (const Part& p : parts)
        if (p.total == parts.front().total)
            same.push_back({p.sequence, {}, {}});
    return sms::HasAllParts(same, parts.front().total);
}

}  // namespace

std::string PartStore::Folder() const { return DeviceFile(device_, ".parts/"); }

bool PartStore::Add(const std::u16string& sender, const sms::Concatenation& part, const std::u16string& text,
                    std::optional<Message>& whole)
{
    whole.reset();
    std::string folder = Folder();
    std::string key = Key(sender, part);
    std::string path = folder + key + "-" + std::to_string(part.sequence);
    if (!PathExists(path)) {
        std::ostringstream out;
        out << kMagic << "\nsender " << Hex(Utf16ToUtf8(sender)) << "\ntotal " << part.total << "\nsequence "
            << part.sequence << "\narrived " << WallClockMs() << "\ntext " << Hex(Utf16ToUtf8(text)) << "\n";
        std::string bytes = out.str();
        if (!MakeDirectories(folder) || !WriteFileDurably(path, bytes.data(), bytes.size()))
            return false;
    }
    std::vector<Part> parts = Scan(folder)[key];
    if (!parts.empty() && Whole(parts))
        whole = Assemble(parts);
    return true;
}

std::vector<PartStore::Message> PartStore::Ready()
{
    std::vector<Message> ready;
    std::int64_t now = WallClockMs();
    for (auto& [key, parts] : Scan(Folder())) {
        std::int64_t first = parts.front().arrived;
        for (const Part& p : parts)
            first = std::min(first, p.arrived);
        if (Whole(parts) || now - first > static_cast<std::int64_t>(DesignWait(kWaitLimit)))
            ready.push_back(Assemble(parts));
    }
    return ready;
}

void PartStore::Forget(const Message& message)
{
    for (const std::string& file : message.files)
        (void)DeleteFileDurably(file);  // a file left behind gives the message again: twice rather than never
}

}  // namespace velmo::cellgate

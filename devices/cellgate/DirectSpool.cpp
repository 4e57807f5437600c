#include "devices/cellgate/DirectSpool.h"

#include "devices/cellgate/DeviceFiles.h"
#include "platform/File.h"
#include "platform/FolderListing.h"
#include "platform/SysRoot.h"
#include "platform/Timing.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace velmo::cellgate {

namespace {

constexpr std::size_t kMostBytes = 4096;  // the longest line the framing keeps

}  // namespace

std::string DirectSpool::Folder() const { return DeviceFile(device_, ".spool/"); }

bool DirectSpool::Keep(const std::string& pdu)
{
    // The time first, zero-padded, so the names sort in arrival order.
    char name[48];
    std::snprintf(name, sizeof name, "%020lld-%06u", static_cast<long long>(WallClockMs()), next_++ % 1000000);
    std::string folder = Folder();
    return MakeDirectories(folder) && WriteFileDurably(folder + name, pdu.data(), pdu.size());
}

std::vector<DirectSpool::Entry> DirectSpool::Waiting() const
{
    std::vector<Entry> waiting;
    std::string folder = Folder();
    std::vector<std::string> names = ListFileNames(folder, "*-*");
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        if (name.front() == '.')
            continue;  // a write a crash cut short
        std::ifstream in(folder + name, std::ios::binary);
        std::string pdu(kMostBytes + 1, '\0');
        in.read(pdu.data(), static_cast<std::streamsize>(pdu.size()));
        pdu.resize(static_cast<std::size_t>(in.gcount()));
        if (pdu.empty() || pdu.size() > kMostBytes)
            continue;  // no PDU this device wrote
        waiting.push_back({folder + name, std::move(pdu)});
    }
    return waiting;
}

void DirectSpool::Forget(const Entry& entry)
{
    (void)DeleteFileDurably(entry.file);  // a file left behind gives the message again: twice rather than never
}

}  // namespace velmo::cellgate

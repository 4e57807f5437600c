#include "devices/cellgate/SentParts.h"

#include "devices/cellgate/DeviceFiles.h"
#include "platform/File.h"
#include "platform/FolderListing.h"
#include "platform/SysRoot.h"
#include "platform/Text.h"

#include <fstream>
#include <sstream>

namespace velmo::cellgate {

std::string SentParts::Folder() const { return DeviceFile(device_, ".sending/"); }

std::optional<SentParts::Progress> SentParts::Load(const GUID& id) const
{
    std::ifstream in(Folder() + GuidToUtf8(id));
    std::string word1, word2, word3;
    Progress p;
    if (!(in >> word1 >> p.reference >> word2 >> p.parts >> word3 >> p.accepted) || word1 != "reference" ||
        word2 != "parts" || word3 != "accepted" || p.reference > 255 || p.parts < 2 || p.parts > 255 ||
        p.accepted >= p.parts)
        return std::nullopt;
    return p;
}

bool SentParts::Save(const GUID& id, const Progress& p)
{
    std::ostringstream out;
    out << "reference " << p.reference << "\nparts " << p.parts << "\naccepted " << p.accepted << "\n";
    std::string text = out.str();
    std::string folder = Folder();
    return MakeDirectories(folder) && WriteFileDurably(folder + GuidToUtf8(id), text.data(), text.size());
}

void SentParts::Forget(const GUID& id) { (void)DeleteFileW(Utf8ToUtf16(Folder() + GuidToUtf8(id)).c_str()); }

void SentParts::Sweep()
{
    std::string folder = Folder();
    const std::uint64_t now = WrittenNow();
    const std::uint64_t keep = static_cast<std::uint64_t>(kKeepMs) * 10000ULL;
    for (const FolderEntry& e : ListFolder(folder, "{*}"))
        if (!e.folder && e.written && now > e.written && now - e.written > keep)
            (void)DeleteFileW(Utf8ToUtf16(folder + e.name).c_str());
}

}  // namespace velmo::cellgate

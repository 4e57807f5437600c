// The folders' reading side: one message found by its id wherever it
// stands, a folder listed a page at a time (through the listing index; see
// ListingIndex.h for what it catches up with), the queue counted. Nothing
// here changes a file.
#include "service/queue/FolderStore.h"

#include "interfaces/StatusWords.h"
#include "messagefile/MessageId.h"
#include "messagefile/StatusWords.h"
#include "messagefile/TextLines.h"
#include "platform/FolderListing.h"
#include "platform/SystemTime.h"
#include "platform/Text.h"
#include "service/queue/MessageFiles.h"

#include <algorithm>
#include <charconv>

namespace velmo::queue {

using messagefile::MessageRecord;
using messagefile::RecordPtr;

namespace {

constexpr std::string_view kSuffix = ".velmo";

std::string CursorOf(const ListingEntry& e) { return std::to_string(e.written) + "/" + e.name; }

std::optional<ListingEntry> ParseCursor(std::string_view cursor)
{
    auto slash = cursor.find('/');
    if (slash == std::string_view::npos || slash == 0 || slash + 1 == cursor.size() || cursor[0] < '0' ||
        cursor[0] > '9')
        return std::nullopt;
    ListingEntry e{0, std::string(cursor.substr(slash + 1))};
    auto [end, ec] = std::from_chars(cursor.data(), cursor.data() + slash, e.written);
    if (ec != std::errc() || end != cursor.data() + slash)
        return std::nullopt;
    return e;
}

// The listing line of one file of dir; nullopt when it is gone. A file of
// bad/ is always BAD; another that cannot be read is BAD while it stands.
std::optional<ListedMessage> Describe(const std::u16string& dir, const std::string& name, bool bad)
{
    RecordPtr record = MessageRecord::New();
    HRESULT hr = record->LoadFromFile(dir + Utf8ToUtf16(name));
    if (SUCCEEDED(hr) && !bad)
        return ListingLineOf(*record);
    if (!bad && !Exists(dir + Utf8ToUtf16(name)))
        return std::nullopt;
    return BadLineOf(name.substr(0, name.size() - kSuffix.size()), SUCCEEDED(hr) ? record.get() : nullptr);
}

}  // namespace

std::vector<ListingEntry> FolderStore::ReadEntries(Folder folder) const
{
    std::vector<ListingEntry> entries;
    for (FolderEntry& f : ListFolder(root_ + messagefile::NameOf(folder).relative, "*.velmo"))
        if (!f.folder && f.name.size() > kSuffix.size())
            entries.push_back({f.written, std::move(f.name)});
    return entries;
}

std::optional<Found> FolderStore::Find(const GUID& id)
{
    std::u16string name = messagefile::MessageFileName(id);
    for (const messagefile::FolderName& folder : messagefile::kFolders) {
        std::u16string path = root_ + folder.relative + name;
        if (!Exists(path))
            continue;
        Found found;
        found.folder = folder.folder;
        found.location = Utf16ToUtf8(path);
        RecordPtr record = MessageRecord::New();
        found.readError = record->LoadFromFile(path);
        if (SUCCEEDED(found.readError))
            found.record = std::move(record);
        else if (!Exists(path))
            continue;  // moved on while being read: look where it went
        return found;
    }
    return std::nullopt;
}

std::optional<Page> FolderStore::List(Folder folder, std::size_t limit, std::string_view cursor)
{
    std::optional<ListingEntry> after;
    if (!cursor.empty()) {
        after = ParseCursor(cursor);
        if (!after)
            return std::nullopt;
    }
    if (limit == 0)
        limit = kDefaultPage;
    limit = std::min(limit, kMostPerPage);
    std::u16string dir = root_ + messagefile::NameOf(folder).relative;
    Page page;
    std::optional<ListingEntry> last;
    if (folder == Folder::Bad) {
        // Small, and filled by more than this store: read afresh.
        std::vector<ListingEntry> entries = ReadEntries(folder);
        if (after)
            std::erase_if(entries, [&](const ListingEntry& e) { return !ListedBefore(*after, e); });
        std::size_t take = std::min(limit, entries.size());
        std::partial_sort(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(take), entries.end(),
                          ListedBefore);
        for (std::size_t i = 0; i < take; ++i)
            page.messages.push_back(*Describe(dir, entries[i].name, true));
        if (take < entries.size() && take > 0)
            page.next = CursorOf(entries[take - 1]);
        return page;
    }
    last = after;
    while (page.messages.size() < limit) {
        std::size_t want = limit - page.messages.size();
        std::vector<ListingEntry> batch = index_.After(folder, last, want);
        for (const ListingEntry& e : batch) {
            last = e;
            if (std::optional<ListedMessage> m = Describe(dir, e.name, false))
                page.messages.push_back(std::move(*m));
            else
                index_.Remove(folder, e.name);  // gone since it was written
        }
        if (batch.size() < want)
            return page;  // the folder ends on this page
    }
    if (!index_.After(folder, last, 1).empty())
        page.next = CursorOf(*last);
    return page;
}

std::uint64_t FolderStore::CountQueued()
{
    return ListFileNames(Utf16ToUtf8(root_ + messagefile::kOutFolder), "*.velmo").size();
}

}  // namespace velmo::queue

// The folders' reading side: one message found by its id wherever it
// stands, a folder listed a page at a time, the queue counted. Nothing here
// changes a file; a folder is read when asked, so what is listed is what
// stands on disk at that moment.
#include "service/queue/FolderStore.h"

#include "interfaces/StatusWords.h"
#include "messagefile/MessageId.h"
#include "messagefile/StatusWords.h"
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

// A file of the folder and the moment it was last written (100 ns steps).
struct Entry {
    std::uint64_t written;
    std::string name;
};

// Newest first; among files written at the same moment, by name downwards.
bool Before(const Entry& a, const Entry& b) { return a.written != b.written ? a.written > b.written : a.name > b.name; }

std::string CursorOf(const Entry& e) { return std::to_string(e.written) + "/" + e.name; }

std::optional<Entry> ParseCursor(std::string_view cursor)
{
    auto slash = cursor.find('/');
    if (slash == std::string_view::npos || slash == 0 || slash + 1 == cursor.size() || cursor[0] < '0' ||
        cursor[0] > '9')
        return std::nullopt;
    Entry e{0, std::string(cursor.substr(slash + 1))};
    auto [end, ec] = std::from_chars(cursor.data(), cursor.data() + slash, e.written);
    if (ec != std::errc() || end != cursor.data() + slash)
        return std::nullopt;
    return e;
}

std::vector<Entry> ReadFolder(const std::u16string& folder)
{
    std::vector<Entry> entries;
    for (FolderEntry& f : ListFolder(folder, "*.velmo"))
        if (!f.folder && f.name.size() > kSuffix.size())
            entries.push_back({f.written, std::move(f.name)});
    return entries;
}

std::string Text(const Bstr& s) { return Utf16ToUtf8(s.str()); }

}  // namespace

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
    std::optional<Entry> after;
    if (!cursor.empty()) {
        after = ParseCursor(cursor);
        if (!after)
            return std::nullopt;
    }
    if (limit == 0)
        limit = kDefaultPage;
    limit = std::min(limit, kMostPerPage);

    std::u16string dir = root_ + messagefile::NameOf(folder).relative;
    std::vector<Entry> entries = ReadFolder(dir);
    if (after)
        std::erase_if(entries, [&](const Entry& e) { return !Before(*after, e); });
    // Only the page's files are put in order and read.
    std::size_t take = std::min(limit, entries.size());
    std::partial_sort(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(take), entries.end(), Before);

    Page page;
    bool bad = folder == Folder::Bad;
    for (std::size_t i = 0; i < take; ++i) {
        const Entry& e = entries[i];
        RecordPtr record = MessageRecord::New();
        HRESULT hr = record->LoadFromFile(dir + Utf8ToUtf16(e.name));
        if (SUCCEEDED(hr) && !bad) {
            page.messages.push_back({GuidToUtf8(record->Id), messagefile::StatusName(record->Status), Text(record->To),
                                     Text(record->From), IsoDate(messagefile::MessageDate(*record.get()))});
        } else if (bad || Exists(dir + Utf8ToUtf16(e.name))) {
            // Standing there and not readable as a message: shown, not hidden.
            ListedMessage m{e.name.substr(0, e.name.size() - kSuffix.size()), status::kBad, {}, {}, {}};
            if (SUCCEEDED(hr)) {
                m.to = Text(record->To);
                m.from = Text(record->From);
                m.date = IsoDate(messagefile::MessageDate(*record.get()));
            }
            page.messages.push_back(std::move(m));
        }
    }
    if (take < entries.size() && take > 0)
        page.next = CursorOf(entries[take - 1]);
    return page;
}

std::uint64_t FolderStore::CountQueued()
{
    return ListFileNames(Utf16ToUtf8(root_ + messagefile::kOutFolder), "*.velmo").size();
}

}  // namespace velmo::queue

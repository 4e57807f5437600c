#include "service/gateway/MessageListing.h"

#include "messagefile/QueueFolders.h"
#include "messagefile/StatusWords.h"
#include "platform/Text.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <system_error>

namespace velmo::gateway {

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
    for (store::FolderFile& f : store::ListFilesWithTimes(folder, u"*.velmo"))
        if (f.name.size() > kSuffix.size())
            entries.push_back({f.written, Utf16ToUtf8(f.name)});
    return entries;
}

std::string Text(const Bstr& s) { return Utf16ToUtf8(s.str()); }

}  // namespace

const Folder* FindFolder(std::string_view name)
{
    for (const Folder& f : kFolders)
        if (name == f.name)
            return &f;
    return nullptr;
}

std::string StatusName(LONG status)
{
    if (const char* word = store::StatusWord(status))
        return word;
    return status == NOT_FOUND ? "NOT_FOUND" : std::to_string(status);
}

std::string IsoDate(const SYSTEMTIME& t)
{
    if (t.wYear == 0)
        return {};
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond);
    return text;
}

const SYSTEMTIME& MessageDate(const store::MessageRecord& record)
{
    const SYSTEMTIME* date = store::StatusDate(record);
    return date ? *date : record.Created;
}

std::optional<GUID> ParseMessageId(std::string_view text)
{
    std::string braced(text);
    if (!braced.starts_with("{"))
        braced = "{" + braced + "}";
    if (braced.size() != 38)
        return std::nullopt;
    GUID id{};
    if (FAILED(CLSIDFromString(Utf8ToUtf16(braced).c_str(), &id)))
        return std::nullopt;
    return id;
}

std::optional<Page> ListFolder(const std::u16string& root, const Folder& folder, std::size_t limit,
                               std::string_view cursor)
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

    std::u16string dir = root + folder.relative;
    std::vector<Entry> entries = ReadFolder(dir);
    if (after)
        std::erase_if(entries, [&](const Entry& e) { return !Before(*after, e); });
    // Only the page's files are put in order and read.
    std::size_t take = std::min(limit, entries.size());
    std::partial_sort(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(take), entries.end(), Before);

    Page page;
    bool bad = folder.relative == std::u16string_view(store::kBadFolder);
    for (std::size_t i = 0; i < take; ++i) {
        const Entry& e = entries[i];
        store::RecordPtr record = store::MessageRecord::New();
        HRESULT hr = record->LoadFromFile(dir + Utf8ToUtf16(e.name));
        if (SUCCEEDED(hr) && !bad) {
            page.messages.push_back({GuidToUtf8(record->Id), StatusName(record->Status), Text(record->To),
                                     Text(record->From), IsoDate(MessageDate(*record.get()))});
        } else if (bad || store::FileExists(dir + Utf8ToUtf16(e.name))) {
            // Standing there and not readable as a message: shown, not hidden.
            ListedMessage m{e.name.substr(0, e.name.size() - kSuffix.size()), "BAD", {}, {}, {}};
            if (SUCCEEDED(hr)) {
                m.to = Text(record->To);
                m.from = Text(record->From);
                m.date = IsoDate(MessageDate(*record.get()));
            }
            page.messages.push_back(std::move(m));
        }
    }
    if (take < entries.size() && take > 0)
        page.next = CursorOf(entries[take - 1]);
    return page;
}

std::optional<Found> FindMessage(const std::u16string& root, const GUID& id)
{
    std::u16string name = store::MessageFileName(id);
    for (const Folder& folder : kFolders) {
        std::u16string path = root + folder.relative + name;
        if (!store::FileExists(path))
            continue;
        Found found;
        found.folder = &folder;
        store::RecordPtr record = store::MessageRecord::New();
        found.readError = record->LoadFromFile(path);
        if (SUCCEEDED(found.readError))
            found.record = std::move(record);
        else if (!store::FileExists(path))
            continue;  // moved on while being read: look where it went
        return found;
    }
    return std::nullopt;
}

}  // namespace velmo::gateway

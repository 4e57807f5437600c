// Reading the queue folders for the gateway: messages listed by folder a
// page at a time, one message found by its id wherever it stands, and the
// words and dates the gateway shows for them.
//
// Nothing here changes a file. A folder is read when asked, so what is
// listed is what stands on disk at that moment; a file that moves or goes
// while it is read is left out of the page.
#pragma once

#include "messagefile/MessageRecord.h"

#include <optional>
#include <string>
#include <vector>

namespace velmo::gateway {

// The folders by the names clients use: "queued" (out/), "sent"
// (out/sent/), "failed" (out/failed/), "received" (in/), "bad" (bad/).
struct Folder {
    const char* name;
    const char16_t* relative;
};
inline constexpr Folder kFolders[] = {
    {"queued", u"out/"}, {"sent", u"out/sent/"}, {"failed", u"out/failed/"}, {"received", u"in/"}, {"bad", u"bad/"}};
// The folder of that name; null for any other.
const Folder* FindFolder(std::string_view name);

// "QUEUED", "SENT", "FAILED", "RECEIVED"; "NOT_FOUND" for 0, the number
// for any other value.
std::string StatusName(LONG status);
// "2026-12-09T01:20:15Z" (the times are UTC); "" for a time never set.
std::string IsoDate(const SYSTEMTIME& time);
// The time that dates the message: completion for SENT and FAILED,
// reception for RECEIVED, creation otherwise.
const SYSTEMTIME& MessageDate(const store::MessageRecord& record);
// The id in "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" form, braces
// optional; nullopt for anything else.
std::optional<GUID> ParseMessageId(std::string_view text);

// One line of a listing. For a file in bad/ that cannot be read, id is
// the file's name without ".velmo", status "BAD" and the rest empty.
struct ListedMessage {
    std::string id;
    std::string status;
    std::string to;
    std::string from;
    std::string date;
};

struct Page {
    std::vector<ListedMessage> messages;
    std::string next;  // the cursor of the following page; "" after the last
};

inline constexpr std::size_t kDefaultPage = 100;
inline constexpr std::size_t kMostPerPage = 1000;

// One page of the folder under root (which ends in "/"), newest file
// first (by the time it was last written, then by name). limit 0 means
// kDefaultPage, more than kMostPerPage means kMostPerPage. cursor: "" for
// the first page, else the next of the page before. nullopt for a cursor
// this did not make.
std::optional<Page> ListFolder(const std::u16string& root, const Folder& folder, std::size_t limit,
                               std::string_view cursor);

// A message wherever it stands, and the folder it stands in.
struct Found {
    store::RecordPtr record;  // null when the file is there but cannot be read
    const Folder* folder = nullptr;
    HRESULT readError = S_OK;  // why it cannot be read
};
// nullopt when no folder holds the id.
std::optional<Found> FindMessage(const std::u16string& root, const GUID& id);

}  // namespace velmo::gateway

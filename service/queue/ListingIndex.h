// The order of a folder's messages for listing, kept in memory so that a
// page costs what is on it, not what is in the folder.
//
// One index per listed folder (queued, sent, failed, received; bad/ is
// small and read afresh). A folder's index is made from the disk the first
// time it is listed and kept from then on by the store's own steps: Add
// when it writes a message into the folder, Remove when it takes one out.
// What else happens to a folder is caught up with as follows: a file that
// is gone (deleted by hand, set aside as bad) is dropped when a page would
// show it; a file put in by hand is listed after the next start.
//
// Entries are ordered newest first by the time they were written (100 ns
// steps since 1601), then by name downwards. Thread-safe; no lock is held
// while a file is read.
#pragma once

#include "messagefile/QueueFolders.h"

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace velmo::queue {

struct ListingEntry {
    std::uint64_t written = 0;
    std::string name;  // the file's name, "{ID}.velmo"
};

// Newest first; among files written at the same moment, by name downwards.
bool ListedBefore(const ListingEntry& a, const ListingEntry& b);

class ListingIndex {
public:
    // How a folder is read when its index is made: every message file's
    // name and write time.
    using ReadFolder = std::function<std::vector<ListingEntry>(messagefile::Folder)>;

    explicit ListingIndex(ReadFolder read) : read_(std::move(read)) {}

    // The store wrote name into folder now (or wrote it again). A folder
    // not yet listed is left to be read from the disk.
    void Add(messagefile::Folder folder, const std::string& name);
    // The store took name out of folder.
    void Remove(messagefile::Folder folder, const std::string& name);
    // Up to n entries of folder that come after `after` (from the newest
    // when nullopt), in listing order; the folder is read first if it has
    // no index yet.
    std::vector<ListingEntry> After(messagefile::Folder folder, const std::optional<ListingEntry>& after,
                                    std::size_t n);
    // How many entries folder's index holds; nullopt before it is made.
    std::optional<std::size_t> Size(messagefile::Folder folder);

private:
    struct Ordered {
        bool operator()(const ListingEntry& a, const ListingEntry& b) const { return ListedBefore(a, b); }
    };
    struct Index {
        std::set<ListingEntry, Ordered> order;
        std::unordered_map<std::string, std::uint64_t> written;  // by name: where it stands in order
    };
    Index* Made(messagefile::Folder folder);  // under lock_
    static void Put(Index& index, ListingEntry entry);

    ReadFolder read_;
    std::mutex lock_;
    std::map<messagefile::Folder, Index> folders_;
};

}  // namespace velmo::queue

// The local journal of the PostgreSQL store: what the service could not
// write to the database while it was away, kept durably in a folder under
// the root until it is written there.
//
// Each entry is one file "NNNNNNNNNNNN-{ID}.KIND" holding a message file's
// bytes (empty for "offered"): KIND is "finish" (a message sent or
// failed), "update" (a sent message's delivery report), "received" (a
// received message) or "offered" (the handlers have had a received
// message). NNNNNNNNNNNN orders the entries as they were added, across
// restarts, so a message's report is written after its outcome. An entry is
// removed only once the database has it; written again after a crash, an
// entry changes nothing twice (the statements that take it are idempotent).
//
// Thread-safe: Add takes a lock for the order; Entries and Remove may run
// beside it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace velmo::pgstore {

class PgJournal {
public:
    struct Entry {
        std::string name;  // the file's name in the folder
        std::string kind;  // finish, update, received, offered
        std::vector<unsigned char> bytes;
    };

    // folder ends in "/"; it is made at the first Add when missing.
    explicit PgJournal(std::string folder);

    // Keeps an entry durably; false when it could not be written (nothing
    // of it is left then).
    bool Add(const std::string& kind, const std::string& id, const std::vector<unsigned char>& bytes);
    // The entries in the order they were added; one that cannot be read is
    // left out (and stays in the folder for a person to look at).
    std::vector<Entry> Entries() const;
    // Removes an entry once the database has it.
    void Remove(const Entry& entry);
    // Whether any entry may be waiting (cheap; true after Add until Entries
    // found none).
    bool Pending() const { return pending_; }

    // The kinds an entry may have.
    static bool IsKind(const std::string& kind);

private:
    std::string folder_;
    std::mutex lock_;
    std::uint64_t next_ = 0;  // the number of the next entry; 0 before the folder was read
    mutable std::atomic<bool> pending_{true};
};

}  // namespace velmo::pgstore

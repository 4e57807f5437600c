// Messages the modem handed over directly (+CMT) that the service could
// not store yet, kept in files until it can: the modem keeps no copy of
// such a message, so memory alone would lose it at a stop or a crash. One
// file a message, "<root>cellgate/<device>.spool/<time>-<n>", holding its
// PDU in hex, written durably; stored messages' files are removed.
#pragma once

#include <string>
#include <vector>

namespace velmo::cellgate {

class DirectSpool {
public:
    // device: the device's name, read at every call (a device learns it
    // only when it is opened); it must outlive the spool.
    explicit DirectSpool(const std::string& device) : device_(device) {}

    struct Entry {
        std::string file;
        std::string pdu;
    };
    // Keeps pdu in a new file; false when it cannot be written (the caller
    // then holds it in memory).
    bool Keep(const std::string& pdu);
    // What waits, oldest first; a file that cannot be read is left out.
    std::vector<Entry> Waiting() const;
    // The entry's message is stored: its file goes.
    void Forget(const Entry& entry);
    // The folder of the files, for events.
    std::string Folder() const;

private:
    const std::string& device_;
    unsigned next_ = 0;
};

}  // namespace velmo::cellgate

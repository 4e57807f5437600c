// How far a message of several parts got: its reference, its number of
// parts and how many of them the network accepted (+CMGS), kept durably per
// message in "<root>cellgate/<device>.sending/<ID>" while the message is
// unfinished, so that a retry (after a refusal, a restart or a crash) sends
// only the parts that are missing, under the same reference, and the phone
// joins them with those that came before. A crash between a part's
// acceptance and its record costs that one part twice, never a part less.
#pragma once

#include "platform/Guid.h"

#include <optional>
#include <string>

namespace velmo::cellgate {

class SentParts {
public:
    // Records older than this are of messages that ended elsewhere (a
    // retry limit, another device): they are removed at Sweep.
    static constexpr long long kKeepMs = 7LL * 24 * 3600 * 1000;

    // device: the device's name, read at every call; it must outlive this.
    explicit SentParts(const std::string& device) : device_(device) {}

    struct Progress {
        unsigned reference = 0;
        unsigned parts = 0;     // how many parts the message has
        unsigned accepted = 0;  // parts 1..accepted were accepted
    };
    // What is recorded for the message; nullopt when nothing is (or the
    // record cannot be read).
    std::optional<Progress> Load(const GUID& id) const;
    // Records progress durably; false when it cannot be written (the send
    // goes on: a retry then starts afresh).
    bool Save(const GUID& id, const Progress& progress);
    // The message is finished: its record goes.
    void Forget(const GUID& id);
    // Removes the records older than kKeepMs.
    void Sweep();

private:
    std::string Folder() const;
    const std::string& device_;
};

}  // namespace velmo::cellgate

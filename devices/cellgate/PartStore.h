// The parts of received concatenated messages that wait for their
// siblings, kept in files so that a crash loses none and a restart goes on
// collecting: one file a part, "<root>cellgate/<device>.parts/<key>-<n>",
// written durably before the modem's copy of the part is deleted.
//
// A message is one sender, one reference (8 or 16 bits) and one count of
// parts. It is whole when every part from 1 to the count is there; it is
// overdue when its first part came more than kWaitLimit ago, and then it is
// given with the parts that came, in order, a gap standing where parts are
// missing. A part that is already kept is not kept again, so a duplicate
// adds no text. The caller removes a message's files (Forget) once the
// service has stored it; until then it is given again by Ready.
#pragma once

#include "smscodec/DeliverPdu.h"
#include "platform/Types.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmo::cellgate {

class PartStore {
public:
    // How long the parts of a message are waited for (a design wait: one hour).
    static constexpr DWORD kWaitLimit = 3600000;

    // device: the device's name, read at every call (a device learns it
    // only when it is opened); it must outlive the store.
    explicit PartStore(const std::string& device) : device_(device) {}

    struct Message {
        std::u16string sender;
        std::u16string text;
        std::string statusText;          // empty for a whole message; else which parts are missing
        std::vector<std::string> files;  // its parts' files, for Forget
    };

    // Keeps one part durably. False when it cannot be written (the caller
    // keeps its own copy then). When the part completes its message, that
    // message is put in whole.
    bool Add(const std::u16string& sender, const sms::Concatenation& part, const std::u16string& text,
             std::optional<Message>& whole);
    // The messages that are whole, and those overdue, with what came.
    std::vector<Message> Ready();
    // Removes the files of a message that was stored.
    void Forget(const Message& message);
    // The folder of the parts.
    std::string Folder() const;

private:
    const std::string& device_;
};

}  // namespace velmo::cellgate

// The reference of the next message the device sends in several parts: it
// counts up per device (modulo 256, the concatenation element's 8 bits) and
// survives restarts in "<root>cellgate/<device>.reference", so a phone does
// not join the parts of two messages that happen to share one.
#pragma once

#include <string>

namespace velmo::cellgate {

class PartReference {
public:
    explicit PartReference(std::string device) : device_(std::move(device)) {}
    // The next reference, 0..255. When the file cannot be read it starts
    // from a value taken from the clock; when it cannot be written the
    // count still goes on in this object.
    unsigned Next();

private:
    std::string device_;
    int last_ = -1;  // -1: not read yet
};

}  // namespace velmo::cellgate

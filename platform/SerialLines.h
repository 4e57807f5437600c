// Finding the serial lines a modem could be on, and who holds one.
//
// Linux names a USB modem's lines /dev/ttyUSB<n> (most sticks, two to four
// lines each) or /dev/ttyACM<n> (CDC ACM modems and phones); their numbers
// change between boots, and udev gives each a stable name under
// /dev/serial/by-id/. These paths are taken under the system root.
#pragma once

#include "platform/Types.h"

#include <string>
#include <vector>

namespace velmo {

struct SerialLine {
    std::string path;  // the name to use: its /dev/serial/by-id/ link when it has one, else the tty
    std::string tty;   // the tty it is ("/dev/ttyUSB2"), as resolved; the same as path when it has no link
};

// Every line under dev/serial/by-id/ (links whose target exists), then every
// dev/ttyUSB* and dev/ttyACM* that no link names, each once, in name order
// within each group. Empty when there are none; never fails.
VELMO_PLATFORM_API std::vector<SerialLine> ModemLineCandidates();

// The programs that have the tty open, as "name (pid N)", as far as this
// user may see under /proc (root sees all; another user sees only its own
// processes). The tty is compared after resolving links. Empty when none
// is seen.
VELMO_PLATFORM_API std::vector<std::string> SerialLineHolders(const std::string& tty);

}  // namespace velmo

// What reading config.xml found, beside what it loaded into the service:
// the problems that make the file invalid, the warnings the service logs and
// goes on after, every entry passed over and why, and what was taken (the
// limits, devices, rules and handlers as written). The service logs from it;
// velmosvc /CHECK prints it whole.
//
// Every text is complete on its own, without the "config.xml: " prefix the
// events carry, and names its place in the file as "line L, column C" where
// the file gives one.
#pragma once

#include "platform/Types.h"
#include "service/host/StoreSettings.h"

#include <cstddef>
#include <string>
#include <vector>

namespace velmo::host {

struct ConfigReport {
    struct Device {
        LONG id = 0;
        std::string name;
        std::string clsid;  // as written
        bool enabled = true;
    };
    struct Rule {
        std::string pattern;
        LONG device = 0;
        bool continueSearch = true;
    };

    std::string path;                   // the file read
    std::vector<std::string> problems;  // each one alone stops the service
    bool rejected = false;              // the file itself is invalid (not merely without devices)
    std::vector<std::string> warnings;  // logged as warning events; the service goes on
    std::vector<std::string> skipped;   // entries passed over, with why
    LONG queueMax = 0, retryMax = 0;    // valid when no problem names them
    std::uint32_t queueExpire = 0;      // seconds; 0 when the queue has no expire attribute
    StoreChoice store;                  // the folders unless the queue names PostgreSQL
    bool leaveUnmatched = false;        // rules unmatched="leave"
    std::vector<Device> devices;        // added or disabled, in file order
    std::vector<Rule> rules;            // added, in file order
    std::vector<std::string> handlers;  // class ids as written
};

// "line L, column C" (both from 1) of byte offset in text; an offset past
// the end names the end.
std::string PositionOf(const std::string& text, std::ptrdiff_t offset);

}  // namespace velmo::host

// What velmo modems learns of one serial line: whether a modem answers AT
// on it, and what it says of itself, its SIM and its radio.
//
// The probe only asks. It sends AT, the identity commands (AT+CGMI,
// AT+CGMM, AT+CGMR, AT+CGSN) and the read commands AT+CPIN?, AT+CSQ,
// AT+CREG? and AT+COPS?: no PIN, no setting (not even ATE0; an echo is
// passed over). A line that another program holds is not opened at all.
// It is bounded: a silent line costs two AT tries of kAnswerWait, a modem
// that answers at most kLineBudget in all.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace velmo::cli {

struct ModemReport {
    enum class Line {
        Answers,   // a modem answered AT
        Silent,    // it opened, but nothing answered AT
        InUse,     // another program holds it: not probed
        Denied,    // this user may not open it (the dialout group)
        Absent,    // there is no such device
        NotTty,    // it is no serial line
        Unusable,  // it opened, but its line settings could not be set
    };
    std::string path;  // as given or found
    std::string tty;   // the tty it is, when known
    Line line = Line::Silent;
    std::vector<std::string> holders;                 // for InUse: "velmosvc (pid 12)", as far as this user can see
    std::string manufacturer, model, revision, imei;  // empty when not told
    std::string sim = "unknown";  // ready, PIN, PUK, absent, failure, busy, unknown, or the modem's word
    int signal = 99;              // AT+CSQ's 0..31; 99 unknown
    std::string registration;     // home, roaming, searching, ...; empty when not told
    std::string op;               // the operator's name; empty when not told
};

constexpr std::chrono::milliseconds kAnswerWait{1000};
constexpr std::chrono::milliseconds kLineBudget{6000};

// Probes the line at path with the line settings commConfig ("115200,n,8,1").
// Never fails: what went wrong is the report's line.
ModemReport ProbeModemLine(const std::string& path, const std::string& tty, const std::u16string& commConfig);

// The word for a report's line state: "answers", "silent", "in use",
// "denied", "absent", "not a serial line", "unusable".
const char* LineWord(ModemReport::Line line);

}  // namespace velmo::cli

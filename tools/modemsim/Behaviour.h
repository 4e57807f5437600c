// How the simulated modem behaves: options from the command line
// (--name=value) or from a file of name=value lines (--config=FILE).
#pragma once

#include <string>
#include <vector>

namespace modemsim {

struct Behaviour {
    std::string link;                // a symbolic link to the tty, made at start
    bool echo = true;                // echo commands until ATE0
    std::string pinState = "ready";  // ready, pin or puk
    std::string pin = "1234";
    int pinAttempts = 3;                  // wrong PINs before the SIM asks for its PUK
    int csmsFailures = 0;                 // AT+CSMS=0 answered ERROR this many times first
    std::string delivery = "cnmi";        // cmt, cmti, or cnmi: as AT+CNMI's second value says
    std::vector<std::string> cmgs{"ok"};  // ok, error, cms:N, cme:N, silent, noprompt; used in turn
    int delayMs = 0;                      // before each answer to a message
    int cnmaWaitMs = 5000;                // with AT+CSMS=1: a +CMT not acknowledged (AT+CNMA) this long comes again
    bool split = false;                   // replies in two writes
    int gapMs = 0;                        // each line of a reply written on its own, this far apart
    int promptDelayMs = 0;                // the "> " comes this late; bytes sent before it are lost
    std::string beforePrompt;             // a line sent between AT+CMGS and the prompt
    std::vector<std::string> urc;         // unsolicited lines sent in turn while idle ("@N": a line of N characters)
    int urcEveryMs = 0;                   // how often
    int simBusyMs = 0;                    // SIM commands answer +CME ERROR: 14 this long after start or a replug
    bool nul = false;                     // NULs in front of every reply
    bool mute = false;                    // answers nothing at all
    std::string control;                  // FIFO for injected messages and raw lines
    std::string transcript;               // commands received and messages decoded
    std::string smsc = "+491700000000";
    bool cpinFinal = true;                    // AT+CPIN? ends with OK (off: the reply has no final result)
    std::vector<std::string> refuse;          // command prefixes answered with refuseWith
    std::string refuseWith = "ERROR";         // the final result of a refused command
    std::string storage = "SM";               // where new messages are stored and what +CMTI names
    std::vector<std::string> storages{"SM"};  // what AT+CPMS offers to read from
    std::string cnmiTest = "(0-2),(0-3),(0,2),(0-2),(0,1)";  // the answer to AT+CNMI=?
    std::string manufacturer = "Norvane";
    std::string model = "modemsim";
    std::string revision = "1.0";
    std::string imei = "356938035643809";
    std::string imsi = "262019876543210";
    // Status reports, for messages that ask for one (TP-SRR):
    int reportDelayMs = 0;                     // after the +CMGS
    std::string reportStatus = "00";           // TP-ST in hex ("21>00": one report, then another), or "random"
    std::vector<std::string> reportStatusFor;  // NUMBER=ST: the TP-ST (as above) for that recipient
    std::string reportAs = "cnmi";             // cds, cdsi, or cnmi: as AT+CNMI's fourth value says
    int reportLose = 0;                        // every N-th report never comes; 0 none
};

// Applies one option; false and a reason when it is unknown or malformed.
bool ApplyOption(Behaviour& b, const std::string& name, const std::string& value, std::string& error);
// Reads argv and any --config file; false and a reason on a bad option.
bool ParseBehaviour(int argc, char** argv, Behaviour& b, std::string& error);

}  // namespace modemsim

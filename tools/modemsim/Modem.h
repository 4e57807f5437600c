// The simulated modem's command interpreter: GSM 07.05 in PDU mode, as its
// Behaviour says, over a Line. Single-threaded: main feeds it the bytes the
// device sends, the control lines, and the clock for its unsolicited lines.
//
// Control lines:
//   deliver SENDER TEXT...   an SMS-DELIVER (several for a long text), as +CMT or stored and +CMTI
//   deliver-part K SENDER TEXT...  only the K-th of those parts
//   deliver-pdu HEX          the same with a PDU given as it stands
//   store SENDER TEXT...     stored in the SIM without an indication
//   store-pdu HEX            the same with a PDU given as it stands
//   raw TEXT                 bytes as they stand (\r, \n, \z, \0, \\ unescaped)
//   hang MS                  reads nothing for MS milliseconds, then answers what came
//   replug MS                the line pulled out for MS milliseconds (the modem restarts)
//   report                   the messages each storage holds, into the transcript
//   reference N              the next +CMGS names reference N+1 (mod 256)
#pragma once

#include "Behaviour.h"
#include "Line.h"
#include "SimPdu.h"

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace modemsim {

using Clock = std::chrono::steady_clock;

class Modem {
public:
    Modem(Line& line, Behaviour b);

    void Input(const char* data, std::size_t n);
    void Control(const std::string& line);
    // Sends what is due by now; the time of the next thing due.
    Clock::time_point Tick(Clock::time_point now);

private:
    // A status report to send at a time.
    struct DueReport {
        Clock::time_point at;
        int reference;
        std::string number;
        int status;
    };
    void Byte(char c);
    void Handle(const std::string& command);
    void HandleMessages(const std::string& upper, const std::string& command);
    void Submitted(const std::string& pdu);
    // Logs a part sent; one the network delivered joins its siblings, and
    // the whole message is logged once every part of its reference came.
    void Joined(const Submit& part, bool delivered);
    void Deliver(const std::string& pdu, bool announce);
    // A status report is due for the part just taken under reference.
    void PlanReports(const Submit& part, int reference);
    // Sends, or stores and announces, a report as --report-as says, its
    // times the clock's now.
    void SendReport(const DueReport& due);
    // A +CMT on the line; with AT+CSMS=1 it then awaits AT+CNMA.
    void HandOver(const std::string& pdu);
    // AT+CNMA: the message handed over is acknowledged; the next held one follows.
    void Acknowledged();
    void Reply(const std::vector<std::string>& lines, const std::string& final);
    void Put(const std::string& text);
    void Log(const std::string& line);
    void PowerOn();
    bool SimBusy() const;
    bool Refused(const std::string& upper) const;
    // The storage an AT+CPMS command names first; empty when it names none.
    static std::string FirstStorage(const std::string& command);

    Line& line_;
    Behaviour b_;
    bool echo_ = true;
    std::string pinState_;
    int wrongPins_ = 0;
    Clock::time_point simReadyAt_;
    bool pduMode_ = false;
    std::string typed_;  // the command line or PDU being received
    int tpduLength_ = 0;
    int csmsFailed_ = 0;
    int csmsService_ = 0;            // AT+CSMS: 1 when each +CMT awaits AT+CNMA
    std::string awaitingAck_;        // the PDU of the +CMT not yet acknowledged
    Clock::time_point ackDue_;       // when it comes again unacknowledged
    std::vector<std::string> held_;  // direct messages that wait for that acknowledgement
    std::string cnmiMt_;
    std::string smsc_;
    std::map<std::string, std::map<int, std::string>> stored_;                 // storage -> index -> PDU
    std::map<std::string, int> nextIndexOf_;                                   // storage -> next index
    std::string mem1_;                                                         // where AT+CMGL/CMGR/CMGD look
    std::map<std::pair<std::string, int>, std::map<int, std::string>> parts_;  // (number, reference) -> texts by part
    std::size_t turn_ = 0;
    int reference_ = 0;
    std::size_t urcTurn_ = 0;
    Clock::time_point nextUrc_;
    std::string cnmiDs_;              // AT+CNMI's fourth value
    std::vector<DueReport> reports_;  // in the order they fall due
    int reportsPlanned_ = 0;
    unsigned random_ = 12345;
};

}  // namespace modemsim

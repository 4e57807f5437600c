#include "Modem.h"

#include "SimPdu.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace modemsim {

namespace {

std::string Upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string Unescape(const std::string& s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            char n = s[++i];
            out += n == 'r' ? '\r' : n == 'n' ? '\n' : n == 'z' ? '\x1a' : n == '0' ? '\0' : n;
        } else {
            out += s[i];
        }
    }
    return out;
}

void Pause(int ms)
{
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// "@N": a known unsolicited line (+CUSD) N characters long.
std::string UrcText(const std::string& item)
{
    if (item.size() > 1 && item[0] == '@') {
        std::size_t n = std::strtoul(item.c_str() + 1, nullptr, 10);
        std::string line = "+CUSD: 0,\"";
        line.append(n > line.size() + 4 ? n - line.size() - 4 : 1, 'x');
        return line + "\",15";
    }
    return item;
}

// The word after a control line's verb, and the rest.
std::pair<std::string, std::string> SplitFirst(const std::string& text)
{
    std::size_t space = text.find(' ');
    if (space == std::string::npos)
        return {text, {}};
    return {text.substr(0, space), text.substr(space + 1)};
}

}  // namespace

Modem::Modem(Line& line, Behaviour b) : line_(line), b_(std::move(b)) { PowerOn(); }

void Modem::PowerOn()
{
    echo_ = b_.echo;
    pinState_ = b_.pinState;
    pduMode_ = false;
    typed_.clear();
    cnmiMt_.clear();
    csmsService_ = 0;  // a message still unacknowledged comes again from the network, unacknowledged
    mem1_ = b_.storages.empty() ? "SM" : b_.storages.front();
    simReadyAt_ = Clock::now() + std::chrono::milliseconds(b_.simBusyMs);
    nextUrc_ = Clock::now() + std::chrono::milliseconds(b_.urcEveryMs);
}

bool Modem::SimBusy() const { return Clock::now() < simReadyAt_; }

bool Modem::Refused(const std::string& upper) const
{
    for (const std::string& prefix : b_.refuse)
        if (!prefix.empty() && upper.rfind(Upper(prefix), 0) == 0)
            return true;
    return false;
}

std::string Modem::FirstStorage(const std::string& command)
{
    std::size_t open = command.find('"');
    std::size_t close = open == std::string::npos ? open : command.find('"', open + 1);
    return close == std::string::npos ? std::string() : Upper(command.substr(open + 1, close - open - 1));
}

void Modem::Input(const char* data, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        Byte(data[i]);
}

void Modem::HandOver(const std::string& pdu)
{
    Put("\r\n+CMT: ," + std::to_string(DeliverTpduLength(pdu)) + "\r\n" + pdu + "\r\n");
    if (csmsService_ == 1) {
        awaitingAck_ = pdu;
        ackDue_ = Clock::now() + std::chrono::milliseconds(b_.cnmaWaitMs);
    } else {
        awaitingAck_.clear();  // handed over without acknowledgement: the network is done with it
    }
}

void Modem::Acknowledged()
{
    Log("ACKNOWLEDGED");
    awaitingAck_.clear();
    if (!held_.empty()) {
        std::string next = held_.front();
        held_.erase(held_.begin());
        HandOver(next);
    }
}

Clock::time_point Modem::Tick(Clock::time_point now)
{
    if (!awaitingAck_.empty() && now >= ackDue_) {
        // The network gets no acknowledgement and delivers the message again;
        // the copy nobody read is gone from the line.
        Log("UNACKNOWLEDGED");
        line_.DropUnread();
        HandOver(awaitingAck_);
    }
    Clock::time_point ack = awaitingAck_.empty() ? Clock::time_point::max() : ackDue_;
    while (!reports_.empty() && now >= reports_.front().at && !pduMode_ && line_.IsOpen()) {
        SendReport(reports_.front());
        reports_.erase(reports_.begin());
    }
    if (!reports_.empty())
        ack = std::min(ack, std::max(reports_.front().at, now + std::chrono::milliseconds(10)));
    if (b_.urc.empty() || b_.urcEveryMs <= 0)
        return ack;
    if (now >= nextUrc_) {
        if (!pduMode_ && line_.IsOpen())
            Put("\r\n" + UrcText(b_.urc[urcTurn_++ % b_.urc.size()]) + "\r\n");
        nextUrc_ = now + std::chrono::milliseconds(b_.urcEveryMs);
    }
    return std::min(nextUrc_, ack);
}

void Modem::Control(const std::string& text)
{
    auto [verb, rest] = SplitFirst(text);
    if (verb == "deliver" || verb == "store") {
        auto [sender, message] = SplitFirst(rest);
        Log((verb == "deliver" ? "DELIVER " : "STORE ") + sender + " " + message);
        for (const std::string& pdu : EncodeDeliver(b_.smsc, sender, message))
            Deliver(pdu, verb == "deliver");
    } else if (verb == "deliver-part") {
        auto [number, more] = SplitFirst(rest);
        auto [sender, message] = SplitFirst(more);
        std::vector<std::string> pdus = EncodeDeliver(b_.smsc, sender, message);
        std::size_t k = std::strtoul(number.c_str(), nullptr, 10);
        Log("DELIVER-PART " + number + "/" + std::to_string(pdus.size()) + " " + sender + " " + message);
        if (k >= 1 && k <= pdus.size())
            Deliver(pdus[k - 1], true);
    } else if (verb == "deliver-pdu" || verb == "store-pdu") {
        Log((verb == "deliver-pdu" ? "DELIVER-PDU " : "STORE-PDU ") + rest);
        Deliver(rest, verb == "deliver-pdu");
    } else if (verb == "reference") {
        reference_ = (std::atoi(rest.c_str()) % 256 + 256) % 256;
        Log("REFERENCE " + std::to_string(reference_));
    } else if (verb == "raw") {
        Put(Unescape(rest));
    } else if (verb == "hang") {
        Log("HANG " + rest);
        Pause(std::atoi(rest.c_str()));  // what the device sends meanwhile waits in the line
    } else if (verb == "report") {
        std::string line = "STORED";
        for (const auto& [storage, messages] : stored_)
            line += " " + storage + "=" + std::to_string(messages.size());
        Log(line);
    } else if (verb == "replug") {
        Log("UNPLUGGED");
        line_.Close();
        Pause(std::atoi(rest.c_str()));
        PowerOn();
        line_.Open();
        Log("PLUGGED " + line_.tty());
    }
}

void Modem::Byte(char c)
{
    if (pduMode_) {
        if (c == '\x1a') {
            pduMode_ = false;
            Submitted(typed_);
            typed_.clear();
        } else if (c == '\x1b') {
            pduMode_ = false;
            typed_.clear();
            Reply({}, "OK");
        } else if (c != '\r' && c != '\n') {
            typed_ += c;
        }
        return;
    }
    if (c == '\x1b') {
        typed_.clear();
        return;
    }
    if (c == '\n')
        return;
    if (c != '\r') {
        typed_ += c;
        return;
    }
    std::string command = typed_;
    typed_.clear();
    if (command.empty())
        return;
    Log("< " + command);
    if (b_.mute)
        return;
    if (echo_)
        Put(command + "\r");
    Handle(command);
}

void Modem::Handle(const std::string& command)
{
    std::string upper = Upper(command);
    auto is = [&](const char* prefix) { return upper.rfind(prefix, 0) == 0; };
    bool needsSim = is("AT+CPIN") || is("AT+CSMS") || is("AT+CSCA") || is("AT+CNMI") || is("AT+CPMS") || is("AT+CMG") ||
                    is("AT+CIMI");
    if (needsSim && SimBusy()) {
        Reply({}, "+CME ERROR: 14");
        return;
    }
    if (Refused(upper)) {
        Reply({}, b_.refuseWith);
        return;
    }
    if (is("AT+CSCS=?"))
        Reply({"+CSCS: (\"GSM\",\"IRA\",\"UCS2\")"}, "OK");
    else if (is("AT+CMGF=?"))
        Reply({"+CMGF: (0,1)"}, "OK");
    else if (is("AT+CPMS=?")) {
        std::string list;
        for (const std::string& storage : b_.storages)
            list += (list.empty() ? "\"" : ",\"") + storage + "\"";
        Reply({"+CPMS: (" + list + "),(" + list + "),(" + list + ")"}, "OK");
    } else if (is("AT+CNMI=?"))
        Reply({"+CNMI: " + b_.cnmiTest}, "OK");
    else if (is("AT+CSMS=?"))
        Reply({"+CSMS: (0,1)"}, "OK");
    else if (upper == "AT" || is("ATZ") || is("AT&F") || is("AT+CMEE") || is("ATS0") || is("AT+CSCS=") ||
             is("AT+CMGF=") || is("ATV1") || is("ATQ0") || is("AT+CREG=") || is("AT+CGREG=") || is("AT+CFUN=") ||
             is("AT+CHUP") || is("AT+COPS="))
        Reply({}, "OK");
    else if (is("ATE0") || is("ATE1")) {
        echo_ = is("ATE1");
        Reply({}, "OK");
    } else if (upper == "ATI" || is("ATI0"))
        Reply({"Norvane modemsim", "Revision 1.0"}, "OK");
    else if (is("AT+CGMI"))
        Reply({b_.manufacturer}, "OK");
    else if (is("AT+CGMM"))
        Reply({b_.model}, "OK");
    else if (is("AT+CGMR"))
        Reply({b_.revision}, "OK");
    else if (is("AT+CGSN"))
        Reply({b_.imei}, "OK");
    else if (is("AT+CIMI"))
        Reply({b_.imsi}, "OK");
    else if (is("AT+CSQ"))
        Reply({"+CSQ: 20,99"}, "OK");
    else if (is("AT+CREG?"))
        Reply({"+CREG: 0,1"}, "OK");
    else if (is("AT+COPS?"))
        Reply({"+COPS: 0,0,\"Norvane Mobile\",7"}, "OK");
    else if (is("AT+CMGF?"))
        Reply({"+CMGF: 0"}, "OK");
    else if (is("AT+CSCS?"))
        Reply({"+CSCS: \"GSM\""}, "OK");
    else if (is("AT+CPIN?"))
        Reply({pinState_ == "ready" ? "+CPIN: READY"
               : pinState_ == "pin" ? "+CPIN: SIM PIN"
                                    : "+CPIN: SIM PUK"},
              b_.cpinFinal ? "OK" : "");
    else if (is("AT+CPIN=")) {
        std::string given = command.substr(8);
        if (given.size() >= 2 && given.front() == '"' && given.back() == '"')
            given = given.substr(1, given.size() - 2);
        if (pinState_ == "pin" && given == b_.pin) {
            pinState_ = "ready";
            wrongPins_ = 0;
            Reply({}, "OK");
        } else {
            if (pinState_ == "pin" && ++wrongPins_ >= b_.pinAttempts)
                pinState_ = "puk";
            Reply({}, pinState_ == "puk" ? "+CME ERROR: 12" : "+CME ERROR: 16");
        }
    } else if (is("AT+CSMS=")) {
        if (csmsFailed_ < b_.csmsFailures) {
            ++csmsFailed_;
            Reply({}, "ERROR");
        } else {
            csmsService_ = command.substr(8) == "1" ? 1 : 0;
            Reply({"+CSMS: 1,1,1"}, "OK");
        }
    } else if (is("AT+CSMS?"))
        Reply({"+CSMS: " + std::to_string(csmsService_) + ",1,1,1"}, "OK");
    else if (is("AT+CNMA")) {
        if (csmsService_ == 1 && !awaitingAck_.empty()) {
            Reply({}, "OK");
            Acknowledged();
        } else {
            Reply({}, "+CMS ERROR: 340");  // no acknowledgement expected
        }
    } else if (is("AT+CNMI=")) {
        std::string values = command.substr(8);
        std::size_t comma = values.find(',');
        cnmiMt_ = comma == std::string::npos ? "" : values.substr(comma + 1, values.find(',', comma + 1) - comma - 1);
        std::vector<std::string> fields;
        for (std::size_t start = 0; start <= values.size();) {
            std::size_t at = values.find(',', start);
            fields.push_back(values.substr(start, at == std::string::npos ? std::string::npos : at - start));
            start = at == std::string::npos ? values.size() + 1 : at + 1;
        }
        cnmiDs_ = fields.size() >= 4 ? fields[3] : "";
        Reply({}, "OK");
    } else if (is("AT+CNMI?"))
        Reply({"+CNMI: 1," + (cnmiMt_.empty() ? std::string("0") : cnmiMt_) + ",0,0,0"}, "OK");
    else if (is("AT+CSCA=")) {
        smsc_ = command.substr(8);
        Reply({}, "OK");
    } else if (is("AT+CSCA?"))
        Reply({"+CSCA: " + (smsc_.empty() ? "\"" + b_.smsc + "\"" : smsc_) + ",145"}, "OK");
    else
        HandleMessages(upper, command);
}

void Modem::HandleMessages(const std::string& upper, const std::string& command)
{
    auto is = [&](const char* prefix) { return upper.rfind(prefix, 0) == 0; };
    if (is("AT+CPMS")) {
        if (is("AT+CPMS=")) {
            std::string wanted = FirstStorage(command);
            if (std::find(b_.storages.begin(), b_.storages.end(), wanted) == b_.storages.end()) {
                Reply({}, "+CMS ERROR: 302");
                return;
            }
            mem1_ = wanted;
        }
        std::string n = std::to_string(stored_[mem1_].size()), in = std::to_string(stored_[b_.storage].size());
        Reply({is("AT+CPMS?") ? "+CPMS: \"" + mem1_ + "\"," + n + ",30,\"" + mem1_ + "\"," + n + ",30,\"" + b_.storage +
                                    "\"," + in + ",30"
                              : "+CPMS: " + n + ",30," + n + ",30," + in + ",30"},
              "OK");
    } else if (is("AT+CMGL")) {
        std::vector<std::string> lines;
        for (auto& [index, pdu] : stored_[mem1_]) {
            lines.push_back("+CMGL: " + std::to_string(index) + ",0,," + std::to_string(DeliverTpduLength(pdu)));
            lines.push_back(pdu);
        }
        Reply(lines, "OK");
    } else if (is("AT+CMGR=")) {
        std::map<int, std::string>& store = stored_[mem1_];
        auto it = store.find(std::atoi(command.c_str() + 8));
        if (it == store.end())
            Reply({}, "+CMS ERROR: 321");
        else
            Reply({"+CMGR: 0,," + std::to_string(DeliverTpduLength(it->second)), it->second}, "OK");
    } else if (is("AT+CMGD=")) {
        stored_[mem1_].erase(std::atoi(command.c_str() + 8));
        Reply({}, "OK");
    } else if (is("AT+CMGS=")) {
        tpduLength_ = std::atoi(command.c_str() + 8);
        if (b_.cmgs[turn_ % b_.cmgs.size()] == "noprompt") {
            ++turn_;  // the command is ignored: no prompt, no answer
            return;
        }
        if (!b_.beforePrompt.empty())
            Put("\r\n" + b_.beforePrompt + "\r\n");
        if (b_.promptDelayMs > 0) {
            Pause(b_.promptDelayMs);
            line_.Drain();  // like a slow modem, it loses what came before its prompt
        }
        pduMode_ = true;
        Put("\r\n> ");
    } else {
        Reply({}, "ERROR");
    }
}

void Modem::Submitted(const std::string& pdu)
{
    auto submit = DecodeSubmit(pdu, tpduLength_);
    const std::string& answer = b_.cmgs[turn_++ % b_.cmgs.size()];
    if (!submit)
        Log("SUBMIT? " + pdu);
    else if (submit->total == 0)
        Log("SUBMIT " + submit->number + " " + submit->text);
    else
        Joined(*submit, answer == "ok" || answer == "silent");  // what the network refused reaches no phone
    Pause(b_.delayMs);
    if (answer == "silent")
        return;
    if (!submit || answer == "error")
        Reply({}, "ERROR");
    else if (answer == "ok") {
        reference_ = (reference_ + 1) % 256;
        Reply({"+CMGS: " + std::to_string(reference_)}, "OK");
        if (submit->reportRequested)
            PlanReports(*submit, reference_);
    } else
        Reply({}, (answer[2] == 's' ? "+CMS ERROR: " : "+CME ERROR: ") + answer.substr(4));
}

void Modem::PlanReports(const Submit& part, int reference)
{
    Log("REPORT-REQUESTED ref=" + std::to_string(reference) + " vp=" + std::to_string(part.validity));
    if (b_.reportLose > 0 && ++reportsPlanned_ % b_.reportLose == 0) {
        Log("REPORT-LOST ref=" + std::to_string(reference));
        return;
    }
    std::string statuses = b_.reportStatus;
    for (const std::string& item : b_.reportStatusFor)
        if (item.substr(0, item.find('=')) == part.number)
            statuses = item.substr(item.find('=') + 1);
    if (statuses == "random") {
        static const char* const kFinal[] = {"00", "00", "00", "01", "46", "62"};
        random_ = random_ * 1103515245u + 12345u;
        statuses = kFinal[(random_ >> 16) % 6];
    }
    Clock::time_point at = Clock::now();
    for (std::size_t start = 0; start < statuses.size(); start += 3) {
        at += std::chrono::milliseconds(b_.reportDelayMs);
        int status = std::stoi(statuses.substr(start, 2), nullptr, 16);
        DueReport due{at, reference, part.number, status};
        auto later = std::upper_bound(reports_.begin(), reports_.end(), at,
                                      [](Clock::time_point t, const DueReport& r) { return t < r.at; });
        reports_.insert(later, std::move(due));
    }
}

void Modem::SendReport(const DueReport& due)
{
    const std::string pdu = EncodeStatusReport(b_.smsc, due.reference, due.number, due.status);
    bool direct = b_.reportAs == "cds" || (b_.reportAs == "cnmi" && cnmiDs_ == "1");
    Log("REPORT " + pdu + (direct ? " as +CDS" : " stored"));
    if (direct) {
        Put("\r\n+CDS: " + std::to_string(DeliverTpduLength(pdu)) + "\r\n" + pdu + "\r\n");
        return;
    }
    int index = ++nextIndexOf_[b_.storage];
    stored_[b_.storage][index] = pdu;
    if (b_.reportAs == "cdsi" || cnmiDs_ == "2")
        Put("\r\n+CDSI: \"" + b_.storage + "\"," + std::to_string(index) + "\r\n");
}

void Modem::Joined(const Submit& part, bool delivered)
{
    Log("SUBMIT " + part.number + " part=" + std::to_string(part.part) + "/" + std::to_string(part.total) +
        " ref=" + std::to_string(part.reference) + " " + part.text);
    if (!delivered)
        return;
    auto key = std::make_pair(part.number, part.reference);
    std::map<int, std::string>& parts = parts_[key];
    parts[part.part] = part.text;
    if (static_cast<int>(parts.size()) < part.total)
        return;
    std::string text;
    for (const auto& [number, piece] : parts)
        text += piece;
    Log("JOINED " + part.number + " " + text);
    parts_.erase(key);
}

void Modem::Deliver(const std::string& pdu, bool announce)
{
    const bool asCnmi = b_.delivery == "cnmi";
    bool direct = announce && (b_.delivery == "cmt" || (asCnmi && (cnmiMt_ == "2" || cnmiMt_ == "3")));
    if (direct) {
        if (csmsService_ == 1 && !awaitingAck_.empty())
            held_.push_back(pdu);  // one unacknowledged message at a time
        else
            HandOver(pdu);
        return;
    }
    int& next = nextIndexOf_[b_.storage];
    int index = ++next;
    stored_[b_.storage][index] = pdu;
    if (announce && (!asCnmi || cnmiMt_ == "1"))  // as AT+CNMI says: mt 0 (the default) announces nothing
        Put("\r\n+CMTI: \"" + b_.storage + "\"," + std::to_string(index) + "\r\n");
}

void Modem::Reply(const std::vector<std::string>& lines, const std::string& final)
{
    std::vector<std::string> parts;
    for (const std::string& l : lines)
        parts.push_back("\r\n" + l + "\r\n");
    if (!final.empty())
        parts.push_back("\r\n" + final + "\r\n");
    if (b_.gapMs > 0) {
        for (std::size_t i = 0; i < parts.size(); ++i) {
            if (i)
                Pause(b_.gapMs);
            Put(parts[i]);
        }
        return;
    }
    std::string text;
    for (const std::string& p : parts)
        text += p;
    Put(text);
}

void Modem::Put(const std::string& text)
{
    std::string out = b_.nul ? std::string(3, '\0') + text : text;
    if (b_.split && out.size() > 1) {
        // Two writes, the first ending in LF where the text allows it.
        std::size_t cut = out.find('\n');
        cut = cut == std::string::npos || cut + 1 >= out.size() ? out.size() / 2 : cut + 1;
        line_.Write(out.substr(0, cut));
        Pause(30);
        line_.Write(out.substr(cut));
        return;
    }
    line_.Write(out);
}

void Modem::Log(const std::string& line)
{
    if (b_.transcript.empty())
        return;
    std::ofstream(b_.transcript, std::ios::app) << line << "\n";
}

}  // namespace modemsim

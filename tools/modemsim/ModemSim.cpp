// modemsim: a simulated GSM modem on a pseudo-terminal.
//
// It prints the tty a device opens on its first line (and links it at
// --link), answers GSM 07.05 commands in PDU mode as its behaviour says
// (Behaviour.h), decodes every SMS-SUBMIT it is sent into the transcript,
// and delivers messages written to its control FIFO:
//   deliver SENDER TEXT...   an SMS-DELIVER, as +CMT or stored and +CMTI
//   raw TEXT                 bytes as they stand (\r, \n, \\ unescaped)
// It keeps its own descriptor of the tty open, so a device that closes and
// opens the port again never makes it read an error. It ends on SIGTERM.
#include "Behaviour.h"
#include "SimPdu.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

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
            out += n == 'r' ? '\r' : n == 'n' ? '\n' : n == 'z' ? '\x1a' : n;
        } else {
            out += s[i];
        }
    }
    return out;
}

class Modem {
public:
    Modem(int master, Behaviour b) : master_(master), b_(std::move(b)) { echo_ = b_.echo; }

    void Input(const char* data, std::size_t n)
    {
        for (std::size_t i = 0; i < n; ++i)
            Byte(data[i]);
    }

    void Control(const std::string& line)
    {
        if (line.rfind("deliver ", 0) == 0) {
            std::string rest = line.substr(8);
            std::size_t space = rest.find(' ');
            std::string sender = rest.substr(0, space);
            std::string text = space == std::string::npos ? "" : rest.substr(space + 1);
            Deliver(sender, text);
        } else if (line.rfind("raw ", 0) == 0) {
            Put(Unescape(line.substr(4)));
        }
    }

private:
    void Byte(char c)
    {
        if (pduMode_) {
            if (c == '\x1a') {
                pduMode_ = false;
                Submitted(line_);
                line_.clear();
            } else if (c == '\x1b') {
                pduMode_ = false;
                line_.clear();
                Reply({}, "OK");
            } else if (c != '\r' && c != '\n') {
                line_ += c;
            }
            return;
        }
        if (c == '\x1b') {
            line_.clear();
            return;
        }
        if (c == '\n')
            return;
        if (c != '\r') {
            line_ += c;
            return;
        }
        std::string command = line_;
        line_.clear();
        if (command.empty())
            return;
        Log("< " + command);
        if (b_.mute)
            return;
        if (echo_)
            Put(command + "\r");
        Handle(command);
    }

    void Handle(const std::string& command)
    {
        std::string upper = Upper(command);
        auto is = [&](const char* prefix) { return upper.rfind(prefix, 0) == 0; };
        if (is("AT+CSCS=?"))
            Reply({"+CSCS: (\"GSM\",\"IRA\",\"UCS2\")"}, "OK");
        else if (is("AT+CMGF=?"))
            Reply({"+CMGF: (0,1)"}, "OK");
        else if (is("AT+CPMS=?"))
            Reply({"+CPMS: (\"SM\"),(\"SM\"),(\"SM\")"}, "OK");
        else if (is("AT+CNMI=?"))
            Reply({"+CNMI: (0-2),(0-3),(0,2),(0-2),(0,1)"}, "OK");
        else if (is("AT+CSMS=?"))
            Reply({"+CSMS: (0,1)"}, "OK");
        else if (upper == "AT" || is("ATZ") || is("AT&F") || is("AT+CMEE") || is("ATS0") || is("AT+CSCS=") ||
            is("AT+CMGF=") || is("ATV1") || is("ATQ0") || is("AT+CREG=") || is("AT+CGREG=") || is("AT+CFUN=") || is("AT+CHUP"))
            Reply({}, "OK");
        else if (is("ATE0") || is("ATE1")) {
            echo_ = is("ATE1");
            Reply({}, "OK");
        } else if (upper == "ATI" || is("ATI0"))
            Reply({"Norvane modemsim", "Revision 1.0"}, "OK");
        else if (is("AT+CGMI"))
            Reply({"Norvane"}, "OK");
        else if (is("AT+CGMM"))
            Reply({"modemsim"}, "OK");
        else if (is("AT+CGMR"))
            Reply({"1.0"}, "OK");
        else if (is("AT+CGSN"))
            Reply({"356938035643809"}, "OK");
        else if (is("AT+CIMI"))
            Reply({"262019876543210"}, "OK");
        else if (is("AT+CSQ"))
            Reply({"+CSQ: 20,99"}, "OK");
        else if (is("AT+CREG?"))
            Reply({"+CREG: 0,1"}, "OK");
        else if (is("AT+CMGF?"))
            Reply({"+CMGF: 0"}, "OK");
        else if (is("AT+CSCS?"))
            Reply({"+CSCS: \"GSM\""}, "OK");
        else if (is("AT+CPIN?"))
            Reply({b_.pinState == "ready" ? "+CPIN: READY" : b_.pinState == "pin" ? "+CPIN: SIM PIN" : "+CPIN: SIM PUK"}, "OK");
        else if (is("AT+CPIN=")) {
            std::string given = command.substr(8);
            if (given.size() >= 2 && given.front() == '"' && given.back() == '"')
                given = given.substr(1, given.size() - 2);
            if (b_.pinState == "pin" && given == b_.pin) {
                b_.pinState = "ready";
                Reply({}, "OK");
            } else {
                Reply({}, "+CME ERROR: 16");
            }
        } else if (is("AT+CSMS=")) {
            if (csmsFailed_ < b_.csmsFailures) {
                ++csmsFailed_;
                Reply({}, "ERROR");
            } else {
                Reply({"+CSMS: 1,1,1"}, "OK");
            }
        } else if (is("AT+CSMS?"))
            Reply({"+CSMS: 0,1,1,1"}, "OK");
        else if (is("AT+CNMI=")) {
            std::string values = command.substr(8);
            std::size_t comma = values.find(',');
            cnmiMt_ = comma == std::string::npos ? "" : values.substr(comma + 1, values.find(',', comma + 1) - comma - 1);
            Reply({}, "OK");
        } else if (is("AT+CNMI?"))
            Reply({"+CNMI: 1," + (cnmiMt_.empty() ? std::string("0") : cnmiMt_) + ",0,0,0"}, "OK");
        else if (is("AT+CSCA=")) {
            smsc_ = command.substr(8);
            Reply({}, "OK");
        } else if (is("AT+CSCA?"))
            Reply({"+CSCA: " + (smsc_.empty() ? "\"" + b_.smsc + "\"" : smsc_) + ",145"}, "OK");
        else if (is("AT+CPMS")) {
            std::string n = std::to_string(stored_.size());
            Reply({is("AT+CPMS?") ? "+CPMS: \"SM\"," + n + ",30,\"SM\"," + n + ",30,\"SM\"," + n + ",30"
                                  : "+CPMS: " + n + ",30," + n + ",30," + n + ",30"},
                  "OK");
        } else if (is("AT+CMGL")) {
            std::vector<std::string> lines;
            for (auto& [index, pdu] : stored_) {
                lines.push_back("+CMGL: " + std::to_string(index) + ",0,," + std::to_string(DeliverTpduLength(pdu)));
                lines.push_back(pdu);
            }
            Reply(lines, "OK");
        } else if (is("AT+CMGR=")) {
            auto it = stored_.find(std::atoi(command.c_str() + 8));
            if (it == stored_.end())
                Reply({}, "+CMS ERROR: 321");
            else
                Reply({"+CMGR: 0,," + std::to_string(DeliverTpduLength(it->second)), it->second}, "OK");
        } else if (is("AT+CMGD=")) {
            stored_.erase(std::atoi(command.c_str() + 8));
            Reply({}, "OK");
        } else if (is("AT+CMGS=")) {
            tpduLength_ = std::atoi(command.c_str() + 8);
            pduMode_ = true;
            Put("\r\n> ");
        } else
            Reply({}, "ERROR");
    }

    void Submitted(const std::string& pdu)
    {
        auto submit = DecodeSubmit(pdu, tpduLength_);
        Log(submit ? "SUBMIT " + submit->number + " " + submit->text : "SUBMIT? " + pdu);
        if (b_.delayMs)
            std::this_thread::sleep_for(std::chrono::milliseconds(b_.delayMs));
        const std::string& answer = b_.cmgs[turn_++ % b_.cmgs.size()];
        if (answer == "silent")
            return;
        if (!submit || answer == "error")
            Reply({}, "ERROR");
        else if (answer == "ok")
            Reply({"+CMGS: " + std::to_string(++reference_ % 256)}, "OK");
        else
            Reply({}, (answer[2] == 's' ? "+CMS ERROR: " : "+CME ERROR: ") + answer.substr(4));
    }

    void Deliver(const std::string& sender, const std::string& text)
    {
        std::string pdu = EncodeDeliver(b_.smsc, sender, text);
        Log("DELIVER " + sender + " " + text);
        bool direct = b_.delivery == "cmt" || (b_.delivery == "cnmi" && cnmiMt_ == "2");
        if (direct) {
            Put("\r\n+CMT: ," + std::to_string(DeliverTpduLength(pdu)) + "\r\n" + pdu + "\r\n");
            return;
        }
        int index = nextIndex_++;
        stored_[index] = pdu;
        Put("\r\n+CMTI: \"SM\"," + std::to_string(index) + "\r\n");
    }

    void Reply(const std::vector<std::string>& lines, const std::string& final)
    {
        std::string text;
        for (const std::string& l : lines)
            text += "\r\n" + l + "\r\n";
        text += "\r\n" + final + "\r\n";
        Put(text);
    }

    void Put(const std::string& text)
    {
        if (b_.split && text.size() > 1) {
            // Two deliveries, each ending in LF where the text allows it.
            std::size_t cut = text.find('\n');
            cut = cut == std::string::npos || cut + 1 >= text.size() ? text.size() / 2 : cut + 1;
            Write(text.substr(0, cut));
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            Write(text.substr(cut));
            return;
        }
        Write(text);
    }

    void Write(const std::string& text)
    {
        std::size_t done = 0;
        while (done < text.size()) {
            ssize_t n = write(master_, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;
            done += static_cast<std::size_t>(n);
        }
    }

    void Log(const std::string& line)
    {
        if (b_.transcript.empty())
            return;
        std::ofstream(b_.transcript, std::ios::app) << line << "\n";
    }

    int master_;
    Behaviour b_;
    bool echo_ = true;
    bool pduMode_ = false;
    std::string line_;
    int tpduLength_ = 0;
    int csmsFailed_ = 0;
    std::string cnmiMt_;
    std::string smsc_;
    std::map<int, std::string> stored_;
    int nextIndex_ = 1;
    std::size_t turn_ = 0;
    int reference_ = 0;
};

} // namespace

} // namespace modemsim

int main(int argc, char** argv)
{
    modemsim::Behaviour behaviour;
    std::string error;
    if (!modemsim::ParseBehaviour(argc, argv, behaviour, error)) {
        std::fprintf(stderr, "modemsim: %s\n", error.c_str());
        return 2;
    }
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("modemsim: pseudo-terminal");
        return 1;
    }
    std::string slave = ptsname(master);
    // Our own descriptor of the slave side: the line never hangs up when the
    // device closes it, and the line starts raw.
    int keep = open(slave.c_str(), O_RDWR | O_NOCTTY);
    termios tio{};
    if (keep >= 0 && tcgetattr(keep, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(keep, TCSANOW, &tio);
    }
    if (!behaviour.link.empty()) {
        unlink(behaviour.link.c_str());
        if (symlink(slave.c_str(), behaviour.link.c_str()) != 0) {
            std::perror("modemsim: link");
            return 1;
        }
    }
    int control = -1;
    if (!behaviour.control.empty()) {
        unlink(behaviour.control.c_str());
        if (mkfifo(behaviour.control.c_str(), 0600) != 0) {
            std::perror("modemsim: control FIFO");
            return 1;
        }
        control = open(behaviour.control.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);  // RDWR: never sees EOF
    }
    std::printf("%s\n", slave.c_str());
    std::fflush(stdout);

    modemsim::Modem modem(master, behaviour);
    std::string pending;
    while (true) {
        pollfd fds[2] = {{master, POLLIN, 0}, {control, POLLIN, 0}};
        int rc = poll(fds, control >= 0 ? 2 : 1, -1);
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        char buffer[4096];
        if (fds[0].revents & POLLIN) {
            ssize_t n = read(master, buffer, sizeof buffer);
            if (n > 0)
                modem.Input(buffer, static_cast<std::size_t>(n));
        }
        if (control >= 0 && (fds[1].revents & POLLIN)) {
            ssize_t n = read(control, buffer, sizeof buffer);
            if (n > 0) {
                pending.append(buffer, static_cast<std::size_t>(n));
                for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos; pending.erase(0, nl + 1))
                    modem.Control(pending.substr(0, nl));
            }
        }
    }
    return 0;
}

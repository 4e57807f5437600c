// modemsim: a simulated GSM modem on a pseudo-terminal.
//
// It prints the tty a device opens on its first line (and links it at
// --link), answers GSM 07.05 commands in PDU mode as its behaviour says
// (Behaviour.h), decodes every SMS-SUBMIT it is sent into the transcript,
// and takes control lines from its FIFO (Modem.h). It ends on SIGTERM.
#include "Behaviour.h"
#include "Line.h"
#include "Modem.h"

#include "interfaces/StandardOptions.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kUsage[] = "usage: modemsim [--name=value ...] [--config=FILE]\n"
                      "       modemsim --help | --version\n"
                      "\n"
                      "A simulated GSM modem in PDU mode on a pseudo-terminal, for tests and demos.\n"
                      "It prints the tty on its first line and runs until SIGTERM or SIGINT.\n"
                      "Options (name=value lines in FILE too): link, echo, pin-state, pin,\n"
                      "pin-attempts, csms-fail, delivery, cmgs, delay, prompt-delay, before-prompt,\n"
                      "split, gap, nul, urc, urc-every, sim-busy, mute, control, transcript, smsc,\n"
                      "cpin-final, refuse, refuse-with, storage, storages, cnmi-test, cnma-wait, manufacturer,\n"
                      "model, revision, imei, imsi.\n"
                      "Control lines go into the FIFO of --control. See modemsim(1).\n";

}  // namespace

int main(int argc, char** argv)
{
    if (auto answered = velmo::AnswerStandardOptions(argc, argv, "modemsim", kUsage))
        return *answered;
    modemsim::Behaviour behaviour;
    std::string error;
    if (!modemsim::ParseBehaviour(argc, argv, behaviour, error))
        return velmo::UsageError("modemsim", error, kUsage);
    modemsim::Line line(behaviour.link);
    if (!line.Open()) {
        std::perror("modemsim: pseudo-terminal");
        return 1;
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
    std::printf("%s\n", line.tty().c_str());
    std::fflush(stdout);

    modemsim::Modem modem(line, behaviour);
    std::string pending;
    while (true) {
        auto now = modemsim::Clock::now();
        auto next = modem.Tick(now);
        int timeout = -1;
        if (next != modemsim::Clock::time_point::max())
            timeout = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count()) + 1;
        pollfd fds[2] = {{line.fd(), POLLIN, 0}, {control, POLLIN, 0}};
        int rc = poll(fds, 2, timeout);
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        char buffer[4096];
        if (fds[0].revents & POLLIN) {
            ssize_t n = read(line.fd(), buffer, sizeof buffer);
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

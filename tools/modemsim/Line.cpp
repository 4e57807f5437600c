#include "Line.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace modemsim {

bool Line::Open()
{
    Close();
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        Close();
        return false;
    }
    tty_ = ptsname(master_);
    keep_ = open(tty_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (keep_ >= 0 && tcgetattr(keep_, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(keep_, TCSANOW, &tio);
    }
    if (!link_.empty()) {
        unlink(link_.c_str());
        if (symlink(tty_.c_str(), link_.c_str()) != 0) {
            Close();
            return false;
        }
    }
    return true;
}

void Line::Close()
{
    if (!link_.empty() && master_ >= 0)
        unlink(link_.c_str());
    if (keep_ >= 0)
        close(keep_);
    if (master_ >= 0)
        close(master_);
    keep_ = master_ = -1;
}

void Line::Write(const std::string& text)
{
    std::size_t done = 0;
    while (master_ >= 0 && done < text.size()) {
        ssize_t n = write(master_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

void Line::DropUnread()
{
    if (keep_ >= 0)
        tcflush(keep_, TCIFLUSH);
}

void Line::Drain()
{
    char buffer[4096];
    pollfd p{master_, POLLIN, 0};
    while (master_ >= 0 && poll(&p, 1, 0) > 0 && (p.revents & POLLIN) && read(master_, buffer, sizeof buffer) > 0) {
    }
}

}  // namespace modemsim

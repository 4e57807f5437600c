#include "platform/Serial.h"

#include "platform/KernelObject.h"
#include "platform/Registry.h"
#include "platform/SysRoot.h"
#include "platform/Text.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using velmo::detail::FileObject;
using Clock = std::chrono::steady_clock;

BOOL Fail(DWORD code)
{
    SetLastError(code);
    return FALSE;
}

class SerialObject final : public FileObject {
public:
    explicit SerialObject(int fd) : FileObject(fd) {}

    BOOL Read(void* buffer, DWORD size, DWORD* done) override { return ReadUntil(buffer, size, done, -1); }
    BOOL Write(const void* buffer, DWORD size, DWORD* done) override;
    BOOL ReadUntil(void* buffer, DWORD size, DWORD* done, int stopFd);

    COMMTIMEOUTS Timeouts()
    {
        std::lock_guard lock(mu_);
        return timeouts_;
    }
    void SetTimeouts(const COMMTIMEOUTS& t)
    {
        std::lock_guard lock(mu_);
        timeouts_ = t;
    }
    DCB dcb{};

private:
    std::mutex mu_;
    COMMTIMEOUTS timeouts_{};
};

int RemainingMs(Clock::time_point until)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

BOOL SerialObject::ReadUntil(void* buffer, DWORD size, DWORD* done, int stopFd)
{
    COMMTIMEOUTS t = Timeouts();
    *done = 0;
    auto* out = static_cast<char*>(buffer);
    constexpr DWORD kMax = 0xFFFFFFFFu;
    // MAXDWORD interval and multiplier with a constant between: return as
    // soon as any byte is there, else after the constant with nothing.
    bool firstByte = t.ReadIntervalTimeout == kMax && t.ReadTotalTimeoutMultiplier == kMax &&
                     t.ReadTotalTimeoutConstant > 0 && t.ReadTotalTimeoutConstant < kMax;
    bool total = !firstByte && (t.ReadTotalTimeoutConstant || t.ReadTotalTimeoutMultiplier);
    // MAXDWORD interval with no totals: return at once with what is there.
    bool immediate = t.ReadIntervalTimeout == kMax && !total && !firstByte;
    auto start = Clock::now();
    auto deadline = start + std::chrono::milliseconds(
                                static_cast<std::uint64_t>(t.ReadTotalTimeoutConstant) +
                                (firstByte ? 0 : static_cast<std::uint64_t>(t.ReadTotalTimeoutMultiplier) * size));
    Clock::time_point lastByte{};
    while (*done < size) {
        int wait = -1;
        if (immediate || (firstByte && *done > 0))
            wait = 0;
        else if (total || firstByte)
            wait = RemainingMs(deadline);
        if (*done > 0 && t.ReadIntervalTimeout && t.ReadIntervalTimeout != 0xFFFFFFFFu) {
            int gap = RemainingMs(lastByte + std::chrono::milliseconds(t.ReadIntervalTimeout));
            wait = wait < 0 ? gap : std::min(wait, gap);
        }
        pollfd fds[2] = {{fd(), POLLIN, 0}, {stopFd, POLLIN, 0}};
        int rc = poll(fds, stopFd >= 0 ? 2 : 1, wait);
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            return Fail(ERROR_INVALID_FUNCTION);
        }
        if (stopFd >= 0 && (fds[1].revents & POLLIN))
            return Fail(ERROR_OPERATION_ABORTED);
        if (rc == 0)
            return TRUE;  // a time-out ends the read successfully
        if (fds[0].revents & (POLLERR | POLLNVAL))
            return Fail(ERROR_INVALID_FUNCTION);
        if (!(fds[0].revents & POLLIN)) {
            if (fds[0].revents & POLLHUP)
                return Fail(ERROR_INVALID_FUNCTION);  // the other side of the line is gone
            continue;
        }
        ssize_t n = ::read(fd(), out + *done, size - *done);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return Fail(ERROR_INVALID_FUNCTION);
        }
        if (n == 0)
            return Fail(ERROR_INVALID_FUNCTION);
        *done += static_cast<DWORD>(n);
        lastByte = Clock::now();
    }
    return TRUE;
}

BOOL SerialObject::Write(const void* buffer, DWORD size, DWORD* done)
{
    COMMTIMEOUTS t = Timeouts();
    bool limited = t.WriteTotalTimeoutConstant || t.WriteTotalTimeoutMultiplier;
    auto deadline =
        Clock::now() + std::chrono::milliseconds(static_cast<std::uint64_t>(t.WriteTotalTimeoutConstant) +
                                                 static_cast<std::uint64_t>(t.WriteTotalTimeoutMultiplier) * size);
    const auto* in = static_cast<const char*>(buffer);
    *done = 0;
    while (*done < size) {
        pollfd p{fd(), POLLOUT, 0};
        int rc = poll(&p, 1, limited ? RemainingMs(deadline) : -1);
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc <= 0)
            return Fail(rc == 0 ? 121 /* ERROR_SEM_TIMEOUT */ : ERROR_INVALID_FUNCTION);
        ssize_t n = ::write(fd(), in + *done, size - *done);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return Fail(ERROR_INVALID_FUNCTION);
        }
        *done += static_cast<DWORD>(n);
    }
    return TRUE;
}

SerialObject* AsSerial(HANDLE h) { return dynamic_cast<SerialObject*>(velmo::detail::FromHandle(h)); }

std::optional<unsigned> ComNumber(const std::string& name)
{
    if (name.size() < 5 || name.back() != ':' || !velmo::EqualsNoCase(velmo::Utf8ToUtf16(name.substr(0, 3)), u"COM"))
        return std::nullopt;
    std::string digits = name.substr(3, name.size() - 4);
    if (digits.empty() || digits.size() > 5)
        return std::nullopt;
    for (char c : digits)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
    unsigned n = static_cast<unsigned>(std::stoul(digits));
    if (n == 0)
        return std::nullopt;
    return n;
}

speed_t SpeedOf(DWORD baud)
{
    switch (baud) {
    case 110: return B110;
    case 150: return B150;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return B0;
    }
}

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Trim(const std::string& s)
{
    std::size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos)
        return {};
    return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

bool ParseBaud(const std::string& text, DWORD& baud)
{
    if (text.empty() || text.size() > 7 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    unsigned long v = std::stoul(text);
    // The classic two-digit abbreviations of the mode syntax.
    static const std::pair<unsigned long, DWORD> kShort[] = {{11, 110},  {15, 150},  {30, 300},  {60, 600},  {12, 1200},
                                                             {24, 2400}, {48, 4800}, {96, 9600}, {19, 19200}};
    for (auto [abbrev, full] : kShort)
        if (v == abbrev) {
            baud = full;
            return true;
        }
    if (SpeedOf(static_cast<DWORD>(v)) == B0)
        return false;
    baud = static_cast<DWORD>(v);
    return true;
}

bool ParseParity(const std::string& text, BYTE& parity)
{
    std::string p = Lower(text);
    if (p.size() != 1)
        return false;
    switch (p[0]) {
    case 'n': parity = NOPARITY; return true;
    case 'e': parity = EVENPARITY; return true;
    case 'o': parity = ODDPARITY; return true;
    case 'm': parity = MARKPARITY; return true;
    case 's': parity = SPACEPARITY; return true;
    default: return false;
    }
}

bool ParseData(const std::string& text, BYTE& size)
{
    if (text.size() != 1 || text[0] < '5' || text[0] > '8')
        return false;
    size = static_cast<BYTE>(text[0] - '0');
    return true;
}

bool ParseStop(const std::string& text, BYTE& stop)
{
    if (text == "1")
        stop = ONESTOPBIT;
    else if (text == "1.5")
        stop = ONE5STOPBITS;
    else if (text == "2")
        stop = TWOSTOPBITS;
    else
        return false;
    return true;
}

std::vector<std::string> Split(const std::string& text, char sep)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        std::size_t at = text.find(sep, start);
        parts.push_back(Trim(text.substr(start, at == std::string::npos ? std::string::npos : at - start)));
        if (at == std::string::npos)
            return parts;
        start = at + 1;
    }
}

bool ParseDefinition(const std::string& raw, DCB& dcb)
{
    std::string text = Trim(raw);
    if (text.empty())
        return false;
    if (text.find('=') != std::string::npos) {
        bool haveBaud = false;
        std::size_t pos = 0;
        while (pos < text.size()) {
            std::size_t end = text.find_first_of(" \t", pos);
            std::string item = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
            pos = end == std::string::npos ? text.size() : text.find_first_not_of(" \t", end);
            if (pos == std::string::npos)
                pos = text.size();
            std::size_t eq = item.find('=');
            if (eq == std::string::npos)
                return false;
            std::string key = Lower(item.substr(0, eq)), value = item.substr(eq + 1);
            bool ok = key == "baud"     ? (haveBaud = ParseBaud(value, dcb.BaudRate))
                      : key == "parity" ? ParseParity(value, dcb.Parity)
                      : key == "data"   ? ParseData(value, dcb.ByteSize)
                      : key == "stop"   ? ParseStop(value, dcb.StopBits)
                                        : false;
            if (!ok)
                return false;
        }
        return haveBaud;
    }
    std::vector<std::string> parts = Split(text, ',');
    if (parts.size() > 4 || !ParseBaud(parts[0], dcb.BaudRate))
        return false;
    if (parts.size() > 1 && !ParseParity(parts[1], dcb.Parity))
        return false;
    if (parts.size() > 2 && !ParseData(parts[2], dcb.ByteSize))
        return false;
    if (parts.size() > 3 && !ParseStop(parts[3], dcb.StopBits))
        return false;
    return true;
}

}  // namespace

namespace velmo::detail {

bool IsSerialName(const std::string& path) { return ComNumber(path).has_value(); }

HANDLE OpenSerial(const std::string& name, DWORD access)
{
    std::string path = velmo::SerialDevicePath(name);
    if (path.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    int flags = O_NOCTTY | O_CLOEXEC | O_NONBLOCK;
    flags |= (access & GENERIC_READ) && (access & GENERIC_WRITE) ? O_RDWR
             : (access & GENERIC_WRITE)                          ? O_WRONLY
                                                                 : O_RDONLY;
    int fd = open(path.c_str(), flags);
    if (fd < 0) {
        SetLastError(errno == ENOENT  ? ERROR_FILE_NOT_FOUND
                     : errno == EBUSY ? ERROR_SHARING_VIOLATION
                                      : ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    // Exclusive: TIOCEXCL keeps other openers out (root aside), the flock
    // keeps out other processes of this layer, root included.
    if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        bool notTty = !isatty(fd);
        close(fd);
        SetLastError(notTty ? ERROR_INVALID_FUNCTION : ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    ioctl(fd, TIOCEXCL);
    termios tio{};
    if (tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cflag &= ~CRTSCTS;
        tio.c_iflag &= ~(IXON | IXOFF | IXANY);
        tcsetattr(fd, TCSANOW, &tio);
    }
    auto* port = new SerialObject(fd);
    port->dcb.DCBlength = sizeof(DCB);
    port->dcb.BaudRate = 9600;
    port->dcb.ByteSize = 8;
    port->dcb.fBinary = 1;
    SetLastError(0);
    return port;
}

}  // namespace velmo::detail

BOOL BuildCommDCBW(LPCWSTR definition, DCB* dcb)
{
    if (!definition || !dcb)
        return Fail(ERROR_INVALID_PARAMETER);
    DCB parsed = *dcb;
    if (!ParseDefinition(velmo::Utf16ToUtf8(definition), parsed))
        return Fail(ERROR_INVALID_PARAMETER);
    parsed.fBinary = 1;
    parsed.fParity = parsed.Parity != NOPARITY;
    *dcb = parsed;
    return TRUE;
}

BOOL SetCommState(HANDLE port, const DCB* dcb)
{
    SerialObject* s = AsSerial(port);
    if (!s || !dcb)
        return Fail(s ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    speed_t speed = SpeedOf(dcb->BaudRate);
    if (speed == B0 || dcb->ByteSize < 5 || dcb->ByteSize > 8 || dcb->Parity > SPACEPARITY ||
        dcb->StopBits > TWOSTOPBITS)
        return Fail(ERROR_INVALID_PARAMETER);
    termios tio{};
    if (tcgetattr(s->fd(), &tio) != 0)
        return Fail(ERROR_INVALID_FUNCTION);
    cfmakeraw(&tio);
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD;
    static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag |= kSizes[dcb->ByteSize - 5];
    switch (dcb->Parity) {
    case ODDPARITY: tio.c_cflag |= PARENB | PARODD; break;
    case EVENPARITY: tio.c_cflag |= PARENB; break;
    case MARKPARITY: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case SPACEPARITY: tio.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (dcb->StopBits != ONESTOPBIT)
        tio.c_cflag |= CSTOPB;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (tcsetattr(s->fd(), TCSANOW, &tio) != 0)
        return Fail(ERROR_INVALID_PARAMETER);
    s->dcb = *dcb;
    return TRUE;
}

BOOL SetCommTimeouts(HANDLE port, const COMMTIMEOUTS* timeouts)
{
    SerialObject* s = AsSerial(port);
    if (!s || !timeouts)
        return Fail(s ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    s->SetTimeouts(*timeouts);
    return TRUE;
}

namespace velmo {

BOOL ReadFileInterruptible(HANDLE port, void* buffer, DWORD size, DWORD* read, HANDLE stop)
{
    SerialObject* s = AsSerial(port);
    DWORD done = 0;
    if (read)
        *read = 0;
    if (!s || !buffer)
        return Fail(s ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    detail::Object* stopObject = detail::FromHandle(stop);
    BOOL ok = s->ReadUntil(buffer, size, &done, stopObject ? stopObject->fd() : -1);
    if (!ok && GetLastError() == static_cast<DWORD>(ERROR_OPERATION_ABORTED)) {
        WaitForSingleObject(stop, 0);  // the stop is taken, as a wait on it would
        SetLastError(ERROR_OPERATION_ABORTED);
    }
    if (read)
        *read = done;
    return ok;
}

std::string SerialDevicePath(const std::string& name)
{
    if (!name.empty() && name.front() == '/')
        return name;
    auto n = ComNumber(name);
    if (!n)
        return {};
    std::u16string value = u"COM" + Utf8ToUtf16(std::to_string(*n));
    for (const char16_t* key : {u"Software\\Norvane\\Velmo\\Ports", u"System\\Platform\\DosDevices"})
        if (auto path = ReadRegistryString(Hive::LocalMachine, key, value); path && !path->empty())
            return Utf16ToUtf8(*path);
    return SysRootPath("dev/ttyS" + std::to_string(*n - 1));
}

HANDLE OpenSerialPort(const std::string& name)
{
    if (SerialDevicePath(name).empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return detail::OpenSerial(name, GENERIC_READ | GENERIC_WRITE);
}

}  // namespace velmo

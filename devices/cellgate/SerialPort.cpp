#include "devices/cellgate/SerialPort.h"

#include "platform/Text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace velmo::cellgate {

namespace {
constexpr DWORD kReadChunk = 1024;
constexpr DWORD kCloseWait = 5000;
constexpr DWORD kFirstByte = MAXDWORD;  // with both: return with the first bytes there
}  // namespace

SerialPort::SerialPort() = default;

SerialPort::~SerialPort() { ClosePort(); }

bool SerialPort::OpenPort(unsigned port)
{
    std::u16string name = u"COM" + Utf8ToUtf16(std::to_string(port)) + u":";
    port_ = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                        nullptr);
    return port_ != INVALID_HANDLE_VALUE;
}

bool SerialPort::Open(const std::string& name)
{
    port_ = OpenSerialPort(name);
    return port_ != INVALID_HANDLE_VALUE;
}

bool SerialPort::Configure(const std::u16string& commConfig)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    return BuildCommDCBW(commConfig.c_str(), &dcb) && SetCommState(port_, &dcb);
}

bool SerialPort::SetTimeouts()
{
    COMMTIMEOUTS timeouts{100, 1, 100, 1, 1000};
    return SetCommTimeouts(port_, &timeouts) != FALSE;
}

bool SerialPort::SetReaderTimeouts()
{
    COMMTIMEOUTS timeouts{kFirstByte, kFirstByte, kReaderTick, 1, 1000};
    return SetCommTimeouts(port_, &timeouts) != FALSE;
}

DWORD SerialPort::Write(const char* bytes, std::size_t length, std::string_view dumpAs)
{
    if (length == 0)
        length = std::strlen(bytes);
    if (!dumpPath_.empty()) {
        if (dumpAs.empty())
            AppendDump(bytes, length);
        else
            AppendDump(dumpAs.data(), dumpAs.size());
    }
    std::lock_guard lock(writeLock_);
    DWORD written = 0;
    // A failed write is not reported: the count says what went out.
    (void)WriteFile(port_, bytes, static_cast<DWORD>(length), &written, nullptr);
    return written;
}

DWORD SerialPort::WriteFormatted(const char* format, ...)
{
    char buffer[kFormatBuffer];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof buffer)
        return 0;
    return n == 0 ? 0 : Write(buffer, static_cast<std::size_t>(n));
}

DWORD SerialPort::ReadRaw(char* buffer, DWORD size)
{
    DWORD read = 0;
    if (!ReadFile(port_, buffer, size, &read, nullptr))
        return 0;
    return read;
}

bool SerialPort::StartReader()
{
    ResetEvent(stop_.get());
    reader_ = Handle(CreateThread(nullptr, 0, ReaderMain, this, CREATE_SUSPENDED, nullptr));
    return reader_ && ResumeThread(reader_.get()) != static_cast<DWORD>(-1);
}

bool SerialPort::StopReader(DWORD timeoutMs)
{
    SetEvent(stop_.get());
    if (!reader_)
        return true;
    if (WaitForSingleObject(reader_.get(), timeoutMs) != WAIT_OBJECT_0) {
        TerminateThread(reader_.get(), 1);
        return false;
    }
    return true;
}

void SerialPort::ClosePort()
{
    bool ended = StopReader(kCloseWait);
    if (port_ != INVALID_HANDLE_VALUE && ended)
        CloseHandle(port_);
    // An abandoned reader may still read: its descriptor is left open.
    port_ = INVALID_HANDLE_VALUE;
}

void SerialPort::AppendDump(const char* bytes, std::size_t length)
{
    std::lock_guard lock(dumpLock_);
    std::FILE* f = std::fopen(dumpPath_.c_str(), "a+");
    if (!f)
        return;
    std::fwrite(bytes, 1, length, f);
    std::fclose(f);
}

DWORD SerialPort::ReaderMain(void* self) { return static_cast<SerialPort*>(self)->ReaderLoop(); }

DWORD SerialPort::ReaderLoop()
{
    char buffer[kReadChunk];
    while (true) {
        DWORD n = 0;
        if (!ReadFileInterruptible(port_, buffer, kReadChunk, &n, stop_.get())) {
            if (GetLastError() != static_cast<DWORD>(ERROR_OPERATION_ABORTED) && sink_)
                sink_->OnEnded();
            break;
        }
        if (n == 0) {
            if (sink_)
                sink_->OnIdle();
            continue;
        }
        if (!dumpPath_.empty())
            AppendDump(buffer, n);
        if (sink_)
            sink_->OnData(std::string(buffer, n));
    }
    return 0;
}

}  // namespace velmo::cellgate

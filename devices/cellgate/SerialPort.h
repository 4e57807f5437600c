// The GSM device's link to its modem: one serial port, a reader thread that
// hands on everything received as soon as it arrives, a lock that keeps
// writes whole, and an optional dump of all traffic.
//
// The reader reads in the "first byte" mode of the serial time-outs: each
// read returns with whatever bytes are there, so a delivery to the sink is
// one read's bytes, as they came (NULs included; the AT layer frames them
// into lines). A read that stays empty for kReaderTick calls the sink's
// OnIdle; a read error (the line hung up, the device went away) ends the
// reader and calls OnEnded. The dump receives every byte written and every
// byte the reader thread read, in the order they passed, without
// separators; the raw reads of ReadRaw are not dumped. The sink is called
// on the reader thread without any lock of this class held.
#pragma once

#include "platform/Serial.h"

#include <mutex>
#include <string>
#include <string_view>

namespace velmo::cellgate {

struct ISerialSink {
    // The bytes of one read, never empty.
    virtual void OnData(const std::string& bytes) = 0;
    // A read found nothing for kReaderTick.
    virtual void OnIdle() {}
    // The reader ended on a read error; nothing more will be read.
    virtual void OnEnded() {}

protected:
    ~ISerialSink() = default;
};

class SerialPort {
public:
    static constexpr std::size_t kFormatBuffer = 2048;
    static constexpr DWORD kReaderTick = 1000;

    SerialPort();
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens "COM<port>:"; true when a handle was obtained.
    bool OpenPort(unsigned port);
    // Opens "COM<n>:" or a device path; true when a handle was obtained.
    bool Open(const std::string& name);
    // BuildCommDCBW and SetCommState with the mode text; false when either fails.
    bool Configure(const std::u16string& commConfig);
    // The device's read and write time-outs for Open and ReadRaw; false
    // when they cannot be set.
    bool SetTimeouts();
    // The reader's time-outs: a read returns with the first bytes there, or
    // empty after kReaderTick; false when they cannot be set.
    bool SetReaderTimeouts();
    // Dumps, then writes under the write lock; the bytes written. A length
    // of 0 writes the text up to its first NUL. dumpAs, when given, is
    // what the dump receives instead of the bytes (a PIN masked).
    DWORD Write(const char* bytes, std::size_t length, std::string_view dumpAs = {});
    // printf into 2048 bytes, then Write; a line that does not fit (with its
    // terminating NUL) is refused: nothing is written and 0 returned.
    DWORD WriteFormatted(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // One read of up to size bytes, ended by the time-outs; not dumped.
    DWORD ReadRaw(char* buffer, DWORD size);
    void SetSink(ISerialSink* sink) { sink_ = sink; }
    bool StartReader();
    // false when the reader had to be abandoned after the time-out.
    bool StopReader(DWORD timeoutMs);
    void ClosePort();
    void AppendDump(const char* bytes, std::size_t length);
    void SetDumpPath(std::string path) { dumpPath_ = std::move(path); }
    bool IsOpen() const { return port_ != INVALID_HANDLE_VALUE; }
    // Signalled once the reader thread has ended (null before the first start).
    HANDLE ReaderThread() const { return reader_.get(); }

private:
    static DWORD ReaderMain(void* self);
    DWORD ReaderLoop();

    Handle reader_;
    Handle stop_{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    std::mutex writeLock_;
    ISerialSink* sink_ = nullptr;
    HANDLE port_ = INVALID_HANDLE_VALUE;
    std::mutex dumpLock_;
    std::string dumpPath_;
};

}  // namespace velmo::cellgate

#include "platform/RegistryValues.h"
#include "platform/Registry.h"
#include "platform/Serial.h"
#include "platform/TempRoot.h"
#include "platform/Text.h"

#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

void SetPortPath(const char16_t* key, const char16_t* name, const std::string& path)
{
    ASSERT_EQ(SetRegistryString(velmo::Hive::LocalMachine, key, name, velmo::Utf8ToUtf16(path)), ERROR_SUCCESS);
}

// A pseudo-terminal whose slave is registered as COM7.
class Pty {
public:
    Pty()
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(master_);
        unlockpt(master_);
        slave_ = ptsname(master_);
        SetPortPath(u"Software\\Norvane\\Velmo\\Ports", u"COM7", slave_);
    }
    ~Pty() { close(master_); }
    int master() const { return master_; }
    const std::string& slave() const { return slave_; }

private:
    int master_ = -1;
    std::string slave_;
};

HANDLE OpenCom7()
{
    return CreateFileW(u"COM7:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

struct ModeCase {
    const char* text;
    bool ok;
    DWORD baud;
    BYTE parity, data, stop;
};

void PrintTo(const ModeCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class ModeText : public ::testing::TestWithParam<ModeCase> {};

TEST_P(ModeText, ParsesBothFormsAndRefusesTheRest)
{
    const ModeCase& c = GetParam();
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    BOOL ok = BuildCommDCBW(velmo::Utf8ToUtf16(c.text).c_str(), &dcb);
    ASSERT_EQ(ok != FALSE, c.ok);
    if (!c.ok) {
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        return;
    }
    EXPECT_EQ(dcb.BaudRate, c.baud);
    EXPECT_EQ(dcb.Parity, c.parity);
    EXPECT_EQ(dcb.ByteSize, c.data);
    EXPECT_EQ(dcb.StopBits, c.stop);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ModeText,
    ::testing::Values(ModeCase{"96,n,8,1", true, 9600, NOPARITY, 8, ONESTOPBIT},
                      ModeCase{"19200,e,7,2", true, 19200, EVENPARITY, 7, TWOSTOPBITS},
                      ModeCase{"12,O,8,1", true, 1200, ODDPARITY, 8, ONESTOPBIT},
                      ModeCase{"19,M,7,1.5", true, 19200, MARKPARITY, 7, ONE5STOPBITS},
                      ModeCase{"115200,s,8,1", true, 115200, SPACEPARITY, 8, ONESTOPBIT},
                      ModeCase{"baud=9600 parity=n data=8 stop=1", true, 9600, NOPARITY, 8, ONESTOPBIT},
                      ModeCase{"baud=48 parity=E data=7 stop=2", true, 4800, EVENPARITY, 7, TWOSTOPBITS},
                      ModeCase{"", false, 0, 0, 0, 0}, ModeCase{"9601,n,8,1", false, 0, 0, 0, 0},
                      ModeCase{"96,x,8,1", false, 0, 0, 0, 0}, ModeCase{"96,n,9,1", false, 0, 0, 0, 0},
                      ModeCase{"96,n,8,3", false, 0, 0, 0, 0}, ModeCase{"96,n,8,1,x", false, 0, 0, 0, 0},
                      ModeCase{"baud=9600 parity=q", false, 0, 0, 0, 0}, ModeCase{"parity=n data=8", false, 0, 0, 0, 0},
                      ModeCase{"fast", false, 0, 0, 0, 0}));

TEST(Serial, NamesResolveThroughTheRegistryElseTtyS)
{
    TempRoot root;
    EXPECT_EQ(velmo::SerialDevicePath("COM3:"), root.path() + "/dev/ttyS2");
    EXPECT_EQ(velmo::SerialDevicePath("com12:"), root.path() + "/dev/ttyS11");
    SetPortPath(u"System\\Platform\\DosDevices", u"COM3", "/dev/ttyUSB0");
    EXPECT_EQ(velmo::SerialDevicePath("COM3:"), "/dev/ttyUSB0");
    SetPortPath(u"Software\\Norvane\\Velmo\\Ports", u"COM3", "/dev/ttyACM1");
    EXPECT_EQ(velmo::SerialDevicePath("COM3:"), "/dev/ttyACM1");
    for (const char* bad : {"COM0:", "COM3", "COMX:", "LPT1:", "COM:"})
        EXPECT_EQ(velmo::SerialDevicePath(bad), "") << bad;
}

TEST(Serial, PseudoTerminalOpensExclusivelyAndTakesTheLineSettings)
{
    TempRoot root;
    Pty pty;
    velmo::Handle port(OpenCom7());
    ASSERT_NE(port.get(), INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_EQ(OpenCom7(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(BuildCommDCBW(u"19200,e,7,2", &dcb));
    ASSERT_TRUE(SetCommState(port.get(), &dcb));
    int fd = open(pty.slave().c_str(), O_RDWR | O_NOCTTY);
    termios tio{};
    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    close(fd);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B19200));
    // A pseudo-terminal keeps its own framing (8 data bits, no parity); the
    // speed, raw mode and the absence of flow control show on it.
    EXPECT_FALSE(tio.c_cflag & CRTSCTS);
    EXPECT_FALSE(tio.c_lflag & ECHO);
}

TEST(Serial, ReadTimeoutsKeepTheirWindowsMeaning)
{
    TempRoot root;
    Pty pty;
    velmo::Handle port(OpenCom7());
    ASSERT_NE(port.get(), INVALID_HANDLE_VALUE);
    COMMTIMEOUTS t{100, 1, 100, 1, 1000};
    ASSERT_TRUE(SetCommTimeouts(port.get(), &t));
    char buffer[1024];
    for (DWORD size : {32u, 1024u}) {
        DWORD read = 99;
        auto start = Clock::now();
        ASSERT_TRUE(ReadFile(port.get(), buffer, size, &read, nullptr));
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        EXPECT_EQ(read, 0u);
        EXPECT_NEAR(ms, 100 + size, 20) << size;
    }
    // Two bytes, then silence: the interval ends the read long before the total.
    ASSERT_EQ(write(pty.master(), "ab", 2), 2);
    DWORD read = 0;
    auto start = Clock::now();
    ASSERT_TRUE(ReadFile(port.get(), buffer, 1024, &read, nullptr));
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_EQ(std::string(buffer, read), "ab");
    EXPECT_NEAR(ms, 100, 20);
    // A full buffer returns at once.
    ASSERT_EQ(write(pty.master(), "0123456789", 10), 10);
    ASSERT_TRUE(ReadFile(port.get(), buffer, 4, &read, nullptr));
    EXPECT_EQ(std::string(buffer, read), "0123");
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(port.get(), "AT\r", 3, &written, nullptr));
    EXPECT_EQ(written, 3u);
    char back[8] = {};
    EXPECT_EQ(::read(pty.master(), back, sizeof back), 3);
}

TEST(Serial, FirstByteModeReturnsWithWhatIsThere)
{
    TempRoot root;
    Pty pty;
    velmo::Handle port(OpenCom7());
    ASSERT_NE(port.get(), INVALID_HANDLE_VALUE);
    COMMTIMEOUTS t{0xFFFFFFFFu, 0xFFFFFFFFu, 300, 1, 1000};
    ASSERT_TRUE(SetCommTimeouts(port.get(), &t));
    char buffer[1024];
    DWORD read = 99;
    auto start = Clock::now();
    ASSERT_TRUE(ReadFile(port.get(), buffer, sizeof buffer, &read, nullptr));
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_EQ(read, 0u);
    EXPECT_NEAR(ms, 300, 40);
    // Bytes already there come back at once, without waiting for a silence.
    ASSERT_EQ(write(pty.master(), "+CSQ", 4), 4);
    start = Clock::now();
    ASSERT_TRUE(ReadFile(port.get(), buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(std::string(buffer, read), "+CSQ");
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(50));
    // A byte that arrives during the wait ends it.
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        EXPECT_EQ(write(pty.master(), "OK", 2), 2);
    });
    start = Clock::now();
    ASSERT_TRUE(ReadFile(port.get(), buffer, sizeof buffer, &read, nullptr));
    ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    writer.join();
    EXPECT_EQ(std::string(buffer, read), "OK");
    EXPECT_LT(ms, 250);
}

TEST(Serial, StopEventEndsARead)
{
    TempRoot root;
    Pty pty;
    velmo::Handle port(OpenCom7());
    ASSERT_NE(port.get(), INVALID_HANDLE_VALUE);
    COMMTIMEOUTS none{};  // no time-outs: only data or the stop ends the read
    ASSERT_TRUE(SetCommTimeouts(port.get(), &none));
    velmo::Handle stop(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        SetEvent(stop.get());
    });
    char buffer[16];
    DWORD read = 0;
    auto start = Clock::now();
    EXPECT_FALSE(velmo::ReadFileInterruptible(port.get(), buffer, sizeof buffer, &read, stop.get()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    stopper.join();
    EXPECT_EQ(WaitForSingleObject(stop.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));  // the stop was taken
}

}  // namespace

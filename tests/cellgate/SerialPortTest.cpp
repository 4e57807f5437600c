// The GSM device's serial link over a bare pseudo-terminal.
#include "devices/cellgate/SerialPort.h"
#include "platform/RegistryValues.h"
#include "platform/Registry.h"
#include "platform/TempRoot.h"
#include "platform/Text.h"

#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <stdlib.h>
#include <thread>
#include <unistd.h>

using velmo::cellgate::SerialPort;

namespace {

class Collector final : public velmo::cellgate::ISerialSink {
public:
    void OnData(const std::string& text) override
    {
        std::lock_guard lock(mu_);
        deliveries_.push_back(text);
        cv_.notify_all();
    }
    std::vector<std::string> WaitFor(std::size_t n)
    {
        std::unique_lock lock(mu_);
        cv_.wait_for(lock, std::chrono::seconds(5), [&] { return deliveries_.size() >= n; });
        return deliveries_;
    }

    void OnIdle() override
    {
        std::lock_guard lock(mu_);
        ++idle_;
        cv_.notify_all();
    }
    void OnEnded() override
    {
        std::lock_guard lock(mu_);
        ended_ = true;
    }
    bool WaitForIdle(int n)
    {
        std::unique_lock lock(mu_);
        return cv_.wait_for(lock, std::chrono::seconds(5), [&] { return idle_ >= n; });
    }
    bool Ended()
    {
        std::lock_guard lock(mu_);
        return ended_;
    }

private:
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<std::string> deliveries_;
    int idle_ = 0;
    bool ended_ = false;
};

struct PtyPort {
    TempRoot root;
    int master = -1;
    SerialPort port;
    PtyPort()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(master);
        unlockpt(master);
        EXPECT_EQ(SetRegistryString(velmo::Hive::LocalMachine, u"Software\\Norvane\\Velmo\\Ports", u"COM3",
                                    velmo::Utf8ToUtf16(ptsname(master))),
                  ERROR_SUCCESS);
        EXPECT_TRUE(port.OpenPort(3));
        EXPECT_TRUE(port.Configure(u"96,n,8,1"));
        EXPECT_TRUE(port.SetTimeouts());
    }
    ~PtyPort()
    {
        port.ClosePort();
        if (master >= 0)
            close(master);
    }
    void Feed(const char* text) { ASSERT_EQ(write(master, text, strlen(text)), static_cast<ssize_t>(strlen(text))); }
};

TEST(SerialPort, EachReadIsHandedOnAsItCameNulsIncluded)
{
    PtyPort p;
    Collector sink;
    p.port.SetSink(&sink);
    ASSERT_TRUE(p.port.SetReaderTimeouts());
    ASSERT_TRUE(p.port.StartReader());
    p.Feed("\r\nO");
    EXPECT_EQ(sink.WaitFor(1), std::vector<std::string>{"\r\nO"});  // no line end needed, no silence awaited
    ASSERT_EQ(write(p.master, "K\0\r\n", 4), 4);
    EXPECT_EQ(sink.WaitFor(2).back(), std::string("K\0\r\n", 4));
}

TEST(SerialPort, AQuietLineTicksAndAHangUpEndsTheReader)
{
    PtyPort p;
    Collector sink;
    p.port.SetSink(&sink);
    ASSERT_TRUE(p.port.SetReaderTimeouts());
    ASSERT_TRUE(p.port.StartReader());
    EXPECT_TRUE(sink.WaitForIdle(1));
    close(p.master);
    p.master = -1;
    ASSERT_EQ(WaitForSingleObject(p.port.ReaderThread(), 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(sink.Ended());
}

TEST(SerialPort, DumpHoldsWritesAndReaderReadsInOrderButNotRawReads)
{
    PtyPort p;
    std::string dump = p.root.path() + "/dump";
    p.port.SetDumpPath(dump);
    p.Feed("raw echo\r\n");
    char raw[32];
    EXPECT_EQ(p.port.ReadRaw(raw, sizeof raw), 10u);
    Collector sink;
    p.port.SetSink(&sink);
    ASSERT_TRUE(p.port.StartReader());
    EXPECT_EQ(p.port.Write("AT+CPIN?\r", 0), 9u);
    char back[16];
    EXPECT_EQ(read(p.master, back, sizeof back), 9);
    p.Feed("\r\n+CPIN: READY\r\n");
    sink.WaitFor(1);
    EXPECT_EQ(p.port.WriteFormatted("AT+CMGR=%d\r", 3), 10u);
    EXPECT_EQ(read(p.master, back, sizeof back), 10);
    std::ifstream in(dump);
    std::string text(std::istreambuf_iterator<char>(in), {});
    EXPECT_EQ(text, "AT+CPIN?\r\r\n+CPIN: READY\r\nAT+CMGR=3\r");
}

TEST(SerialPort, OverlongFormattedLineIsRefused)
{
    PtyPort p;
    std::string big(3000, 'A');
    EXPECT_EQ(p.port.WriteFormatted("%s\r", big.c_str()), 0u);
    std::string fits(2046, 'B');
    EXPECT_EQ(p.port.WriteFormatted("%s\r", fits.c_str()), 2047u);
}

TEST(SerialPort, CloseAfterTheReaderEndedReturnsAtOnce)
{
    PtyPort p;
    ASSERT_TRUE(p.port.StartReader());
    close(p.master);  // the line hangs up: the reader's read fails and it ends
    p.master = -1;
    ASSERT_EQ(WaitForSingleObject(p.port.ReaderThread(), 5000), WAIT_OBJECT_0);
    auto start = std::chrono::steady_clock::now();
    p.port.ClosePort();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_FALSE(p.port.IsOpen());
}

}  // namespace

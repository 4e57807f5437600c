#include "platform/EventLog.h"
#include "platform/Text.h"

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace {

// Runs fn with standard error sent to a file and returns what it wrote.
template <class Fn>
std::string CaptureStderr(Fn fn)
{
    char path[] = "/tmp/velmo-stderr-XXXXXX";
    int fd = mkstemp(path);
    int saved = dup(2);
    dup2(fd, 2);
    fn();
    dup2(saved, 2);
    close(saved);
    close(fd);
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    unlink(path);
    return s.str();
}

void Report(HANDLE src, WORD type, const char16_t* text)
{
    LPCWSTR strings[] = {text};
    ASSERT_TRUE(ReportEventW(src, type, 0, 1, nullptr, 1, 0, strings, nullptr));
}

TEST(EventLog, ConsoleMirrorShowsTypeAndPeriod)
{
    HANDLE src = RegisterEventSourceW(nullptr, u"velmosvc");
    ASSERT_NE(src, nullptr);
    velmo::SetEventLogConsoleMirror(true);
    std::string out = CaptureStderr([&] {
        Report(src, EVENTLOG_INFORMATION_TYPE, u"service is stopped");
        Report(src, EVENTLOG_ERROR_TYPE, u"All devices has been terminated. Service terminates.");
        Report(src, EVENTLOG_WARNING_TYPE, u"Device [GSM] has terminated unexpectedly. Attempting restart");
    });
    velmo::SetEventLogConsoleMirror(false);
    EXPECT_EQ(out, "velmosvc: information: service is stopped.\n"
                   "velmosvc: error: All devices has been terminated. Service terminates..\n"
                   "velmosvc: warning: Device [GSM] has terminated unexpectedly. Attempting restart.\n");
    std::string quiet = CaptureStderr([&] { Report(src, EVENTLOG_INFORMATION_TYPE, u"not mirrored"); });
    EXPECT_EQ(quiet, "");
    EXPECT_TRUE(DeregisterEventSource(src));
}

// A value from outside (a file name, a recipient, a modem line) cannot
// forge a line of its own, on the console or in the log.
TEST(EventLog, ControlCharactersNeverStartALine)
{
    HANDLE src = RegisterEventSourceW(nullptr, u"velmosvc");
    ASSERT_NE(src, nullptr);
    velmo::SetEventLogConsoleMirror(true);
    std::string out = CaptureStderr([&] {
        Report(src, EVENTLOG_ERROR_TYPE, u"Failed loading velmo file: [x\nvelmosvc: information: Service started]");
        velmo::ReportDebugText(u"velmosvc", "modem said \r\n+CMTI: \"SM\",1\x1b");
    });
    velmo::SetEventLogConsoleMirror(false);
    EXPECT_EQ(out, "velmosvc: error: Failed loading velmo file: [x\\nvelmosvc: information: Service started].\n"
                   "velmosvc: debug: modem said \\r\\n+CMTI: \"SM\",1\\x1B.\n");
    EXPECT_TRUE(DeregisterEventSource(src));

    struct Case {
        std::string in, out;
    };
    for (const Case& c :
         {Case{"plain", "plain"}, Case{std::string("a\0b", 3), "a\\x00b"}, Case{"tab\there", "tab\\there"},
          Case{"del\x7f", "del\\x7F"}, Case{"back\\slash \xC3\xA9", "back\\slash \xC3\xA9"}})
        EXPECT_EQ(velmo::EscapeControls(c.in), c.out) << c.out;
}

TEST(EventLog, RefusesRemoteServersAndBadHandles)
{
    EXPECT_EQ(RegisterEventSourceW(u"otherhost", u"velmosvc"), nullptr);
    EXPECT_EQ(RegisterEventSourceW(nullptr, u""), nullptr);
    EXPECT_FALSE(ReportEventW(nullptr, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 0, 0, nullptr, nullptr));
}

}  // namespace

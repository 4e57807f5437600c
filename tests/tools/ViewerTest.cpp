// msgview: the dialog driven in process, the text listing a script sees,
// and the terminal dialog a person sees (in tmux).
#include "platform/Capture.h"
#include "platform/Dialog.h"
#include "platform/SystemTime.h"
#include "platform/TempRoot.h"
#include "platform/Text.h"
#include "service/EventCapture.h"
#include "messagefile/MessageRecord.h"
#include "tools/viewer/MessageViewer.h"

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <filesystem>

namespace {

using velmo::Bstr;
using velmo::messagefile::MessageRecord;

SYSTEMTIME At(WORD hour, WORD minute)
{
    SYSTEMTIME t{};
    t.wYear = 2026, t.wMonth = 12, t.wDay = 8, t.wHour = hour, t.wMinute = minute, t.wSecond = 5;
    return t;
}

std::string Local(const SYSTEMTIME& utc)
{
    SYSTEMTIME local{};
    SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.wYear, local.wMonth, local.wDay,
                  local.wHour, local.wMinute, local.wSecond);
    return text;
}

struct Case {
    const char* name;
    LONG status;
    const char16_t* from;
    const char16_t* to;
    const char16_t* statusText;
    std::string word, date;
};

std::string Save(const std::string& path, const Case& c)
{
    auto* r = new MessageRecord();
    r->Initialise();
    r->Created = At(9, 0);
    r->Completed = At(9, 1);
    r->Received = At(9, 2);
    if (c.status == DELIVERED)
        r->Discharged = At(9, 3);  // the network's report says when
    r->Status = c.status;
    r->RetryCount = 3;
    if (c.from)
        r->From = Bstr(c.from);
    if (c.to)
        r->To = Bstr(c.to);
    r->Body = Bstr(u"Disk usage on db1\r\nis above 90%");
    if (c.statusText)
        r->StatusText = Bstr(c.statusText);
    EXPECT_EQ(r->SaveToFile(velmo::Utf8ToUtf16(path)), S_OK);
    r->Release();
    return path;
}

TEST(Viewer, ListsEachStatusWithItsDateAndTheFields)
{
    TempRoot root;
    const Case cases[] = {
        {"queued", 1, nullptr, u"+4917", nullptr, "QUEUED", Local(At(9, 0))},
        {"sent", 2, nullptr, u"+4917", u"Modem: sent", "SENT", Local(At(9, 1))},
        {"failed", 3, nullptr, u"+4917", u"Loopback retry\r\nAttempted too many retries", "FAILED", Local(At(9, 1))},
        {"received", 4, u"+4915", nullptr, nullptr, "RECEIVED", Local(At(9, 2))},
        {"delivered", 5, nullptr, u"+4917", u"\r\nDelivered to the phone", "DELIVERED", Local(At(9, 3))},
        {"undelivered", 6, nullptr, u"+4917", u"Not delivered", "UNDELIVERED", Local(At(9, 1))},
        {"seven", 7, u"+4915", u"+4917", nullptr, "", ""},
    };
    for (const auto& c : cases) {
        std::string path = Save(root.path() + "/" + c.name + ".velmo", c);
        int code = -1;
        std::string out = Capture("'" VELMO_MSGVIEW "' " + path, &code);
        EXPECT_EQ(code, 0);
        std::string expected = "Status: " + c.word + "\nRetry attempts: 3\nStatus text: ";
        if (c.statusText) {
            std::string text = velmo::Utf16ToUtf8(c.statusText);
            auto cut = text.find("\r\n");
            expected += cut == std::string::npos ? text : text.substr(0, cut) + "\n  " + text.substr(cut + 2);
        }
        expected += "\nDate / Time: " + c.date + "\nFrom: " + (c.from ? velmo::Utf16ToUtf8(c.from) : "") +
                    "\nTo: " + (c.to ? velmo::Utf16ToUtf8(c.to) : "") + "\nBody: Disk usage on db1\n  is above 90%\n";
        EXPECT_EQ(out, expected) << c.name;
    }
}

TEST(Viewer, TakesTheCommandLineWholeWithOrWithoutQuotes)
{
    TempRoot root;
    std::filesystem::create_directories(root.path() + "/with space");
    std::string path = Save(root.path() + "/with space/a file.velmo", {"", 2, nullptr, u"+49", nullptr, "", ""});
    for (const std::string& arg : {"'\"" + path + "\"'", path}) {
        std::string out = Capture("'" VELMO_MSGVIEW "' " + arg + " 2>&1");
        EXPECT_EQ(out.rfind("Status: SENT\n", 0), 0u) << arg << "\n" << out;
    }
    EXPECT_EQ(velmo::viewer::PathFromCommandLine("\"x\""), "x");
    EXPECT_EQ(velmo::viewer::PathFromCommandLine("\"\""), "\"\"");
    int code = -1;
    EXPECT_EQ(Capture("'" VELMO_MSGVIEW "'", &code), "");
    EXPECT_EQ(code, 0);
}

TEST(Viewer, AMissingFileGivesTheErrorBoxAfterItsRetries)
{
    auto start = std::chrono::steady_clock::now();
    int code = -1;
    std::string out = Capture("'" VELMO_MSGVIEW "' /nonexistent/x.velmo 2>&1", &code);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(code, 1);  // the error box is shown, and a script learns it too
    EXPECT_EQ(out.rfind("Velmo Viewer Error: Error reading the specified file\n", 0), 0u) << out;
    EXPECT_NE(out.find("Status: \n"), std::string::npos);
    EXPECT_GE(took, std::chrono::milliseconds(800));  // three attempts, 300 ms apart
}

TEST(Viewer, TheDialogEndsOnClose)
{
    TempRoot root;
    std::string path = Save(root.path() + "/m.velmo", {"", 4, u"+4915", nullptr, nullptr, "", ""});
    bool ran = false;
    velmo::SetDialogDriver([&](HWND dialog) {
        char text[64];
        GetDlgItemTextA(dialog, 1000, text, sizeof text);
        EXPECT_STREQ(text, "RECEIVED");
        GetDlgItemTextA(dialog, 1005, text, sizeof text);
        EXPECT_STREQ(text, "3");
        velmo::PressDialogButton(dialog, IDOK);
        ran = true;
    });
    velmo::viewer::ShowMessage(path);
    velmo::SetDialogDriver(nullptr);
    EXPECT_TRUE(ran);
}

// A person's view: the dialog in a 100 x 40 terminal, closed with Esc.
TEST(Viewer, ShowsTheDialogOnATerminal)
{
    if (std::system("tmux -V >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "tmux is not installed";
    TempRoot root;
    std::string path =
        Save(root.path() + "/m.velmo", {"", 3, nullptr, u"+4917", u"Attempted too many retries", "", ""});
    std::string session = "velmo-viewer-" + std::to_string(getpid());
    std::string done = root.path() + "/done";
    ASSERT_EQ(std::system(("tmux new-session -d -s " + session + " -x 100 -y 40 \"'" VELMO_MSGVIEW "' " + path +
                           "; touch " + done + "; sleep 30\"")
                              .c_str()),
              0);
    // The dialog is drawn field by field: the screen is read until it is whole.
    const char* const texts[] = {"Velmo - Message Viewer",
                                 "Status",
                                 "FAILED",
                                 "Retry attempts",
                                 "Attempted too many",
                                 "Date / Time",
                                 "From",
                                 "+4917",
                                 "Body",
                                 "Disk usage on db1",
                                 "is above 90%",
                                 "[ Close ]"};
    std::string screen;
    EXPECT_TRUE(WaitUntil([&] {
        screen = Capture("tmux capture-pane -p -t " + session);
        return std::all_of(std::begin(texts), std::end(texts),
                           [&](const char* t) { return screen.find(t) != std::string::npos; });
    })) << screen;
    EXPECT_EQ(std::system(("tmux send-keys -t " + session + " Escape").c_str()), 0);
    EXPECT_TRUE(WaitUntil([&] { return std::filesystem::exists(done); }));
    // The session may have ended with its program already.
    (void)!std::system(("tmux kill-session -t " + session + " 2>/dev/null").c_str());
}

}  // namespace

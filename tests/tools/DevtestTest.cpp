// devtest driven in process (the headless dialog) over a test root with the
// loopback device, and in a terminal (tmux) as a person uses it.
#include "platform/RegistryValues.h"
#include "platform/Capture.h"
#include "platform/Dialog.h"
#include "platform/Registry.h"
#include "service/EventCapture.h"
#include "service/ServiceRoot.h"
#include "tools/devtest/TestDevice.h"

#include <gtest/gtest.h>

namespace {

using velmo::devtest::IDC_BODY;
using velmo::devtest::IDC_DEVICE;
using velmo::devtest::IDC_LOG;
using velmo::devtest::IDC_SEND;
using velmo::devtest::IDC_TO;

void SetRoot(const std::string& root)
{
    ASSERT_EQ(
        SetRegistryString(velmo::Hive::LocalMachine, u"Software\\Norvane\\Velmo", u"root", velmo::Utf8ToUtf16(root)),
        ERROR_SUCCESS);
}

std::string Text(HWND dialog, int id)
{
    char buffer[8192];
    GetDlgItemTextA(dialog, id, buffer, sizeof buffer);
    return buffer;
}

bool Enabled(HWND dialog, int id)
{
    HWND c = GetDlgItem(dialog, id);
    BOOL wasDisabled = EnableWindow(c, TRUE);
    EnableWindow(c, !wasDisabled);
    return !wasDisabled;
}

struct Seen {
    std::vector<std::string> devices;
    INT_PTR selected = -2;
    bool sendEnabled = false;
    std::string log;
    std::string boxes;
};

// Runs the dialog headless; act runs before it is closed.
Seen RunDialog(const std::function<void(HWND)>& act = nullptr)
{
    Seen seen;
    velmo::SetDialogDriver([&](HWND dialog) {
        HWND list = GetDlgItem(dialog, IDC_DEVICE);
        char name[256];
        for (INT_PTR i = 0; i < SendMessageA(list, CB_GETCOUNT, 0, 0); ++i) {
            SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(name));
            seen.devices.push_back(name);
        }
        seen.selected = SendMessageA(list, CB_GETCURSEL, 0, 0);
        seen.sendEnabled = Enabled(dialog, IDC_SEND);
        if (act)
            act(dialog);
        seen.log = Text(dialog, IDC_LOG);
    });
    std::string err = CaptureEvents([] { velmo::devtest::RunTestDevice(); });
    velmo::SetDialogDriver(nullptr);
    seen.boxes = err;
    return seen;
}

class Devtest : public ::testing::Test {
protected:
    ServiceRoot root;
};

TEST_F(Devtest, SetUpProblemsShowTheirMessageBoxes)
{
    Seen none = RunDialog();
    EXPECT_EQ(none.boxes, "Error: Velmo is not installed on this computer!\n");
    EXPECT_FALSE(none.sendEnabled);

    SetRoot(root.folderPath(""));
    EXPECT_EQ(RunDialog().boxes, "Error: config.xml is invalid\n");  // missing
    std::ofstream(root.folderPath("") + "config.xml") << "<velmo><devices>";
    EXPECT_EQ(RunDialog().boxes, "Error: config.xml is invalid\n");  // not well-formed

    root.WriteConfig("");
    Seen empty = RunDialog();
    EXPECT_EQ(empty.boxes, "");
    EXPECT_TRUE(empty.devices.empty());
    EXPECT_FALSE(empty.sendEnabled);
}

TEST_F(Devtest, AnEntryWithoutANameEndsTheList)
{
    SetRoot(root.folderPath(""));
    root.WriteConfig(Loopback(1, "", "First") +
                     "<device status='0' id='2' clsid='{A12F36AA-5B02-4D44-AF51-8B3E6B864F17}'/>" +
                     Loopback(3, "", "Third"));
    Seen seen = RunDialog();
    EXPECT_EQ(seen.devices, std::vector<std::string>{"First"});
    EXPECT_EQ(seen.selected, -1);
    EXPECT_FALSE(seen.sendEnabled);
}

TEST_F(Devtest, SendRunsTheDeviceWithOneMessageEachTime)
{
    SetRoot(root.folderPath(""));
    std::string deviceLog = root.path() + "/loop.log";
    root.WriteConfig(Loopback(1, Param("log", deviceLog), "Loop"));
    Seen seen = RunDialog([](HWND dialog) {
        SetDlgItemTextA(dialog, IDC_TO, "+4917012345");
        SetDlgItemTextA(dialog, IDC_BODY, "first line\r\nsecond");
        velmo::PressDialogButton(dialog, IDC_SEND);
        velmo::PressDialogButton(dialog, IDC_SEND);
    });
    EXPECT_EQ(seen.devices, std::vector<std::string>{"Loop"});
    EXPECT_EQ(seen.selected, 0);
    EXPECT_TRUE(seen.sendEnabled);
    const std::string one = "- - - - - - - - - -\r\nTrying to send using device : [Loop]\r\n"
                            "CoCreateInstance returned 0x00000000\r\n"
                            "QueryInterface(IPersistXMLParam) returned 0x00000000\r\n"
                            "IPersistXMLParam::Load returned 0x00000000\r\n"
                            "IVelmoDevice::Open() returned 0x00000000\r\n"
                            "Calling IVelmoDevice::Run(...)\r\n"
                            "Device callbacks IVelmo_Q::WaitForMsg()\r\nIVelmo_Q::WaitForMsg() returns 0x00000000\r\n"
                            "Device callbacks IVelmo_Q::WaitForMsg()\r\nIVelmo_Q::WaitForMsg() returns 0x80004005\r\n"
                            "IVelmoDevice::Run(...) returned 0x00000000\r\n"
                            "IVelmoDevice::Close(...) returned 0x00000000\r\n";
    EXPECT_EQ(seen.log, one + one);
    // Two device objects, each given the message under a new identifier.
    std::ifstream in(deviceLog);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 2u);
    for (const auto& line : lines)
        EXPECT_NE(line.find("\t+4917012345\tfirst line\\r\\nsecond\t"), std::string::npos) << line;
    EXPECT_NE(lines[0].substr(0, 38), lines[1].substr(0, 38));
}

TEST_F(Devtest, AFailedOpenLeavesTheErrorDescriptionWithoutALineEnd)
{
    SetRoot(root.folderPath(""));
    root.WriteConfig(Loopback(1, Param("fail", "open"), "Broken"));
    Seen seen = RunDialog([](HWND dialog) {
        velmo::PressDialogButton(dialog, IDC_SEND);
        velmo::PressDialogButton(dialog, velmo::devtest::IDC_CLEARALL);
        velmo::PressDialogButton(dialog, IDC_SEND);
    });
    EXPECT_TRUE(
        seen.log.ends_with("IVelmoDevice::Open() returned 0x80020009\r\nISupportErrorInfo:[Loopback Open refused]"))
        << seen.log;
    EXPECT_EQ(seen.log.find("Calling"), std::string::npos);
    EXPECT_EQ(seen.log.rfind("- - - -", 0), 0u);  // Clear All emptied the first Send's log
}

TEST(DevtestProgram, NeedsATerminal)
{
    int code = 0;
    std::string out = Capture("'" VELMO_DEVTEST "' </dev/null 2>&1", &code);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(out, "devtest: needs a terminal (run it in one, or over ssh -t)\n");
}

// In a 100 x 40 terminal: choose nothing, type To and a two-line Body, Send.
TEST(DevtestProgram, WorksForAPersonInATerminal)
{
    if (std::system("tmux -V >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "tmux is not installed";
    ServiceRoot root;
    SetRoot(root.folderPath(""));
    root.WriteConfig(Loopback(1, "", "Loop"));
    std::string session = "velmo-devtest-" + std::to_string(getpid());
    std::string done = root.path() + "/done";
    ASSERT_EQ(std::system(("tmux new-session -d -s " + session + " -x 100 -y 40 \"VELMO_SYSROOT='" + root.path() +
                           "' '" VELMO_DEVTEST "'; touch " + done + "; sleep 30\"")
                              .c_str()),
              0);
    std::string screen;
    auto shows = [&](const std::string& text) {
        return WaitUntil([&] {
            screen = Capture("tmux capture-pane -p -t " + session);
            return screen.find(text) != std::string::npos;
        });
    };
    ASSERT_TRUE(shows("[ Send ]")) << screen;
    for (const char* text :
         {"Velmo Test Device", "Device", "Loop", "To", "Body", "Log", "[ Clear All ]", "[ Clear Log ]", "[ Exit ]"})
        EXPECT_NE(screen.find(text), std::string::npos) << text << "\n" << screen;
    auto keys = [&](const std::string& k) {
        EXPECT_EQ(std::system(("tmux send-keys -t " + session + " " + k).c_str()), 0) << k;
    };
    keys("+4917012345 Tab");          // the focus starts in To
    keys("line-one Enter line-two");  // Enter in Body is a new line
    EXPECT_TRUE(shows("line-two")) << screen;
    EXPECT_NE(screen.find("line-one"), std::string::npos);
    EXPECT_EQ(screen.find("Trying to send"), std::string::npos);  // Enter did not press Send
    keys("Tab Tab Enter");                                        // Body -> Log -> Send
    EXPECT_TRUE(shows("IVelmoDevice::Close(...) returned 0x00000000")) << screen;
    EXPECT_NE(screen.find("IVelmo_Q::WaitForMsg() returns 0x80004005"), std::string::npos) << screen;
    keys("Escape");
    EXPECT_TRUE(WaitUntil([&] { return std::filesystem::exists(done); }));
    // The session may have ended with its program already.
    (void)!std::system(("tmux kill-session -t " + session + " 2>/dev/null").c_str());
}

}  // namespace

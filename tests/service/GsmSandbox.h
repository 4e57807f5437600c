// velmosvc with the GSM device on modemsim, in a system root made by
// scripts/sandbox: the modem's tty linked at dev/ttyS0 (COM1:), its
// transcript and control FIFO in the root, and helpers to queue messages,
// read the queue folders and stop the service.
#pragma once

#include "platform/Text.h"
#include "platform/WaitUntil.h"
#include "service/Program.h"
#include "messagefile/MessageRecord.h"
#include "platform/SystemTime.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <string>
#include <vector>

class GsmSandbox {
public:
    // sandbox: further arguments of scripts/sandbox ("--param StatusReport=1").
    explicit GsmSandbox(const std::vector<std::string>& modem, const std::string& cnmi = "1,2", int retries = 3,
                        const std::string& sandbox = "")
    {
        char tmpl[] = "/tmp/velmo-gsm-XXXXXX";
        dir_ = mkdtemp(tmpl);
        setenv("VELMO_SYSROOT", dir_.c_str(), 1);
        std::string cmd = "VELMO_BUILD_DIR='" + std::string(VELMO_BUILD_DIR) + "' '" + VELMO_SANDBOX + "' '" + dir_ +
                          "' --device gsm --retries " + std::to_string(retries) + " --cnmi '" + cnmi + "' " + sandbox +
                          " >/dev/null";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        transcript_ = dir_ + "/transcript";
        control_ = dir_ + "/control";
        std::string sim = std::string(VELMO_MODEMSIM) + " --link=" + dir_ + "/dev/ttyS0 --transcript=" + transcript_ +
                          " --control=" + control_;
        for (auto& o : modem)
            sim += " '" + o + "'";
        simPid_ = fork();
        if (simPid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives a test that crashed
            execl("/bin/sh", "sh", "-c", ("exec " + sim + " >/dev/null").c_str(), nullptr);
            _exit(127);
        }
        EXPECT_TRUE(WaitUntil([&] { return std::filesystem::exists(control_); }));
    }
    ~GsmSandbox()
    {
        kill(simPid_, SIGTERM);
        waitpid(simPid_, nullptr, 0);
        unsetenv("VELMO_SYSROOT");
        std::filesystem::remove_all(dir_);
    }
    const std::string& dir() const { return dir_; }
    std::string Folder(const std::string& f) const { return dir_ + "/var/lib/velmo/" + f + "/"; }
    std::vector<std::string> Files(const std::string& f) const
    {
        std::vector<std::string> out;
        std::error_code ec;
        for (auto& e : std::filesystem::directory_iterator(Folder(f), ec))
            if (e.is_regular_file() && e.path().extension() == ".velmo")
                out.push_back(e.path().string());
        return out;
    }
    // Lines of the modem's transcript equal to line.
    int Count(const std::string& line) const
    {
        std::ifstream in(transcript_);
        int n = 0;
        for (std::string l; std::getline(in, l);)
            n += l == line;
        return n;
    }
    // Lines of the modem's transcript that begin with prefix.
    int CountPrefix(const std::string& prefix) const
    {
        std::ifstream in(transcript_);
        int n = 0;
        for (std::string l; std::getline(in, l);)
            n += l.rfind(prefix, 0) == 0;
        return n;
    }
    std::string Transcript() const
    {
        std::ifstream in(transcript_);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void Control(const std::string& line) const { std::ofstream(control_) << line << "\n"; }
    // A message file dropped into pickup/, as a client program would.
    void Drop(const std::u16string& to, const std::u16string& body) const { Write(to, body, "pickup"); }
    // A message file left in out/, as a service that stopped would leave it.
    // ageSeconds: how long ago it was queued.
    void Queue(const std::u16string& to, const std::u16string& body, int ageSeconds = 0) const
    {
        Write(to, body, "out", ageSeconds);
    }

private:
    void Write(const std::u16string& to, const std::u16string& body, const std::string& folder,
               int ageSeconds = 0) const
    {
        auto* r = new velmo::messagefile::MessageRecord();
        r->Initialise();
        if (ageSeconds) {
            double now = 0;
            SystemTimeToVariantTime(&r->Created, &now);
            VariantTimeToSystemTime(now - ageSeconds / 86400.0, &r->Created);
        }
        r->To = velmo::Bstr(to);
        r->Body = velmo::Bstr(body);
        std::string tmp = dir_ + "/drop.tmp";
        EXPECT_EQ(r->SaveToFile(velmo::Utf8ToUtf16(tmp)), S_OK);
        std::filesystem::rename(tmp, Folder(folder) + velmo::Utf16ToUtf8(r->FileName()));
        r->Release();
    }

    std::string dir_, transcript_, control_;
    pid_t simPid_ = -1;
};

inline velmo::messagefile::MessageRecord* ReadMessage(const std::string& path)
{
    auto* r = new velmo::messagefile::MessageRecord();
    EXPECT_EQ(r->LoadFromFile(velmo::Utf8ToUtf16(path)), S_OK) << path;
    return r;
}

// SIGTERM once the service has taken the signal over; it must end with 0.
inline void StopService(Program& service)
{
    ASSERT_TRUE(service.WaitUntilBlocks(SIGTERM));
    kill(service.pid(), SIGTERM);
    EXPECT_EQ(service.Wait(), 0) << service.Err();
}

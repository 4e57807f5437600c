// modemsim for tests: started as a child with its behaviour options, its
// tty linked in a temporary system root and that link registered as COM<n>
// (so a replugged line is found again), its transcript and control FIFO in
// that root.
#pragma once

#include "platform/RegistryValues.h"
#include "platform/Registry.h"
#include "platform/TempRoot.h"
#include "platform/WaitUntil.h"
#include "platform/Text.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

class ModemSim {
public:
    explicit ModemSim(std::vector<std::string> options, unsigned com = 5) : com_(com)
    {
        transcript_ = root_.path() + "/transcript";
        control_ = root_.path() + "/control";
        link_ = root_.path() + "/tty";
        options.push_back("--link=" + link_);
        options.push_back("--transcript=" + transcript_);
        options.push_back("--control=" + control_);
        int out[2];
        EXPECT_EQ(pipe(out), 0);
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives a test that crashed
            dup2(out[1], 1);
            close(out[0]);
            std::vector<char*> argv{const_cast<char*>(VELMO_MODEMSIM)};
            for (auto& o : options)
                argv.push_back(o.data());
            argv.push_back(nullptr);
            execv(VELMO_MODEMSIM, argv.data());
            _exit(127);
        }
        close(out[1]);
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n')
            tty_ += c;
        close(out[0]);
        std::u16string name = u"COM" + velmo::Utf8ToUtf16(std::to_string(com));
        (void)SetRegistryString(velmo::Hive::LocalMachine, u"Software\\Norvane\\Velmo\\Ports", name,
                                velmo::Utf8ToUtf16(link_));  // a port that is not mapped fails the test that opens it
    }
    ~ModemSim()
    {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    const std::string& tty() const { return tty_; }
    // The link to the tty, as a by-id path names a modem.
    const std::string& link() const { return link_; }
    unsigned com() const { return com_; }
    std::vector<std::string> Transcript() const
    {
        std::vector<std::string> lines;
        std::ifstream in(transcript_);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    int Count(const std::string& line) const
    {
        int n = 0;
        for (auto& l : Transcript())
            n += l == line;
        return n;
    }
    int CountPrefix(const std::string& prefix) const
    {
        int n = 0;
        for (auto& l : Transcript())
            n += l.rfind(prefix, 0) == 0;
        return n;
    }
    void Send(const std::string& line) const
    {
        int fd = open(control_.c_str(), O_WRONLY);
        std::string text = line + "\n";
        EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(fd);
    }
    const std::string& rootPath() const { return root_.path(); }

private:
    TempRoot root_;
    unsigned com_;
    pid_t pid_ = -1;
    std::string tty_, link_, transcript_, control_;
};

// velmosvc run as a child process for end-to-end tests: arguments and
// extra environment, standard output and error in files, a wait with a
// deadline, and a poll for the moment it has taken over a signal.
#pragma once

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

// A running velmosvc with its standard output and error in files.
class Program {
public:
    Program(std::vector<std::string> args, std::vector<std::pair<std::string, std::string>> env = {})
    {
        char tmpl[] = "/tmp/velmosvc-out-XXXXXX";
        dir_ = mkdtemp(tmpl);
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives a test that crashed
            int out = open((dir_ + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int err = open((dir_ + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(out, 1);
            dup2(err, 2);
            for (auto& [k, v] : env)
                setenv(k.c_str(), v.c_str(), 1);
            std::vector<char*> argv{const_cast<char*>(VELMO_SVC)};
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(VELMO_SVC, argv.data());
            _exit(127);
        }
    }
    ~Program()
    {
        if (pid_ > 0 && !waited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        std::filesystem::remove_all(dir_);
    }
    pid_t pid() const { return pid_; }
    // The exit code, or -1 when the program did not end within the deadline
    // or ended by a signal.
    int Wait(std::chrono::seconds deadline = std::chrono::seconds(20))
    {
        auto end = std::chrono::steady_clock::now() + deadline;
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > end)
                return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        waited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Out() const { return Read(dir_ + "/out"); }
    std::string Err() const { return Read(dir_ + "/err"); }

    // Polls until the main thread blocks the given signal (the program has
    // taken it over), within the deadline.
    bool WaitUntilBlocks(int signal, std::chrono::seconds deadline = std::chrono::seconds(10)) const
    {
        auto end = std::chrono::steady_clock::now() + deadline;
        while (std::chrono::steady_clock::now() < end) {
            std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
            std::string line;
            while (std::getline(status, line))
                if (line.rfind("SigBlk:", 0) == 0 && (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1)
                    return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

private:
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string dir_;
    pid_t pid_ = -1;
    bool waited_ = false;
};

// The test-only divisor of every fixed wait of a service run.
inline std::vector<std::pair<std::string, std::string>> Divisor(int divisor)
{
    return {{"VELMO_TEST_TIME_DIVISOR", std::to_string(divisor)}};
}

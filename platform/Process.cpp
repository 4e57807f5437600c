#include "platform/Process.h"

#include "platform/KernelObject.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace velmo {

std::string MachineHostName()
{
    char name[256] = {};
    return gethostname(name, sizeof name - 1) == 0 ? std::string(name) : std::string();
}

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kKillGraceMs = 1000;

void CloseFd(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

bool Reap(pid_t pid, int options, ProgramResult& result)
{
    int status = 0;
    pid_t r;
    while ((r = waitpid(pid, &status, options)) < 0 && errno == EINTR) {
    }
    if (r != pid)
        return false;
    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    return true;
}

void End(pid_t pid, ProgramResult& result)
{
    kill(pid, SIGTERM);
    auto until = Clock::now() + std::chrono::milliseconds(kKillGraceMs);
    while (Clock::now() < until) {
        if (Reap(pid, WNOHANG, result))
            return;
        usleep(10000);
    }
    kill(pid, SIGKILL);
    Reap(pid, 0, result);
}

}  // namespace

HANDLE ProcessStopEvent()
{
    static HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);  // lives as long as the process
    return event;
}

ProgramResult RunProgram(const ProgramRun& run)
{
    // A program may exit without reading its input: the write must fail
    // with EPIPE, not kill the process.
    static std::once_flag ignorePipe;
    std::call_once(ignorePipe, [] { signal(SIGPIPE, SIG_IGN); });
    ProgramResult result;
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0)
        return result;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> argStore{run.path};
    argStore.insert(argStore.end(), run.args.begin(), run.args.end());
    std::vector<char*> argv;
    for (auto& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStore{"PATH=/usr/local/bin:/usr/bin:/bin", "LANG=C.UTF-8"};
    if (const char* home = std::getenv("HOME"))
        envStore.push_back(std::string("HOME=") + home);
    envStore.insert(envStore.end(), run.environment.begin(), run.environment.end());
    std::vector<char*> envp;
    for (auto& e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    // The program starts with every signal at its default, SIGPIPE included.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigfillset(&defaults);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, run.path.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    if (rc != 0) {
        close(in[1]);
        close(out[0]);
        return result;
    }
    result.started = true;
    int writeFd = in[1], readFd = out[0];
    fcntl(writeFd, F_SETFL, O_NONBLOCK);
    std::size_t written = 0;
    if (run.input.empty())
        CloseFd(writeFd);
    auto deadline =
        run.timeoutMs == INFINITE ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(run.timeoutMs);
    detail::Object* stop = detail::FromHandle(run.stop);
    detail::Object* shutdown = detail::FromHandle(ProcessStopEvent());
    // The child's end shows on a pidfd, so a program that closes its output
    // and goes on running is still bounded by the time-out and the stops.
    int exitFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    bool exited = false;
    char buffer[4096];
    // One read of the output: kept up to the limit, the rest dropped; the
    // end of the output closes the pipe.
    auto ReadSome = [&] {
        ssize_t got = read(readFd, buffer, sizeof buffer);
        if (got <= 0)
            CloseFd(readFd);
        else if (result.output.size() < run.outputLimit)
            result.output.append(buffer,
                                 std::min(static_cast<std::size_t>(got), run.outputLimit - result.output.size()));
    };
    while (!exited || readFd >= 0) {
        pollfd fds[5];
        int n = 0, readAt = -1, writeAt = -1, exitAt = -1;
        if (readFd >= 0)
            fds[readAt = n++] = {readFd, POLLIN, 0};
        if (writeFd >= 0)
            fds[writeAt = n++] = {writeFd, POLLOUT, 0};
        if (exitFd >= 0 && !exited)
            fds[exitAt = n++] = {exitFd, POLLIN, 0};
        int stopAt = n;
        if (stop)
            fds[n++] = {stop->fd(), POLLIN, 0};
        fds[n++] = {shutdown->fd(), POLLIN, 0};
        int wait = exitFd < 0 && readFd < 0 ? 10 : -1;  // without a pidfd, poll for the exit
        if (deadline != Clock::time_point::max()) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            int until = left < 0 ? 0 : static_cast<int>(left);
            wait = wait < 0 ? until : std::min(wait, until);
        }
        int ready = poll(fds, static_cast<nfds_t>(n), wait);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0 && deadline != Clock::time_point::max() && Clock::now() >= deadline) {
            result.timedOut = true;
            break;
        }
        bool stopped = false;
        for (int i = stopAt; i < n; ++i)
            stopped = stopped || (fds[i].revents & POLLIN);
        if (stopped) {
            result.stopped = true;
            break;
        }
        if (readAt >= 0 && (fds[readAt].revents & (POLLIN | POLLHUP))) {
            ReadSome();
        }
        if (writeAt >= 0 && (fds[writeAt].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t put = write(writeFd, run.input.data() + written, run.input.size() - written);
            if (put < 0 && errno != EAGAIN && errno != EINTR)
                CloseFd(writeFd);  // the program closed its input: it reads no more
            else if (put > 0 && (written += static_cast<std::size_t>(put)) == run.input.size())
                CloseFd(writeFd);
        }
        if ((exitAt >= 0 && (fds[exitAt].revents & POLLIN)) || (exitFd < 0 && Reap(pid, WNOHANG, result))) {
            exited = true;
            CloseFd(writeFd);
            if (readFd >= 0)
                fcntl(readFd, F_SETFL, O_NONBLOCK);  // take what is left, then stop: a grandchild may hold the pipe
            while (readFd >= 0)
                ReadSome();
        }
    }
    CloseFd(writeFd);
    CloseFd(readFd);
    if (result.timedOut || result.stopped)
        End(pid, result);
    else if (exitFd >= 0 || result.exitCode < 0)
        Reap(pid, 0, result);
    CloseFd(exitFd);
    return result;
}

}  // namespace velmo

#include "platform/Process.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using Clock = std::chrono::steady_clock;

namespace {

velmo::ProgramRun Sh(const std::string& script)
{
    velmo::ProgramRun run;
    run.path = "/bin/sh";
    run.args = {"-c", script};
    return run;
}

TEST(Process, FeedsInputAndReadsOutputAndExitCode)
{
    velmo::ProgramRun run;
    run.path = "/bin/cat";
    run.input = std::string(200000, 'x');  // more than a pipe holds
    velmo::ProgramResult r = velmo::RunProgram(run);
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output.size(), 64u * 1024);  // the limit; the rest was read and dropped

    run = Sh("echo \"$VELMO_FROM:$1\"; exit 7");
    run.args.insert(run.args.end(), {"sh", "arg"});  // $0 and $1 of the script
    run.environment = {"VELMO_FROM=+4917"};
    r = velmo::RunProgram(run);
    EXPECT_EQ(r.output, "+4917:arg\n");
    EXPECT_EQ(r.exitCode, 7);
    EXPECT_FALSE(r.timedOut);
}

TEST(Process, ProgramThatIgnoresItsInputDoesNotHurtTheCaller)
{
    velmo::ProgramRun run;
    run.path = "/bin/true";
    run.input = std::string(1 << 20, 'x');
    velmo::ProgramResult r = velmo::RunProgram(run);
    EXPECT_EQ(r.exitCode, 0);
    // The caller's blocked signals are not the program's.
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &block, nullptr);
    velmo::ProgramRun slow = Sh("sleep 30");
    slow.timeoutMs = 100;
    r = velmo::RunProgram(slow);
    pthread_sigmask(SIG_UNBLOCK, &block, nullptr);
    EXPECT_EQ(r.signal, SIGTERM);
}

TEST(Process, MissingProgramDoesNotStart)
{
    velmo::ProgramRun run;
    run.path = "/nonexistent/program";
    velmo::ProgramResult r = velmo::RunProgram(run);
    EXPECT_TRUE(!r.started || r.exitCode == 127);
}

TEST(Process, TimeOutEndsEvenAProgramThatClosedItsOutput)
{
    velmo::ProgramRun run = Sh("exec >/dev/null; sleep 30");
    run.timeoutMs = 200;
    auto start = Clock::now();
    velmo::ProgramResult r = velmo::RunProgram(run);
    EXPECT_TRUE(r.timedOut);
    EXPECT_EQ(r.signal, SIGTERM);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
}

TEST(Process, StopEventEndsTheProgram)
{
    velmo::Handle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    velmo::ProgramRun run = Sh("trap '' TERM; sleep 30");  // ignores SIGTERM: SIGKILL follows
    run.stop = stop.get();
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        SetEvent(stop.get());
    });
    auto start = Clock::now();
    velmo::ProgramResult r = velmo::RunProgram(run);
    stopper.join();
    EXPECT_TRUE(r.stopped);
    EXPECT_EQ(r.signal, SIGKILL);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(4));
}

}  // namespace

// Running a program: no shell, arguments and environment given, standard
// input fed from memory, standard output read up to a limit, a time-out,
// and an end (SIGTERM, then SIGKILL) when the time is up or a stop event
// is signalled.
//
// RunProgram ignores SIGPIPE in this process (a program may exit without
// reading its input); programs start with every signal at its default and
// none blocked, whatever the caller's mask.
//
// velmo::ProcessStopEvent is the process's one "shutting down" event
// (manual reset): the service sets it when it stops, and every RunProgram
// then ends its program at once, so that no thread waits on a child.
#pragma once

#include "platform/Sync.h"

#include <chrono>
#include <string>
#include <vector>

namespace velmo {

// This machine's host name (gethostname); "" when it cannot be read.
VELMO_PLATFORM_API std::string MachineHostName();

struct ProgramRun {
    std::string path;                      // run as it stands, no PATH search
    std::vector<std::string> args;         // after argv[0], which is path
    std::vector<std::string> environment;  // NAME=value, added to a minimal PATH/HOME/LANG set
    std::string input;                     // written to standard input, which is then closed
    std::size_t outputLimit = 64 * 1024;   // bytes of standard output kept; the rest is read and dropped
    DWORD timeoutMs = INFINITE;
    HANDLE stop = nullptr;  // ends the program early when signalled
};

struct ProgramResult {
    bool started = false;
    bool timedOut = false;  // ended because the time-out passed
    bool stopped = false;   // ended because the stop event was signalled
    int exitCode = -1;      // when it exited by itself
    int signal = 0;         // when a signal ended it
    std::string output;
};

// Runs the program to its end; SIGTERM, then SIGKILL after a second, when
// it must be ended.
VELMO_PLATFORM_API ProgramResult RunProgram(const ProgramRun& run);

VELMO_PLATFORM_API HANDLE ProcessStopEvent();

}  // namespace velmo

// Events of the service as a test sees them: while an EventCapture lives,
// the event log's console mirror is on and standard error goes to a file,
// which Text() reads back.
#pragma once

#include "platform/EventLog.h"
#include "platform/WaitUntil.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>

class EventCapture {
public:
    EventCapture()
    {
        char path[] = "/tmp/velmo-events-XXXXXX";
        fd_ = mkstemp(path);
        path_ = path;
        fflush(stderr);
        saved_ = dup(2);
        dup2(fd_, 2);
        velmo::SetEventLogConsoleMirror(true);
    }
    ~EventCapture()
    {
        velmo::SetEventLogConsoleMirror(false);
        fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
        close(fd_);
        unlink(path_.c_str());
    }
    std::string Text() const
    {
        fflush(stderr);
        std::ifstream in(path_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    int Count(const std::string& line) const
    {
        std::string text = Text();
        int n = 0;
        for (std::size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + line.size()))
            ++n;
        return n;
    }

private:
    std::string path_;
    int fd_ = -1;
    int saved_ = -1;
};

// Runs fn with the events captured and gives what was logged.
inline std::string CaptureEvents(const std::function<void()>& fn)
{
    EventCapture capture;
    fn();
    return capture.Text();
}

// A shell command's standard output, for tests that run programs.
#pragma once

#include <cstdio>
#include <string>
#include <sys/wait.h>

// Runs a shell command line and gives its standard output; the exit code
// goes to *code when given.
inline std::string Capture(const std::string& command, int* code = nullptr)
{
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    int status = pclose(p);
    if (code)
        *code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

// The options every Velmo program answers alike, before its own:
//
//   PROGRAM --help      the program's usage on standard output, exit 0
//   PROGRAM --version   "PROGRAM (Velmo) VERSION" on standard output, exit 0
//
// and an option the program does not know: one line saying which, then the
// usage, on standard error, exit 2. The version comes from the build
// (VELMO_VERSION, the project's version).
#pragma once

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#ifndef VELMO_VERSION
#error "VELMO_VERSION is defined by the build (velmo_add_program)"
#endif

namespace velmo {

// The exit code when the first argument is --help or --version, which is
// then answered; nothing for any other command line.
inline std::optional<int> AnswerStandardOptions(int argc, char** argv, const char* program, const char* usage)
{
    if (argc < 2)
        return std::nullopt;
    if (std::strcmp(argv[1], "--help") == 0) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s (Velmo) %s\n", program, VELMO_VERSION);
        return 0;
    }
    return std::nullopt;
}

// A usage error: "PROGRAM: why" and the usage on standard error; returns 2.
inline int UsageError(const char* program, const std::string& why, const char* usage)
{
    std::fprintf(stderr, "%s: %s\n%s", program, why.c_str(), usage);
    return 2;
}

}  // namespace velmo

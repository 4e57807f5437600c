// What the benchmarks of the running service share: a temporary system
// root with the loopback device and its private bus, and the figures of
// a series of timed calls. The including program defines VELMO_SANDBOX,
// VELMO_PRIVATE_BUS and VELMO_BUILD_DIR (bench/CMakeLists.txt).
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace bench {

inline bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

// A system root under /tmp, made by scripts/sandbox, with its private bus
// running and VELMO_SYSROOT naming it; "" after telling stderr why not.
inline std::string MakeServiceRoot(const char* program)
{
    std::string tmpl = std::string("/tmp/velmo-") + program + "-XXXXXX";
    if (!mkdtemp(tmpl.data()))
        return {};
    setenv("VELMO_BUILD_DIR", VELMO_BUILD_DIR, 1);
    if (!Run("'" VELMO_SANDBOX "' '" + tmpl + "' >/dev/null") || !Run("'" VELMO_PRIVATE_BUS "' '" + tmpl + "' start")) {
        std::fprintf(stderr, "%s: cannot make the system root\n", program);
        return {};
    }
    setenv("VELMO_SYSROOT", tmpl.c_str(), 1);
    return tmpl;
}

// Stops the root's bus and removes the root.
inline void RemoveServiceRoot(const std::string& dir)
{
    Run("'" VELMO_PRIVATE_BUS "' '" + dir + "' stop");
    std::filesystem::remove_all(dir);
}

struct Figures {
    double perSecond = 0;
    double p50us = 0, p99us = 0;
    int failures = 0;
};

// The figures of calls timed on several connections over seconds.
inline Figures Summarise(const std::vector<std::vector<double>>& latencies, double seconds, int failures)
{
    std::vector<double> all;
    for (const auto& l : latencies)
        all.insert(all.end(), l.begin(), l.end());
    std::sort(all.begin(), all.end());
    auto pct = [&](double p) { return all.empty() ? 0.0 : all[std::min(all.size() - 1, std::size_t(p * all.size()))]; };
    return {all.size() / seconds, pct(0.50), pct(0.99), failures};
}

// "--messages N" as the only option, at least least; otherwise fallback.
inline int MessagesOption(int argc, char** argv, int fallback, int least)
{
    if (argc == 3 && std::string(argv[1]) == "--messages")
        return std::max(least, std::atoi(argv[2]));
    return fallback;
}

}  // namespace bench

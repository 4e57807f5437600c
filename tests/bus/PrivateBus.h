// A private system bus for a test's system root: scripts/private-bus
// started on the root's folder, so that both the service under that root
// and clients in this process (VELMO_SYSROOT set) find it at
// run/dbus/system_bus_socket. Stopped when the object goes.
#pragma once

#include "platform/Capture.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

class PrivateBus {
public:
    explicit PrivateBus(const std::string& root) : root_(root)
    {
        started_ = std::system(("'" VELMO_PRIVATE_BUS "' '" + root_ + "' start").c_str()) == 0;
        EXPECT_TRUE(started_) << "dbus-daemon did not start";
    }
    // Stopping a bus that is gone already is no fault of the test.
    ~PrivateBus() { (void)!std::system(("'" VELMO_PRIVATE_BUS "' '" + root_ + "' stop").c_str()); }
    bool started() const { return started_; }
    std::string address() const { return "unix:path=" + root_ + "/run/dbus/system_bus_socket"; }

private:
    std::string root_;
    bool started_ = false;
};

// Python's dbus module, the foreign client of the tests; false when the
// package python3-dbus is not installed.
inline bool HavePythonDbus() { return std::system("/usr/bin/python3 -c 'import dbus' 2>/dev/null") == 0; }

// Runs a Python script (written to dir/name) with the arguments; its
// standard output and error.
inline std::string RunPython(const std::string& dir, const std::string& name, const std::string& script,
                             const std::string& args, int* code)
{
    std::string path = dir + "/" + name;
    std::ofstream(path) << script;
    return Capture("/usr/bin/python3 " + path + " " + args + " 2>&1", code);
}

// A private system bus for a test's system root: scripts/private-bus
// started on the root's folder, so that both the service under that root
// and clients in this process (VELMO_SYSROOT set) find it at
// run/dbus/system_bus_socket. Stopped when the object goes.
#pragma once

#include "platform/Capture.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

class PrivateBus {
public:
    explicit PrivateBus(const std::string& root) : root_(root)
    {
        started_ = std::system(("'" VELMO_PRIVATE_BUS "' '" + root_ + "' start").c_str()) == 0;
        EXPECT_TRUE(started_) << "dbus-daemon did not start";
    }
    ~PrivateBus() { (void)std::system(("'" VELMO_PRIVATE_BUS "' '" + root_ + "' stop").c_str()); }
    bool started() const { return started_; }
    std::string address() const { return "unix:path=" + root_ + "/run/dbus/system_bus_socket"; }

private:
    std::string root_;
    bool started_ = false;
};

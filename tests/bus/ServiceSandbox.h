// A complete installation under a temporary system root (scripts/sandbox)
// with its private system bus, for tests of the service on the bus:
// VELMO_SYSROOT points at it while the object lives, so clients in this
// process find the bus, and velmosvc started from here finds the root.
#pragma once

#include "bus/PrivateBus.h"
#include "platform/Activation.h"
#include "platform/Automation.h"
#include "service/EventCapture.h"
#include "service/Program.h"

#include <filesystem>
#include <fstream>
#include <memory>

class ServiceSandbox {
public:
    // config: the text of config.xml; "" keeps the sandbox's own. Without
    // withBus the private bus is started only by StartBus.
    explicit ServiceSandbox(const std::string& config = "", bool withBus = true)
    {
        char tmpl[] = "/tmp/velmo-bus-XXXXXX";
        dir_ = mkdtemp(tmpl);
        setenv("VELMO_BUILD_DIR", VELMO_BUILD_DIR, 1);
        int code = 0;
        std::string out = Capture("'" VELMO_SANDBOX "' '" + dir_ + "' 2>&1", &code);
        EXPECT_EQ(code, 0) << out;
        setenv("VELMO_SYSROOT", dir_.c_str(), 1);
        if (!config.empty())
            std::ofstream(Folder("") + "config.xml") << config;
        if (withBus)
            StartBus();
    }
    void StartBus() { bus_ = std::make_unique<PrivateBus>(dir_); }
    void StopBus() { bus_.reset(); }
    ~ServiceSandbox()
    {
        service_.reset();
        bus_.reset();
        unsetenv("VELMO_SYSROOT");
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    const std::string& dir() const { return dir_; }
    std::string Folder(const std::string& relative) const
    {
        return dir_ + "/var/lib/velmo/" + relative + (relative.empty() ? "" : "/");
    }
    std::string BusAddress() const { return "unix:path=" + dir_ + "/run/dbus/system_bus_socket"; }

    // velmosvc /DEBUG under the root; true once it serves the bus.
    bool StartService()
    {
        service_ = std::make_unique<Program>(std::vector<std::string>{"/DEBUG"},
                                             std::vector<std::pair<std::string, std::string>>{});
        return WaitUntil([this] {
            int code = 0;
            Capture("busctl --address=" + BusAddress() + " status org.norvane.Velmo >/dev/null 2>&1", &code);
            return code == 0;
        });
    }
    Program* service() { return service_.get(); }

    // A proxy for a class of the service.
    static velmo::ComPtr<IDispatch> Create(const CLSID& clsid)
    {
        velmo::ComPtr<IDispatch> d;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, d.ReceiveVoid()), S_OK);
        return d;
    }

private:
    std::string dir_;
    std::unique_ptr<PrivateBus> bus_;
    std::unique_ptr<Program> service_;
};

#include "platform/ErrorInfo.h"
#include "service/EventCapture.h"
#include "service/host/ServiceModule.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace {

// A device stand-in that may or may not offer error information.
class Device final : public IUnknown {
public:
    explicit Device(bool supportsErrorInfo) : supports_(supportsErrorInfo) {}
    HRESULT QueryInterface(REFIID iid, void** out) override
    {
        *out = nullptr;
        if (iid == IID_IUnknown || (supports_ && iid == IID_ISupportErrorInfo)) {
            *out = supports_ && iid == IID_ISupportErrorInfo ? static_cast<void*>(&support_) : this;
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }

private:
    struct Support final : ISupportErrorInfo {
        HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
        ULONG AddRef() override { return 2; }
        ULONG Release() override { return 1; }
        HRESULT InterfaceSupportsErrorInfo(REFIID) override { return S_OK; }
    } support_;
    bool supports_;
};

void SetThreadError(const char16_t* description) { velmo::ReportError(u"Cellgate.PDU.1", description); }

TEST(LogCallFailure, DescriptionWhenTheObjectAndThreadHaveOne)
{
    velmo::host::ServiceModule module;
    Device withInfo(true), without(false);
    struct Case {
        IUnknown* object;
        bool setError;
        const char* expected;
    };
    for (Case c : {Case{&withInfo, true, "velmosvc: error: Modem::Open failed: port busy.\n"},
                   Case{&withInfo, false, "velmosvc: error: Modem::Open failed with code 0x80004005.\n"},
                   Case{&without, true, "velmosvc: error: Modem::Open failed with code 0x80004005.\n"},
                   Case{nullptr, false, "velmosvc: error: Modem::Open failed with code 0x80004005.\n"}}) {
        if (c.setError)
            SetThreadError(u"port busy");
        std::string text =
            CaptureEvents([&] { module.LogCallFailure(EVENTLOG_ERROR_TYPE, E_FAIL, c.object, "%s::Open", "Modem"); });
        EXPECT_EQ(text, c.expected);
        SetErrorInfo(0, nullptr);
    }
}

TEST(LogEvent, TextIsCutAt2047Characters)
{
    velmo::host::ServiceModule module;
    std::string text =
        CaptureEvents([&] { module.LogEvent(EVENTLOG_WARNING_TYPE, "%s", std::string(3000, 'x').c_str()); });
    EXPECT_EQ(text, "velmosvc: warning: " + std::string(2047, 'x') + ".\n");
}

}  // namespace

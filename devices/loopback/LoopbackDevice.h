// The loopback device: a real device component that sends nothing
// anywhere. It reports each message with the result its parameters choose,
// so configurations, tests and benchmarks run without a modem.
//
// Parameters (param elements with name and value, names in any case, later
// ones overriding earlier ones): result (ok, retry, failed or a number, or
// a comma-separated list used in turn), statustext, delay (milliseconds
// per message), fail (load, open or run: that call fails with error
// information), failwhile (a path: Open fails while a file is there), stopafter (Run returns after that many messages), log (a
// file each sent message is appended to, one line "id TAB to TAB body TAB
// result"), echo (true: each sent message comes back as a received one
// from its recipient), signal, registration and operator (what
// IVelmoDeviceState tells; 31, 1 and "Loopback" unless given). The result
// "none" takes a message and never reports it.
#pragma once

#include "interfaces/VelmoDevice.h"
#include "interfaces/VelmoDeviceState.h"
#include "platform/ClassFactory.h"
#include "platform/ErrorInfo.h"

#include <atomic>
#include <string>
#include <vector>

inline constexpr CLSID CLSID_LoopbackDevice = velmo::MakeGuid("{A12F36AA-5B02-4D44-AF51-8B3E6B864F17}");

namespace velmo::loopback {

// The result that reports nothing.
constexpr LONG kNoReport = -0x7FFFFFFF - 1;

struct Settings {
    std::vector<LONG> results{SEND_OK};
    bool hasStatusText = false;
    std::u16string statusText;
    DWORD delay = 0;
    std::u16string fail;    // "load", "open", "run" or empty
    std::string failWhile;  // a path: Open fails while a file is there; empty for none
    long stopAfter = 0;     // 0: run until stopped
    std::string log;
    bool echo = false;
    LONG delivery = -1;  // a DELIVERY_ state reported on each message reported ok; -1 none
    LONG signal = 31;
    LONG registration = REGISTRATION_HOME;
    std::u16string operatorName = u"Loopback";
};

// Reads the parameters out of a device entry element; false when the text
// is not XML. Values that do not convert leave the setting unchanged.
bool ParseSettings(std::u16string_view xml, Settings& settings);

class LoopbackDevice final : public ComObject<IVelmoDevice, IPersistXMLParam, ISupportErrorInfo, IVelmoDeviceState> {
public:
    ~LoopbackDevice();

    HRESULT Open(BSTR name) override;
    HRESULT Close() override;
    HRESULT Run(IVelmo_Q* queue) override;

    HRESULT GetClassID(CLSID* clsid) override;
    HRESULT Load(BSTR xml) override;
    HRESULT Reserved(void*) override { return E_NOTIMPL; }

    HRESULT InterfaceSupportsErrorInfo(REFIID riid) override;

    HRESULT GetModemState(LONG* signal, LONG* registration, BSTR* operatorName) override;

protected:
    void* QueryAlias(REFIID riid) override
    {
        return riid == IID_IPersist ? static_cast<IPersistXMLParam*>(this) : nullptr;
    }

private:
    // The delivery report the parameters choose, through the host's IVelmo_Q3.
    void ReportDelivery(IVelmo_Q* queue, const GUID& id);
    void AppendToLog(const GUID& id, const Bstr& to, const Bstr& body, LONG result);

    Settings settings_;
    HANDLE log_ = INVALID_HANDLE_VALUE;
};

}  // namespace velmo::loopback

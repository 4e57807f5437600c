// The GSM device object: its parameters, interfaces, and Open and Close.
#include "devices/cellgate/PduDevice.h"
#include "cellgate/ModemSimHarness.h"
#include "platform/Dispatch.h"

using velmo::Bstr;
using velmo::cellgate::PduDevice;

namespace {

const bool kFastWaits = (setenv("VELMO_TEST_TIME_DIVISOR", "100", 1), true);

std::string Entry(const std::string& params)
{
    return "<device status='1' id='1' name='Modem'>" + params + "</device>";
}
std::string P(const std::string& name, const std::string& value)
{
    return "<param name='" + name + "' value='" + value + "'/>";
}
const std::string kComplete = P("Port", "3") + P("CommConfig", "96,n,8,1") + P("SMSCentral", "+491710760000");

struct LoadCase {
    const char* name;
    std::string xml;
    HRESULT hr;
    std::uint16_t port;
    std::u16string pin, cnmi, smsc;
    std::uint16_t noSmsc;
};

void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.name; }

class Load : public ::testing::TestWithParam<LoadCase> {};

TEST_P(Load, FillsTheParametersAsTheRulesSay)
{
    const LoadCase& c = GetParam();
    auto* device = new PduDevice();
    Bstr xml(velmo::Utf8ToUtf16(c.xml));
    EXPECT_EQ(device->Load(xml.get()), c.hr);
    const auto& p = device->Parameters();
    EXPECT_EQ(p.Port, c.port);
    EXPECT_EQ(p.Pin.str(), c.pin);
    EXPECT_EQ(p.CNMI.str(), c.cnmi);
    EXPECT_EQ(p.SMSCentral.str(), c.smsc);
    EXPECT_EQ(p.NoSMSC, c.noSmsc);
    device->Release();
}

INSTANTIATE_TEST_SUITE_P(
    Parameters, Load,
    ::testing::Values(
        LoadCase{"Complete", Entry(kComplete), S_OK, 3, u"", u"1,2", u"+491710760000", 0},
        LoadCase{"NoServiceCentreKeepsTheSims", Entry(P("Port", "3") + P("CommConfig", "96,n,8,1")), S_OK, 3, u"",
                 u"1,2", u"", 0},
        LoadCase{"EmptyServiceCentreKeepsTheSims",
                 Entry(P("Port", "3") + P("CommConfig", "96,n,8,1") + P("SMSCentral", "")), S_OK, 3, u"", u"1,2", u"",
                 0},
        LoadCase{"PortZero", Entry(P("Port", "0") + P("CommConfig", "96,n,8,1") + P("SMSCentral", "+49")), E_FAIL, 0,
                 u"", u"1,2", u"+49", 0},
        LoadCase{"NoCommConfig", Entry(P("Port", "1") + P("SMSCentral", "+49")), E_FAIL, 1, u"", u"1,2", u"+49", 0},
        LoadCase{"NamesInAnyCase",
                 Entry(P("port", "4") + P("COMMCONFIG", "96,n,8,1") + P("smsCentral", "+49") + P("PIN", "1111")), S_OK,
                 4, u"1111", u"1,2", u"+49", 0},
        LoadCase{"UnknownNamesAndMissingValuesIgnored",
                 Entry(kComplete + P("Speed", "fast") + "<param name='Pin'/><param value='9'/>"), S_OK, 3, u"", u"1,2",
                 u"+491710760000", 0},
        LoadCase{"LaterOverridesEarlier", Entry(kComplete + P("Port", "7") + P("Pin", "1") + P("Pin", "2")), S_OK, 7,
                 u"2", u"1,2", u"+491710760000", 0},
        LoadCase{"ValueThatDoesNotConvertChangesNothing", Entry(kComplete + P("Port", "abc") + P("Port", "70000")),
                 S_OK, 3, u"", u"1,2", u"+491710760000", 0},
        LoadCase{"EmptyCnmi", Entry(kComplete + P("CNMI", "")), S_OK, 3, u"", u"", u"+491710760000", 0},
        LoadCase{"NoSmscFlag", Entry(kComplete + P("NoSMSC", "1")), S_OK, 3, u"", u"1,2", u"+491710760000", 1},
        LoadCase{"NoSmscWords", Entry(kComplete + P("NoSMSC", "true") + P("NoSMSC", "maybe")), S_OK, 3, u"", u"1,2",
                 u"+491710760000", 1},
        LoadCase{"ParamsAtAnyDepth",
                 "<device><group><x:param xmlns:x='urn:x' name='Port' value='5'/></group>" +
                     P("CommConfig", "96,n,8,1") + P("SMSCentral", "+49") + "</device>",
                 S_OK, 5, u"", u"1,2", u"+49", 0},
        LoadCase{"NotXml", "<device><param", E_FAIL, 0, u"", u"1,2", u"", 0}));

TEST(PduDevice, InterfacesAndErrorInformation)
{
    auto* device = new PduDevice();
    for (const IID& iid : {IID_IUnknown, IID_IPDU, IID_IVelmoDevice, IID_IPersistXMLParam, IID_ISupportErrorInfo}) {
        void* p = nullptr;
        EXPECT_EQ(device->QueryInterface(iid, &p), S_OK);
        static_cast<IUnknown*>(p)->Release();
    }
    void* p = nullptr;
    EXPECT_EQ(device->QueryInterface(IID_IDispatch, &p), E_NOINTERFACE);
    EXPECT_EQ(device->InterfaceSupportsErrorInfo(IID_IPDU), S_OK);
    EXPECT_EQ(device->InterfaceSupportsErrorInfo(IID_IVelmoDevice), S_FALSE);
    CLSID clsid{};
    EXPECT_EQ(device->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_PDU);
    EXPECT_EQ(device->Reserved(nullptr), E_NOTIMPL);
    EXPECT_EQ(device->Close(), S_OK);       // never opened
    EXPECT_EQ(device->Run(nullptr), S_OK);  // not open: returns at once
    device->Release();
}

std::string ErrorText()
{
    velmo::ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.Receive()) != S_OK)
        return "";
    Bstr text, source;
    info->GetDescription(text.Receive());
    info->GetSource(source.Receive());
    return source.Utf8() + ": " + text.Utf8();
}

TEST(PduDevice, OpenFailuresNameTheirCause)
{
    TempRoot root;
    struct Case {
        std::string params;
        const char* error;
    };
    for (const Case& c : {Case{P("Port", "9") + P("CommConfig", "96,n,8,1") + P("SMSCentral", "+49"),
                               "Cellgate.PDU.1: Failed open COM port COM9: ({root}/dev/ttyS8): there is no such device "
                               "(error 2)"}}) {
        auto* device = new PduDevice();
        Bstr xml(velmo::Utf8ToUtf16(Entry(c.params)));
        device->Load(xml.get());
        EXPECT_EQ(device->Open(nullptr), DISP_E_EXCEPTION);
        std::string expected = c.error;
        expected.replace(expected.find("{root}"), 6, root.path());
        EXPECT_EQ(ErrorText(), expected);
        device->Release();
    }
    ModemSim sim({}, 6);
    auto* device = new PduDevice();
    Bstr xml(velmo::Utf8ToUtf16(Entry(P("Port", "6") + P("CommConfig", "96,q,8,1") + P("SMSCentral", "+49"))));
    device->Load(xml.get());
    EXPECT_EQ(device->Open(nullptr), DISP_E_EXCEPTION);
    EXPECT_EQ(ErrorText(), "Cellgate.PDU.1: Invalid CommConfig specified");
    device->Release();
}

TEST(PduDevice, APortIsADevicePathAndFailuresNameIt)
{
    ModemSim sim({});
    auto* device = new PduDevice();
    Bstr xml(velmo::Utf8ToUtf16(Entry(P("Port", sim.link()) + P("CommConfig", "115200,n,8,1"))));
    ASSERT_EQ(device->Load(xml.get()), S_OK) << ErrorText();
    ASSERT_EQ(device->Open(nullptr), S_OK) << ErrorText();
    EXPECT_EQ(device->Close(), S_OK);
    device->Release();

    struct Case {
        std::vector<std::string> options;
        std::string port;
        std::string error;
    } cases[] = {
        {{"--mute=on"}, "{link}", "Cellgate.PDU.1: ATE0 command failed. No modem on port {link}?"},
        {{},
         "/dev/velmo-no-such-modem",
         "Cellgate.PDU.1: Failed open port /dev/velmo-no-such-modem: there is no such device (error 2)"},
    };
    for (Case& c : cases) {
        ModemSim other(c.options, 7);
        auto fill = [&](std::string text) {
            for (std::size_t at; (at = text.find("{link}")) != std::string::npos;)
                text.replace(at, 6, other.link());
            return text;
        };
        auto* d = new PduDevice();
        Bstr entry(velmo::Utf8ToUtf16(Entry(P("Port", fill(c.port)) + P("CommConfig", "96,n,8,1"))));
        ASSERT_EQ(d->Load(entry.get()), S_OK);
        EXPECT_EQ(d->Open(nullptr), DISP_E_EXCEPTION);
        EXPECT_EQ(ErrorText(), fill(c.error));
        d->Release();
    }
}

// What is wrong with an entry is said in words naming the entry and the
// parameter, by Load (as error information) and by the check velmosvc
// /CHECK asks, which also lists what is only warned about.
TEST(PduDevice, ParameterFindingsNameTheEntryAndTheParameter)
{
    struct Case {
        const char* name;
        std::string params;
        HRESULT load;
        HRESULT check;
        std::vector<std::string> report;  // lines, in order
    } cases[] = {
        {"good", P("Port", "/dev/null") + P("CommConfig", "115200,n,8,1"), S_OK, S_OK, {}},
        {"a modem not plugged in",
         P("Port", "/dev/serial/by-id/usb-x-if00-port0") + P("CommConfig", "115200,n,8,1"),
         S_OK,
         S_OK,
         {"warning: the device entry Modem has Port /dev/serial/by-id/usb-x-if00-port0, and nothing is there now: "
          "the device waits until the modem is plugged in (velmo modems lists the lines that answer)"}},
        {"no port",
         P("CommConfig", "96,n,8,1"),
         E_FAIL,
         S_FALSE,
         {"problem: the device entry Modem has no Port: give the modem's device path (/dev/serial/by-id/...) or the "
          "number n of COM<n>:"}},
        {"typo and bad values",
         P("Prot", "3") + P("Port", "ttyUSB0") + P("Port", "2") + P("CommConfig", "fast") + P("MaxParts", "300") +
             P("NoSMSC", "maybe"),
         E_FAIL,
         S_FALSE,
         {"problem: the device entry Modem has CommConfig \"fast\", which is not line settings such as "
          "115200,n,8,1",
          "warning: the device entry Modem has an unknown parameter Prot: it is ignored (did you mean Port?)",
          "warning: the device entry Modem has Port \"ttyUSB0\", which is neither a device path nor the number n of "
          "COM<n>:: it is ignored",
          "warning: the device entry Modem has NoSMSC \"maybe\", which is not 0 or 1: it is ignored",
          "warning: the device entry Modem has MaxParts 300: 1 to 255 are allowed; 255 is used"}},
        {"reports and a validity the network can carry",
         P("Port", "/dev/null") + P("CommConfig", "115200,n,8,1") + P("StatusReport", "1") + P("ValidityPeriod", "6h"),
         S_OK,
         S_OK,
         {}},
        {"a validity rounded up",
         P("Port", "/dev/null") + P("CommConfig", "115200,n,8,1") + P("ValidityPeriod", "13h10m"),
         S_OK,
         S_OK,
         {"warning: the device entry Modem has ValidityPeriod 13h10m, which the network is told as 13h30m (the "
          "nearest longer period a message can carry)"}},
        {"a validity that is no period",
         P("Port", "/dev/null") + P("CommConfig", "115200,n,8,1") + P("ValidityPeriod", "a week"),
         S_OK,
         S_OK,
         {"warning: the device entry Modem has ValidityPeriod \"a week\", which is not a period such as 30m, 6h or "
          "4d: four days are used"}},
    };
    for (const Case& c : cases) {
        auto* device = new PduDevice();
        Bstr xml(velmo::Utf8ToUtf16(Entry(c.params)));
        EXPECT_EQ(device->Load(xml.get()), c.load) << c.name;
        if (FAILED(c.load)) {
            // Load's error information is the first problem, as a sentence.
            std::string first = c.report.at(0).substr(std::string("problem: ").size());
            first[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(first[0])));
            EXPECT_EQ(ErrorText(), "Cellgate.PDU.1: " + first) << c.name;
        }
        velmo::ComPtr<IVelmoDeviceCheck> check;
        ASSERT_EQ(device->QueryInterface(IID_IVelmoDeviceCheck, check.ReceiveVoid()), S_OK);
        Bstr report;
        EXPECT_EQ(check->CheckParams(xml.get(), report.Receive()), c.check) << c.name;
        std::vector<std::string> lines;
        std::string text = report.IsNull() ? "" : velmo::Utf16ToUtf8(report.str());
        for (std::size_t start = 0, nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
            lines.push_back(text.substr(start, nl - start));
        EXPECT_EQ(lines, c.report) << c.name;
        device->Release();
    }
}

TEST(PduDevice, SecondOpenSendsNothing)
{
    ModemSim sim({}, 6);
    auto* device = new PduDevice();
    Bstr xml(velmo::Utf8ToUtf16(Entry(P("Port", "6") + P("CommConfig", "96,n,8,1") + P("SMSCentral", "+49"))));
    ASSERT_EQ(device->Load(xml.get()), S_OK);
    ASSERT_EQ(device->Open(nullptr), S_OK) << ErrorText();
    std::size_t lines = sim.Transcript().size();
    EXPECT_EQ(device->Open(nullptr), S_OK);
    EXPECT_EQ(sim.Transcript().size(), lines);
    EXPECT_EQ(device->Close(), S_OK);
    device->Release();
}

}  // namespace

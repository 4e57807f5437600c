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
        LoadCase{"NoServiceCentre", Entry(P("Port", "3") + P("CommConfig", "96,n,8,1")), E_FAIL, 3, u"", u"1,2", u"",
                 0},
        LoadCase{"EmptyServiceCentre", Entry(P("Port", "3") + P("CommConfig", "96,n,8,1") + P("SMSCentral", "")),
                 E_FAIL, 3, u"", u"1,2", u"", 0},
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

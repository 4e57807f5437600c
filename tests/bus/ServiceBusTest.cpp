// NewSMS and MessageCenter of a running velmosvc, reached from this test
// process over a private system bus: the client's view of the service.
#include "bus/ServiceSandbox.h"
#include "interfaces/VelmoLib.h"
#include "platform/Guid.h"
#include "platform/SystemTime.h"
#include "service/Invoke.h"

#include <csignal>

namespace {

// Device 1 answers after a pause, so a message is seen queued first, and
// echoes what it sends as received; device 2 always asks for a retry.
const std::string kConfig = R"(<velmo>
  <configuration><queue max="0"/><retries max="1"/></configuration>
  <devices>
    <device status="1" id="1" name="Slow" clsid="{A12F36AA-5B02-4D44-AF51-8B3E6B864F17}">
      <param name="result" value="ok"/><param name="delay" value="1500"/><param name="echo" value="true"/>
    </device>
    <device status="1" id="2" name="Fails" clsid="{A12F36AA-5B02-4D44-AF51-8B3E6B864F17}">
      <param name="result" value="retry"/>
    </device>
  </devices>
  <rules def_device_id="1"><rule match="999" device_id="2" continue="false"/></rules>
  <eventhandlers/>
</velmo>)";

DATE Now()
{
    SYSTEMTIME st;
    GetSystemTime(&st);
    DATE d = 0;
    SystemTimeToVariantTime(&st, &d);
    return d;
}

struct Status {
    LONG status = -1;
    Variant text, date;
};

Status Query(IDispatch* center, const std::u16string& id, HRESULT* hr = nullptr)
{
    Status s;
    Variant tRef, dRef;
    tRef.vt = dRef.vt = VT_BYREF | VT_VARIANT;
    tRef.pvarVal = &s.text;
    dRef.pvarVal = &s.date;
    Outcome o = Call(center, u"QueryMessageStatus", DISPATCH_METHOD, {Variant::FromBstr(id), tRef, dRef});
    if (hr)
        *hr = o.hr;
    if (o.result.vt == VT_I4)
        s.status = o.result.lVal;
    return s;
}

std::u16string Text(const Outcome& o) { return o.result.vt == VT_BSTR ? Bstr(o.result.bstrVal).str() : u"<none>"; }

class ServiceBus : public ::testing::Test {
protected:
    void SetUp() override
    {
        velmo::RegisterBusInterfaces(velmo::velmolib::kInterfaces);
        ASSERT_TRUE(sandbox.StartService()) << (sandbox.service() ? sandbox.service()->Err() : "");
    }
    ServiceSandbox sandbox{kConfig};
};

TEST_F(ServiceBus, NewObjectIsEmptyAndRefusesReplyAndForward)
{
    auto sms = ServiceSandbox::Create(CLSID_NewSMS);
    ASSERT_TRUE(sms);
    EXPECT_EQ(Text(Call(sms.get(), u"From", DISPATCH_PROPERTYGET)), u"");
    EXPECT_EQ(Call(sms.get(), u"Date", DISPATCH_PROPERTYGET).result.vt, VT_EMPTY);
    Outcome reply = Call(sms.get(), u"Reply", DISPATCH_METHOD);
    EXPECT_EQ(reply.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(reply.description, "Cannot reply to this message");
    EXPECT_EQ(Call(sms.get(), u"Forward", DISPATCH_METHOD).description, "Cannot forward this message");
    Outcome noTo = Call(sms.get(), u"Send", DISPATCH_METHOD, {Variant::FromI4(4917), Variant()});
    EXPECT_EQ(noTo.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(noTo.description, "Must specify To address");
}

TEST_F(ServiceBus, SendUsesPropertiesIgnoresANumberAndMakesOneFileEach)
{
    auto sms = ServiceSandbox::Create(CLSID_NewSMS);
    ASSERT_TRUE(sms);
    ASSERT_EQ(Call(sms.get(), u"To", DISPATCH_PROPERTYPUT, {Variant::FromBstr(u"+4917012")}).hr, S_OK);
    ASSERT_EQ(Call(sms.get(), u"Body", DISPATCH_PROPERTYPUT, {Variant::FromBstr(u"set before")}).hr, S_OK);
    Outcome first = Call(sms.get(), u"Send", DISPATCH_METHOD);
    Outcome second = Call(sms.get(), u"Send", DISPATCH_METHOD, {Variant::FromI4(1), Variant::FromBstr(u"second")});
    ASSERT_EQ(first.hr, S_OK);
    ASSERT_EQ(second.hr, S_OK);
    std::u16string id1 = Text(first), id2 = Text(second);
    EXPECT_TRUE(velmo::ParseGuid(std::u16string_view(id1)));
    EXPECT_NE(id1, id2);
    EXPECT_EQ(Text(Call(sms.get(), u"To", DISPATCH_PROPERTYGET)), u"+4917012");
    EXPECT_EQ(Text(Call(sms.get(), u"Body", DISPATCH_PROPERTYGET)), u"second");
    for (const auto& id : {id1, id2})
        EXPECT_TRUE(WaitUntil([&] {
            return std::filesystem::exists(sandbox.Folder("out/sent") + velmo::Utf16ToUtf8(id) + ".velmo");
        })) << velmo::Utf16ToUtf8(id);
}

TEST_F(ServiceBus, StatusGoesFromQueuedToSentAndToFailed)
{
    auto center = ServiceSandbox::Create(CLSID_MessageCenter);
    ASSERT_TRUE(center);
    Outcome made = Call(center.get(), u"NewMessage", DISPATCH_METHOD);
    ASSERT_EQ(made.result.vt, VT_DISPATCH);
    IDispatch* sms = made.result.pdispVal;

    DATE before = Now();
    std::u16string id =
        Text(Call(sms, u"Send", DISPATCH_METHOD, {Variant::FromBstr(u"+4917"), Variant::FromBstr(u"hi")}));
    Status queued = Query(center.get(), id);
    EXPECT_EQ(queued.status, QUEUED);
    ASSERT_EQ(queued.date.vt, VT_DATE);
    EXPECT_GE(queued.date.date, before - 2.0 / 86400);
    EXPECT_LE(queued.date.date, Now() + 2.0 / 86400);

    Status sent;
    ASSERT_TRUE(WaitUntil([&] { return (sent = Query(center.get(), id)).status == SENT; }));
    ASSERT_EQ(sent.date.vt, VT_DATE);
    EXPECT_GE(sent.date.date, queued.date.date);

    std::u16string failing =
        Text(Call(sms, u"Send", DISPATCH_METHOD, {Variant::FromBstr(u"999 1"), Variant::FromBstr(u"x")}));
    Status failed;
    ASSERT_TRUE(WaitUntil([&] { return (failed = Query(center.get(), failing)).status == FAILED; }))
        << "status " << failed.status << " " << sandbox.service()->Err();
    ASSERT_EQ(failed.text.vt, VT_BSTR);
    EXPECT_TRUE(Bstr(failed.text.bstrVal).str().ends_with(u"\r\nAttempted too many retries"));
}

TEST_F(ServiceBus, UnknownReceivedAndMalformedIdentifiers)
{
    auto center = ServiceSandbox::Create(CLSID_MessageCenter);
    auto sms = ServiceSandbox::Create(CLSID_NewSMS);
    ASSERT_TRUE(center && sms);
    Status unknown =
        Query(center.get(), velmo::GuidToString(velmo::MakeGuid("{00000000-0000-0000-0000-000000000001}")));
    EXPECT_EQ(unknown.status, NOT_FOUND);
    // Outputs the service left alone come back empty.
    EXPECT_EQ(unknown.text.vt, VT_EMPTY);
    EXPECT_EQ(unknown.date.vt, VT_EMPTY);

    // The echo of a sent message lands in in/ under an id of its own.
    ASSERT_EQ(Call(sms.get(), u"Send", DISPATCH_METHOD, {Variant::FromBstr(u"+4917"), Variant::FromBstr(u"echo")}).hr,
              S_OK);
    std::string received;
    ASSERT_TRUE(WaitUntil([&] {
        for (const auto& e : std::filesystem::directory_iterator(sandbox.Folder("in")))
            if (e.path().extension() == ".velmo")
                received = e.path().stem().string();
        return !received.empty();
    }));
    EXPECT_EQ(Query(center.get(), velmo::Utf8ToUtf16(received)).status, NOT_FOUND);

    HRESULT hr = S_OK;
    Query(center.get(), u"8C1B7C5E-0000-4000-8000-000000000001", &hr);
    EXPECT_TRUE(FAILED(hr));
}

TEST_F(ServiceBus, UnimplementedMembersAndUnknownClasses)
{
    auto center = ServiceSandbox::Create(CLSID_MessageCenter);
    ASSERT_TRUE(center);
    EXPECT_EQ(Call(center.get(), u"AddMessageMonitor", DISPATCH_METHOD, {Variant::FromBstr(u"{x}")}).hr, E_NOTIMPL);
    EXPECT_EQ(Call(center.get(), u"GetMessage", DISPATCH_METHOD, {Variant::FromBstr(u"{x}")}).hr, E_NOTIMPL);
    velmo::ComPtr<IDispatch> none;
    EXPECT_EQ(CoCreateInstance(velmo::MakeGuid("{00000000-0000-0000-0000-0000000000AA}"), nullptr, CLSCTX_LOCAL_SERVER,
                               IID_IDispatch, none.ReceiveVoid()),
              REGDB_E_CLASSNOTREG);
}

TEST_F(ServiceBus, AForeignClientSendsAMessage)
{
    if (!HavePythonDbus())
        GTEST_SKIP() << "Python's dbus module (python3-dbus) is not installed";
    const char* script = R"(import dbus, sys
bus = dbus.bus.BusConnection(sys.argv[1])
act = dbus.Interface(bus.get_object('org.norvane.Velmo', '/org/norvane/Velmo'), 'org.norvane.Velmo.Activator')
obj = bus.get_object('org.norvane.Velmo', act.CreateInstance('Velmo.NewSMS'))
props = dbus.Interface(obj, 'org.freedesktop.DBus.Properties')
props.Set('org.norvane.Velmo.IVelmo', 'To', '+4917099')
props.Set('org.norvane.Velmo.IVelmo', 'Body', 'from python')
empty = dbus.ByteArray(b'')
print(dbus.Interface(obj, 'org.norvane.Velmo.IVelmo').Send(empty, empty))
)";
    int code = 0;
    std::string out = RunPython(sandbox.dir(), "send.py", script, sandbox.BusAddress(), &code);
    ASSERT_EQ(code, 0) << out;
    std::string id = out.substr(0, out.find('\n'));
    ASSERT_TRUE(velmo::ParseGuid(std::string_view(id))) << out;
    EXPECT_TRUE(WaitUntil([&] { return std::filesystem::exists(sandbox.Folder("out/sent") + id + ".velmo"); }));
}

pid_t ServicePid(const ServiceSandbox& sandbox)
{
    std::string pid = Capture("busctl --address=" + sandbox.BusAddress() +
                              " call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus "
                              "GetConnectionUnixProcessID s org.norvane.Velmo | cut -d' ' -f2");
    return std::atoi(pid.c_str());
}

// No service runs: the bus starts it through the activation file that
// registering the service wrote.
TEST(BusActivation, CreatingAClassStartsTheService)
{
    ServiceSandbox sandbox;
    velmo::RegisterBusInterfaces(velmo::velmolib::kInterfaces);
    int code = 0;
    std::string out = Capture("busctl --address=" + sandbox.BusAddress() +
                                  " call org.norvane.Velmo /org/norvane/Velmo org.norvane.Velmo.Activator "
                                  "CreateInstance s Velmo.MessageCenter 2>&1",
                              &code);
    EXPECT_EQ(code, 0) << out;
    EXPECT_NE(out.find("/org/norvane/Velmo/objects/"), std::string::npos) << out;
    pid_t pid = ServicePid(sandbox);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(Capture("cat /proc/" + std::to_string(pid) + "/comm"), "velmosvc\n");
    // It runs as a service: SIGTERM is its stop control.
    kill(pid, SIGTERM);
    EXPECT_TRUE(WaitUntil([&] { return kill(pid, 0) != 0; }));
}

// The first Send reaches a service that is still starting: it waits for
// the dispatcher instead of being refused.
TEST(BusActivation, TheSendThatStartsTheServiceIsQueued)
{
    ServiceSandbox sandbox;
    velmo::RegisterBusInterfaces(velmo::velmolib::kInterfaces);
    auto sms = ServiceSandbox::Create(CLSID_NewSMS);
    ASSERT_TRUE(sms);
    Outcome sent = Call(sms.get(), u"Send", DISPATCH_METHOD, {Variant::FromBstr(u"+4917"), Variant::FromBstr(u"up?")});
    ASSERT_EQ(sent.hr, S_OK) << sent.description;
    EXPECT_TRUE(WaitUntil([&] {
        return std::filesystem::exists(sandbox.Folder("out/sent") + velmo::Utf16ToUtf8(Text(sent)) + ".velmo");
    }));
    sms.reset();
    pid_t pid = ServicePid(sandbox);
    ASSERT_GT(pid, 0);
    kill(pid, SIGTERM);
    EXPECT_TRUE(WaitUntil([&] { return kill(pid, 0) != 0; }));

    // Each call that starts the service again is answered from the whole
    // queue: the gateway waits for the start as Send does.
    const std::string gateway = "busctl --address=" + sandbox.BusAddress() +
                                " call org.norvane.Velmo /org/norvane/Velmo/Gateway org.norvane.Velmo.IGateway ";
    const std::string id = velmo::Utf16ToUtf8(Text(sent));
    const struct {
        std::string call, expected;
    } calls[] = {{"Status s '" + id + "'", "\"SENT\""},
                 {"List sus sent 10 ''", id.substr(1, 36)},
                 {"Get s '" + id + "'", id.substr(1, 36)}};
    for (const auto& c : calls) {
        int code = 0;
        std::string out = Capture(gateway + c.call + " 2>&1", &code);
        EXPECT_EQ(code, 0) << c.call << out;
        EXPECT_NE(out.find(c.expected), std::string::npos) << c.call << out;
        pid_t again = ServicePid(sandbox);
        ASSERT_GT(again, 0);
        kill(again, SIGTERM);
        EXPECT_TRUE(WaitUntil([&] { return kill(again, 0) != 0; }));
    }
}

}  // namespace

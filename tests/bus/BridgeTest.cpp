// The automation bus bridge on its own: an object class of this test
// served from a thread's message loop on a private bus, called by our own
// proxies, by busctl and by Python's dbus module, each its own connection.
#include "bus/PrivateBus.h"
#include "platform/Automation.h"
#include "platform/BusClient.h"
#include "platform/BusFiles.h"
#include "platform/BusObject.h"
#include "platform/DispatchObject.h"
#include "platform/ErrorInfo.h"
#include "platform/MainLoop.h"
#include "platform/Sync.h"
#include "platform/TempRoot.h"
#include "service/EventCapture.h"
#include "service/Invoke.h"

#include <atomic>
#include <fstream>
#include <thread>

namespace {

constexpr CLSID kThingClass = velmo::MakeGuid("{7E57B05E-0000-4000-8000-000000000001}");
constexpr IID kThingIid = velmo::MakeGuid("{7E57B05E-0000-4000-8000-000000000002}");
const std::string kThingText = "{7E57B05E-0000-4000-8000-000000000001}";

struct IThing : IDispatch {
protected:
    ~IThing() = default;
};
}  // namespace
VELMO_INTERFACE_ID(IThing, kThingIid);
namespace {

constexpr velmo::DispArg kEchoArgs[] = {
    {u"Value", VT_VARIANT, velmo::ArgDir::In, false},
    {u"Copy", VT_VARIANT, velmo::ArgDir::Out, true},
    {u"Result", VT_VARIANT, velmo::ArgDir::Retval, false},
};
constexpr velmo::DispArg kFailArgs[] = {{u"How", VT_I4, velmo::ArgDir::In, false}};
constexpr velmo::DispArg kChildArgs[] = {{u"Child", VT_DISPATCH, velmo::ArgDir::Retval, false}};
constexpr velmo::DispMember kThingMembers[] = {
    {u"Name", 1, DISPATCH_PROPERTYGET, VT_BSTR, {}},         {u"Name", 1, DISPATCH_PROPERTYPUT, VT_BSTR, {}},
    {u"Echo", 2, DISPATCH_METHOD, VT_VARIANT, kEchoArgs},    {u"Fail", 3, DISPATCH_METHOD, VT_VOID, kFailArgs},
    {u"Child", 4, DISPATCH_METHOD, VT_DISPATCH, kChildArgs}, {u"Block", 5, DISPATCH_METHOD, VT_VOID, {}},
};
constexpr velmo::DispInterface kThing{u"IThing", u"test.velmo.IThing", kThingIid, u"", kThingMembers};
constexpr const velmo::DispInterface* kThingInterfaces[] = {&kThing};

std::atomic<long> liveThings{0};
velmo::Handle unblock(CreateEventW(nullptr, TRUE, FALSE, nullptr));

class Thing final : public velmo::DispatchObject<IThing> {
public:
    Thing() : DispatchObject(kThing) { ++liveThings; }
    ~Thing() override { --liveThings; }

protected:
    HRESULT Call(const velmo::DispMember& m, std::span<Variant> args, VARIANT* result) override
    {
        switch (m.dispid) {
        case 1:
            if (m.kind == DISPATCH_PROPERTYPUT) {
                name_ = Bstr(args[0].bstrVal);
                return S_OK;
            }
            if (result) {
                result->vt = VT_BSTR;
                result->bstrVal = name_.Copy();
            }
            return S_OK;
        case 2:
            if (args[1].vt == (VT_BYREF | VT_VARIANT))
                VariantCopy(args[1].pvarVal, &args[0]);
            return result ? VariantCopy(result, &args[0]) : S_OK;
        case 3: return args[0].lVal == 1 ? velmo::ReportError(u"Thing", u"it broke") : E_INVALIDARG;
        case 4: {
            auto* child = new Thing();
            if (result)
                Variant::FromDispatch(child).Detach(result);
            child->Release();
            return S_OK;
        }
        case 5: return WaitForSingleObject(unblock.get(), 10000) == WAIT_OBJECT_0 ? S_OK : E_FAIL;
        }
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    Bstr name_;
};

velmo::ClassFactory<Thing> thingFactory;

// The class served on a private bus from a thread of this test.
class Bridge : public ::testing::Test {
protected:
    Bridge()
    {
        velmo::RegisterBusInterfaces(kThingInterfaces);
        ResetEvent(unblock.get());
        server_ = std::thread([this] {
            DWORD cookie = 0;
            registered_ =
                CoRegisterClassObject(kThingClass, &thingFactory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie);
            serverThread_ = GetCurrentThreadId();
            ready_ = true;
            while (SUCCEEDED(registered_)) {
                velmo::LoopEvent event = velmo::RunMainLoop(-1);
                if (event == velmo::LoopEvent::Quit || event == velmo::LoopEvent::Failed)
                    break;
            }
            if (SUCCEEDED(registered_))
                revoked_ = CoRevokeClassObject(cookie);
        });
        EXPECT_TRUE(WaitUntil([this] { return ready_.load(); }));
        EXPECT_EQ(registered_, S_OK);
    }
    ~Bridge() override
    {
        SetEvent(unblock.get());
        velmo::QuitMainLoop(serverThread_);
        server_.join();
        EXPECT_EQ(revoked_, S_OK);
        EXPECT_EQ(velmo::BusExportedObjects(), 0u);
        EXPECT_EQ(liveThings.load(), 0);
    }
    velmo::ComPtr<IDispatch> NewThing()
    {
        velmo::ComPtr<IDispatch> d;
        EXPECT_EQ(CoCreateInstance(kThingClass, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, d.ReceiveVoid()), S_OK);
        return d;
    }
    std::string Busctl(const std::string& args, int* code = nullptr)
    {
        return Capture("busctl --address=" + bus_.address() + " " + args + " 2>&1", code);
    }

    TempRoot root_;
    // The policy that registering the service installs: root may own the name.
    bool policy_ = velmo::WriteBusPolicy("org.norvane.Velmo", "velmo", "velmo");
    PrivateBus bus_{root_.path()};
    std::thread server_;
    std::atomic<bool> ready_{false};
    std::atomic<HRESULT> registered_{E_FAIL};
    HRESULT revoked_ = E_FAIL;
    DWORD serverThread_ = 0;
};

TEST_F(Bridge, ProxyCarriesPropertiesArgumentsOutputsAndObjects)
{
    auto thing = NewThing();
    ASSERT_TRUE(thing);
    EXPECT_EQ(liveThings.load(), 1);
    EXPECT_EQ(velmo::BusExportedObjects(), 1u);

    EXPECT_EQ(Call(thing.get(), u"Name", DISPATCH_PROPERTYPUT, {Variant::FromBstr(u"Grüße")}).hr, S_OK);
    Outcome name = Call(thing.get(), u"Name", DISPATCH_PROPERTYGET);
    ASSERT_EQ(name.result.vt, VT_BSTR);
    EXPECT_EQ(Bstr(name.result.bstrVal).Utf8(), "Grüße");

    // Each value kind of a bus variant comes back as it went.
    struct Case {
        Variant value;
        VARTYPE back;
    };
    std::vector<Case> cases;
    cases.push_back({Variant(), VT_EMPTY});
    cases.push_back({Variant::FromBstr(u"text"), VT_BSTR});
    cases.push_back({Variant::FromI4(-42), VT_I4});
    cases.push_back({Variant::FromBool(true), VT_BOOL});
    cases.push_back({Variant::FromDate(46000.25), VT_DATE});
    for (auto& c : cases) {
        Variant copy;
        VARIANT ref{};
        ref.vt = VT_BYREF | VT_VARIANT;
        ref.pvarVal = &copy;
        Outcome echo = Call(thing.get(), u"Echo", DISPATCH_METHOD, {c.value, Variant(ref)});
        EXPECT_EQ(echo.hr, S_OK);
        EXPECT_EQ(echo.result.vt, c.back);
        EXPECT_EQ(copy.vt, c.back);
        Variant expected = c.value, got = echo.result;
        if (c.back == VT_BSTR) {
            EXPECT_EQ(Bstr(got.bstrVal).Utf8(), Bstr(expected.bstrVal).Utf8());
        } else if (c.back == VT_I4) {
            EXPECT_EQ(got.lVal, -42);
        } else if (c.back == VT_DATE) {
            EXPECT_DOUBLE_EQ(got.date, 46000.25);
        }
    }

    Outcome child = Call(thing.get(), u"Child", DISPATCH_METHOD);
    ASSERT_EQ(child.result.vt, VT_DISPATCH);
    EXPECT_EQ(liveThings.load(), 2);
    EXPECT_EQ(Call(child.result.pdispVal, u"Name", DISPATCH_PROPERTYPUT, {Variant::FromBstr(u"kid")}).hr, S_OK);
    child.result = Variant();
    // The proxy's release reaches the service.
    EXPECT_TRUE(WaitUntil([] { return liveThings.load() == 1; }));
    thing.reset();
    EXPECT_TRUE(WaitUntil([] { return liveThings.load() == 0 && velmo::BusExportedObjects() == 0; }));
}

// A fixed object's methods and signals carry plain values of every kind the
// bus takes, both ways; a reply or signal that does not fit its signature
// becomes an error or is dropped, never a broken message.
TEST_F(Bridge, FixedObjectsCarryPlainValuesBothWays)
{
    using velmo::BusData;
    using velmo::BusReply;
    using velmo::BusWork;
    const std::string kPath = "/test/velmo/Fixed", kIface = "test.velmo.IFixed";
    const std::string kSig = "a(si)a{sv}tbdx";
    velmo::BusObjectSpec spec{kPath, kIface, {}, {}};
    spec.methods = {
        {"Echo",
         kSig,
         {"rows", "fields", "big", "flag", "real", "small"},
         kSig,
         {"rows", "fields", "big", "flag", "real", "small"},
         [](std::vector<BusData> in) -> BusWork { return [in] { return BusReply::Success(in); }; }},
        {"Misfit",
         "",
         {},
         "s",
         {"text"},
         [](std::vector<BusData>) -> BusWork { return [] { return BusReply::Success({std::int32_t{1}}); }; }},
        {"Refuse",
         "",
         {},
         "",
         {},
         [](std::vector<BusData>) -> BusWork { return [] { return BusReply::Error("test.velmo.Error.No", "no"); }; }},
    };
    spec.signals = {{"Told", "sa{sv}", {"what", "fields"}}};
    ASSERT_EQ(velmo::PublishBusObject(spec), S_OK);
    EXPECT_EQ(velmo::PublishBusObject(spec), E_INVALIDARG);

    std::string why;
    auto client = velmo::BusClient::Connect("org.norvane.Velmo", "", nullptr, why);
    ASSERT_TRUE(client) << why;
    std::vector<BusData> in{BusData::List{BusData::List{"Grüße", std::int32_t{1}}, BusData::List{"", std::int32_t{-2}}},
                            BusData::Entries{{"s", "text"},
                                             {"i", std::int32_t{-7}},
                                             {"u", std::uint32_t{7}},
                                             {"t", std::uint64_t{1} << 40},
                                             {"b", true},
                                             {"d", 2.5}},
                            std::uint64_t{18446744073709551615ULL},
                            false,
                            -0.5,
                            std::int64_t{-1} << 40};
    std::vector<BusData> out;
    velmo::BusError error;
    // The object appears on the bus thread, a moment after it is published.
    ASSERT_TRUE(WaitUntil([&] { return client->Call(kPath, kIface, "Echo", kSig, in, kSig, out, error); }))
        << error.message;
    ASSERT_EQ(out.size(), 6u);
    ASSERT_EQ(out[0].Items().size(), 2u);
    EXPECT_EQ(out[0].Items()[0].Items()[0].As<std::string>(), "Grüße");
    EXPECT_EQ(out[0].Items()[1].Items()[1].As<std::int32_t>(), -2);
    ASSERT_EQ(out[1].Named().size(), 6u);
    EXPECT_EQ(out[1].Find("s")->As<std::string>(), "text");
    EXPECT_EQ(out[1].Find("i")->As<std::int32_t>(), -7);
    EXPECT_EQ(out[1].Find("u")->As<std::uint32_t>(), 7u);
    EXPECT_EQ(out[1].Find("t")->As<std::uint64_t>(), std::uint64_t{1} << 40);
    EXPECT_TRUE(out[1].Find("b")->As<bool>());
    EXPECT_DOUBLE_EQ(out[1].Find("d")->As<double>(), 2.5);
    EXPECT_EQ(out[2].As<std::uint64_t>(), 18446744073709551615ULL);
    EXPECT_TRUE(out[3].Is<bool>() && !out[3].As<bool>());
    EXPECT_DOUBLE_EQ(out[4].As<double>(), -0.5);
    EXPECT_EQ(out[5].As<std::int64_t>(), std::int64_t{-1} << 40);

    // Values that do not fit the signature never leave the caller.
    EXPECT_FALSE(client->Call(kPath, kIface, "Echo", kSig, {std::int32_t{1}}, kSig, out, error));
    EXPECT_FALSE(client->Call(kPath, kIface, "Echo", "s", {"x"}, "", out, error));
    EXPECT_EQ(error.name, "org.freedesktop.DBus.Error.InvalidArgs") << error.message;
    EXPECT_FALSE(client->Call(kPath, kIface, "Misfit", "", {}, "s", out, error));
    EXPECT_EQ(error.name, "org.freedesktop.DBus.Error.Failed") << error.message;
    EXPECT_FALSE(client->Call(kPath, kIface, "Refuse", "", {}, "", out, error));
    EXPECT_EQ(error.name, "test.velmo.Error.No");
    EXPECT_EQ(error.message, "no");

    std::vector<std::string> told;
    ASSERT_TRUE(client->Subscribe(
        kPath, kIface, "Told", "sa{sv}",
        [&](const std::vector<BusData>& args) {
            told.push_back(args[0].As<std::string>() + "=" + args[1].Find("n")->As<std::string>());
        },
        error));
    velmo::EmitBusSignal(kPath, "Told", {"misfit"});  // dropped: it does not fit
    velmo::EmitBusSignal(kPath, "Unknown", {"x"});    // dropped: not declared
    velmo::EmitBusSignal(kPath, "Told", {"one", BusData::Entries{{"n", "1"}}});
    EXPECT_EQ(client->Wait(
                  10000, [&] { return !told.empty(); }, error),
              velmo::BusClient::WaitResult::Done);
    EXPECT_EQ(told, std::vector<std::string>{"one=1"});
    EXPECT_EQ(client->Wait(
                  0, [] { return false; }, error),
              velmo::BusClient::WaitResult::TimedOut);

    EXPECT_EQ(velmo::WithdrawBusObject(kPath), S_OK);
    EXPECT_EQ(velmo::WithdrawBusObject(kPath), S_FALSE);
}

TEST_F(Bridge, FailuresCrossAsTheirTwoErrorNames)
{
    auto thing = NewThing();
    ASSERT_TRUE(thing);
    Outcome broke = Call(thing.get(), u"Fail", DISPATCH_METHOD, {Variant::FromI4(1)});
    EXPECT_EQ(broke.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(broke.description, "it broke");
    EXPECT_EQ(Call(thing.get(), u"Fail", DISPATCH_METHOD, {Variant::FromI4(2)}).hr, E_INVALIDARG);

    int code = 0;
    std::string out = Busctl("call org.norvane.Velmo /org/norvane/Velmo org.norvane.Velmo.Activator CreateInstance s "
                             "'{00000000-0000-0000-0000-00000000BEEF}'",
                             &code);
    EXPECT_NE(code, 0);
    EXPECT_NE(out.find("0x80040154"), std::string::npos) << out;
}

TEST_F(Bridge, ObjectsOfAClientThatLeavesWithoutReleaseAreFreed)
{
    int code = 0;
    for (int i = 0; i < 3; ++i) {
        std::string out = Busctl("call org.norvane.Velmo /org/norvane/Velmo org.norvane.Velmo.Activator "
                                 "CreateInstance s '" +
                                     kThingText + "'",
                                 &code);
        EXPECT_EQ(code, 0) << out;
        EXPECT_NE(out.find("/org/norvane/Velmo/objects/"), std::string::npos) << out;
    }
    EXPECT_TRUE(WaitUntil([] { return liveThings.load() == 0 && velmo::BusExportedObjects() == 0; }));
}

TEST_F(Bridge, AForeignClientUsesOneObjectAcrossCalls)
{
    if (!HavePythonDbus())
        GTEST_SKIP() << "Python's dbus module (python3-dbus) is not installed";
    const char* script = R"(import dbus, sys
bus = dbus.bus.BusConnection(sys.argv[1])
act = dbus.Interface(bus.get_object('org.norvane.Velmo', '/org/norvane/Velmo'), 'org.norvane.Velmo.Activator')
obj = bus.get_object('org.norvane.Velmo', act.CreateInstance(sys.argv[2]))
props = dbus.Interface(obj, 'org.freedesktop.DBus.Properties')
props.Set('test.velmo.IThing', 'Name', 'from python')
print(props.Get('test.velmo.IThing', 'Name'))
thing = dbus.Interface(obj, 'test.velmo.IThing')
result, copy = thing.Echo(dbus.Int32(7))
print(result, copy)
try:
    thing.Fail(1)
except dbus.DBusException as e:
    print(e.get_dbus_name(), e.get_dbus_message())
dbus.Interface(obj, 'org.norvane.Velmo.Object').Release()
try:
    dbus.Interface(obj, 'org.norvane.Velmo.Object').Release()
except dbus.DBusException as e:
    print(e.get_dbus_name(), e.get_dbus_message())
)";
    int code = 0;
    std::string out = RunPython(root_.path(), "client.py", script, bus_.address() + " '" + kThingText + "'", &code);
    EXPECT_EQ(code, 0) << out;
    EXPECT_EQ(out, "from python\n7 7\norg.norvane.Velmo.Error.Exception it broke\n"
                   "org.freedesktop.DBus.Error.UnknownObject Unknown object '/org/norvane/Velmo/objects/1'.\n");
}

TEST_F(Bridge, ABlockedCallDoesNotHoldUpOtherClients)
{
    auto slow = NewThing();
    auto quick = NewThing();
    ASSERT_TRUE(slow && quick);
    std::atomic<bool> slowDone{false};
    std::thread caller([&] {
        EXPECT_EQ(Call(slow.get(), u"Block", DISPATCH_METHOD).hr, S_OK);
        slowDone = true;
    });
    // The second object lives on its own connection: its calls go through
    // while the first is still blocked in the service.
    EXPECT_EQ(Call(quick.get(), u"Name", DISPATCH_PROPERTYPUT, {Variant::FromBstr(u"q")}).hr, S_OK);
    EXPECT_EQ(Call(quick.get(), u"Fail", DISPATCH_METHOD, {Variant::FromI4(2)}).hr, E_INVALIDARG);
    EXPECT_FALSE(slowDone.load());
    SetEvent(unblock.get());
    caller.join();
    EXPECT_TRUE(slowDone.load());
}

}  // namespace

namespace {

TEST_F(Bridge, AnObjectExistsOnlyForTheConnectionsThatHoldIt)
{
    if (!HavePythonDbus())
        GTEST_SKIP() << "Python's dbus module (python3-dbus) is not installed";
    // Two connections of one process: the second is refused whatever it
    // calls, with the error of a path that holds nothing.
    const char* script = R"(import dbus, sys
owner = dbus.bus.BusConnection(sys.argv[1])
other = dbus.bus.BusConnection(sys.argv[1])
act = dbus.Interface(owner.get_object('org.norvane.Velmo', '/org/norvane/Velmo'), 'org.norvane.Velmo.Activator')
path = act.CreateInstance(sys.argv[2])
mine = owner.get_object('org.norvane.Velmo', path)
dbus.Interface(mine, 'org.freedesktop.DBus.Properties').Set('test.velmo.IThing', 'Name', 'secret')
theirs = other.get_object('org.norvane.Velmo', path, introspect=False)
attempts = [
    lambda: dbus.Interface(theirs, 'test.velmo.IThing').Echo(dbus.Int32(1, variant_level=1)),
    lambda: dbus.Interface(theirs, 'org.freedesktop.DBus.Properties').Get('test.velmo.IThing', 'Name'),
    lambda: dbus.Interface(theirs, 'org.freedesktop.DBus.Properties').GetAll('test.velmo.IThing'),
    lambda: dbus.Interface(theirs, 'org.freedesktop.DBus.Properties').Set('test.velmo.IThing', 'Name', dbus.String('+666', variant_level=1)),
    lambda: dbus.Interface(theirs, 'org.norvane.Velmo.Object').Release(),
]
for attempt in attempts:
    try:
        attempt()
        print('reached')
    except dbus.DBusException as e:
        print(e.get_dbus_name() == 'org.freedesktop.DBus.Error.UnknownObject' and e.get_dbus_message() == "Unknown object '%s'." % path)
print(dbus.Interface(mine, 'org.freedesktop.DBus.Properties').Get('test.velmo.IThing', 'Name'))
)";
    int code = 0;
    std::string out = RunPython(root_.path(), "two.py", script, bus_.address() + " '" + kThingText + "'", &code);
    EXPECT_EQ(code, 0) << out;
    EXPECT_EQ(out, "True\nTrue\nTrue\nTrue\nTrue\nsecret\n");
}

TEST_F(Bridge, AConnectionHoldsAtMostTheLimitAndTheRestGoOn)
{
    if (!HavePythonDbus())
        GTEST_SKIP() << "Python's dbus module (python3-dbus) is not installed";
    // Objects created, and objects handed back by a call, both count; a
    // released one makes room again; another connection is not affected.
    const char* script = R"(import dbus, sys
limit = int(sys.argv[3])
def activator(conn):
    return dbus.Interface(conn.get_object('org.norvane.Velmo', '/org/norvane/Velmo'), 'org.norvane.Velmo.Activator')
greedy = dbus.bus.BusConnection(sys.argv[1])
act = activator(greedy)
paths = [act.CreateInstance(sys.argv[2]) for _ in range(limit)]
def refused(call):
    try:
        call()
        return 'created'
    except dbus.DBusException as e:
        return e.get_dbus_name() + ': ' + e.get_dbus_message()
print(refused(lambda: act.CreateInstance(sys.argv[2])))
first = greedy.get_object('org.norvane.Velmo', paths[0])
print(refused(lambda: dbus.Interface(first, 'test.velmo.IThing').Child()))
dbus.Interface(first, 'test.velmo.IThing').Echo(dbus.Int32(5))
dbus.Interface(greedy.get_object('org.norvane.Velmo', paths[1], introspect=False), 'org.norvane.Velmo.Object').Release()
print(refused(lambda: act.CreateInstance(sys.argv[2])))
print(refused(lambda: activator(dbus.bus.BusConnection(sys.argv[1])).CreateInstance(sys.argv[2])))
)";
    int code = 0;
    std::string out =
        RunPython(root_.path(), "limit.py", script,
                  bus_.address() + " '" + kThingText + "' " + std::to_string(velmo::kMaxObjectsPerClient), &code);
    EXPECT_EQ(code, 0) << out;
    const std::string refusal = "org.norvane.Velmo.Error.Exception: This connection already holds " +
                                std::to_string(velmo::kMaxObjectsPerClient) +
                                " objects, the most one connection may hold: release one first\n";
    EXPECT_EQ(out, refusal + refusal + "created\ncreated\n");
    EXPECT_TRUE(WaitUntil([] { return liveThings.load() == 0 && velmo::BusExportedObjects() == 0; }));
}

}  // namespace

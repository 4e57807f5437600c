// A machine that only calls the service: velmops registers the classes and
// the type library there, and the AppID's RemoteServerName points clients
// at the machine that runs the service.
#include "bus/ServiceSandbox.h"
#include "interfaces/VelmoLib.h"
#include "platform/Registry.h"
#include "platform/TempRoot.h"
#include "platform/Text.h"

#include <fstream>
#include <sstream>

namespace {

const std::u16string kAppIdKey = u"AppId\\{B14EB58C-00EE-4c08-AE67-DCD6045DDB44}";
const std::u16string kTypeLibKey = u"TypeLib\\{3589C97E-0D5E-4b9a-B1C4-FCB5E239A144}\\1.0";

int Regsvr(const std::string& args)
{
    int code = 0;
    Capture("'" VELMO_REGSVR "' " + args + " >/dev/null 2>&1", &code);
    return code;
}

std::optional<std::u16string> Value(const std::u16string& key, const std::u16string& name)
{
    return velmo::ReadRegistryString(velmo::Hive::ClassesRoot, key, name);
}

TEST(ClientRegistration, RegistersClassesAndAnAppIdThatOnlyNamesTheService)
{
    TempRoot root;
    ASSERT_EQ(Regsvr("'" VELMO_VELMOPS "'"), 0);
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(u"Velmo.NewSMS", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_NewSMS);
    EXPECT_EQ(CLSIDFromProgID(u"Velmo.MessageCenter", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_MessageCenter);
    EXPECT_EQ(CLSIDFromProgID(u"Velmo.MessageCenter.1", &clsid), S_OK);
    EXPECT_EQ(Value(kAppIdKey, u""), u"velmosvc");
    EXPECT_FALSE(Value(kAppIdKey, u"LocalService"));
    EXPECT_EQ(Value(u"CLSID\\{C7F74FB8-7146-4ae5-9D83-37751212E0A1}", u"AppID"),
              u"{B14EB58C-00EE-4c08-AE67-DCD6045DDB44}");
    EXPECT_TRUE(Value(kTypeLibKey, u""));
    EXPECT_TRUE(std::filesystem::exists(root.path() + "/usr/share/dbus-1/interfaces/org.norvane.Velmo.xml"));

    ASSERT_EQ(Regsvr("/u '" VELMO_VELMOPS "'"), 0);
    EXPECT_EQ(CLSIDFromProgID(u"Velmo.NewSMS", &clsid), CO_E_CLASSSTRING);
    EXPECT_FALSE(Value(kAppIdKey, u""));
    // The type library stays for other clients of the machine.
    EXPECT_TRUE(Value(kTypeLibKey, u""));
}

TEST(ClientRegistration, AFailingTypeLibraryStepLeavesTheScriptsApplied)
{
    TempRoot root;
    // A file where the introspection folder belongs: installing the type library fails.
    std::filesystem::create_directories(root.path() + "/usr/share/dbus-1");
    std::ofstream(root.path() + "/usr/share/dbus-1/interfaces") << "in the way";
    std::string error;
    HMODULE module = velmo::LoadModule(VELMO_VELMOPS, &error);
    ASSERT_TRUE(module) << error;
    auto reg = reinterpret_cast<PFN_DllRegisterServer>(velmo::ModuleSymbol(module, "DllRegisterServer"));
    auto get = reinterpret_cast<PFN_DllGetClassObject>(velmo::ModuleSymbol(module, "DllGetClassObject"));
    auto unload = reinterpret_cast<PFN_DllCanUnloadNow>(velmo::ModuleSymbol(module, "DllCanUnloadNow"));
    ASSERT_TRUE(reg && get && unload);
    EXPECT_EQ(reg(), S_OK);
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(u"Velmo.NewSMS", &clsid), S_OK);
    EXPECT_EQ(Value(kAppIdKey, u""), u"velmosvc");
    void* factory = reinterpret_cast<void*>(1);
    EXPECT_EQ(get(CLSID_NewSMS, IID_IClassFactory, &factory), E_FAIL);
    EXPECT_EQ(factory, nullptr);
    EXPECT_EQ(unload(), S_OK);
}

// The service runs under one system root with its bus; the client machine
// is a second root with only velmops registered and the host in its AppID.
// ssh is a stand-in that runs systemd-stdio-bridge to the first root's bus,
// as the real ssh would run it on that host.
TEST(ClientRegistration, TheAppIdHostLeadsClientsToTheServiceMachine)
{
    if (access("/usr/bin/systemd-stdio-bridge", X_OK) != 0)
        GTEST_SKIP() << "systemd-stdio-bridge (package systemd) is not installed";
    ServiceSandbox server;
    ASSERT_TRUE(server.StartService());

    char tmpl[] = "/tmp/velmo-client-XXXXXX";
    std::string client = mkdtemp(tmpl);
    std::string env = "VELMO_SYSROOT='" + client + "' ";
    int code = 0;
    Capture(env + "'" VELMO_REGSVR "' '" VELMO_VELMOPS "' 2>&1", &code);
    ASSERT_EQ(code, 0);
    // The administrator's edit: RemoteServerName under the AppID key.
    std::string reg = client + "/etc/velmo/system.reg";
    std::ifstream in(reg);
    std::stringstream text;
    text << in.rdbuf();
    std::string content = text.str();
    std::string section = "[HKEY_CLASSES_ROOT\\AppId\\{B14EB58C-00EE-4c08-AE67-DCD6045DDB44}]\n";
    auto at = content.find(section);
    ASSERT_NE(at, std::string::npos) << content;
    content.insert(at + section.size(), "\"RemoteServerName\"=\"admin@gateway\"\n");
    std::ofstream(reg, std::ios::trunc) << content;

    std::filesystem::create_directories(client + "/standin");
    std::ofstream(client + "/standin/ssh") << "#!/bin/sh\necho \"$@\" >> \"$STANDIN_LOG\"\n"
                                              "exec /usr/bin/systemd-stdio-bridge --bus-path=\"$STANDIN_BUS\"\n";
    std::filesystem::permissions(client + "/standin/ssh", std::filesystem::perms::owner_all);
    env += "PATH='" + client + "/standin':\"$PATH\" STANDIN_LOG='" + client + "/ssh.log' STANDIN_BUS='" +
           server.BusAddress() + "' ";

    std::string out = Capture(env + "'" VELMO_VELMO "' send +4917012345 over the bridge 2>&1", &code);
    ASSERT_EQ(code, 0) << out;
    std::string id = out.substr(0, out.find('\n'));
    EXPECT_TRUE(WaitUntil([&] { return std::filesystem::exists(server.Folder("out/sent") + id + ".velmo"); }));
    out = Capture(env + "'" VELMO_VELMO "' status '" + id + "' 2>&1", &code);
    EXPECT_EQ(code, 0) << out;
    EXPECT_EQ(out.rfind("SENT\n", 0), 0u) << out;
    std::ifstream log(client + "/ssh.log");
    std::string first;
    std::getline(log, first);
    EXPECT_NE(first.find("admin@gateway"), std::string::npos) << first;
    std::filesystem::remove_all(client);
}

}  // namespace

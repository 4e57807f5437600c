#include "platform/Activation.h"
#include "platform/ErrorInfo.h"
#include "platform/Registry.h"
#include "TempRoot.h"
#include "plugin/TestWidget.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace {

using velmo::ComPtr;

struct Activation : ::testing::Test {
    TempRoot root;
    HMODULE module = nullptr;

    void SetUp() override
    {
        std::string error;
        module = velmo::LoadModule(VELMO_TEST_PLUGIN, &error);
        ASSERT_NE(module, nullptr) << error;
        auto reg = reinterpret_cast<PFN_DllRegisterServer>(velmo::ModuleSymbol(module, "DllRegisterServer"));
        ASSERT_NE(reg, nullptr);
        ASSERT_EQ(reg(), S_OK);
    }
};

TEST_F(Activation, CreateByClassIdAndByProgId)
{
    ComPtr<ITestWidget> w;
    ASSERT_EQ(CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_INPROC_SERVER, IID_ITestWidget, w.ReceiveVoid()),
              S_OK);
    LONG sum = 0;
    ASSERT_EQ(w->Add(2, 3, &sum), S_OK);
    EXPECT_EQ(sum, 5);

    CLSID byName{};
    ASSERT_EQ(CLSIDFromProgID(u"test.widget", &byName), S_OK) << "ProgIDs compare without regard to case";
    EXPECT_EQ(byName, CLSID_TestWidget);

    ComPtr<IUnknown> outer;
    ASSERT_EQ(CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, outer.ReceiveVoid()),
              S_OK);
    ComPtr<IUnknown> agg;
    EXPECT_EQ(CoCreateInstance(CLSID_TestWidget, outer.get(), CLSCTX_INPROC_SERVER, IID_IUnknown, agg.ReceiveVoid()),
              CLASS_E_NOAGGREGATION);
}

TEST_F(Activation, ErrorInformationSetInThePluginReachesTheCaller)
{
    ComPtr<ITestWidget> w;
    ASSERT_EQ(CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_INPROC_SERVER, IID_ITestWidget, w.ReceiveVoid()),
              S_OK);
    ASSERT_EQ(w->Refuse(), DISP_E_EXCEPTION);
    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(w.As(support), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_ITestWidget), S_OK);
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.Receive()), S_OK);
    velmo::Bstr description, source;
    info->GetDescription(description.Receive());
    info->GetSource(source.Receive());
    EXPECT_EQ(description.view(), u"widget refused");
    EXPECT_EQ(source.view(), u"Test.Widget.1");
}

TEST_F(Activation, UnknownAndUnregisteredClasses)
{
    ComPtr<IUnknown> u;
    constexpr CLSID unknown = velmo::MakeGuid("{00000000-1111-2222-3333-444444444444}");
    EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, u.ReceiveVoid()),
              REGDB_E_CLASSNOTREG);
    CLSID c{};
    EXPECT_EQ(CLSIDFromProgID(u"No.Such.Class", &c), CO_E_CLASSSTRING);

    auto unreg = reinterpret_cast<PFN_DllUnregisterServer>(velmo::ModuleSymbol(module, "DllUnregisterServer"));
    ASSERT_EQ(unreg(), S_OK);
    EXPECT_EQ(CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, u.ReceiveVoid()),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CLSIDFromProgID(u"Test.Widget", &c), CO_E_CLASSSTRING);
}

TEST_F(Activation, ModuleExportsOnlyTheFourEntryPoints)
{
    EXPECT_NE(velmo::ModuleSymbol(module, "DllCanUnloadNow"), nullptr);
    EXPECT_EQ(velmo::ModuleSymbol(module, "_ZN12_GLOBAL__N_113MakeRegistrarEv"), nullptr);
    std::string cmd = "nm -D --defined-only " + std::string(VELMO_TEST_PLUGIN) +
                      " | awk '$2 ~ /[TDB]/ {print $3}' | grep -v -E '^(DllGetClassObject|DllCanUnloadNow|"
                      "DllRegisterServer|DllUnregisterServer|_init|_fini)$'";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string extra;
    char buf[256];
    while (fgets(buf, sizeof buf, p))
        extra += buf;
    pclose(p);
    EXPECT_EQ(extra, "") << "symbols that leak from the module";
}

TEST_F(Activation, RegsvrToolRegistersAndRemoves)
{
    std::string tool = VELMO_REGSVR;
    std::string plugin = VELMO_TEST_PLUGIN;
    auto run = [](const std::string& cmd) {
        int status = std::system(cmd.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(run(tool + " /u " + plugin + " >/dev/null"), 0);
    EXPECT_FALSE(velmo::ReadRegistryString(velmo::Hive::ClassesRoot, u"Test.Widget\\CLSID", u""));
    EXPECT_EQ(run(tool + " " + plugin + " >/dev/null"), 0);
    EXPECT_TRUE(velmo::ReadRegistryString(velmo::Hive::ClassesRoot, u"Test.Widget\\CLSID", u""));
    EXPECT_NE(run(tool + " /nonexistent/Module.so 2>/dev/null"), 0);
    EXPECT_NE(run(tool + " 2>/dev/null"), 0);
}

}  // namespace

// RegHelper's catalogue and the registration of Cellgate into it.
#include "devices/cellgate/PduDevice.h"
#include "interfaces/RegHelper.h"
#include "platform/RegistryValues.h"
#include "platform/Activation.h"
#include "platform/Registry.h"
#include "platform/TempRoot.h"
#include "platform/Text.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <pugixml.hpp>

using velmo::Bstr;

namespace {

constexpr GUID kA = velmo::MakeGuid("{0A0A0A0A-0000-0000-0000-00000000000A}");
constexpr GUID kB = velmo::MakeGuid("{0B0B0B0B-0000-0000-0000-00000000000B}");

std::string Slurp(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

HRESULT CallModule(const char* path, const char* entry)
{
    std::string error;
    HMODULE m = velmo::LoadModule(path, &error);
    auto fn = m ? reinterpret_cast<PFN_DllRegisterServer>(velmo::ModuleSymbol(m, entry)) : nullptr;
    return fn ? fn() : E_FAIL;
}

void SetRoot(const std::string& folder)
{
    EXPECT_EQ(
        SetRegistryString(velmo::Hive::LocalMachine, u"Software\\Norvane\\Velmo", u"root", velmo::Utf8ToUtf16(folder)),
        ERROR_SUCCESS);
}

class Catalogue : public ::testing::Test {
protected:
    Catalogue()
    {
        folder = root.path() + "/var/lib/velmo";
        std::filesystem::create_directories(folder);
        SetRoot(folder);  // without a final slash: the helper adds one
        Write("<installed.devices/>");
        EXPECT_EQ(CallModule(VELMO_RIGSTOCK, "DllRegisterServer"), S_OK);
        EXPECT_EQ(
            CoCreateInstance(CLSID_RegHelper, nullptr, CLSCTX_INPROC_SERVER, IID_IRegHelper, helper.ReceiveVoid()),
            S_OK);
    }
    void Write(const std::string& text) { std::ofstream(folder + "/devices.xml") << text; }
    std::string Text() const { return Slurp(folder + "/devices.xml"); }
    std::vector<std::string> Entries() const
    {
        pugi::xml_document doc;
        doc.load_file((folder + "/devices.xml").c_str());
        std::vector<std::string> out;
        for (auto d : doc.child("installed.devices").children("device"))
            out.push_back(std::string(d.attribute("clsid").value()) + "=" + d.child_value("name"));
        return out;
    }
    HRESULT Add(const GUID& clsid, const std::string& xml)
    {
        Bstr text(velmo::Utf8ToUtf16(xml));
        return helper->Add(clsid, text.get());
    }
    static std::string Device(const GUID& clsid, const char* name)
    {
        return "<device clsid=\"" + velmo::GuidToUtf8(clsid) + "\"><name>" + name + "</name></device>";
    }
    TempRoot root;
    std::string folder;
    velmo::ComPtr<IRegHelper> helper;
};

TEST_F(Catalogue, AddReplacesAnEntryAndPutsItLast)
{
    ASSERT_EQ(Add(kA, Device(kA, "first")), S_OK);
    ASSERT_EQ(Add(kB, Device(kB, "other")), S_OK);
    ASSERT_EQ(Add(kA, Device(kA, "second")), S_OK);
    EXPECT_EQ(Entries(),
              (std::vector<std::string>{velmo::GuidToUtf8(kB) + "=other", velmo::GuidToUtf8(kA) + "=second"}));
    ASSERT_EQ(helper->Remove(kA), S_OK);
    EXPECT_EQ(Entries(), std::vector<std::string>{velmo::GuidToUtf8(kB) + "=other"});
    ASSERT_EQ(helper->Remove(kA), S_OK);  // nothing to remove: saved unchanged
    EXPECT_EQ(Entries(), std::vector<std::string>{velmo::GuidToUtf8(kB) + "=other"});
}

TEST_F(Catalogue, LowerCaseClassIdIsNeverMatched)
{
    std::string lower = "<device clsid=\"{0a0a0a0a-0000-0000-0000-00000000000a}\"><name>lower</name></device>";
    ASSERT_EQ(Add(kA, lower), S_OK);
    ASSERT_EQ(Add(kA, lower), S_OK);
    EXPECT_EQ(Entries().size(), 2u);
    ASSERT_EQ(helper->Remove(kA), S_OK);
    EXPECT_EQ(Entries().size(), 2u);
}

TEST_F(Catalogue, FailuresWriteNothing)
{
    std::string before = Text();
    EXPECT_EQ(Add(kA, "<device"), S_OK);  // not XML: nothing saved
    EXPECT_EQ(Text(), before);
    EXPECT_EQ(Add(kA, "<other/>"), E_FAIL);  // XML without a device element
    EXPECT_EQ(Text(), before);

    Write("<catalogue/>");
    EXPECT_EQ(Add(kA, Device(kA, "x")), E_FAIL);
    EXPECT_EQ(Text(), "<catalogue/>");
    EXPECT_EQ(helper->Remove(kA), S_OK);

    Write("<installed.devices>");
    EXPECT_EQ(Add(kA, Device(kA, "x")), E_FAIL);
    std::filesystem::remove(folder + "/devices.xml");
    EXPECT_EQ(Add(kA, Device(kA, "x")), E_FAIL);
    EXPECT_EQ(helper->Remove(kA), E_FAIL);
    EXPECT_FALSE(std::filesystem::exists(folder + "/devices.xml"));

    EXPECT_EQ(RemoveRegistryTree(velmo::Hive::LocalMachine, u"Software\\Norvane\\Velmo"), ERROR_SUCCESS);
    EXPECT_EQ(Add(kA, Device(kA, "x")), E_FAIL);
}

std::string RunRegsvr(const std::string& args)
{
    std::string out = std::string(std::getenv("VELMO_SYSROOT")) + "/regsvr.out";
    // What regsvr printed is what the callers check; its exit code is not.
    (void)!std::system((std::string(VELMO_REGSVR) + " " + args + " >" + out + " 2>&1").c_str());
    return Slurp(out);
}

bool KeyExists(const char16_t* path) { return RegistryKeyExists(velmo::Hive::ClassesRoot, path); }

// The root folder with an empty catalogue, as the installation leaves it.
std::string Install(const TempRoot& root)
{
    std::string folder = root.path() + "/var/lib/velmo/";
    std::filesystem::create_directories(folder);
    SetRoot(folder);
    std::ofstream(folder + "devices.xml") << "<installed.devices/>";
    return folder;
}

TEST(CellgateRegistration, EntersItselfIntoTheCatalogueAndLeavesAgain)
{
    TempRoot root;
    std::string folder = Install(root);
    RunRegsvr(VELMO_RIGSTOCK);
    RunRegsvr(VELMO_CELLGATE);
    EXPECT_TRUE(KeyExists(u"CLSID\\{852F907B-3A8B-4CF5-B19D-8B813B2F7367}\\InprocServer32"));
    EXPECT_TRUE(KeyExists(u"CLSID\\{852F907B-3A8B-4CF5-B19D-8B813B2F7367}\\Programmable"));
    EXPECT_TRUE(KeyExists(u"TypeLib\\{9C70CEB0-A9ED-4B97-AD20-EEE3310986AC}\\1.0"));
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(u"Cellgate.PDU", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_PDU);
    std::string catalogue = Slurp(folder + "devices.xml");
    EXPECT_NE(catalogue.find("clsid=\"{852F907B-3A8B-4CF5-B19D-8B813B2F7367}\""), std::string::npos) << catalogue;
    EXPECT_NE(catalogue.find("<file>Cellgate.so</file>"), std::string::npos);
    EXPECT_NE(catalogue.find("SMS Pincode. Leave blank if running PIN-less"), std::string::npos);

    RunRegsvr(std::string("/u ") + VELMO_CELLGATE);
    EXPECT_FALSE(KeyExists(u"CLSID\\{852F907B-3A8B-4CF5-B19D-8B813B2F7367}"));
    EXPECT_FALSE(KeyExists(u"Cellgate.PDU"));
    EXPECT_EQ(Slurp(folder + "devices.xml").find("852F907B"), std::string::npos);
}

TEST(CellgateRegistration, WithoutRigstockItFailsButKeepsItsClassEntries)
{
    TempRoot root;
    std::string folder = Install(root);
    std::string out = RunRegsvr(VELMO_CELLGATE);
    EXPECT_NE(out.find("Cellgate Registration Error: Velmo is not properly installed and/or configured on this system. "
                       "Registration failed\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(CallModule(VELMO_CELLGATE, "DllRegisterServer"), REGDB_E_CLASSNOTREG);
    EXPECT_TRUE(KeyExists(u"CLSID\\{852F907B-3A8B-4CF5-B19D-8B813B2F7367}"));
    EXPECT_EQ(Slurp(folder + "devices.xml"), "<installed.devices/>");
}

}  // namespace

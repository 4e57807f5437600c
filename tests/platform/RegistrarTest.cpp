#include "platform/RegistryValues.h"
#include "platform/Registrar.h"
#include "platform/Registry.h"
#include "TempRoot.h"

#include <gtest/gtest.h>

namespace {

using velmo::Hive;

const char16_t* kScript = uR"(
HKCR
{
    NoRemove CLSID
    {
        ForceRemove {11111111-2222-3333-4444-555555555555} = s 'Test Class'
        {
            InprocServer32 = s '%MODULE%'
            {
                val ThreadingModel = s 'Both'
            }
            'Prog ID' = s 'It''s quoted'
        }
    }
    Test.Class.1 = s 'Test Class'
    {
        CLSID = s '{11111111-2222-3333-4444-555555555555}'
    }
}
HKLM
{
    NoRemove Software
    {
        Test = s 'x' { val Count = d 7 }
    }
}
)";

std::optional<std::u16string> Str(Hive h, const char16_t* path, const char16_t* name = u"")
{
    return velmo::ReadRegistryString(h, path, name);
}

bool Exists(Hive h, const char16_t* path)
{
    bool found = false;
    velmo::ReadRegistry([&](const velmo::RegistryTree& t) { found = t.Find(h, path) != nullptr; });
    return found;
}

TEST(Registrar, RegistersWithReplacements)
{
    TempRoot root;
    velmo::Registrar r;
    r.AddReplacement(u"MODULE", u"/opt/velmo/lib/Test.so");
    ASSERT_EQ(r.StringRegister(kScript), S_OK);
    const char16_t* cls = u"CLSID\\{11111111-2222-3333-4444-555555555555}";
    EXPECT_EQ(Str(Hive::ClassesRoot, cls), u"Test Class");
    EXPECT_EQ(Str(Hive::ClassesRoot, u"CLSID\\{11111111-2222-3333-4444-555555555555}\\InprocServer32"),
              u"/opt/velmo/lib/Test.so");
    EXPECT_EQ(
        Str(Hive::ClassesRoot, u"CLSID\\{11111111-2222-3333-4444-555555555555}\\InprocServer32", u"ThreadingModel"),
        u"Both");
    EXPECT_EQ(Str(Hive::ClassesRoot, u"CLSID\\{11111111-2222-3333-4444-555555555555}\\Prog ID"), u"It's quoted");
    EXPECT_EQ(Str(Hive::ClassesRoot, u"Test.Class.1\\CLSID"), u"{11111111-2222-3333-4444-555555555555}");
}

TEST(Registrar, ForceRemoveClearsLeftoversAndNoRemoveKeepsParents)
{
    TempRoot root;
    velmo::Registrar r;
    r.AddReplacement(u"MODULE", u"/m.so");
    ASSERT_EQ(r.StringRegister(kScript), S_OK);
    // Leftovers: one under the ForceRemove key, one beside it in CLSID.
    ASSERT_EQ(CreateRegistryKey(Hive::ClassesRoot, u"CLSID\\{11111111-2222-3333-4444-555555555555}\\Stale"),
              ERROR_SUCCESS);
    ASSERT_EQ(CreateRegistryKey(Hive::ClassesRoot, u"CLSID\\{99999999-0000-0000-0000-000000000000}"), ERROR_SUCCESS);
    ASSERT_EQ(r.StringRegister(kScript), S_OK);
    EXPECT_FALSE(Exists(Hive::ClassesRoot, u"CLSID\\{11111111-2222-3333-4444-555555555555}\\Stale"))
        << "ForceRemove deletes the key before writing it anew";

    ASSERT_EQ(r.StringUnregister(kScript), S_OK);
    EXPECT_FALSE(Exists(Hive::ClassesRoot, u"CLSID\\{11111111-2222-3333-4444-555555555555}"));
    EXPECT_FALSE(Exists(Hive::ClassesRoot, u"Test.Class.1"));
    EXPECT_TRUE(Exists(Hive::ClassesRoot, u"CLSID")) << "NoRemove keys stay";
    EXPECT_TRUE(Exists(Hive::ClassesRoot, u"CLSID\\{99999999-0000-0000-0000-000000000000}"))
        << "what the script does not name is left alone";
    EXPECT_TRUE(Exists(Hive::LocalMachine, u"Software"));
    EXPECT_FALSE(Exists(Hive::LocalMachine, u"Software\\Test"));
}

TEST(Registrar, PlainKeyWithForeignSubkeysSurvivesUnregistration)
{
    TempRoot root;
    velmo::Registrar r;
    r.AddReplacement(u"MODULE", u"/m.so");
    ASSERT_EQ(r.StringRegister(kScript), S_OK);
    ASSERT_EQ(CreateRegistryKey(Hive::ClassesRoot, u"Test.Class.1\\Other"), ERROR_SUCCESS);
    ASSERT_EQ(r.StringUnregister(kScript), S_OK);
    EXPECT_TRUE(Exists(Hive::ClassesRoot, u"Test.Class.1\\Other"));
    EXPECT_FALSE(Exists(Hive::ClassesRoot, u"Test.Class.1\\CLSID"));
}

TEST(Registrar, BadScriptsChangeNothing)
{
    TempRoot root;
    velmo::Registrar r;
    const char16_t* bad[] = {
        u"HKXX { A }",
        u"HKCR { A = s 'unterminated }",
        u"HKCR { A = q 'x' }",
        u"HKCR { A { val B = s 'x' }",
        u"HKCR { A = s '%UNKNOWN%' }",
        u"HKCR { A = d 'twelve' }",
    };
    for (const char16_t* s : bad) {
        std::string why;
        EXPECT_FALSE(r.Check(s, &why));
        EXPECT_FALSE(why.empty());
        EXPECT_EQ(r.StringRegister(s), E_INVALIDARG);
    }
    EXPECT_FALSE(Exists(Hive::ClassesRoot, u"A"));
}

}  // namespace

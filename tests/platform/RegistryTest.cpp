#include "platform/Registry.h"
#include "platform/RegistryValues.h"
#include "platform/SysRoot.h"
#include "platform/Text.h"
#include "TempRoot.h"

#include <gtest/gtest.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace {

using velmo::Hive;
using velmo::RegistryTree;

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(RegistryTree, ParseAndSerializeRoundTrip)
{
    const char* text = "Windows Registry Editor Version 5.00\n"
                       "\n"
                       "[HKEY_LOCAL_MACHINE\\Software\\Norvane\\Velmo]\n"
                       "\"root\"=\"/var/lib/velmo/\"\n"
                       "\"quote\"=\"a \\\"b\\\" c:\\\\d\"\n"
                       "\n"
                       "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\EventLog\\Application\\velmosvc]\n"
                       "\"TypesSupported\"=dword:00000007\n"
                       "\"Raw\"=hex:01,02,\\\n"
                       "  ff\n"
                       "\n"
                       "[HKEY_CLASSES_ROOT\\CLSID\\{C7F74FB8-7146-4ae5-9D83-37751212E0A1}]\n"
                       "@=\"NewSMS Class\"\n"
                       "\n"
                       "[HKEY_CLASSES_ROOT\\CLSID\\{C7F74FB8-7146-4ae5-9D83-37751212E0A1}\\Programmable]\n"
                       "\n";
    std::string error;
    auto tree = RegistryTree::Parse(text, &error);
    ASSERT_TRUE(tree) << error;
    auto* velmo = tree->Find(Hive::LocalMachine, u"SOFTWARE\\norvane\\VELMO");
    ASSERT_NE(velmo, nullptr) << "key names compare without regard to case";
    EXPECT_EQ(velmo->String(u"ROOT"), u"/var/lib/velmo/");
    EXPECT_EQ(velmo->String(u"quote"), u"a \"b\" c:\\d");
    auto* ev = tree->Find(Hive::LocalMachine, u"System\\CurrentControlSet\\Services\\EventLog\\Application\\velmosvc");
    ASSERT_NE(ev, nullptr);
    EXPECT_EQ(ev->Value(u"TypesSupported")->data, (std::vector<BYTE>{7, 0, 0, 0}));
    EXPECT_EQ(ev->Value(u"Raw")->data, (std::vector<BYTE>{1, 2, 0xFF}));
    auto* cls = tree->Find(Hive::ClassesRoot, u"clsid\\{c7f74fb8-7146-4AE5-9d83-37751212e0a1}");
    ASSERT_NE(cls, nullptr) << "GUID texts as key names compare without regard to case";
    EXPECT_EQ(cls->Name(), u"{C7F74FB8-7146-4ae5-9D83-37751212E0A1}") << "names keep their case";
    EXPECT_NE(cls->Child(u"Programmable"), nullptr) << "an empty key survives";

    auto again = RegistryTree::Parse(tree->Serialize(), &error);
    ASSERT_TRUE(again) << error;
    EXPECT_EQ(again->Serialize(), tree->Serialize());
}

TEST(RegistryTree, MalformedFilesAreRefusedWhole)
{
    const char* bad[] = {
        "REGEDIT5\n[HKEY_LOCAL_MACHINE\\A]\n",
        "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A\n",
        "Windows Registry Editor Version 5.00\n[HKEY_NOWHERE\\A]\n",
        "Windows Registry Editor Version 5.00\n\"x\"=\"value outside a key\"\n",
        "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"unterminated\n",
        "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:123456789\n",
        "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex:0g\n",
        "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=17\n",
    };
    for (const char* text : bad) {
        std::string error;
        EXPECT_FALSE(RegistryTree::Parse(text, &error)) << text;
        EXPECT_FALSE(error.empty());
    }
}

TEST(Registry, ChangesAndReadsGoThroughTheFile)
{
    TempRoot root;
    ASSERT_EQ(SetRegistryString(Hive::LocalMachine, u"Software\\Norvane\\Velmo", u"root", u"/srv/velmo/"),
              ERROR_SUCCESS);
    EXPECT_EQ(velmo::ReadRegistryString(Hive::LocalMachine, u"software\\NORVANE\\velmo", u"Root"), u"/srv/velmo/")
        << "key and value names compare without regard to case";
    EXPECT_FALSE(velmo::ReadRegistryString(Hive::LocalMachine, u"Software\\Norvane\\Velmo", u"missing"));
    EXPECT_FALSE(velmo::ReadRegistryString(Hive::LocalMachine, u"Software\\Nobody", u"root"));

    // The 8-bit calls devtest reads the root with.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\Norvane\\Velmo", &key), ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExA(key, "root", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 12u);
    char small[4];
    DWORD smallSize = sizeof small;
    EXPECT_EQ(RegQueryValueExA(key, "root", nullptr, nullptr, reinterpret_cast<BYTE*>(small), &smallSize),
              ERROR_MORE_DATA);
    char narrow[64];
    DWORD narrowSize = sizeof narrow;
    ASSERT_EQ(RegQueryValueExA(key, "ROOT", nullptr, nullptr, reinterpret_cast<BYTE*>(narrow), &narrowSize),
              ERROR_SUCCESS);
    EXPECT_STREQ(narrow, "/srv/velmo/");
    EXPECT_EQ(RegQueryValueExA(key, "missing", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    // A key removed meanwhile is gone for the handle that named it.
    EXPECT_EQ(RemoveRegistryTree(Hive::LocalMachine, u"Software\\Norvane"), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(key, "root", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    HKEY none = nullptr;
    EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\Nobody", &none), ERROR_FILE_NOT_FOUND);

    std::string file = ReadFile(root.path() + "/etc/velmo/system.reg");
    EXPECT_EQ(file.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
}

TEST(Registry, DamagedFileIsNeverOverwritten)
{
    TempRoot root;
    velmo::MakeDirectories(root.path() + "/etc/velmo");
    const std::string path = root.path() + "/etc/velmo/system.reg";
    {
        std::ofstream(path) << "garbage that is not a registry\n";
    }
    EXPECT_EQ(CreateRegistryKey(Hive::LocalMachine, u"Software\\X"), ERROR_BADDB);
    EXPECT_FALSE(velmo::ReadRegistryString(Hive::LocalMachine, u"Software\\X", u""));
    EXPECT_EQ(ReadFile(path), "garbage that is not a registry\n");
}

TEST(Registry, TwoProcessesLoseNoUpdate)
{
    TempRoot root;
    constexpr int kWrites = 500;
    pid_t children[2];
    for (int p = 0; p < 2; ++p) {
        children[p] = fork();
        ASSERT_GE(children[p], 0);
        if (children[p] == 0) {
            int failures = 0;
            for (int i = 0; i < kWrites; ++i) {
                std::u16string sub = u"Software\\Stress\\P" + velmo::Utf8ToUtf16(std::to_string(p));
                std::u16string name = velmo::Utf8ToUtf16("v" + std::to_string(i));
                if (SetRegistryString(Hive::LocalMachine, sub, name, u"x") != ERROR_SUCCESS)
                    ++failures;
            }
            _exit(failures == 0 ? 0 : 1);
        }
    }
    // Meanwhile every read must see a whole, parseable file.
    int unreadable = 0;
    for (int i = 0; i < 200; ++i) {
        if (velmo::ReadRegistry([](const RegistryTree&) {}) != ERROR_SUCCESS)
            ++unreadable;
        std::string text = ReadFile(root.path() + "/etc/velmo/system.reg");
        if (!text.empty() && !RegistryTree::Parse(text, nullptr))
            ++unreadable;
    }
    for (pid_t c : children) {
        int status = 0;
        ASSERT_EQ(waitpid(c, &status, 0), c);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(unreadable, 0);
    velmo::ReadRegistry([&](const RegistryTree& tree) {
        const auto& t = tree;
        for (int p = 0; p < 2; ++p) {
            auto* k = t.Find(Hive::LocalMachine, u"Software\\Stress\\P" + velmo::Utf8ToUtf16(std::to_string(p)));
            ASSERT_NE(k, nullptr);
            EXPECT_EQ(k->Values().size(), static_cast<std::size_t>(kWrites)) << "process " << p;
        }
    });
}

}  // namespace

#include "platform/RegistryValues.h"
#include "platform/Guid.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "TempRoot.h"

#include <gtest/gtest.h>
#include <set>

namespace {

constexpr GUID kNewSms = velmo::MakeGuid("{C7F74FB8-7146-4ae5-9D83-37751212E0A1}");

TEST(Guid, TextRoundTripIsUpperCaseBraced)
{
    OLECHAR buf[39];
    ASSERT_EQ(StringFromGUID2(kNewSms, buf, 39), 39);
    EXPECT_EQ(std::u16string(buf), u"{C7F74FB8-7146-4AE5-9D83-37751212E0A1}");
    CLSID back{};
    ASSERT_EQ(CLSIDFromString(buf, &back), S_OK);
    EXPECT_EQ(back, kNewSms);
    EXPECT_EQ(kNewSms.Data1, 0xC7F74FB8u);
    EXPECT_EQ(kNewSms.Data4[7], 0xA1);
    EXPECT_EQ(StringFromGUID2(kNewSms, buf, 38), 0);
}

TEST(Guid, MixedCaseTextParses)
{
    CLSID g{};
    ASSERT_EQ(CLSIDFromString(u"{c7f74fb8-7146-4AE5-9d83-37751212e0a1}", &g), S_OK);
    EXPECT_EQ(g, kNewSms);
}

TEST(Guid, MalformedTextsAreRefused)
{
    TempRoot root;  // no ProgIDs registered, so nothing is looked up by name
    const char16_t* bad[] = {
        u"C7F74FB8-7146-4AE5-9D83-37751212E0A1",     // no braces
        u"{C7F74FB8-7146-4AE5-9D83-37751212E0A}",    // one digit short
        u"{C7F74FB8-7146-4AE5-9D83-37751212E0A12}",  // one digit more
        u"{C7F74FB8-7146-4AE5-9D83-37751212E0AG}",   // not hexadecimal
        u"{C7F74FB8-71464-AE5-9D83-37751212E0A1}",   // hyphen misplaced
        u"{C7F74FB8-7146-4AE5-9D83-37751212E0A1",    // no closing brace
        u"",
        u"Velmo.NoSuchClass",
    };
    for (const char16_t* text : bad) {
        CLSID g = kNewSms;
        EXPECT_EQ(CLSIDFromString(text, &g), CO_E_CLASSSTRING) << velmo::Utf16ToUtf8(text);
        EXPECT_EQ(g, kNewSms) << "output written on failure";
    }
    CLSID g{};
    EXPECT_EQ(CLSIDFromString(nullptr, &g), CO_E_CLASSSTRING);
}

TEST(Guid, ProgIdStandsForItsClass)
{
    TempRoot root;
    std::u16string text = u"{C7F74FB8-7146-4ae5-9D83-37751212E0A1}";
    ASSERT_EQ(SetRegistryString(velmo::Hive::ClassesRoot, u"Velmo.NewSMS\\CLSID", u"", text), ERROR_SUCCESS);
    CLSID g{};
    ASSERT_EQ(CLSIDFromString(u"velmo.newsms", &g), S_OK);
    EXPECT_EQ(g, kNewSms);
}

TEST(Guid, CreatedGuidsAreVersion4AndDistinct)
{
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        GUID g{};
        ASSERT_EQ(CoCreateGuid(&g), S_OK);
        EXPECT_EQ(g.Data3 >> 12, 4);
        EXPECT_EQ(g.Data4[0] & 0xC0, 0x80);
        seen.insert(velmo::GuidToUtf8(g));
    }
    EXPECT_EQ(seen.size(), 1000u);
}

TEST(Guid, ByteOrderingFollowsMemory)
{
    GUID a = velmo::MakeGuid("{00000001-0000-0000-0000-000000000000}");
    GUID b = velmo::MakeGuid("{00000100-0000-0000-0000-000000000000}");
    // Data1 is little-endian in memory: 0x100 has its low byte 0, so it sorts first.
    EXPECT_TRUE(GuidByteLess()(b, a));
}

}  // namespace

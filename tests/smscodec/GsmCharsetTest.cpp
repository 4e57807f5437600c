#include "smscodec/GsmCharset.h"

#include <gtest/gtest.h>
#include <random>

namespace {

using namespace velmo::sms;

// The whole default alphabet in code order (0x1B, the escape, left out),
// then the extension table.
const std::u16string kBasicTable = u"@£$¥èéùìòÇ\nØø\rÅåΔ_ΦΓΛΩΠΨΣΘΞÆæßÉ !\"#¤%&'()*+,-./0123456789:;<=>?"
                                   u"¡ABCDEFGHIJKLMNOPQRSTUVWXYZÄÖÑÜ§¿abcdefghijklmnopqrstuvwxyzäöñüà";
const std::u16string kExtensionTable = u"\f^{}\\[~]|€";

TEST(GsmCharset, EveryCharacterHasItsCodeAndComesBack)
{
    std::string septets;
    ASSERT_TRUE(EncodeGsm7(kBasicTable, septets));
    ASSERT_EQ(septets.size(), 127u);
    for (std::size_t i = 0; i < septets.size(); ++i)
        EXPECT_EQ(static_cast<unsigned>(septets[i]), i < 0x1B ? i : i + 1) << i;
    EXPECT_EQ(DecodeGsm7(septets), kBasicTable);

    ASSERT_TRUE(EncodeGsm7(kExtensionTable, septets));
    EXPECT_EQ(septets, std::string("\x1B\x0A\x1B\x14\x1B\x28\x1B\x29\x1B\x2F\x1B\x3C\x1B\x3D\x1B\x3E\x1B\x40\x1B\x65"));
    EXPECT_EQ(DecodeGsm7(septets), kExtensionTable);

    for (char16_t c : kBasicTable)
        EXPECT_EQ(Gsm7Width(c), 1) << static_cast<unsigned>(c);
    for (char16_t c : kExtensionTable)
        EXPECT_EQ(Gsm7Width(c), 2) << static_cast<unsigned>(c);
}

TEST(GsmCharset, CharactersOutsideTheAlphabetRefuseTheWholeText)
{
    for (const std::u16string& text :
         std::vector<std::u16string>{u"a`b", u"Ж", u"ü😀", u"\x1B", u"\t", std::u16string(1, u'\0'), u"ê"}) {
        std::string septets = "kept";
        EXPECT_FALSE(EncodeGsm7(text, septets)) << text.size();
        EXPECT_EQ(septets, "kept");
    }
    for (char16_t c : {u'`', u'Ж', u'\x1B', u'\t', u'\0', u'ê', char16_t{0xD83D}})
        EXPECT_EQ(Gsm7Width(c), 0) << static_cast<unsigned>(c);
}

TEST(GsmCharset, EscapesWithoutAnExtensionCharacter)
{
    const struct {
        std::string septets;
        std::u16string text;
    } cases[] = {
        {"a\x1B", u"a"},     // at the end: nothing
        {"\x1B\x41", u"A"},  // before a code of no extension character: the basic one
        {"\x1B\x1B"
         "b",
         u" b"},  // two escapes: a space
        {"\x1B\x1B\x1B\x65", u" €"},
        {"\xC1", u"A"},  // the eighth bit is not part of a septet
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeGsm7(c.septets), c.text) << c.septets;
}

TEST(GsmCharset, PackingAtEveryOffsetUnpacksToTheSameCodes)
{
    std::mt19937 rng(99);
    for (int round = 0; round < 3000; ++round) {
        std::string codes;
        for (int k = 0, n = static_cast<int>(rng() % 161); k < n; ++k)
            codes += static_cast<char>(rng() % 4 == 0 ? 0 : rng() % 128);
        unsigned start = rng() % 50;
        std::vector<std::uint8_t> octets = PackSeptetsAt(codes, start);
        ASSERT_EQ(octets.size(), (start + 7 * codes.size() + 7) / 8);
        for (unsigned bit = 0; bit < start; ++bit)
            ASSERT_EQ((octets[bit / 8] >> (bit % 8)) & 1, 0) << "bits below the start stay clear";
        std::size_t used = start + 7 * codes.size();
        if (used % 8) {
            ASSERT_EQ(octets.back() >> (used % 8), 0) << "spare high bits stay clear";
        }
        EXPECT_EQ(UnpackSeptetsAt(octets, start, codes.size()), codes);
        EXPECT_EQ(UnpackSeptetsAt(octets, start, codes.size() + 10).size(), (8 * octets.size() - start) / 7)
            << "no more codes than the octets hold";
    }
    EXPECT_EQ(PackSeptetsAt("hellohello", 0),
              (std::vector<std::uint8_t>{0xE8, 0x32, 0x9B, 0xFD, 0x46, 0x97, 0xD9, 0xEC, 0x37}));
}

}  // namespace

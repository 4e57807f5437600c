#include "smscodec/GsmAlphabet.h"

#include <gtest/gtest.h>

namespace {

using namespace velmo::sms;

std::string RoundTrip(std::string s)
{
    LatinToGsm(s);
    GsmToLatin(s);
    return s;
}

TEST(GsmAlphabet, CharactersOfTheAlphabetSurviveTheRoundTrip)
{
    // Swedish and German letters, @ $ _ pound yen, and the rest of the alphabet's Latin-1 side.
    const std::string kept = "\xC4\xD6\xDC\xE4\xF6\xFC\xC5\xE5\xDF\xC6\xE6\xD8\xF8\xC7\xC9\xE8\xE9\xF9\xEC\xF2"
                             "\xD1\xF1\xE0\xA7\xA1\xBF\xA4@$_\xA3\xA5 Hello, world! 0123456789\r\n";
    EXPECT_EQ(RoundTrip(kept), kept);
}

struct Loss {
    const char* in;
    const char* out;
};

TEST(GsmAlphabet, CharactersWithoutACodeLoseWhatTheAlphabetLacks)
{
    const Loss cases[] = {
        {"\xC1", "A"}, {"\xEA", "e"}, {"\xCA", "\xC9"}, {"[", "("},    {"]", ")"},       {"{", "("},    {"}", ")"},
        {"\\", "/"},   {"|", "!"},    {"~", "-"},       {"^", "?"},    {"\xFF", "y"},    {"\xDD", "Y"}, {"\x80", "?"},
        {"\xA2", "?"}, {"\xD0", "?"}, {"\xFE", "?"},    {"`", "\xBF"}, {"\x7F", "\xE0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RoundTrip(c.in), c.out) << "input 0x" << std::hex << (static_cast<unsigned>(c.in[0]) & 0xFF);
}

TEST(GsmAlphabet, EveryOutgoingCodeIsSevenBits)
{
    for (int i = 0; i < 256; ++i)
        EXPECT_LT(kLatinToGsm[static_cast<std::size_t>(i)], 0x80) << i;
    for (int i = 0x80; i < 256; ++i)
        EXPECT_EQ(kGsmToLatin[static_cast<std::size_t>(i)], '?') << i;
}

TEST(GsmAlphabet, EscapeAndGreekCapitalsComeOutAsControlCharacters)
{
    std::string received = "\x1B\x3C\x10";
    GsmToLatin(received);
    EXPECT_EQ(received, "\x1B<\x10");
}

}  // namespace

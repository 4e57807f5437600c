// The rules of a new message, as strings: what a recipient becomes and why
// one is refused, and which texts are refused.
#include "messagefile/Duration.h"
#include "messagefile/MessageRules.h"

#include <gtest/gtest.h>

using velmo::messagefile::NormalRecipient;
using velmo::messagefile::TextProblem;

namespace {

TEST(MessageRules, RecipientsAsPeopleWriteThem)
{
    struct Case {
        std::u16string in;
        std::u16string out;  // empty: refused
    };
    const Case cases[] = {
        {u"+491711234567", u"+491711234567"},
        {u"+49 (171) 123-45.67", u"+491711234567"},
        {u"  0171 1234567 ", u"01711234567"},
        {u"112", u"112"},
        {u"1", u"1"},
        {u"+12345678901234567890", u"+12345678901234567890"},  // 20 digits
        {u"+123456789012345678901", u""},                      // 21
        {u"123456789012345678901", u""},
        {u"", u""},
        {u" - . ( ) ", u""},
        {u"+", u""},
        {u"++49", u""},
        {u"49+", u""},
        {u"alerts", u""},
        {u"0171\n1234567", u""},
        {u"0171\r", u""},
        {std::u16string(u"0171\0"
                        u"99",
                        7),
         u""},
        {u"0171/1234567", u""},
        {u"\uFF10\uFF11", u""},  // full-width digits are not digits here
        {std::u16string(100000, u'1'), u""},
    };
    for (const Case& c : cases) {
        std::string why;
        auto normal = NormalRecipient(c.in, why);
        if (c.out.empty()) {
            EXPECT_FALSE(normal) << c.in.size();
            EXPECT_FALSE(why.empty());
            EXPECT_LT(why.size(), 300u) << "the refusal quotes at most a little of what was given";
            EXPECT_EQ(why.find('\n'), std::string::npos) << why;
        } else {
            ASSERT_TRUE(normal) << why;
            EXPECT_EQ(*normal, c.out);
        }
    }
    std::string why;
    EXPECT_FALSE(NormalRecipient(u"", why));
    EXPECT_EQ(why, "Must specify To address");
    EXPECT_FALSE(NormalRecipient(u"a\nb", why));
    EXPECT_EQ(why, "The recipient 'a\\nb' is not a phone number: without spaces, dashes, dots and parentheses it must "
                   "be an optional + and 1 to 20 digits");
}

TEST(MessageRules, TextsWithANulOrTooLongAreRefused)
{
    EXPECT_EQ(TextProblem(u""), "");
    EXPECT_EQ(TextProblem(u"disk full on db1\r\n"), "");
    EXPECT_EQ(TextProblem(std::u16string(40000, u'x')), "");
    EXPECT_EQ(TextProblem(std::u16string(40001, u'x')), "The text is longer than 40000 characters: it is refused");
    EXPECT_EQ(TextProblem(std::u16string(u"cut\0here", 8)), "The text holds a NUL character: it is refused");
}

}  // namespace

namespace {

TEST(Duration, ReadsWhatAdministratorsWriteAndRefusesTheRest)
{
    using velmo::messagefile::ParseDuration;
    const std::pair<const char*, std::optional<std::uint64_t>> table[] = {
        {"30m", 1800},
        {"6h", 21600},
        {"4d", 345600},
        {"2w", 1209600},
        {"1h30m", 5400},
        {"90", 90},
        {"90s", 90},
        {"0s", 0},
        {"", std::nullopt},
        {"m", std::nullopt},
        {"5x", std::nullopt},
        {"-5m", std::nullopt},
        {"5 m", std::nullopt},
        {"1.5h", std::nullopt},
        {"3660d", 3660ULL * 86400},
        {"3661d", std::nullopt},  // past ten years
        {"99999999999999999999999s", std::nullopt},
        {"000000000000000000000000000000001", std::nullopt},  // 33 characters
    };
    for (const auto& [text, seconds] : table) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ParseDuration(text), seconds);
    }
}

TEST(Duration, IsWrittenInTheLargestUnitsThatSayItExactly)
{
    using velmo::messagefile::FormatDuration;
    using velmo::messagefile::ParseDuration;
    EXPECT_EQ(FormatDuration(0), "0s");
    EXPECT_EQ(FormatDuration(5400), "1h30m");
    EXPECT_EQ(FormatDuration(172800), "2d");
    EXPECT_EQ(FormatDuration(864000), "10d");
    EXPECT_EQ(FormatDuration(1209600), "2w");
    EXPECT_EQ(FormatDuration(90061), "1d1h1m1s");
    for (std::uint64_t s : {1ULL, 59ULL, 61ULL, 3599ULL, 86399ULL, 604801ULL, 31536000ULL})
        EXPECT_EQ(ParseDuration(FormatDuration(s)), s);
}

}  // namespace

#include "platform/SystemTime.h"
#include "platform/Text.h"

#include <gtest/gtest.h>

namespace {

TEST(Text, Utf8RoundTripIncludingSurrogatePairs)
{
    std::string utf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a é € 😀
    std::u16string wide = velmo::Utf8ToUtf16(utf8);
    EXPECT_EQ(wide, u"a\u00E9\u20AC\U0001F600");
    EXPECT_EQ(velmo::Utf16ToUtf8(wide), utf8);
}

TEST(Text, MalformedInputBecomesReplacementCharacter)
{
    EXPECT_EQ(velmo::Utf8ToUtf16("a\xFF"
                                 "b"),
              u"a\uFFFDb");
    EXPECT_EQ(velmo::Utf8ToUtf16("\xC3"), u"\uFFFD");            // truncated
    EXPECT_EQ(velmo::Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");  // overlong
    const char16_t lone[] = {u'x', 0xD800, 0};
    EXPECT_EQ(velmo::Utf16ToUtf8(lone), "x\xEF\xBF\xBD");
}

TEST(Text, Windows1252BothWays)
{
    EXPECT_EQ(velmo::Utf16ToAnsi(u"\u20AC\u00E9\u0160"), "\x80\xE9\x8A");
    EXPECT_EQ(velmo::AnsiToUtf16("\x80\xE9\x8A\x81"), u"\u20AC\u00E9\u0160\u0081");
    // Characters the code page lacks become one "?" each, a pair included.
    EXPECT_EQ(velmo::Utf16ToAnsi(u"\u0411\U0001F600z"), "??z");
}

struct DateCase {
    SYSTEMTIME st;
    double date;
};

TEST(SystemTime, KnownAutomationDates)
{
    const DateCase cases[] = {
        {{1899, 12, 0, 30, 0, 0, 0, 0}, 0.0},      {{1900, 1, 0, 1, 12, 0, 0, 0}, 2.5},
        {{1899, 12, 0, 29, 6, 0, 0, 0}, -1.25},    {{2000, 1, 0, 1, 0, 0, 0, 0}, 36526.0},
        {{2026, 12, 0, 8, 18, 0, 0, 0}, 46364.75},
    };
    for (const auto& c : cases) {
        double d = 0;
        ASSERT_TRUE(SystemTimeToVariantTime(&c.st, &d));
        EXPECT_DOUBLE_EQ(d, c.date) << c.st.wYear << "-" << c.st.wMonth << "-" << c.st.wDay;
        SYSTEMTIME back{};
        ASSERT_TRUE(VariantTimeToSystemTime(c.date, &back));
        EXPECT_EQ(back.wYear, c.st.wYear);
        EXPECT_EQ(back.wMonth, c.st.wMonth);
        EXPECT_EQ(back.wDay, c.st.wDay);
        EXPECT_EQ(back.wHour, c.st.wHour);
    }
}

TEST(SystemTime, MillisecondsIgnoredAndRangesChecked)
{
    SYSTEMTIME st{2024, 2, 0, 29, 23, 59, 59, 999};
    double d = 0;
    ASSERT_TRUE(SystemTimeToVariantTime(&st, &d));
    SYSTEMTIME back{};
    ASSERT_TRUE(VariantTimeToSystemTime(d, &back));
    EXPECT_EQ(back.wSecond, 59) << "milliseconds must not round into the next day";
    EXPECT_EQ(back.wDay, 29);
    SYSTEMTIME bad{2023, 2, 0, 29, 0, 0, 0, 0};
    EXPECT_FALSE(SystemTimeToVariantTime(&bad, &d));
    SYSTEMTIME early{99, 1, 0, 1, 0, 0, 0, 0};
    EXPECT_FALSE(SystemTimeToVariantTime(&early, &d));
    EXPECT_FALSE(VariantTimeToSystemTime(3e6, &back));
    // A date a hair before midnight rounds to the next day.
    ASSERT_TRUE(VariantTimeToSystemTime(1.9999999, &back));
    EXPECT_EQ(back.wDay, 1);
    EXPECT_EQ(back.wMonth, 1);
    EXPECT_EQ(back.wHour, 0);
}

TEST(SystemTime, NowIsPlausible)
{
    SYSTEMTIME st{};
    GetSystemTime(&st);
    EXPECT_GE(st.wYear, 2024);
    EXPECT_LE(st.wMonth, 12);
    double d = 0;
    EXPECT_TRUE(SystemTimeToVariantTime(&st, &d));
}

}  // namespace

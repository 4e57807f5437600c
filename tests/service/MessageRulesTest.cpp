// The rules of a new message, as strings: what a recipient becomes and why
// one is refused, and which texts are refused.
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

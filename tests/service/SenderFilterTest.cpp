// Who may talk to a handler, as strings: patterns, lists and refusals.
#include "service/handlers/SenderFilter.h"

#include <gtest/gtest.h>

using velmo::handlers::SenderFilter;

namespace {

TEST(SenderFilter, AllowAndDenyListsOfPatterns)
{
    struct Case {
        const char* allow;
        const char* deny;
        std::string sender;
        bool offered;
    };
    const Case cases[] = {
        {"", "", "+491711234567", true},
        {"", "", "", true},
        {"+491711234567", "", "+491711234567", true},
        {"+491711234567", "", "+4917112345678", false},  // the whole sender, not a prefix
        {"+491711234567", "", "01711234567", false},
        {"+4917*, 0171*", "", "01711234567", true},
        {"+4917*,0171*", "", "+4930123", false},
        {"+4917* +4930*", "", "+4930123", true},
        {"+49171123456?", "", "+491711234567", true},
        {"+4917[0-5]*", "", "+491761", false},
        {"*", "+4917666*", "+491766612", false},
        {"", "+4917666*", "+491766612", false},
        {"", "+4917666*", "+491711", true},
        {"+4917*", "+4917666*", "+491766612", false},  // the deny list wins
        {"*", "", "", false},                          // no sender: on no list
        {"", "*", "", true},
        {"Vodafone", "", "Vodafone", true},
        {"+4917*", "", std::string("+4917\0evil", 10), false},
    };
    for (const Case& c : cases) {
        std::string error;
        auto filter = SenderFilter::Parse(c.allow, c.deny, error);
        ASSERT_TRUE(filter) << error;
        std::string why;
        EXPECT_EQ(filter->Allows(c.sender, &why), c.offered) << c.allow << " / " << c.deny << " / " << c.sender;
        EXPECT_EQ(why.empty(), c.offered) << why;
    }
}

TEST(SenderFilter, ListsAreBounded)
{
    std::string error;
    EXPECT_FALSE(SenderFilter::Parse(std::string(65, '1'), "", error));
    EXPECT_EQ(error, "a pattern of the allow list is longer than 64 characters");
    std::string many;
    for (int i = 0; i < 1001; ++i)
        many += "+49" + std::to_string(i) + ",";
    EXPECT_FALSE(SenderFilter::Parse("", many, error));
    EXPECT_EQ(error, "the deny list holds more than 1000 patterns");
    EXPECT_TRUE(SenderFilter::Parse(std::string(64, '1'), many.substr(0, 100), error));
    EXPECT_TRUE(SenderFilter::Parse(" , ,", "", error)->Empty());
}

}  // namespace

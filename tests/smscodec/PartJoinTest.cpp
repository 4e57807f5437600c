#include "smscodec/PartJoin.h"

#include <gtest/gtest.h>

namespace {

using namespace velmo::sms;

TEST(PartJoin, PlacesFilledOnceAndGapsWhereNothingCame)
{
    const struct {
        const char* name;
        std::vector<std::pair<unsigned, std::u16string>> parts;  // place, text
        unsigned total;
        std::u16string text;
        std::vector<unsigned> missing;
    } cases[] = {
        {"in order", {{1, u"a"}, {2, u"b"}, {3, u"c"}}, 3, u"abc", {}},
        {"out of order", {{3, u"c"}, {1, u"a"}, {2, u"b"}}, 3, u"abc", {}},
        {"a duplicate", {{1, u"a"}, {2, u"b"}, {1, u"a"}, {2, u"b"}}, 2, u"ab", {}},
        {"the middle missing", {{3, u"c"}, {1, u"a"}}, 3, u"a [...] c", {2}},
        {"the ends missing", {{2, u"b"}}, 3, u" [...] b [...] ", {1, 3}},
        {"nothing", {}, 2, u" [...]  [...] ", {1, 2}},
        {"places outside the count", {{0, u"x"}, {4, u"y"}, {2, u"b"}}, 3, u" [...] b [...] ", {1, 3}},
        {"no count", {{1, u"a"}}, 0, u"", {}},
    };
    for (const auto& c : cases) {
        std::vector<ReceivedPart> parts;
        for (const auto& [place, text] : c.parts)
            parts.push_back({place, text, "file" + std::to_string(place)});
        JoinedParts joined = JoinParts(parts, c.total);
        EXPECT_EQ(joined.text, c.text) << c.name;
        EXPECT_EQ(joined.missing, c.missing) << c.name;
        EXPECT_EQ(joined.files.size() + joined.missing.size(), c.total) << c.name;
        EXPECT_EQ(HasAllParts(parts, c.total), c.total > 0 && c.missing.empty()) << c.name;
    }
    EXPECT_EQ(MissingPartsNote(3, {}), "");
    EXPECT_EQ(MissingPartsNote(3, {2}),
              "Received in 3 parts, of which part 2 did not arrive in time; the text holds those that came");
    EXPECT_EQ(MissingPartsNote(4, {1, 4}),
              "Received in 4 parts, of which parts 1, 4 did not arrive in time; the text holds those that came");
}

}  // namespace

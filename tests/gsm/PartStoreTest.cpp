#include "devices/gsm/PartJoin.h"
#include "devices/gsm/PartStore.h"
#include "platform/TempRoot.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

using namespace velmo::gsm;

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

class PartStoreTest : public ::testing::Test {
protected:
    // The part files now in the store's folder.
    std::vector<std::string> Files() const
    {
        std::vector<std::string> out;
        std::error_code ec;
        for (auto& e : std::filesystem::directory_iterator(PartStore(device_).Folder(), ec))
            out.push_back(e.path().string());
        std::sort(out.begin(), out.end());
        return out;
    }

    TempRoot root_;
    std::string device_ = "Modem 1";
};

TEST_F(PartStoreTest, PartsSurviveARestartAndADuplicateAddsNothing)
{
    std::optional<PartStore::Message> whole;
    {
        PartStore store(device_);
        ASSERT_TRUE(store.Add(u"+4917", {7, false, 3, 2}, u"two ", whole));
        EXPECT_FALSE(whole);
    }
    PartStore store(device_);  // a restart: a new store over the same files
    ASSERT_TRUE(store.Add(u"+4917", {7, false, 3, 3}, u"three", whole));
    EXPECT_FALSE(whole);
    ASSERT_TRUE(store.Add(u"+4917", {7, false, 3, 2}, u"two ", whole));
    EXPECT_FALSE(whole);
    EXPECT_EQ(Files().size(), 2u);
    // The same reference from another sender, or with another count, is another message.
    ASSERT_TRUE(store.Add(u"+4918", {7, false, 3, 1}, u"other ", whole));
    ASSERT_TRUE(store.Add(u"+4917", {7, false, 2, 1}, u"other ", whole));
    EXPECT_FALSE(whole);
    EXPECT_TRUE(store.Ready().empty());

    ASSERT_TRUE(store.Add(u"+4917", {7, false, 3, 1}, u"one ", whole));
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->sender, u"+4917");
    EXPECT_EQ(whole->text, u"one two three");
    EXPECT_EQ(whole->statusText, "");
    EXPECT_EQ(whole->files.size(), 3u);
    ASSERT_EQ(store.Ready().size(), 1u) << "given again until it is forgotten";
    store.Forget(*whole);
    EXPECT_EQ(Files().size(), 2u);
    EXPECT_TRUE(store.Ready().empty());
}

TEST_F(PartStoreTest, AMessageOverdueIsGivenWithWhatCameAndDamagedFilesAreLeftAlone)
{
    PartStore store(device_);
    std::optional<PartStore::Message> whole;
    ASSERT_TRUE(store.Add(u"+4917", {0x1234, true, 3, 3}, u"end", whole));
    ASSERT_TRUE(store.Add(u"+4917", {0x1234, true, 3, 1}, u"start", whole));
    ASSERT_EQ(Files().size(), 2u);
    EXPECT_TRUE(store.Ready().empty());
    // The first part came two hours ago.
    std::string first = Files()[0];
    std::ifstream in(first);
    std::string aged;
    for (std::string line; std::getline(in, line);)
        aged += (line.rfind("arrived ", 0) == 0 ? std::string("arrived 1000") : line) + "\n";
    in.close();
    std::ofstream(first, std::ios::trunc) << aged;
    std::ofstream(store.Folder() + "0000000000000000-1") << "velmo part 1\nsender zz\n";
    std::ofstream(store.Folder() + "notapart") << "x";

    std::vector<PartStore::Message> ready = store.Ready();
    ASSERT_EQ(ready.size(), 1u);
    EXPECT_EQ(ready[0].text, u"start [...] end");
    EXPECT_EQ(ready[0].statusText,
              "Received in 3 parts, of which part 2 did not arrive in time; the text holds those that came");
    store.Forget(ready[0]);
    EXPECT_EQ(Files().size(), 2u) << "the damaged files stay for a person to look at";
    EXPECT_TRUE(store.Ready().empty());
}

}  // namespace

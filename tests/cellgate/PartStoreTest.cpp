#include "devices/cellgate/PartStore.h"
#include "platform/TempRoot.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

using namespace velmo::cellgate;

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

// The queue folders read through the store: pages that cover a folder
// exactly once, newest first; files that cannot be read shown, not hidden;
// ids and texts in the forms clients get.
#include "messagefile/MessageId.h"
#include "messagefile/MessageRecord.h"
#include "messagefile/TextLines.h"
#include "platform/SystemTime.h"
#include "platform/TempRoot.h"
#include "platform/Text.h"
#include "service/queue/FolderStore.h"

#include <set>

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

using namespace velmo;
using messagefile::FindFolder;
using messagefile::FolderName;
using messagefile::ParseMessageId;

// Events go nowhere: these tests look at what the store answers.
class Quiet final : public events::EventSink {
public:
    void Report(WORD, const std::string&) override {}
};

class Folders : public ::testing::Test {
protected:
    Folders()
    {
        for (const FolderName& f : messagefile::kFolders)
            std::filesystem::create_directories(Dir(f));
    }
    std::string Dir(const FolderName& f) const { return root_.path() + "/" + Utf16ToUtf8(f.relative); }
    std::u16string Root() const { return Utf8ToUtf16(root_.path() + "/"); }
    std::optional<queue::Page> List(const char* folder, std::size_t limit, std::string_view cursor)
    {
        return store_.List(FindFolder(folder)->folder, limit, cursor);
    }

    // A message saved in folder, last written at second `when` of the epoch.
    std::string Save(const char* folder, const char* to, long when)
    {
        messagefile::RecordPtr r = messagefile::MessageRecord::New();
        r->Initialise();
        r->To = Bstr(Utf8ToUtf16(to));
        r->Status = std::string(folder) == "sent" ? SENT : QUEUED;
        std::string path = Dir(*FindFolder(folder)) + GuidToUtf8(r->Id) + ".velmo";
        EXPECT_EQ(r->SaveToFile(Utf8ToUtf16(path)), S_OK);
        Touch(path, when);
        return GuidToUtf8(r->Id);
    }
    static void Touch(const std::string& path, long when)
    {
        timespec times[2] = {{when, 0}, {when, 0}};
        EXPECT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }

    TempRoot root_;
    Quiet quiet_;
    queue::FolderStore store_{quiet_, Root()};
};

TEST_F(Folders, PagesCoverTheFolderOnceNewestFirst)
{
    std::vector<std::string> newestFirst;
    for (long t : {500, 400, 400, 300, 100})
        newestFirst.push_back(Save("sent", "+49171", t));
    // Two written in the same second go by name, downwards.
    if (newestFirst[1] < newestFirst[2])
        std::swap(newestFirst[1], newestFirst[2]);

    std::vector<std::string> seen;
    std::string cursor;
    int pages = 0;
    do {
        auto page = List("sent", 2, cursor);
        ASSERT_TRUE(page);
        ASSERT_LE(page->messages.size(), 2u);
        for (const auto& m : page->messages)
            seen.push_back(m.id);
        cursor = page->next;
        ASSERT_LT(++pages, 10);
    } while (!cursor.empty());
    EXPECT_EQ(seen, newestFirst);
    EXPECT_EQ(pages, 3);

    auto all = List("sent", 0, "");
    ASSERT_TRUE(all);
    EXPECT_EQ(all->messages.size(), 5u);
    EXPECT_EQ(all->next, "");
    EXPECT_EQ(all->messages[0].status, "SENT");
    EXPECT_EQ(all->messages[0].to, "+49171");
}

// Once listed, a folder's order is kept in memory: it follows the store's
// own steps at once, drops a file removed by hand when a page reaches it
// (the page is still filled), and takes in a file put there by hand at the
// next start.
TEST_F(Folders, TheListingFollowsTheStoreAndWhatIsRemovedByHand)
{
    auto ids = [&](const char* folder, std::size_t limit = 0) {
        std::vector<std::string> out;
        std::optional<queue::Page> page = List(folder, limit, "");
        for (const auto& m : page->messages)
            out.push_back(m.id);
        return out;
    };
    std::string old1 = Save("queued", "+1", 100), old2 = Save("queued", "+2", 200);
    EXPECT_EQ(ids("queued"), (std::vector<std::string>{old2, old1}));

    messagefile::RecordPtr r = messagefile::MessageRecord::New();
    r->Initialise();
    r->To = Bstr(u"+3");
    ASSERT_EQ(store_.Accept(*r), S_OK);
    std::string fresh = GuidToUtf8(r->Id);
    EXPECT_EQ(ids("queued"), (std::vector<std::string>{fresh, old2, old1}));

    r->Status = SENT;
    ASSERT_EQ(store_.Finish(*r), S_OK);
    EXPECT_EQ(ids("queued"), (std::vector<std::string>{old2, old1}));
    EXPECT_EQ(ids("sent"), (std::vector<std::string>{fresh}));

    std::filesystem::remove(Dir(*FindFolder("queued")) + old2 + ".velmo");
    EXPECT_EQ(ids("queued", 1), (std::vector<std::string>{old1}));  // the page is filled past the gone one
    EXPECT_EQ(List("queued", 1, "")->next, "");

    std::string byHand = Save("queued", "+4", 300);
    EXPECT_EQ(ids("queued"), (std::vector<std::string>{old1}));
    queue::FolderStore restarted{quiet_, Root()};
    auto page = restarted.List(FindFolder("queued")->folder, 0, "");
    ASSERT_TRUE(page);
    ASSERT_EQ(page->messages.size(), 2u);
    EXPECT_EQ(page->messages[0].id, byHand);
}

TEST_F(Folders, ACursorNotMadeByAListingIsRefused)
{
    Save("queued", "+49171", 100);
    for (const char* cursor : {"nonsense", "12", "/name", "12/", "x1/name", "-5/name"})
        EXPECT_FALSE(List("queued", 1, cursor)) << cursor;
    // A cursor past the last file is a last, empty page.
    auto page = List("queued", 1, "1/a.velmo");
    ASSERT_TRUE(page);
    EXPECT_TRUE(page->messages.empty());
    EXPECT_EQ(page->next, "");
}

TEST_F(Folders, FilesThatCannotBeReadAreShownAsBad)
{
    std::ofstream(Dir(*FindFolder("bad")) + "damaged.velmo") << "not a message";
    std::ofstream(Dir(*FindFolder("failed")) + "cut.velmo") << "short";
    std::ofstream(Dir(*FindFolder("failed")) + "notes.txt") << "not listed at all";
    std::string good = Save("bad", "+49172", 100);

    auto bad = List("bad", 0, "");
    ASSERT_TRUE(bad);
    ASSERT_EQ(bad->messages.size(), 2u);
    for (const auto& m : bad->messages)
        EXPECT_EQ(m.status, "BAD") << m.id;
    std::set<std::string> ids{bad->messages[0].id, bad->messages[1].id};
    EXPECT_EQ(ids, (std::set<std::string>{"damaged", good}));

    auto failed = List("failed", 0, "");
    ASSERT_TRUE(failed);
    ASSERT_EQ(failed->messages.size(), 1u);
    EXPECT_EQ(failed->messages[0].id, "cut");
    EXPECT_EQ(failed->messages[0].status, "BAD");
}

TEST_F(Folders, AMessageIsFoundWhereverItStands)
{
    std::string sent = Save("sent", "+49171", 100);
    auto found = store_.Find(*ParseMessageId(sent));
    ASSERT_TRUE(found);
    EXPECT_STREQ(messagefile::NameOf(found->folder).name, "sent");
    ASSERT_TRUE(found->record);
    EXPECT_EQ(Utf16ToUtf8(found->record->To.str()), "+49171");

    GUID damaged = *ParseMessageId("{11111111-2222-3333-4444-555555555555}");
    std::ofstream(Dir(*FindFolder("bad")) + GuidToUtf8(damaged) + ".velmo") << "x";
    found = store_.Find(damaged);
    ASSERT_TRUE(found);
    EXPECT_STREQ(messagefile::NameOf(found->folder).name, "bad");
    EXPECT_FALSE(found->record);
    EXPECT_TRUE(FAILED(found->readError));

    EXPECT_FALSE(store_.Find(*ParseMessageId("{11111111-2222-3333-4444-555555555556}")));
}

TEST(MessageIds, BracesAreOptionalAndNothingElseIsAnId)
{
    struct Case {
        const char* text;
        bool valid;
    } cases[] = {
        {"{11111111-2222-3333-4444-555555555555}", true},
        {"11111111-2222-3333-4444-555555555555", true},
        {"{abcdefab-2222-3333-4444-555555555555}", true},
        {"", false},
        {"{}", false},
        {"11111111-2222-3333-4444-55555555555", false},
        {"{11111111-2222-3333-4444-555555555555", false},
        {"{11111111-2222-3333-4444-55555555555g}", false},
        {"11111111222233334444555555555555", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseMessageId(c.text).has_value(), c.valid) << c.text;
}

TEST(TextLines, LineEndsBecomeNewlinesAndNoneAtTheEnds)
{
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"", ""},
        {"\r\n", ""},
        {"+CMS ERROR: 38\r\n", "+CMS ERROR: 38"},
        {"\r\nNo answer\r\nretried\r\n", "No answer\nretried"},
        {"one\rtwo\nthree", "one\ntwo\nthree"},
        {"a\r\n\r\nb", "a\n\nb"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(messagefile::PlainLines(c.in), c.out) << c.in;
    EXPECT_EQ(messagefile::OneLine("\r\nNo answer\r\n\r\nretried\r\n"), "No answer; retried");
    EXPECT_EQ(messagefile::OneLine("one"), "one");
    EXPECT_EQ(IsoDate(SYSTEMTIME{}), "");
    EXPECT_EQ(IsoDate(SYSTEMTIME{2026, 12, 3, 9, 1, 2, 3, 0}), "2026-12-09T01:02:03Z");
}

// What an old file may hold at any length reaches a reply or a listing cut,
// with a marker, and never inside a surrogate pair.
TEST(TextLines, LongFieldsAreCutWithAMarker)
{
    struct Case {
        std::u16string in;
        std::size_t max;
        std::string out;
    } cases[] = {
        {u"+4917", 5, "+4917"},
        {u"+49171", 5, "+4917 [cut: 6 characters in all]"},
        {u"ab\U0001F600", 3, "ab [cut: 4 characters in all]"},
        {u"ab\U0001F600", 4, "ab\xF0\x9F\x98\x80"},
        {std::u16string(50000000, u'x'), 0, " [cut: 50000000 characters in all]"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(messagefile::BoundedText(c.in, c.max), c.out);
}

}  // namespace

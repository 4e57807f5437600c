#include "platform/File.h"
#include "platform/TempRoot.h"
#include "platform/Text.h"
#include "platform/Timing.h"
#include "messagefile/MessageRecord.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using velmo::Bstr;
using velmo::messagefile::MessageRecord;

namespace {

// Records are reference counted; tests own theirs through this.
struct RecordPtr {
    MessageRecord* p = new MessageRecord();
    RecordPtr() = default;
    RecordPtr(const RecordPtr&) = delete;
    RecordPtr& operator=(const RecordPtr&) = delete;
    ~RecordPtr() { p->Release(); }
    MessageRecord* operator->() const { return p; }
};

std::vector<unsigned char> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::u16string W(const std::string& s) { return velmo::Utf8ToUtf16(s); }

void Fill(MessageRecord& r)
{
    r.Id = velmo::MakeGuid("{01020304-0506-0708-090A-0B0C0D0E0F10}");
    r.RetryCount = 2;
    r.Created = SYSTEMTIME{2026, 12, 2, 8, 5, 6, 7, 8};
    r.Completed = SYSTEMTIME{2026, 12, 2, 8, 5, 6, 9, 0};
    r.Status = SENT;
    r.StatusText = Bstr(u"ok");
    r.To = Bstr(u"1");
    r.From = Bstr(u"abc");
    r.Body = Bstr(u"hi");
}

TEST(MessageRecord, GoldenBytesOfAFullRecord)
{
    RecordPtr r;
    Fill(*r.p);
    std::vector<unsigned char> expected = {
        0x04, 0x03, 0x02, 0x01, 0x06, 0x05, 0x08, 0x07, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10,  // Id
        0x02, 0,    0,    0,                                                                             // RetryCount
        0xEA, 0x07, 12,   0,    2,    0,    8,    0,    5,    0,    6,    0,    7,    0,    8,    0,     // Created
        0xEA, 0x07, 12,   0,    2,    0,    8,    0,    5,    0,    6,    0,    9,    0,    0,    0,     // Completed
        0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,     // Received
        2,    0,    0,    0,                                                                             // Status
        6,    0,    0,    0,    'o',  0,    'k',  0,    0,    0,                                         // StatusText
        4,    0,    0,    0,    '1',  0,    0,    0,                                                     // To
        8,    0,    0,    0,    'a',  0,    'b',  0,    'c',  0,    0,    0,                             // From
        6,    0,    0,    0,    'h',  0,    'i',  0,    0,    0};                                        // Body
    EXPECT_EQ(r->Serialize(), expected);
    TempRoot root;
    std::string path = root.path() + "/m.velmo";
    ASSERT_EQ(r->SaveToFile(W(path)), S_OK);
    EXPECT_EQ(ReadBytes(path), expected);
    EXPECT_EQ(r->FileName(), u"{01020304-0506-0708-090A-0B0C0D0E0F10}.velmo");
}

TEST(MessageRecord, NullAndEmptyStringsStayDistinct)
{
    TempRoot root;
    std::string path = root.path() + "/m.velmo";
    RecordPtr nulls;
    nulls->Initialise();
    ASSERT_EQ(nulls->SaveToFile(W(path)), S_OK);
    EXPECT_EQ(ReadBytes(path).size(), 88u);

    RecordPtr empties;
    empties->Initialise();
    empties->To = Bstr(u"");
    empties->Body = Bstr(u"");
    ASSERT_EQ(empties->SaveToFile(W(path)), S_OK);
    EXPECT_EQ(ReadBytes(path).size(), 88u + 2 + 2);  // two blocks of count 2: a terminator each

    RecordPtr back;
    back->StatusText = Bstr(u"stale");
    ASSERT_EQ(back->LoadFromFile(W(path)), S_OK);
    EXPECT_TRUE(back->StatusText.IsNull());
    EXPECT_TRUE(back->From.IsNull());
    EXPECT_FALSE(back->To.IsNull());
    EXPECT_TRUE(back->To.IsEmpty());
    EXPECT_FALSE(back->Body.IsNull());
    EXPECT_EQ(back->Status, QUEUED);
    EXPECT_TRUE(GuidByteLess()(back->Id, empties->Id) == false && GuidByteLess()(empties->Id, back->Id) == false);
}

TEST(MessageRecord, RoundTripKeepsEveryField)
{
    TempRoot root;
    std::string path = root.path() + "/m.velmo";
    RecordPtr r;
    Fill(*r.p);
    r->Body = Bstr(u"\u00e9\u20ac \U0001F600 line\r\nnext");
    ASSERT_EQ(r->SaveToFile(W(path)), S_OK);
    RecordPtr back;
    ASSERT_EQ(back->LoadFromFile(W(path)), S_OK);
    EXPECT_EQ(back->Serialize(), r->Serialize());
    RecordPtr viaA;
    ASSERT_EQ(viaA->LoadFromFileA(path), S_OK);
    EXPECT_EQ(viaA->Body.str(), r->Body.str());
}

TEST(MessageRecord, EveryCutBeforeTheEndOfBodyFailsAndTrailingBytesAreIgnoredFromAFileOrBytes)
{
    TempRoot root;
    std::string path = root.path() + "/m.velmo";
    RecordPtr r;
    Fill(*r.p);
    std::vector<unsigned char> whole = r->Serialize();
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        WriteBytes(path, std::vector<unsigned char>(whole.begin(), whole.begin() + static_cast<long>(cut)));
        RecordPtr back, fromBytes;
        EXPECT_EQ(back->LoadFromFile(W(path)), E_FAIL) << "cut at " << cut;
        EXPECT_EQ(fromBytes->Deserialize(whole.data(), cut), E_FAIL) << "cut at " << cut;
    }
    std::vector<unsigned char> longer = whole;
    longer.insert(longer.end(), {1, 2, 3, 4, 5});
    WriteBytes(path, longer);
    RecordPtr back, fromBytes;
    ASSERT_EQ(back->LoadFromFile(W(path)), S_OK);
    EXPECT_EQ(back->Serialize(), whole);
    ASSERT_EQ(fromBytes->Deserialize(longer.data(), longer.size()), S_OK);
    EXPECT_EQ(fromBytes->Serialize(), whole);
}

TEST(MessageRecord, TheTrailerIsWrittenOnlyWhenNeededAndEveryDamagedTrailerIsIgnored)
{
    TempRoot root;
    std::string path = root.path() + "/m.velmo";
    RecordPtr plain;
    Fill(*plain.p);
    const std::vector<unsigned char> before = plain->Serialize();  // what an older writer wrote: no trailer
    RecordPtr reported;
    Fill(*reported.p);
    reported->Status = DELIVERED;
    reported->Accepted = SYSTEMTIME{2026, 12, 3, 9, 10, 0, 1, 0};
    reported->Discharged = SYSTEMTIME{2026, 12, 3, 9, 10, 0, 31, 0};
    reported->ExpireAfter = 1800;
    std::vector<unsigned char> bytes = reported->Serialize();
    ASSERT_EQ(bytes.size(), before.size() + 4 + 4 + 32 + 4 + 4);
    // The part an older reader reads is the same layout; the trailer follows the Body block.
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin() + 72, bytes.begin() + static_cast<long>(before.size())),
              std::vector<unsigned char>(before.begin() + 72, before.end()));
    EXPECT_EQ(std::string(bytes.begin() + static_cast<long>(before.size()),
                          bytes.begin() + static_cast<long>(before.size()) + 4),
              "VXT1");
    ASSERT_EQ(reported->SaveToFile(W(path)), S_OK);
    RecordPtr back;
    ASSERT_EQ(back->LoadFromFile(W(path)), S_OK);
    EXPECT_EQ(back->Serialize(), bytes);
    EXPECT_EQ(back->Discharged.wSecond, 31);
    EXPECT_EQ(back->ExpireAfter, 1800u);

    // A trailer cut anywhere, a block longer than what is left, an unknown
    // tag or a known one of the wrong length: the record reads, and only
    // whole known blocks count.
    struct Case {
        const char* name;
        std::size_t keep;                 // bytes of the trailer kept
        std::vector<unsigned char> more;  // bytes put after them
        bool delivery, expiry;            // which fields come back
    };
    const Case cases[] = {
        {"the mark alone", 4, {}, false, false},
        {"cut in the delivery block", 20, {}, false, false},
        {"the delivery block whole", 40, {}, true, false},
        {"cut in the expiry block", 46, {}, true, false},
        {"an unknown tag skipped", 40, {9, 0, 2, 0, 7, 7, 2, 0, 4, 0, 16, 14, 0, 0}, true, true},
        {"a block longer than the file", 40, {2, 0, 200, 0, 1, 2}, true, false},
        {"a known tag of another length", 40, {2, 0, 2, 0, 16, 14}, true, false},
        {"another mark", 0, {'V', 'X', 'T', '9', 2, 0, 4, 0, 16, 14, 0, 0}, false, false},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> damaged(bytes.begin(), bytes.begin() + static_cast<long>(before.size() + c.keep));
        damaged.insert(damaged.end(), c.more.begin(), c.more.end());
        WriteBytes(path, damaged);
        RecordPtr read;
        ASSERT_EQ(read->LoadFromFile(W(path)), S_OK) << c.name;
        EXPECT_EQ(read->Discharged.wYear != 0, c.delivery) << c.name;
        EXPECT_EQ(read->ExpireAfter != 0, c.expiry) << c.name;
        EXPECT_EQ(read->Body.str(), u"hi") << c.name;
    }
}

TEST(MessageRecord, DamagedCountsFailWithoutHugeAllocations)
{
    TempRoot root;
    std::string path = root.path() + "/m.velmo";
    RecordPtr r;
    r->Initialise();
    std::vector<unsigned char> bytes = r->Serialize();
    struct Case {
        const char* name;
        std::uint32_t count;
    };
    for (Case c : {Case{"one", 1}, Case{"huge", 0xFFFFFFF0u}, Case{"past the end", 20}}) {
        std::vector<unsigned char> damaged = bytes;
        for (int i = 0; i < 4; ++i)
            damaged[72 + i] = static_cast<unsigned char>(c.count >> (8 * i));
        WriteBytes(path, damaged);
        RecordPtr back;
        EXPECT_EQ(back->LoadFromFile(W(path)), E_FAIL) << c.name;
    }
}

// Every block's count from well below to well past what the file still
// holds, and counts that would wrap an unsigned sum: none loads a block the
// file does not hold, and only counts the file covers can succeed.
TEST(MessageRecord, CountsAroundTheFileSizeNeverReadPastIt)
{
    TempRoot root;
    std::string path = root.path() + "/m.velmo";
    RecordPtr r;
    Fill(*r.p);
    std::vector<unsigned char> bytes = r->Serialize();
    std::size_t offset = 72;  // the StatusText count
    for (int block = 0; block < 4; ++block) {
        std::uint32_t real = static_cast<std::uint32_t>(bytes[offset] | (bytes[offset + 1] << 8));
        std::uint64_t left = bytes.size() - offset - 4;
        std::vector<std::uint64_t> counts;
        for (std::uint64_t d = 0; d <= 8; ++d)
            counts.insert(counts.end(), {left + d, left >= d ? left - d : 0});
        for (std::uint64_t k : {0ull, 1ull, 2ull, 71ull, 72ull, 88ull, 4096ull})
            counts.push_back(0xFFFFFFFFull - k);
        for (std::uint64_t count : counts) {
            std::vector<unsigned char> damaged = bytes;
            for (int i = 0; i < 4; ++i)
                damaged[offset + i] = static_cast<unsigned char>(count >> (8 * i));
            WriteBytes(path, damaged);
            RecordPtr back;
            HRESULT hr = back->LoadFromFile(W(path));
            if (count > left || count == 1)
                EXPECT_EQ(hr, E_FAIL) << "block " << block << " count " << count;
            else
                EXPECT_TRUE(hr == S_OK || hr == E_FAIL) << "block " << block << " count " << count;
        }
        offset += 4 + real;
    }
}

// Only regular files are message files: a link (to a good file too), a
// FIFO nobody writes and a device are damaged at once, and none blocks.
TEST(MessageRecord, LinksFifosAndDevicesAreNeverRead)
{
    TempRoot root;
    std::string good = root.path() + "/good.velmo";
    RecordPtr r;
    r->Initialise();
    ASSERT_EQ(r->SaveToFile(W(good)), S_OK);
    std::filesystem::create_symlink(good, root.path() + "/link.velmo");
    std::filesystem::create_symlink("/dev/zero", root.path() + "/zero.velmo");
    std::filesystem::create_symlink(root.path() + "/nothing", root.path() + "/dangling.velmo");
    ASSERT_EQ(mkfifo((root.path() + "/fifo.velmo").c_str(), 0600), 0);
    for (const char* name : {"/link.velmo", "/zero.velmo", "/dangling.velmo", "/fifo.velmo"}) {
        auto start = std::chrono::steady_clock::now();
        RecordPtr back;
        EXPECT_EQ(back->LoadFromFile(W(root.path() + name)), E_FAIL) << name;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(velmo::DesignWait(300)))
            << name << " was tried again";
    }
    RecordPtr device;
    EXPECT_EQ(device->LoadFromFile(u"/dev/zero"), E_FAIL);
    RecordPtr back;
    EXPECT_EQ(back->LoadFromFile(W(good)), S_OK);
}

TEST(MessageRecord, SavingOverALongerFileLeavesNoOldBytes)
{
    TempRoot root;
    std::string path = root.path() + "/m.velmo";
    WriteBytes(path, std::vector<unsigned char>(5000, 0xAB));
    RecordPtr r;
    r->Initialise();
    ASSERT_EQ(r->SaveToFile(W(path)), S_OK);
    EXPECT_EQ(ReadBytes(path), r->Serialize());
}

TEST(MessageRecord, FileHeldForWritingCannotBeLoaded)
{
    TempRoot root;
    std::string path = root.path() + "/m.velmo";
    RecordPtr r;
    r->Initialise();
    ASSERT_EQ(r->SaveToFile(W(path)), S_OK);
    velmo::Handle writer(
        CreateFileW(W(path).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_NE(writer.get(), INVALID_HANDLE_VALUE);
    auto start = std::chrono::steady_clock::now();
    RecordPtr back;
    // A good file held by a writer is not damaged: the lock is the reason given.
    EXPECT_EQ(back->LoadFromFile(W(path)), HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION));
    auto waited = std::chrono::steady_clock::now() - start;
    // Three attempts, each followed by a pause.
    EXPECT_GE(waited, std::chrono::milliseconds(3 * velmo::DesignWait(300)) - std::chrono::milliseconds(5));
    writer.reset();
    EXPECT_EQ(back->LoadFromFile(W(path)), S_OK);
    EXPECT_EQ(back->LoadFromFile(W(root.path() + "/missing.velmo")), E_FAIL);
    EXPECT_EQ(r->SaveToFile(W(root.path() + "/no/such/folder.velmo")), E_FAIL);
}

TEST(MessageRecord, KillingASaverNeverLeavesAFileThatFailsToLoad)
{
    TempRoot root;
    std::string folder = root.path();
    for (int round = 0; round < 20; ++round) {
        pid_t pid = fork();
        if (pid == 0) {
            // Saves records of changing length over the same files, forever.
            auto* r = new MessageRecord();
            r->Initialise();
            for (unsigned i = 0;; ++i) {
                r->Body = Bstr(std::u16string(1 + (i * 7919) % 3000, u'x'));
                r->SaveToFile(W(folder + "/" + std::to_string(i % 3) + ".velmo"));
            }
        }
        usleep(static_cast<useconds_t>(2000 + (round * 1237) % 15000));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            if (entry.path().extension() != ".velmo")
                continue;
            RecordPtr back;
            EXPECT_EQ(back->LoadFromFile(W(entry.path().string())), S_OK) << entry.path();
        }
    }
}

}  // namespace

#include "platform/File.h"
#include "platform/FolderListing.h"
#include "platform/TempRoot.h"
#include "platform/Text.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>

namespace {

std::u16string W(const std::string& s) { return velmo::Utf8ToUtf16(s); }

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

std::string ReadText(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD creation)
{
    return CreateFileW(W(path).c_str(), access, share, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
}

struct ShareCase {
    const char* name;
    DWORD firstAccess, firstShare, secondAccess, secondShare;
    bool secondOpens;
};

void PrintTo(const ShareCase& c, std::ostream* os) { *os << c.name; }

class FileSharing : public ::testing::TestWithParam<ShareCase> {};

TEST_P(FileSharing, SecondOpenerSeesTheFirstOnesLock)
{
    TempRoot root;
    std::string path = root.path() + "/f";
    WriteText(path, "old");
    const ShareCase& c = GetParam();
    velmo::Handle first(Open(path, c.firstAccess, c.firstShare, OPEN_EXISTING));
    ASSERT_NE(first.get(), INVALID_HANDLE_VALUE);
    HANDLE second =
        Open(path, c.secondAccess, c.secondShare, c.secondAccess & GENERIC_WRITE ? CREATE_ALWAYS : OPEN_EXISTING);
    if (c.secondOpens) {
        ASSERT_NE(second, INVALID_HANDLE_VALUE);
        CloseHandle(second);
    } else {
        EXPECT_EQ(second, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        // A refused CREATE_ALWAYS must not have truncated the file.
        EXPECT_EQ(ReadText(path), "old");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Locks, FileSharing,
    ::testing::Values(ShareCase{"ReadersShare", GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, true},
                      ShareCase{"WriterBlocksReader", GENERIC_WRITE, 0, GENERIC_READ, FILE_SHARE_READ, false},
                      ShareCase{"ReaderBlocksWriter", GENERIC_READ, FILE_SHARE_READ, GENERIC_WRITE, 0, false},
                      ShareCase{"WriterBlocksWriter", GENERIC_WRITE, 0, GENERIC_WRITE, 0, false},
                      ShareCase{"ShareWriteTakesNoLock", GENERIC_WRITE, FILE_SHARE_WRITE, GENERIC_WRITE,
                                FILE_SHARE_WRITE, true}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(File, ReadWriteSeekAndSize)
{
    TempRoot root;
    std::string path = root.path() + "/data";
    velmo::Handle f(Open(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW));
    ASSERT_NE(f.get(), INVALID_HANDLE_VALUE);
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(f.get(), "abcdef", 6, &n, nullptr));
    EXPECT_EQ(n, 6u);
    EXPECT_EQ(GetFileSize(f.get(), nullptr), 6u);
    EXPECT_EQ(SetFilePointer(f.get(), 2, nullptr, FILE_BEGIN), 2u);
    char buf[8] = {};
    ASSERT_TRUE(ReadFile(f.get(), buf, 8, &n, nullptr));
    EXPECT_EQ(std::string(buf, n), "cdef");
    ASSERT_TRUE(ReadFile(f.get(), buf, 8, &n, nullptr));
    EXPECT_EQ(n, 0u);  // end of file is success with nothing read
    EXPECT_EQ(Open(path, GENERIC_WRITE, FILE_SHARE_WRITE, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_EQ(Open(root.path() + "/missing", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(File, MoveNeverReplacesAndLeavesTheSourceOnFailure)
{
    TempRoot root;
    std::string a = root.path() + "/a", b = root.path() + "/b";
    WriteText(a, "A");
    WriteText(b, "B");
    EXPECT_FALSE(MoveFileW(W(a).c_str(), W(b).c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(ReadText(a), "A");
    EXPECT_EQ(ReadText(b), "B");
    ASSERT_TRUE(DeleteFileW(W(b).c_str()));
    ASSERT_TRUE(MoveFileW(W(a).c_str(), W(b).c_str()));
    EXPECT_FALSE(velmo::PathExists(a));
    EXPECT_EQ(ReadText(b), "A");
    EXPECT_FALSE(DeleteFileW(W(a).c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(File, ListingMatchesThePatternWithoutRegardToCase)
{
    TempRoot root;
    for (const char* name : {"one.velmo", "TWO.VELMO", "three.txt", ".hidden.velmo.tmp"})
        WriteText(root.path() + "/" + name, "x");
    std::filesystem::create_directory(root.path() + "/sub.velmo");
    std::set<std::string> files, folders;
    for (const velmo::FolderEntry& e : velmo::ListFolder(root.path(), "*.velmo"))
        (e.folder ? folders : files).insert(e.name);
    EXPECT_EQ(files, (std::set<std::string>{"one.velmo", "TWO.VELMO"}));
    EXPECT_EQ(folders, (std::set<std::string>{"sub.velmo"}));
    EXPECT_EQ(velmo::ListFolder(velmo::Utf8ToUtf16(root.path()), ".*").size(), 1u);
    std::vector<std::string> names = velmo::ListFileNames(root.path());  // no folder, and "*" passes dot files by
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
              (std::set<std::string>{"one.velmo", "TWO.VELMO", "three.txt"}));

    // The write time, as Windows counts it: 100 ns steps since 1601.
    timespec times[2] = {{1796779644, 123456700}, {1796779644, 123456700}};
    ASSERT_EQ(utimensat(AT_FDCWD, (root.path() + "/one.velmo").c_str(), times, 0), 0);
    std::vector<velmo::FolderEntry> one = velmo::ListFolder(root.path(), "one.velmo");
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].written, (1796779644ULL + 11644473600ULL) * 10000000ULL + 1234567ULL);

    EXPECT_TRUE(velmo::ListFolder(root.path(), "*.none").empty());
    EXPECT_TRUE(velmo::ListFolder(root.path() + "/nowhere", "*").empty());
}

TEST(File, DurableWriteReplacesWholeAndLeavesNoTemporaryFile)
{
    TempRoot root;
    std::string path = root.path() + "/x.velmo";
    WriteText(path, std::string(1000, 'o'));
    ASSERT_TRUE(velmo::WriteFileDurably(path, "new", 3));
    EXPECT_EQ(ReadText(path), "new");
    auto entries = std::distance(std::filesystem::directory_iterator(root.path()), {});
    EXPECT_EQ(entries, 1);
    bool openFailed = false;
    EXPECT_FALSE(velmo::WriteFileDurably(root.path() + "/missing/x", "a", 1, &openFailed));
    EXPECT_TRUE(openFailed);
}

TEST(File, DurableWriteGivesTheModeTheUmaskAllows)
{
    TempRoot root;
    std::string path = root.path() + "/x.velmo";
    for (auto [mask, mode] : {std::pair<mode_t, mode_t>{022, 0644}, {027, 0640}, {077, 0600}, {002, 0664}}) {
        mode_t before = umask(mask);
        ASSERT_TRUE(velmo::WriteFileDurably(path, "m", 1));
        umask(before);
        struct stat st {};
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, mode) << std::oct << mask;
    }
}

}  // namespace

namespace {

TEST(File, OwnerOnlyMeansNoGroupOrOtherBits)
{
    TempRoot root;
    std::string path = root.path() + "/pass";
    EXPECT_FALSE(velmo::IsOwnerOnly(path)) << "nothing there";
    std::ofstream(path) << "secret";
    for (auto [mode, only] : {std::pair{0600, true}, {0400, true}, {0640, false}, {0604, false}, {0610, false}}) {
        ASSERT_EQ(chmod(path.c_str(), static_cast<mode_t>(mode)), 0);
        EXPECT_EQ(velmo::IsOwnerOnly(path), only) << std::oct << mode;
    }
}

}  // namespace

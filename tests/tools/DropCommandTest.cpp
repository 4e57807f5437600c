#include "platform/TempRoot.h"
#include "platform/Text.h"
#include "messagefile/MessageRecord.h"
#include "tools/velmo/DropCommand.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

TEST(DropCommand, WritesACompleteMessageIntoPickup)
{
    TempRoot root;
    std::string pickup = root.path() + "/var/lib/velmo/pickup/";
    std::ostringstream out, err;
    EXPECT_EQ(velmo::cli::DropCommand({"+491711234567", "Disk full – ä"}, out, err), 1);  // no pickup folder yet
    EXPECT_NE(err.str().find("cannot write"), std::string::npos);
    std::filesystem::create_directories(pickup);
    out.str("");
    ASSERT_EQ(velmo::cli::DropCommand({"+491711234567", "Disk full – ä"}, out, err), 0);
    std::string path = out.str().substr(0, out.str().size() - 1);
    EXPECT_EQ(path.rfind(pickup, 0), 0u);
    auto* r = new velmo::messagefile::MessageRecord();
    ASSERT_EQ(r->LoadFromFile(velmo::Utf8ToUtf16(path)), S_OK);
    EXPECT_EQ(r->To.Utf8(), "+491711234567");
    EXPECT_EQ(r->Body.Utf8(), "Disk full – ä");
    EXPECT_EQ(r->Status, QUEUED);
    r->Release();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(pickup), {}), 1);  // no temporary file left
    for (auto args : {std::vector<std::string>{}, {"+49"}, {"", "x"}, {"a", "b", "c"}}) {
        std::ostringstream e;
        EXPECT_EQ(velmo::cli::DropCommand(args, out, e), 2);
        EXPECT_EQ(e.str(), "usage: velmo drop NUMBER TEXT\n");
    }
}

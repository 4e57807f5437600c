// The records of sent parts that wait for the network's reports: what a
// report matches, what a message's reports come to, and what a restart
// (a new object over the same files) still knows.
#include "devices/cellgate/DeliveryReports.h"
#include "interfaces/VelmoDevice.h"
#include "platform/Guid.h"
#include "platform/TempRoot.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace {

using namespace velmo::cellgate;
using velmo::sms::StatusReport;

constexpr std::uint64_t kDay = 86400;

GUID NewId()
{
    GUID id{};
    CoCreateGuid(&id);
    return id;
}

StatusReport Report(unsigned reference, const std::u16string& to, unsigned status)
{
    StatusReport r;
    r.reference = reference;
    r.recipient = to;
    r.status = status;
    r.submitted.valid = r.discharged.valid = true;
    r.submitted.year = r.discharged.year = 2026;
    r.submitted.month = r.discharged.month = 12;
    r.submitted.day = r.discharged.day = 9;
    r.discharged.minute = static_cast<int>(status % 60);
    return r;
}

class DeliveryReportsTest : public ::testing::Test {
protected:
    TempRoot root_;
    std::string device_ = "Modem 1";
};

TEST(SameRecipient, NationalAndInternationalFormsOfOneNumberMatch)
{
    struct Case {
        const char* reported;
        const char* sent;
        bool same;
    };
    const Case cases[] = {
        {"+491711234567", "+491711234567", true},  {"491711234567", "+49 171 1234567", true},
        {"01711234567", "+491711234567", true},     // national, with its trunk zero
        {"00491711234567", "+491711234567", true},  // international prefix
        {"1234567", "+491711234567", true},         // the last digits, 6 or more
        {"34567", "+491711234567", false},          // too few to tell
        {"+491711234568", "+491711234567", false}, {"", "+491711234567", false},
        {"Vodafone", "+491711234567", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SameRecipient(c.reported, c.sent), c.same) << c.reported << " / " << c.sent;
}

TEST_F(DeliveryReportsTest, AMessageIsDeliveredWhenEveryPartIsAndUndeliveredWhenOneIsNot)
{
    DeliveryReports records(device_);
    records.Load(4 * kDay);
    GUID whole = NewId(), broken = NewId();
    for (unsigned part = 1; part <= 3; ++part) {
        ASSERT_TRUE(records.Submitted(whole, "+4917100", part, 3, 10 + part));
        ASSERT_TRUE(records.Submitted(broken, "+4917200", part, 3, 20 + part));
    }
    // Parts 1 and 2 delivered: nothing to tell yet.
    for (unsigned ref : {11u, 12u}) {
        DeliveryReports::Taken t = records.Take(Report(ref, u"+4917100", 0x00));
        EXPECT_TRUE(t.matched);
        EXPECT_FALSE(t.outcome);
    }
    // A temporary error on part 3 is told, and the part still waits.
    DeliveryReports::Taken busy = records.Take(Report(13, u"+4917100", 0x21));
    ASSERT_TRUE(busy.outcome);
    EXPECT_EQ(busy.outcome->state, DELIVERY_PENDING);
    EXPECT_EQ(busy.outcome->text, "\r\nNot delivered yet (part 3 of 3): SME busy (0x21); the network tries again");
    DeliveryReports::Taken last = records.Take(Report(13, u"+4917100", 0x00));
    ASSERT_TRUE(last.outcome);
    EXPECT_EQ(last.outcome->state, DELIVERY_DONE);
    EXPECT_EQ(last.outcome->text.rfind("\r\nAll 3 parts delivered to the phone, the last at 2026-12-09T00:", 0), 0u)
        << last.outcome->text;
    // One part that never will be: undelivered at once, naming the part.
    DeliveryReports::Taken lost = records.Take(Report(22, u"+4917200", 0x46));
    ASSERT_TRUE(lost.outcome);
    EXPECT_EQ(lost.outcome->state, DELIVERY_FAILED);
    EXPECT_EQ(lost.outcome->text.rfind("\r\nNot delivered (part 2 of 3): SM Validity Period Expired (0x46)", 0), 0u)
        << lost.outcome->text;
    // A settled part takes no second report.
    EXPECT_FALSE(records.Take(Report(11, u"+4917100", 0x00)).matched);
    EXPECT_FALSE(records.Take(Report(99, u"+4917100", 0x00)).matched);
}

TEST_F(DeliveryReportsTest, AReusedReferenceGoesToItsNewestUnsettledUse)
{
    DeliveryReports records(device_);
    records.Load(4 * kDay);
    GUID older = NewId(), newer = NewId(), elsewhere = NewId();
    ASSERT_TRUE(records.Submitted(older, "+4917100", 1, 1, 5));
    ASSERT_TRUE(records.Submitted(elsewhere, "+4917999", 1, 1, 5));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));  // the newer send gets a later clock reading
    ASSERT_TRUE(records.Submitted(newer, "+4917100", 1, 1, 5));
    DeliveryReports::Taken first = records.Take(Report(5, u"+4917100", 0x00));
    ASSERT_TRUE(first.outcome);
    EXPECT_EQ(velmo::GuidToUtf8(first.outcome->id), velmo::GuidToUtf8(newer));
    DeliveryReports::Taken second = records.Take(Report(5, u"+4917100", 0x00));
    ASSERT_TRUE(second.outcome);
    EXPECT_EQ(velmo::GuidToUtf8(second.outcome->id), velmo::GuidToUtf8(older));
    EXPECT_FALSE(records.Take(Report(5, u"+4917100", 0x00)).matched);
}

TEST_F(DeliveryReportsTest, ARestartKnowsWhatWaitsAndWhatTheServiceHasNotTaken)
{
    GUID waiting = NewId(), told = NewId();
    {
        DeliveryReports records(device_);
        records.Load(4 * kDay);
        ASSERT_TRUE(records.Submitted(waiting, "+4917100", 1, 2, 1));
        ASSERT_TRUE(records.Submitted(waiting, "+4917100", 2, 2, 2));
        ASSERT_TRUE(records.Submitted(told, "+4917200", 1, 1, 3));
        ASSERT_TRUE(records.Take(Report(1, u"+4917100", 0x00)).matched);
        ASSERT_TRUE(records.Take(Report(3, u"+4917200", 0x40)).outcome);  // final, not taken by the service
    }
    DeliveryReports again(device_);
    EXPECT_EQ(again.Load(4 * kDay), 0u);
    EXPECT_EQ(again.Waiting(), 2u);
    std::vector<DeliveryReports::Outcome> unreported = again.Unreported();
    ASSERT_EQ(unreported.size(), 1u);
    EXPECT_EQ(velmo::GuidToUtf8(unreported[0].id), velmo::GuidToUtf8(told));
    EXPECT_EQ(unreported[0].state, DELIVERY_FAILED);
    again.Forget(told);
    DeliveryReports::Taken rest = again.Take(Report(2, u"+4917100", 0x00));
    ASSERT_TRUE(rest.outcome);
    EXPECT_EQ(rest.outcome->state, DELIVERY_DONE);
    EXPECT_TRUE(again.Unreported().size() == 1);
    again.Forget(waiting);
    EXPECT_EQ(DeliveryReports(device_).Load(4 * kDay), 0u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(again.Folder()), {}), 0);
}

TEST_F(DeliveryReportsTest, DamagedAndOverdueRecordsAreRemovedAtLoad)
{
    {
        DeliveryReports records(device_);
        records.Load(4 * kDay);
        ASSERT_TRUE(records.Submitted(NewId(), "+4917100", 1, 1, 1));
    }
    const std::string folder = DeliveryReports(device_).Folder();
    auto write = [&](const std::string& text) { std::ofstream(folder + velmo::GuidToUtf8(NewId())) << text; };
    write("to +4917\nparts 2\npart 3 1 1000 -1 0 0\n");    // a part past the count
    write("to +4917\nparts 1\npart 1 300 1000 -1 0 0\n");  // a reference past 255
    write("garbage");
    write("to +4917\nparts 1\npart 1 7 1000 -1 0 0\n");   // sent in 1970: long past its time
    std::ofstream(folder + "not-a-record") << "ignored";  // not named like one: left alone
    DeliveryReports records(device_);
    EXPECT_EQ(records.Load(4 * kDay), 4u);
    EXPECT_EQ(records.Waiting(), 1u);
    EXPECT_TRUE(std::filesystem::exists(folder + "not-a-record"));
}

}  // namespace

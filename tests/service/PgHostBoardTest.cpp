// What hosts sharing one database tell each other (velmo_hosts,
// velmo_devices), and the tables brought from an older version to this
// build's with the messages they hold.
#include "messagefile/MessageRecord.h"
#include "platform/Text.h"
#include "service/WithPgStores.h"
#include "service/pgstore/PgRows.h"
#include "service/pgstore/PgSchema.h"
#include "service/pgstore/PgStore.h"

#include <gtest/gtest.h>
#include <thread>

namespace {

using namespace velmo;
using gateway::DeviceFigures;
using gateway::HostFigures;
using messagefile::MessageRecord;
using messagefile::RecordPtr;
using pgstore::PgConnection;
using pgstore::PgFailure;
using pgstore::PgStore;

class PgHostBoard : public WithPgStores {};

DeviceFigures Device(std::int32_t id, const std::string& name, const std::string& state)
{
    DeviceFigures d;
    d.id = id;
    d.name = name;
    d.state = state;
    return d;
}

HostFigures AlphaFigures()
{
    HostFigures h;
    h.counts.queued = 41;
    h.counts.devices["Modem \"A\" \u00e9"] = {30, 2, 5, 25, 1};
    h.counts.devices[""] = {0, 3, 0, 0, 0};  // failures no device took
    h.counts.devices["gone"] = {7, 0, 0, 0, 0};
    h.counts.deliveryTimes.Add(4);
    h.counts.deliveryTimes.Add(100);
    DeviceFigures a = Device(1, "Modem \"A\" \u00e9", "running");
    a.signal = 20;
    a.registration = "home";
    a.op = "Op, {1}";
    a.info = "manufacturer=Norvane\nmodel=modemsim\nimei=356938035643809";
    DeviceFigures spare = Device(2, "Spare", "waiting");
    spare.lastError = "Open failed:\n\"gone\"";
    spare.nextTry = "2026-12-09T10:41:00Z";
    spare.failedStarts = 4;
    h.devices = {a, spare, Device(0, "Old", "removed")};
    return h;
}

TEST_F(PgHostBoard, EachHostSeesTheOthersLastReportAsItWasWritten)
{
    auto alpha = Store("alpha");
    auto beta = Store("beta");
    EXPECT_TRUE(beta->OtherHosts().empty()) << "nobody has reported yet";
    HostFigures sent = AlphaFigures();
    ASSERT_EQ(alpha->ReportHost(sent), S_OK);
    EXPECT_TRUE(alpha->OtherHosts().empty()) << "a host is not its own other";

    std::vector<HostFigures> seen = beta->OtherHosts();
    ASSERT_EQ(seen.size(), 1u);
    const HostFigures& h = seen[0];
    EXPECT_EQ(h.host, "alpha");
    EXPECT_NEAR(static_cast<double>(h.reported), static_cast<double>(std::time(nullptr)), 60);
    EXPECT_EQ(h.counts.queued, 41u);
    EXPECT_EQ(h.counts.deliveryTimes.buckets, sent.counts.deliveryTimes.buckets);
    EXPECT_EQ(h.counts.deliveryTimes.count, 2u);
    EXPECT_DOUBLE_EQ(h.counts.deliveryTimes.sum, 104);
    ASSERT_EQ(h.counts.devices.size(), 5u) << "every device and every counted name";
    for (const auto& [name, c] : sent.counts.devices) {
        const gateway::DeviceCounts& got = h.counts.devices.at(name);
        EXPECT_EQ(std::tie(got.sent, got.failed, got.received, got.delivered, got.undelivered),
                  std::tie(c.sent, c.failed, c.received, c.delivered, c.undelivered))
            << name;
    }
    ASSERT_EQ(h.devices.size(), 3u) << "counted names that are no device are not listed as devices";
    for (std::size_t i = 0; i < 3; ++i) {
        const DeviceFigures &got = h.devices[i], &want = sent.devices[i];
        EXPECT_EQ(std::tie(got.id, got.name, got.state, got.signal, got.registration, got.op, got.lastError,
                           got.nextTry, got.failedStarts, got.info),
                  std::tie(want.id, want.name, want.state, want.signal, want.registration, want.op, want.lastError,
                           want.nextTry, want.failedStarts, want.info))
            << want.name;
    }

    // A new report stands in place of the last, whatever it no longer holds.
    HostFigures fewer;
    fewer.counts.queued = 42;
    fewer.devices = {Device(1, "Other", "starting")};
    ASSERT_EQ(alpha->ReportHost(fewer), S_OK);
    seen = beta->OtherHosts();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].counts.queued, 42u);
    ASSERT_EQ(seen[0].devices.size(), 1u);
    EXPECT_EQ(seen[0].devices[0].name, "Other");
    EXPECT_EQ(SqlOk("SELECT count(*) FROM velmo_devices"), "1");
}

TEST_F(PgHostBoard, ASilentHostsDevicesAreLostAndAHostSilentForADayIsForgotten)
{
    auto alpha = Store("alpha");
    auto beta = Store("beta");
    auto gamma = Store("gamma");
    ASSERT_EQ(alpha->ReportHost(AlphaFigures()), S_OK);
    HostFigures g;
    g.devices = {Device(1, "G1", "running")};
    ASSERT_EQ(gamma->ReportHost(g), S_OK);
    SqlOk("UPDATE velmo_hosts SET reported = now() - interval '10 minutes' WHERE host = 'alpha'; "
          "UPDATE velmo_hosts SET reported = now() - interval '2 days' WHERE host = 'gamma'");
    std::vector<HostFigures> seen = beta->OtherHosts();
    ASSERT_EQ(seen.size(), 1u) << "gamma is forgotten";
    EXPECT_EQ(seen[0].host, "alpha");
    ASSERT_EQ(seen[0].devices.size(), 3u);
    EXPECT_EQ(seen[0].devices[0].state, "lost");
    EXPECT_EQ(seen[0].devices[1].state, "lost");
    EXPECT_EQ(seen[0].devices[2].state, "removed") << "a removed device stays removed";
    EXPECT_EQ(seen[0].counts.devices.at("gone").sent, 7u) << "a lost host's counts still count";

    ASSERT_EQ(alpha->ReportHost(AlphaFigures()), S_OK);
    EXPECT_EQ(beta->OtherHosts()[0].devices[0].state, "running") << "a host that reports again is back";
}

TEST_F(PgHostBoard, WhatADeviceWroteThatTextCannotHoldIsCleanedNotRefused)
{
    auto alpha = Store("alpha");
    auto beta = Store("beta");
    HostFigures h;
    DeviceFigures d = Device(1, "M\xff", "waiting");
    d.lastError = std::string("no\0pe \xc3", 7);
    d.info = "model=E\xe9";
    h.devices = {d};
    ASSERT_EQ(alpha->ReportHost(h), S_OK);
    std::vector<HostFigures> seen = beta->OtherHosts();
    ASSERT_EQ(seen.size(), 1u);
    ASSERT_EQ(seen[0].devices.size(), 1u);
    EXPECT_EQ(seen[0].devices[0].name, "M\uFFFD");
    EXPECT_EQ(seen[0].devices[0].lastError, "nope \uFFFD");
    EXPECT_EQ(seen[0].devices[0].info, "model=E\uFFFD");
}

TEST_F(PgHostBoard, ADeviceNameListedTwiceAddsUpItsCounts)
{
    auto alpha = Store("alpha");
    auto beta = Store("beta");
    HostFigures h;
    h.devices = {Device(3, "M", "running"), Device(0, "M", "removed")};
    h.counts.devices["M"] = {5, 1, 0, 0, 0};
    ASSERT_EQ(alpha->ReportHost(h), S_OK);
    SqlOk("UPDATE velmo_devices SET sent = 2 WHERE id = 0");
    std::vector<HostFigures> seen = beta->OtherHosts();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].devices.size(), 2u);
    EXPECT_EQ(seen[0].counts.devices.at("M").sent, 7u);
}

TEST_F(PgHostBoard, TwoServicesUnderOneNameAreToldAndARestartIsNot)
{
    const char* told = "Another velmosvc uses the queue store under this host's name 'alpha'";
    {
        auto before = Store("alpha");
        ASSERT_EQ(before->ReportHost({}), S_OK);
    }
    auto restarted = Store("alpha");  // the same host, started again
    ASSERT_EQ(restarted->ReportHost({}), S_OK);
    ASSERT_EQ(restarted->ReportHost({}), S_OK);
    EXPECT_EQ(events_.Count(told), 0);

    auto clone = Store("alpha");  // a second machine configured with the same name
    ASSERT_EQ(clone->ReportHost({}), S_OK);
    ASSERT_EQ(restarted->ReportHost({}), S_OK);
    ASSERT_EQ(clone->ReportHost({}), S_OK);
    ASSERT_EQ(restarted->ReportHost({}), S_OK);
    EXPECT_EQ(events_.Count(told), 2) << "each of the two tells it, once";
}

TEST_F(PgHostBoard, TablesOfAnOlderVersionAreUpgradedOnceWithTheirMessages)
{
    PgConnection conn(cluster_.ConnInfo());
    PgFailure failure;
    ASSERT_EQ(pgstore::UpgradeSchema(conn, failure, 1), S_OK) << failure.why;
    ASSERT_EQ(pgstore::SchemaVersion(conn, failure), 1);
    EXPECT_EQ(SqlOk("SELECT to_regclass('velmo_hosts') IS NULL"), "t");

    // A message as a version 1 host wrote it.
    RecordPtr r = MessageRecord::New();
    r->Initialise();
    r->To = Bstr(u"+4915112345678");
    r->Body = Bstr(u"from before the upgrade");
    std::vector<pgstore::PgParam> values = pgstore::FieldsOf(*r);
    values.push_back(pgstore::PgParam::Text("queued"));
    values.push_back(pgstore::PgParam::Text("old"));
    values.push_back(pgstore::PgParam::Text("false"));
    ASSERT_TRUE(conn.Exec(pgstore::kInsertRow, values, failure)) << failure.why;

    // Two hosts of this build start at once: the tables are upgraded once.
    std::unique_ptr<PgStore> alpha, beta;
    std::thread other([&] { beta = Store("beta"); });
    alpha = Store("alpha");
    other.join();
    EXPECT_EQ(SqlOk("SELECT string_agg(version::text, ',' ORDER BY version) FROM velmo_schema"), "1,2");
    EXPECT_EQ(pgstore::SchemaVersion(conn, failure), pgstore::kSchemaVersion);

    std::optional<queue::Found> found = alpha->Find(r->Id);
    ASSERT_TRUE(found && found->record);
    EXPECT_EQ(found->record->Serialize(), r->Serialize());
    EXPECT_EQ(alpha->CountQueued(), 1u);
    ASSERT_EQ(alpha->Take(*r, u"modem1"), S_OK) << "an upgraded row is taken as any other";
    ASSERT_EQ(alpha->ReportHost(AlphaFigures()), S_OK);
    EXPECT_EQ(beta->OtherHosts().size(), 1u);
}

}  // namespace

// The PostgreSQL queue store against a real, throwaway PostgreSQL cluster:
// each step of a message, two hosts sharing one database, the listing, the
// schema, rows that do not read, and the database going away and back.
#include "messagefile/MessageRecord.h"
#include "platform/Text.h"
#include "platform/WaitUntil.h"
#include "service/WithPgStores.h"
#include "service/pgstore/PgSchema.h"
#include "service/pgstore/PgStore.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <thread>

namespace {

using namespace velmo;
using messagefile::Folder;
using messagefile::MessageRecord;
using messagefile::RecordPtr;
using pgstore::PgStore;

RecordPtr Outgoing(const char* to, const char16_t* body = u"hello")
{
    RecordPtr r = MessageRecord::New();
    r->Initialise();
    r->To = Bstr(Utf8ToUtf16(to));
    r->Body = Bstr(body);
    return r;
}

class PgStoreTest : public WithPgStores {};

TEST_F(PgStoreTest, EveryStepOfAMessageKeepsItsFileByteForByte)
{
    auto store = Store("alpha");
    RecordPtr r = Outgoing("+4915112345678", u"caf\u00e9 \u20ac \U0001F600");
    r->ExpireAfter = 3600;
    ASSERT_EQ(store->Accept(*r), S_OK);
    EXPECT_TRUE(store->Knows(r->Id));
    EXPECT_EQ(store->CountQueued(), 1u);
    RecordPtr loaded = store->LoadQueued(r->Id);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->Serialize(), r->Serialize());

    ASSERT_EQ(store->Take(*r, u"modem1"), S_OK);
    r->RetryCount = 1;
    r->StatusText = Bstr(u"busy");
    ASSERT_EQ(store->SaveRetry(*r), S_OK);
    EXPECT_EQ(store->LoadQueued(r->Id)->Serialize(), r->Serialize());

    r->Status = SENT;
    GetSystemTime(&r->Completed);
    ASSERT_EQ(store->Finish(*r), S_OK);
    EXPECT_FALSE(store->LoadQueued(r->Id));
    EXPECT_EQ(store->CountQueued(), 0u);
    std::optional<queue::Found> found = store->Find(r->Id);
    ASSERT_TRUE(found && found->record);
    EXPECT_EQ(found->folder, Folder::Sent);
    EXPECT_EQ(found->record->Serialize(), r->Serialize());

    r->Status = DELIVERED;
    GetSystemTime(&r->Discharged);
    ASSERT_EQ(store->UpdateSent(*r), S_OK);
    EXPECT_EQ(store->Find(r->Id)->record->Serialize(), r->Serialize());
    EXPECT_TRUE(store->Knows(r->Id));

    // The columns say the same for a person with psql.
    EXPECT_EQ(SqlOk("SELECT folder, status, retries, recipient, status_text, device, host, expire_after, "
                    "discharged IS NOT NULL, lease_host IS NULL FROM velmo_messages"),
              "sent|5|1|+4915112345678|busy|modem1|alpha|3600|t|t");
    EXPECT_EQ(SqlOk("SELECT body FROM velmo_messages"), "caf\u00e9 \u20ac \U0001F600");

    RecordPtr withdrawn = Outgoing("+100");
    ASSERT_EQ(store->Accept(*withdrawn), S_OK);
    store->Withdraw(withdrawn->Id);
    EXPECT_FALSE(store->Knows(withdrawn->Id));
    EXPECT_FALSE(store->Find(withdrawn->Id));
}

TEST_F(PgStoreTest, TextThatPostgresCannotHoldIsCleanedInItsColumnButKeptInTheFile)
{
    auto store = Store("alpha");
    const char16_t odd[] = {u'a', 0, u'b', 0xD800, u'c'};
    RecordPtr r = Outgoing("+1", u"");
    r->Body = Bstr(std::u16string_view(odd, 5));
    r->From = Bstr();  // null stays null
    ASSERT_EQ(store->Accept(*r), S_OK);
    EXPECT_EQ(store->LoadQueued(r->Id)->Serialize(), r->Serialize());
    EXPECT_EQ(SqlOk("SELECT body, sender IS NULL FROM velmo_messages"), "ab\uFFFDc|t");
}

TEST_F(PgStoreTest, AMessageIsHeldByOneHostUntilItsLeaseRunsOut)
{
    auto alpha = Store("alpha", 1);
    auto beta = Store("beta", 1);
    RecordPtr r = Outgoing("+1");
    ASSERT_EQ(alpha->Accept(*r), S_OK);
    ASSERT_EQ(alpha->Take(*r, u"a1"), S_OK);
    EXPECT_EQ(beta->Take(*r, u"b1"), E_ACCESSDENIED);
    EXPECT_EQ(alpha->Take(*r, u"a2"), E_ACCESSDENIED) << "not even its holder takes a message twice";

    // alpha dies holding it; once the lease has run out beta takes it over.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (beta->Take(*r, u"b1") != S_OK && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(SqlOk("SELECT lease_host, device FROM velmo_messages"), "beta|b1");

    // Renewal keeps the leases of what a device holds, and no other.
    RecordPtr lost = Outgoing("+2");
    ASSERT_EQ(beta->Accept(*lost), S_OK);
    ASSERT_EQ(beta->Take(*lost, u"b1"), S_OK);
    EXPECT_EQ(beta->RenewLeases({r->Id}), 1);
    EXPECT_EQ(beta->RenewLeases({}), 0);
    EXPECT_TRUE(WaitUntil([&] { return alpha->Take(*lost, u"a1") == S_OK; }, std::chrono::seconds(10)))
        << "a lease nobody renews runs out";

    r->Status = SENT;
    ASSERT_EQ(beta->Finish(*r), S_OK);
    // alpha comes back and reports its own attempt: the outcome stands as beta wrote it.
    r->Status = FAILED;
    EXPECT_EQ(alpha->Finish(*r), S_FALSE);
    EXPECT_EQ(SqlOk("SELECT folder, status FROM velmo_messages WHERE recipient = '+1'"),
              "sent|" + std::to_string(SENT));
    EXPECT_EQ(alpha->Take(*r, u"a1"), E_ACCESSDENIED) << "a finished message is no longer taken";
    EXPECT_EQ(events_.Count("its outcome stands as that host wrote it"), 1);
}

TEST_F(PgStoreTest, RecoverGivesBackThisHostsLeasesAndLeavesOtherHostsAlone)
{
    auto alpha = Store("alpha");
    auto beta = Store("beta");
    std::vector<GUID> ids;
    for (const char* to : {"+1", "+2", "+3", "+4"}) {
        RecordPtr r = Outgoing(to);
        ASSERT_EQ(alpha->Accept(*r), S_OK);
        ids.push_back(r->Id);
    }
    RecordPtr held = alpha->LoadQueued(ids[1]);
    held->RetryCount = 1;
    ASSERT_EQ(alpha->Take(*held, u"a1"), S_OK);
    ASSERT_EQ(alpha->SaveRetry(*held), S_OK);
    EXPECT_EQ(SqlOk("SELECT count(*) FROM velmo_messages WHERE lease_host IS NOT NULL"), "0")
        << "a retry is any host's";
    ASSERT_EQ(alpha->Take(*held, u"a1"), S_OK);  // alpha held it when it crashed
    RecordPtr other = alpha->LoadQueued(ids[2]);
    ASSERT_EQ(beta->Take(*other, u"b1"), S_OK);  // beta holds this one now

    std::vector<GUID> given;
    int handled = alpha->Recover([&](RecordPtr r) {
        given.push_back(r->Id);
        return true;
    });
    EXPECT_EQ(handled, 3);
    ASSERT_EQ(given.size(), 3u);
    EXPECT_EQ(GuidToUtf8(given[0]), GuidToUtf8(ids[0]));
    EXPECT_EQ(GuidToUtf8(given[1]), GuidToUtf8(ids[1]));
    EXPECT_EQ(GuidToUtf8(given[2]), GuidToUtf8(ids[3]));

    int stoppedAfter = alpha->Recover([&](RecordPtr) { return false; });
    EXPECT_EQ(stoppedAfter, 0);
}

TEST_F(PgStoreTest, ReceivedMessagesWaitForTheHandlersOfTheHostThatReceivedThem)
{
    auto alpha = Store("alpha");
    auto beta = Store("beta");
    std::vector<RecordPtr> received;
    for (WORD second : {30, 10, 20}) {
        RecordPtr r = MessageRecord::New();
        r->Initialise();
        r->Status = RECEIVED;
        r->From = Bstr(u"+49170");
        r->Body = Bstr(u"in");
        r->Received = SYSTEMTIME{2026, 12, 0, 9, 10, 0, second, 0};
        ASSERT_EQ((second == 20 ? beta : alpha)->StoreReceived(*r), S_OK);
        received.push_back(r);
    }
    std::vector<RecordPtr> waiting = alpha->AwaitingHandlers();
    ASSERT_EQ(waiting.size(), 2u);
    EXPECT_EQ(waiting[0]->Received.wSecond, 10);
    EXPECT_EQ(waiting[1]->Received.wSecond, 30);
    alpha->Offered(waiting[0]->Id);
    EXPECT_EQ(alpha->AwaitingHandlers().size(), 1u);
    EXPECT_EQ(beta->AwaitingHandlers().size(), 1u);
    EXPECT_EQ(alpha->Find(received[2]->Id)->folder, Folder::Received) << "every host finds every message";
}

TEST_F(PgStoreTest, PagesCoverAFolderOnceNewestFirstAndAFinishedMessageComesFirst)
{
    auto store = Store("alpha");
    std::vector<std::string> ids;
    for (int i = 0; i < 250; ++i) {
        RecordPtr r = Outgoing(("+" + std::to_string(i)).c_str());
        ASSERT_EQ(store->Accept(*r), S_OK);
        ids.push_back(GuidToUtf8(r->Id));
    }
    std::vector<std::string> seen;
    std::string cursor;
    int pages = 0;
    do {
        std::optional<queue::Page> page = store->List(Folder::Queued, 100, cursor);
        ASSERT_TRUE(page);
        for (const queue::ListedMessage& m : page->messages)
            seen.push_back(m.id);
        cursor = page->next;
        ++pages;
    } while (!cursor.empty());
    EXPECT_EQ(pages, 3);
    ASSERT_EQ(seen.size(), 250u);
    EXPECT_EQ(seen.front(), ids.back());
    EXPECT_EQ(seen.back(), ids.front());
    EXPECT_EQ(std::set<std::string>(seen.begin(), seen.end()).size(), 250u);

    for (const char* bad : {"x", "-1", "12a", "99999999999999999999", "1 OR 1=1"})
        EXPECT_FALSE(store->List(Folder::Queued, 10, bad)) << bad;

    RecordPtr oldest = store->LoadQueued(*ParseGuid(ids.front()));
    oldest->Status = SENT;
    ASSERT_EQ(store->Finish(*oldest), S_OK);
    RecordPtr newer = store->LoadQueued(*ParseGuid(ids.back()));
    newer->Status = SENT;
    ASSERT_EQ(store->Finish(*newer), S_OK);
    std::optional<queue::Page> sent = store->List(Folder::Sent, 0, "");
    ASSERT_TRUE(sent && sent->messages.size() == 2);
    EXPECT_EQ(sent->messages[0].id, ids.back()) << "the order a message entered its folder";
    EXPECT_EQ(sent->messages[0].status, "SENT");
    EXPECT_EQ(sent->messages[0].to, "+249");
    EXPECT_TRUE(sent->next.empty());
}

TEST_F(PgStoreTest, ARowWhoseFileDoesNotReadIsSetAsideAsBadAndListed)
{
    auto store = Store("alpha");
    RecordPtr r = Outgoing("+1");
    ASSERT_EQ(store->Accept(*r), S_OK);
    SqlOk("UPDATE velmo_messages SET file = '\\x0102'");
    EXPECT_FALSE(store->LoadQueued(r->Id));
    EXPECT_EQ(SqlOk("SELECT folder FROM velmo_messages"), "bad");
    EXPECT_EQ(store->CountQueued(), 0u);
    std::optional<queue::Page> bad = store->List(Folder::Bad, 0, "");
    ASSERT_TRUE(bad && bad->messages.size() == 1);
    EXPECT_EQ(bad->messages[0].id, GuidToUtf8(r->Id));
    EXPECT_EQ(bad->messages[0].status, "BAD");
    std::optional<queue::Found> found = store->Find(r->Id);
    ASSERT_TRUE(found);
    EXPECT_FALSE(found->record);
    EXPECT_EQ(found->readError, E_FAIL);
    EXPECT_EQ(found->folder, Folder::Bad);
}

TEST_F(PgStoreTest, TheSchemaIsCreatedOnceAndANewerOneIsRefused)
{
    auto first = Store("alpha");
    auto second = Store("beta");
    EXPECT_EQ(SqlOk("SELECT string_agg(version::text, ',' ORDER BY version) FROM velmo_schema"), "1,2");
    SqlOk("INSERT INTO velmo_schema (version) VALUES (99)");
    PgStore later(events_, {cluster_.ConnInfo(), "gamma", 120, 1, ""});
    std::string why;
    EXPECT_EQ(later.Open(why), E_FAIL);
    EXPECT_NE(why.find("version 99, newer than this velmosvc knows"), std::string::npos) << why;
    RecordPtr r = Outgoing("+1");
    EXPECT_EQ(later.Accept(*r), E_FAIL) << "a store that did not open takes nothing";
}

TEST_F(PgStoreTest, TheDatabaseAwayFailsEveryCallAndItsReturnIsUsedWithoutARestart)
{
    auto store = Store("alpha");
    RecordPtr before = Outgoing("+1");
    ASSERT_EQ(store->Accept(*before), S_OK);
    ASSERT_TRUE(cluster_.Stop());
    RecordPtr during = Outgoing("+2");
    EXPECT_EQ(store->Accept(*during), queue::kStoreAway);
    EXPECT_EQ(store->Accept(*during), queue::kStoreAway);
    EXPECT_FALSE(store->LoadQueued(before->Id));
    // Reads say the store cannot tell, never that the message is unknown or the folder empty.
    std::optional<queue::Found> found = store->Find(before->Id);
    ASSERT_TRUE(found);
    EXPECT_FALSE(found->record);
    EXPECT_EQ(found->readError, queue::kStoreAway);
    std::optional<queue::Page> page = store->List(Folder::Queued, 10, "");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->error, queue::kStoreAway);
    EXPECT_EQ(events_.Count("The queue store is lost"), 1) << "once for the whole outage";
    ASSERT_TRUE(cluster_.Start());
    EXPECT_EQ(store->Accept(*during), S_OK);
    EXPECT_EQ(store->CountQueued(), 2u);
    EXPECT_EQ(events_.Count("The queue store is back"), 1);
}

TEST_F(PgStoreTest, ARestartOfTheServerIsNoLossWhileEachIdleConnectionFindsItOut)
{
    auto store = Store("alpha");  // two connections
    std::vector<std::thread> both;
    for (int t = 0; t < 2; ++t)
        both.emplace_back([&] {
            for (int i = 0; i < 50; ++i)
                (void)store->CountQueued();
        });
    for (auto& t : both)
        t.join();
    ASSERT_TRUE(cluster_.Stop());
    ASSERT_TRUE(cluster_.Start());
    RecordPtr r = Outgoing("+1");
    int refused = 0;
    for (int i = 0; i < 4 && store->Accept(*r) != S_OK; ++i)
        ++refused;  // a connection from before the restart breaks at its first statement
    EXPECT_LE(refused, 2);
    EXPECT_EQ(store->CountQueued(), 1u);
    EXPECT_EQ(events_.Count("The queue store is lost"), 0) << "the database never stopped answering a new connection";
    EXPECT_EQ(events_.Count("The queue store is back"), 0);
}

TEST_F(PgStoreTest, WhatCannotBeWrittenWhileTheDatabaseIsAwayIsKeptAndWrittenOnceWhenItIsBack)
{
    std::string journal = cluster_.Dir() + "/journal/";
    auto store = Store("alpha", 120, journal);
    RecordPtr sent = Outgoing("+1"), failed = Outgoing("+2"), delivered = Outgoing("+3");
    for (RecordPtr* r : {&sent, &failed, &delivered}) {
        ASSERT_EQ(store->Accept(**r), S_OK);
        ASSERT_EQ(store->Take(**r, u"d1"), S_OK);
    }
    delivered->Status = SENT;
    ASSERT_EQ(store->Finish(*delivered), S_OK);

    ASSERT_TRUE(cluster_.Stop());
    sent->Status = SENT;
    failed->Status = FAILED;
    delivered->Status = DELIVERED;
    RecordPtr in = MessageRecord::New();
    in->Initialise();
    in->Status = RECEIVED;
    in->From = Bstr(u"+49170");
    GetSystemTime(&in->Received);
    EXPECT_EQ(store->Finish(*sent), S_OK);
    EXPECT_EQ(store->Finish(*failed), S_OK);
    EXPECT_EQ(store->UpdateSent(*delivered), S_OK);
    EXPECT_EQ(store->StoreReceived(*in), S_OK);
    store->Offered(in->Id);
    EXPECT_EQ(store->SaveRetry(*sent), E_FAIL) << "a retry keeps the copy before, which serves as well";
    std::vector<std::string> kept;
    for (const auto& e : std::filesystem::directory_iterator(journal))
        kept.push_back(e.path().filename().string());
    std::sort(kept.begin(), kept.end());
    ASSERT_EQ(kept.size(), 5u);
    EXPECT_TRUE(kept[0].ends_with(".finish") && kept[2].ends_with(".update") && kept[3].ends_with(".received") &&
                kept[4].ends_with(".offered"))
        << kept[0] << " " << kept[4];
    std::filesystem::copy_file(journal + kept[0], cluster_.Dir() + "/again");
    EXPECT_EQ(events_.Count("kept in the local journal until the queue store answers"), 1);

    ASSERT_TRUE(cluster_.Start());
    EXPECT_EQ(store->ReplayJournal(), 5);
    EXPECT_TRUE(std::filesystem::is_empty(journal));
    EXPECT_EQ(SqlOk("SELECT string_agg(recipient || ':' || folder || ':' || status, ' ' ORDER BY recipient) FROM "
                    "velmo_messages WHERE folder <> 'received'"),
              "+1:sent:2 +2:failed:3 +3:sent:5");
    EXPECT_EQ(SqlOk("SELECT count(*) FROM velmo_messages WHERE folder = 'received' AND NOT awaiting_handlers"), "1");
    EXPECT_EQ(SqlOk("SELECT count(*) FROM velmo_messages WHERE lease_host IS NOT NULL"), "0");

    // A crash after the write and before the entry went leaves it to be written again: it changes nothing.
    std::string before =
        SqlOk("SELECT string_agg(id || folder || status || listed, ',' ORDER BY id) FROM velmo_messages");
    std::filesystem::copy_file(cluster_.Dir() + "/again", journal + kept[0]);
    EXPECT_EQ(store->ReplayJournal(), 1);
    EXPECT_EQ(SqlOk("SELECT string_agg(id || folder || status || listed, ',' ORDER BY id) FROM velmo_messages"),
              before);
    EXPECT_EQ(store->ReplayJournal(), 0);
}

}  // namespace

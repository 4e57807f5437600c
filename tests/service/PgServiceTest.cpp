// velmosvc with its queue in a throwaway PostgreSQL cluster: messages
// picked up, sent, retried, failed, received, reported and counted in the
// database rather than the folders; a start while the database is away;
// a kill and a restart; what /CHECK says of the store.
#include "service/EventCapture.h"
#include "service/WithPgCluster.h"
#include "service/Program.h"
#include "service/ServiceRoot.h"
#include "messagefile/MessageRecord.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <set>

using velmo::Bstr;
using velmo::messagefile::MessageRecord;

namespace {

// Test-only: the 30 s pickup scan becomes 30 ms.
const std::vector<std::pair<std::string, std::string>> kFast = {{"VELMO_TEST_TIME_DIVISOR", "1000"}};

class PgService : public WithPgCluster {
protected:
    void WriteConfig(const std::string& devices, const std::string& rules = "<rules/>", const std::string& more = "")
    {
        std::ofstream(root_.folderPath("") + "config.xml")
            << "<velmo><configuration><queue max='0' store='postgresql' connection='" << cluster_.ConnInfo()
            << "' host='alpha'" << more << "/><retries max='2'/></configuration><devices>" << devices << "</devices>"
            << rules << "<eventhandlers/></velmo>";
    }
    void Drop(const std::u16string& to, const std::u16string& body)
    {
        MessageRecord* r = new MessageRecord();
        r->Initialise();
        r->To = Bstr(to);
        r->Body = Bstr(body);
        std::string tmp = root_.path() + "/" + velmo::GuidToUtf8(r->Id) + ".tmp";
        ASSERT_EQ(r->SaveToFile(velmo::Utf8ToUtf16(tmp)), S_OK);
        std::filesystem::rename(tmp, root_.folderPath("pickup") + velmo::GuidToUtf8(r->Id) + ".velmo");
        r->Release();
    }
    // One line of psql's answer ("" when the database does not answer).
    std::string Folders()
    {
        return Sql("SELECT string_agg(folder || '=' || n, ' ' ORDER BY folder) FROM "
                   "(SELECT folder, count(*) n FROM velmo_messages GROUP BY folder) f");
    }
    bool NoFiles()
    {
        return root_.Files("out").empty() && root_.Files("out/sent").empty() && root_.Files("out/failed").empty() &&
               root_.Files("in").empty();
    }

    ServiceRoot root_;
};

TEST_F(PgService, MessagesAreSentRetriedFailedReceivedAndReportedInTheDatabase)
{
    WriteConfig(Loopback(1, Param("echo", "true") + Param("delivery", "delivered")) +
                    Loopback(2, Param("result", "retry")),
                "<rules><r match='999' device_id='2' continue='false'/></rules>");
    Drop(u"+4912", u"one");
    Drop(u"+4913", u"two");
    Drop(u"999 1", u"three");
    Program service({"/DEBUG"}, kFast);
    ASSERT_TRUE(WaitUntil([&] { return Folders() == "failed=1 received=2 sent=2"; })) << Folders() << service.Err();
    EXPECT_TRUE(NoFiles());
    EXPECT_EQ(Sql("SELECT status, retries, host, device FROM velmo_messages WHERE folder = 'failed'"),
              std::to_string(FAILED) + "|3|alpha|Loop2");
    EXPECT_EQ(Sql("SELECT string_agg(status::text || ' ' || body, ',' ORDER BY body) FROM velmo_messages WHERE "
                  "folder = 'sent'"),
              std::to_string(DELIVERED) + " one," + std::to_string(DELIVERED) + " two");
    EXPECT_EQ(Sql("SELECT count(*) FROM velmo_messages WHERE folder = 'received' AND sender IN ('+4912', '+4913') "
                  "AND NOT awaiting_handlers AND host = 'alpha'"),
              "2");
    kill(service.pid(), SIGTERM);
    EXPECT_EQ(service.Wait(), 0);
    EXPECT_NE(service.Err().find("The queue store is PostgreSQL, as host alpha"), std::string::npos) << service.Err();
}

TEST_F(PgService, AServiceStartedWithoutTheDatabaseQueuesOnceItIsBack)
{
    WriteConfig(Loopback(1));
    ASSERT_TRUE(cluster_.Stop());
    Drop(u"+4912", u"waits");
    Program service({"/DEBUG"}, kFast);
    ASSERT_TRUE(WaitUntil([&] { return service.Err().find("cannot be used yet") != std::string::npos; }))
        << service.Err();
    EXPECT_EQ(root_.Files("pickup").size(), 1u) << "a message the store cannot take stays where it was";
    ASSERT_TRUE(cluster_.Start());
    ASSERT_TRUE(WaitUntil([&] { return Folders() == "sent=1"; })) << Folders() << service.Err();
    EXPECT_TRUE(root_.Files("pickup").empty());
    EXPECT_NE(service.Err().find("The queue store is back"), std::string::npos) << service.Err();
}

TEST_F(PgService, QueuedMessagesOfAKilledServiceAreSentAfterItsRestart)
{
    WriteConfig(Loopback(1, Param("delay", "200")));
    for (int i = 0; i < 10; ++i)
        Drop(u"+4912", velmo::Utf8ToUtf16("m" + std::to_string(i)));
    {
        Program first({"/DEBUG"}, kFast);
        ASSERT_TRUE(WaitUntil([&] { return Sql("SELECT count(*) FROM velmo_messages") == "10"; }))
            << Folders() << first.Err();
    }  // SIGKILLed while messages are held by its device
    EXPECT_NE(Sql("SELECT count(*) FROM velmo_messages WHERE folder = 'queued'"), "0");
    Program second({"/DEBUG"}, kFast);
    ASSERT_TRUE(WaitUntil([&] { return Folders() == "sent=10"; })) << Folders() << second.Err();
    EXPECT_EQ(Sql("SELECT count(DISTINCT body) FROM velmo_messages"), "10");
    EXPECT_EQ(Sql("SELECT count(*) FROM velmo_messages WHERE lease_host IS NOT NULL"), "0");
}

TEST_F(PgService, TenSecondsWithoutTheDatabaseLoseNothingAndWriteNothingTwice)
{
    std::string log = root_.path() + "/handed.log";
    WriteConfig(Loopback(1, Param("delay", "300") + Param("echo", "true") + Param("log", log)));
    for (int i = 0; i < 20; ++i)
        Drop(u"+4912", velmo::Utf8ToUtf16("m" + std::to_string(i)));
    Program service({"/DEBUG"}, kFast);
    ASSERT_TRUE(WaitUntil([&] { return Sql("SELECT count(*) FROM velmo_messages WHERE folder = 'sent'") >= "3"; }))
        << service.Err();
    ASSERT_TRUE(cluster_.Stop());
    auto stopped = std::chrono::steady_clock::now();
    // The device reports what it held: its outcomes and the echoes wait in the journal.
    std::string journal = root_.folderPath("pgjournal");
    ASSERT_TRUE(WaitUntil([&] {
        return std::filesystem::exists(journal) && !std::filesystem::is_empty(journal) &&
               std::chrono::steady_clock::now() - stopped >= std::chrono::seconds(10);
    })) << service.Err();
    ASSERT_TRUE(cluster_.Start());
    ASSERT_TRUE(WaitUntil([&] { return Folders() == "received=20 sent=20"; }, std::chrono::seconds(60)))
        << Folders() << service.Err();
    EXPECT_TRUE(std::filesystem::is_empty(journal));
    std::ifstream in(log);
    std::set<std::string> ids;
    int lines = 0;
    for (std::string line; std::getline(in, line); ++lines)
        ids.insert(line.substr(0, line.find('\t')));
    EXPECT_EQ(lines, 20) << "each message handed to the device once";
    EXPECT_EQ(ids.size(), 20u);
    EXPECT_EQ(Sql("SELECT count(DISTINCT body) FROM velmo_messages WHERE folder = 'received'"), "20");
    std::string err = service.Err();
    EXPECT_NE(err.find("The queue store is lost: "), std::string::npos) << err;
    EXPECT_NE(err.find("are written to the queue store"), std::string::npos) << err;
    EXPECT_NE(err.find("The queue store is back"), std::string::npos) << err;
}

// velmosvc /MOVE in a child process: its exit code and what it printed.
int Move(const std::string& to, std::string& out)
{
    Program move({"/MOVE", to});
    int code = move.Wait();
    out = move.Out();
    return code;
}

TEST_F(PgService, TheQueueMovesIntoTheDatabaseAndBackAndAMoveMayBeRunAgain)
{
    WriteConfig(Loopback(1));
    std::map<std::string, std::vector<unsigned char>> files;  // relative path -> bytes
    auto save = [&](const std::string& folder, LONG status, const std::string& body) {
        MessageRecord* r = new MessageRecord();
        r->Initialise();
        r->To = Bstr(u"+4912");
        r->Body = Bstr(velmo::Utf8ToUtf16(body));
        r->Status = status;
        std::string name = folder + "/" + velmo::GuidToUtf8(r->Id) + ".velmo";
        EXPECT_EQ(r->SaveToFile(velmo::Utf8ToUtf16(root_.folderPath("") + name)), S_OK);
        files[name] = r->Serialize();
        std::string id = velmo::GuidToUtf8(r->Id);
        r->Release();
        return id;
    };
    for (int i = 0; i < 3; ++i)
        save("out", QUEUED, "queued " + std::to_string(i));
    std::string twice = save("out/sent", SENT, "sent and left queued by a crash");
    std::filesystem::copy_file(root_.folderPath("out/sent") + twice + ".velmo",
                               root_.folderPath("out") + twice + ".velmo");
    save("out/sent", SENT, "sent");
    save("out/failed", FAILED, "failed");
    std::string waiting = save("in", RECEIVED, "waits for the handlers");
    std::ofstream(root_.folderPath("in") + waiting + ".offer");
    save("in", RECEIVED, "offered");
    std::ofstream(root_.folderPath("bad") + "junk.velmo") << "not a message";
    save("bad", QUEUED, "set aside by hand");

    std::string out;
    EXPECT_EQ(Move("elsewhere", out), 2) << out;
    ASSERT_EQ(Move("postgresql", out), 0) << out;
    EXPECT_NE(out.find("out/: 4 of 4 messages moved into the database"), std::string::npos) << out;
    EXPECT_EQ(Folders(), "bad=2 failed=1 queued=3 received=2 sent=2");
    EXPECT_EQ(Sql("SELECT count(*) FROM velmo_messages WHERE awaiting_handlers"), "1");
    EXPECT_TRUE(NoFiles());
    EXPECT_TRUE(root_.Files("bad").empty());
    EXPECT_FALSE(std::filesystem::exists(root_.folderPath("in") + waiting + ".offer"));

    // A move killed before it removed a file: run again, the row stands once and the file goes.
    for (const auto& [name, bytes] : files)
        if (name.rfind("out/", 0) == 0 && name.find('/', 4) == std::string::npos) {
            std::ofstream(root_.folderPath("") + name, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
            break;
        }
    ASSERT_EQ(Move("postgresql", out), 0) << out;
    EXPECT_EQ(Folders(), "bad=2 failed=1 queued=3 received=2 sent=2");
    EXPECT_TRUE(NoFiles());

    {
        Program service({"/DEBUG"}, kFast);
        ASSERT_TRUE(WaitUntil([&] { return service.Err().find("Service started") != std::string::npos; }));
        EXPECT_EQ(Move("folders", out), 1) << out;
        EXPECT_NE(out.find("velmosvc runs on this root (process "), std::string::npos) << out;
        ASSERT_TRUE(WaitUntil([&] { return Folders() == "bad=2 failed=1 received=2 sent=5"; })) << Folders();
        kill(service.pid(), SIGTERM);
        EXPECT_EQ(service.Wait(), 0);
    }
    // The service offered both received messages to its (empty) handler chain; one waits again.
    Sql("UPDATE velmo_messages SET awaiting_handlers = true WHERE body = 'waits for the handlers'");
    ASSERT_EQ(Move("folders", out), 0) << out;
    EXPECT_NE(out.find("10 of 10 messages moved into the folders under "), std::string::npos) << out;
    EXPECT_EQ(Folders(), "");
    EXPECT_EQ(root_.Files("out/sent").size(), 5u);
    EXPECT_EQ(root_.Files("in").size(), 2u);
    EXPECT_EQ(root_.Files("bad").size(), 2u);
    EXPECT_TRUE(std::filesystem::exists(root_.folderPath("in") + waiting + ".offer"));
    for (const char* kept : {"out/failed", "in"})
        for (const auto& [name, bytes] : files)
            if (name.rfind(std::string(kept) + "/{", 0) == 0) {
                std::ifstream in(root_.folderPath("") + name, std::ios::binary);
                std::vector<unsigned char> back((std::istreambuf_iterator<char>(in)), {});
                EXPECT_EQ(back, bytes) << name;
            }
    ASSERT_EQ(Move("folders", out), 0) << out << "an empty database moves nothing, and says so";
    EXPECT_NE(out.find("0 of 0 messages moved"), std::string::npos) << out;
}

// /CHECK on the store, in a child process so the registry and root are the test's.
std::string CheckOutput(int& code)
{
    Program check({"/CHECK"});
    code = check.Wait();
    return check.Out();
}

TEST_F(PgService, CheckTellsTheConnectionTheTablesAndTheRights)
{
    WriteConfig(Loopback(1));
    int code = -1;
    std::string out = CheckOutput(code);
    EXPECT_EQ(code, 0) << out;
    EXPECT_NE(out.find("queue store: PostgreSQL \"" + cluster_.ConnInfo() + "\" as host alpha, lease 120s\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("queue store: connected to database velmo as velmo (PostgreSQL 1"), std::string::npos) << out;
    EXPECT_NE(out.find("note: queue store: the tables stand at version 0; velmosvc creates them to version 2 at "
                       "start\n"),
              std::string::npos)
        << out;

    Sql("CREATE TABLE velmo_schema (version integer PRIMARY KEY, upgraded timestamptz NOT NULL DEFAULT now()); "
        "INSERT INTO velmo_schema VALUES (7)");
    out = CheckOutput(code);
    EXPECT_EQ(code, 1) << out;
    EXPECT_NE(out.find("problem: queue store: the tables stand at version 7, newer than this velmosvc knows (2)\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("The service would start, but the queue store cannot be used now: see above.\n"),
              std::string::npos)
        << out;

    Sql("DROP TABLE velmo_schema");
    {
        Program service({"/DEBUG"}, kFast);  // makes the tables
        ASSERT_TRUE(WaitUntil([&] { return Sql("SELECT max(version) FROM velmo_schema") == "2"; }));
    }
    Sql("INSERT INTO velmo_hosts (host, reported) VALUES (E'gw\\n2', now() - interval '5 minutes')");
    out = CheckOutput(code);
    EXPECT_EQ(code, 0) << out;
    EXPECT_NE(out.find("queue store: gateway hosts that report to it: "), std::string::npos) << out;
    EXPECT_NE(out.find("gw\\n2 (300 s ago)"), std::string::npos) << out << "a name from the table escaped";
    Sql("CREATE ROLE clerk LOGIN; GRANT SELECT ON velmo_messages, velmo_schema, velmo_devices TO clerk; "
        "GRANT ALL ON velmo_hosts TO clerk");
    std::string clerk = cluster_.ConnInfo() + " user=clerk";
    std::ofstream(root_.folderPath("") + "config.xml")
        << "<velmo><configuration><queue max='0' store='postgresql' connection='" << clerk
        << "'/><retries max='2'/></configuration><devices>" << Loopback(1)
        << "</devices><rules/><eventhandlers/></velmo>";
    out = CheckOutput(code);
    EXPECT_EQ(code, 1) << out;
    EXPECT_NE(out.find("problem: queue store: the user may not read and write velmo_messages, velmo_devices, "
                       "velmo_listing\n"),
              std::string::npos)
        << out;

    ASSERT_TRUE(cluster_.Stop());
    out = CheckOutput(code);
    EXPECT_EQ(code, 1) << out;
    EXPECT_NE(out.find("problem: queue store: cannot connect: "), std::string::npos) << out;
}

}  // namespace

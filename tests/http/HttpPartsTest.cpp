// velmo-http's parts that need no server: its configuration, its token
// file, the text of an alert and the metrics page.
#include "http/AlertText.h"
#include "http/FormFields.h"
#include "http/JsonBody.h"
#include "http/MessageFields.h"
#include "http/HttpConfig.h"
#include "http/Metrics.h"
#include "http/TokenFile.h"

#include <filesystem>
#include <nlohmann/json.hpp>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace velmo::http;
using nlohmann::json;

TEST(HttpConfig, SettingsOverTheDefaults)
{
    std::vector<std::string> errors;
    auto c = ParseHttpConfig("# comment\n\nlisten = [::1]:8080\ntokens = /srv/t # the tokens\n"
                             "metrics_without_token = yes\nalert_recipients = +4917, +4918 ,\n"
                             "alert_max_length = 306\nmax_body = 2048\nthreads = 2\n",
                             errors);
    ASSERT_TRUE(c) << errors.front();
    EXPECT_EQ(c->address, "::1");
    EXPECT_EQ(c->port, 8080);
    EXPECT_EQ(c->tokensFile, "/srv/t");
    EXPECT_TRUE(c->openMetrics);
    EXPECT_EQ(c->alertRecipients, (std::vector<std::string>{"+4917", "+4918"}));
    EXPECT_EQ(c->alertMaxLength, 306u);
    EXPECT_EQ(c->maxBody, 2048u);
    EXPECT_EQ(c->threads, 2);

    auto defaults = ParseHttpConfig("", errors);
    ASSERT_TRUE(defaults);
    EXPECT_EQ(defaults->address, "127.0.0.1");
    EXPECT_FALSE(defaults->openMetrics);
}

TEST(HttpConfig, EveryWrongLineIsNamed)
{
    std::vector<std::string> errors;
    EXPECT_FALSE(ParseHttpConfig("listen = 0.0.0.0\nnonsense\ncolour = blue\nthreads = 0\nmax_body = 1e6\n"
                                 "tokens = relative\nmetrics_without_token = maybe\nlisten = ::1:80\n",
                                 errors));
    ASSERT_EQ(errors.size(), 8u);
    EXPECT_EQ(errors[0].rfind("line 1: listen", 0), 0u) << errors[0];
    EXPECT_EQ(errors[1], "line 2: \"nonsense\" is not \"name = value\"");
    EXPECT_EQ(errors[2], "line 3: unknown setting \"colour\"");
    EXPECT_EQ(errors[7].rfind("line 8: listen", 0), 0u) << errors[7];
}

TEST(HttpConfig, ListenForms)
{
    struct Case {
        const char* text;
        bool ok;
        const char* address;
        int port;
    } cases[] = {
        {"127.0.0.1:9730", true, "127.0.0.1", 9730},
        {":80", true, "127.0.0.1", 80},
        {"[::]:443", true, "::", 443},
        {"0.0.0.0:65535", true, "0.0.0.0", 65535},
        {"host:0", false, "", 0},
        {"host:65536", false, "", 0},
        {"host", false, "", 0},
        {"::1:80", false, "", 0},
    };
    for (const Case& c : cases) {
        HttpConfig config;
        EXPECT_EQ(ParseListen(c.text, config), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(config.address, c.address);
            EXPECT_EQ(config.port, c.port);
        }
    }
}

TEST(TokenFile, AcceptsOnlyAWholeTokenOfTheFile)
{
    std::string error;
    auto tokens = TokenFile::Parse("# monitoring\nabcdefghijklmnop alertmanager\n\n  0123456789abcdef0\n", error);
    ASSERT_TRUE(tokens) << error;
    EXPECT_EQ(tokens->Count(), 2u);
    struct Case {
        const char* header;
        bool accepted;
    } cases[] = {
        {"Bearer abcdefghijklmnop", true},
        {"Bearer 0123456789abcdef0", true},
        {"Bearer abcdefghijklmno", false},
        {"Bearer abcdefghijklmnopq", false},
        {"bearer abcdefghijklmnop", false},
        {"Basic abcdefghijklmnop", false},
        {"abcdefghijklmnop", false},
        {"Bearer ", false},
        {"", false},
        {"Bearer alertmanager", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tokens->Accepts(c.header), c.accepted) << c.header;

    EXPECT_FALSE(TokenFile::Parse("short\n", error));
    EXPECT_EQ(error, "line 1 holds a token of 5 characters: a token has at least 16");
    auto none = TokenFile::Parse("# nothing yet\n", error);
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->Accepts("Bearer "));
}

TEST(TokenFile, AFileOthersMayReadIsRefused)
{
    std::string path = testing::TempDir() + "velmo-tokens-" + std::to_string(getpid());
    std::ofstream(path) << "abcdefghijklmnop\n";
    std::string error;
    chmod(path.c_str(), 0640);
    EXPECT_FALSE(TokenFile::Load(path, error));
    EXPECT_NE(error.find("mode 0640"), std::string::npos) << error;
    chmod(path.c_str(), 0600);
    auto tokens = TokenFile::Load(path, error);
    ASSERT_TRUE(tokens) << error;
    EXPECT_TRUE(tokens->Accepts("Bearer abcdefghijklmnop"));
    std::filesystem::remove(path);
    EXPECT_FALSE(TokenFile::Load(path, error));
    EXPECT_NE(error.find("cannot be read"), std::string::npos) << error;
}

json Alert(const std::string& status, const std::string& instance, const std::string& summary)
{
    json a{{"status", status}, {"labels", {{"alertname", "HighLoad"}, {"instance", instance}}}};
    a["annotations"] = summary.empty() ? json::object() : json{{"summary", summary}};
    return a;
}

json Notification(const std::string& status, json alerts, json groupLabels = {{"alertname", "HighLoad"}})
{
    return {{"status", status}, {"groupLabels", groupLabels}, {"alerts", alerts}};
}

TEST(AlertText, HeadAndSummariesAsDocumented)
{
    std::string error;
    struct Case {
        const char* what;
        json payload;
        std::size_t max;
        std::string text;
    } cases[] = {
        {"two firing",
         Notification("firing", {Alert("firing", "db1", "Load 12 on db1"), Alert("firing", "db2", "Load 11 on db2")}),
         160, "[FIRING:2] HighLoad: Load 12 on db1; Load 11 on db2"},
        {"firing first, each summary once",
         Notification("firing", {Alert("resolved", "db1", "Load ok"), Alert("firing", "db2", "Load high"),
                                 Alert("firing", "db3", "Load high")}),
         160, "[FIRING:2] HighLoad: Load high; Load ok"},
        {"resolved", Notification("resolved", {Alert("resolved", "db1", "Load 12 on db1")}), 160,
         "[RESOLVED] HighLoad: Load 12 on db1"},
        {"no summary: the instance", Notification("firing", {Alert("firing", "db1", "")}), 160,
         "[FIRING:1] HighLoad: db1"},
        {"group labels sorted by name",
         Notification("firing", {Alert("firing", "db1", "x")}, {{"service", "pg"}, {"alertname", "Down"}}), 160,
         "[FIRING:1] Down pg: x"},
        {"no group labels: the alert's name", Notification("firing", {Alert("firing", "db1", "x")}, json::object()),
         160, "[FIRING:1] HighLoad: x"},
        {"what does not fit is counted",
         Notification("firing", {Alert("firing", "a", "first summary"), Alert("firing", "b", "second summary"),
                                 Alert("firing", "c", "third summary")}),
         50, "[FIRING:3] HighLoad: first summary (+2 more)"},
        {"a first summary too long is cut at a word",
         Notification("firing", {Alert("firing", "a", "the disk of the database server is almost full now")}), 40,
         "[FIRING:1] HighLoad: the disk of the..."},
    };
    for (const Case& c : cases) {
        auto text = AlertText(c.payload, c.max, 100, error);
        ASSERT_TRUE(text) << c.what << ": " << error;
        EXPECT_EQ(*text, c.text) << c.what;
        EXPECT_LE(Characters(*text), c.max) << c.what;
    }
}

TEST(AlertText, EveryLengthStaysWithinItsLimit)
{
    json alerts = json::array();
    for (int i = 0; i < 30; ++i)
        alerts.push_back(Alert("firing", "db" + std::to_string(i), "Überlast auf db" + std::to_string(i) + " – jetzt"));
    std::string error;
    for (std::size_t max = 20; max <= 400; ++max) {
        auto text = AlertText(Notification("firing", alerts), max, 100, error);
        ASSERT_TRUE(text);
        EXPECT_LE(Characters(*text), max) << *text;
        EXPECT_EQ(text->rfind("[FIRING:30]", 0), 0u) << *text;
    }
}

TEST(AlertText, WhatIsNoNotificationIsRefused)
{
    std::string error;
    for (const json& bad :
         {json::array(), json{{"alerts", json::array()}}, json{{"status", "firing"}},
          json{{"status", "firing"}, {"alerts", "x"}}, json{{"status", 1}, {"alerts", json::array()}}})
        EXPECT_FALSE(AlertText(bad, 160, 100, error)) << bad.dump();
    EXPECT_FALSE(AlertText(Notification("firing", json::array()), 160, 100, error));
    EXPECT_EQ(error, "the notification holds no alert");
}

TEST(Metrics, CountersGaugesAndEscapedLabels)
{
    velmo::gatewayclient::Counters counters;
    counters.queued = 7;
    counters.waiting = 2;
    counters.devices = {{"Modem \"A\"", 4, 1, 3}, {"", 0, 1, 0}};
    std::vector<velmo::gatewayclient::Device> devices = {{1, "Modem \"A\"", "running", 20, "home", "Op"},
                                                         {2, "Spare", "waiting", -1, "", ""}};
    devices[0].manufacturer = "Norvane";
    devices[0].model = "modemsim";
    devices[0].imei = "356938035643809";
    devices[0].imsi = "262019876543210";
    devices[1].lastError = "Spare::Open failed: Failed open port /dev/ttyUSB2: \"gone\"\n" + std::string(300, 'x');
    devices[1].nextTry = "2026-12-09T10:41:00Z";
    devices[1].failedStarts = 7;
    std::string page = RenderMetrics(counters, devices);
    for (const char* line :
         {"velmo_messages_queued_total 7\n", "velmo_messages_sent_total{device=\"Modem \\\"A\\\"\"} 4\n",
          "velmo_messages_failed_total{device=\"\"} 1\n", "velmo_messages_sent_total{device=\"Spare\"} 0\n",
          "velmo_messages_waiting 2\n", "velmo_devices_up 1\n",
          "velmo_device_up{device=\"Spare\",state=\"waiting\"} 0\n",
          "velmo_modem_info{device=\"Modem \\\"A\\\"\",manufacturer=\"Norvane\",model=\"modemsim\",revision=\"\","
          "imei=\"356938035643809\",port=\"\"} 1\n",
          "velmo_device_failed_starts{device=\"Spare\"} 7\n",
          "velmo_device_next_try_timestamp_seconds{device=\"Spare\"} 1796812860\n",
          "velmo_device_last_error_info{device=\"Spare\",error=\"Spare::Open failed: Failed open port /dev/ttyUSB2: "
          "\\\"gone\\\"\\nxxx",
          "velmo_modem_signal_dbm{device=\"Modem \\\"A\\\"\"} -73\n",
          "velmo_modem_registered{device=\"Modem \\\"A\\\"\",registration=\"home\"} 1\n",
          "# TYPE velmo_messages_received_total counter\n"})
        EXPECT_NE(page.find(line), std::string::npos) << line << page;
    EXPECT_EQ(page.find("velmo_modem_signal_dbm{device=\"Spare\"}"), std::string::npos);
    EXPECT_EQ(page.find("262019876543210"), std::string::npos);                  // no IMSI where /metrics may be open
    EXPECT_NE(page.find(std::string(142, 'x') + "\"} 1\n"), std::string::npos);  // the error cut at 200
    EXPECT_EQ(page.find(std::string(143, 'x')), std::string::npos);
    EXPECT_EQ(LabelValue("a\\b\nc"), "a\\\\b\\nc");
}

TEST(Metrics, HostsSharingTheQueueNameTheirHostInEveryFamilyButTheQueue)
{
    velmo::gatewayclient::Counters counters;
    counters.waiting = 9;
    counters.bounds = {5, 10};
    counters.bucketCounts = {1, 1};
    counters.hosts = {{"alpha", 1796812860, 40, {2, 3}, 12.5, 3}, {"be\"ta", 1796812800, 2, {0, 0}, 0, 0}};
    counters.devices = {{"M1", 30, 1, 0, 0, 0, "alpha"}, {"M1", 5, 0, 2, 0, 0, "be\"ta"}};
    std::vector<velmo::gatewayclient::Device> devices = {
        {1, "M1", "running", 20, "home", ""}, {1, "M1", "lost", 20, "home", ""}, {2, "M2", "running", -1, "", ""}};
    devices[0].host = "alpha";
    devices[1].host = "be\"ta";
    devices[2].host = "be\"ta";
    std::string page = RenderMetrics(counters, devices);
    for (const char* line :
         {"velmo_messages_queued_total{host=\"alpha\"} 40\n", "velmo_messages_queued_total{host=\"be\\\"ta\"} 2\n",
          "velmo_messages_sent_total{host=\"alpha\",device=\"M1\"} 30\n",
          "velmo_messages_sent_total{host=\"be\\\"ta\",device=\"M1\"} 5\n",
          "velmo_messages_sent_total{host=\"be\\\"ta\",device=\"M2\"} 0\n", "velmo_messages_waiting 9\n",
          "velmo_message_delivery_seconds_bucket{host=\"alpha\",le=\"10\"} 3\n",
          "velmo_message_delivery_seconds_bucket{host=\"alpha\",le=\"+Inf\"} 3\n",
          "velmo_message_delivery_seconds_sum{host=\"alpha\"} 12.5\n",
          "velmo_message_delivery_seconds_count{host=\"be\\\"ta\"} 0\n",
          "velmo_host_reported_timestamp_seconds{host=\"alpha\"} 1796812860\n", "velmo_devices_up{host=\"alpha\"} 1\n",
          "velmo_devices_up{host=\"be\\\"ta\"} 1\n",
          "velmo_device_up{host=\"be\\\"ta\",device=\"M1\",state=\"lost\"} 0\n",
          "velmo_modem_signal_dbm{host=\"alpha\",device=\"M1\"} -73\n"})
        EXPECT_NE(page.find(line), std::string::npos) << line << page;
    EXPECT_EQ(page.find("velmo_messages_queued_total 0"), std::string::npos) << page;
    EXPECT_EQ(page.find("le=\"5\"} 1\n"), std::string::npos) << "this host's own histogram is among the hosts'";
}

}  // namespace

namespace {

TEST(FormFields, DecodedInOrderAndBounded)
{
    struct Case {
        std::string text;
        Fields fields;
    };
    const Case cases[] = {
        {"to=%2B4917&text=disk+full", {{"to", "+4917"}, {"text", "disk full"}}},
        {"a&&b=&=c", {{"a", ""}, {"b", ""}, {"", "c"}}},
        {"bad=%zz%4%", {{"bad", "%zz%4%"}}},
        {"nul=a%00b", {{"nul", std::string("a\0b", 3)}}},
        {"", {}},
    };
    for (const Case& c : cases) {
        auto fields = ParseFields(c.text, 10);
        ASSERT_TRUE(fields) << c.text;
        EXPECT_EQ(*fields, c.fields) << c.text;
    }
    std::string many;
    for (int i = 0; i < 11; ++i)
        many += "a=1&";
    EXPECT_FALSE(ParseFields(many, 10));
    EXPECT_TRUE(ParseFields(many.substr(0, 40), 10));

    auto to = ParseFields("to=+4917,4918&to=%2B4919,,  &text=x", 10);
    EXPECT_EQ(Recipients(*to, "to"), (std::vector<std::string>{"+4917", "4918", "+4919"}));
}

TEST(JsonBody, NestingIsBoundedBeforeParsing)
{
    struct Case {
        std::string text;
        std::size_t depth;
        bool within;
    };
    const Case cases[] = {
        {"[[[]]]", 3, true},
        {"[[[[]]]]", 3, false},
        {R"({"a":"[[[[[["})", 1, true},
        {R"({"a":"\"[[[["})", 1, true},
        {"]]]][[", 2, true},
        {std::string(100000, '['), 32, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NestingWithin(c.text, c.depth), c.within) << c.text.substr(0, 20);
    std::string why;
    EXPECT_FALSE(ParseJsonBody(std::string(33, '[') + std::string(33, ']'), why));
    EXPECT_EQ(why, "the JSON nests deeper than 32 levels");
    EXPECT_TRUE(ParseJsonBody(std::string(32, '[') + std::string(32, ']'), why));
    EXPECT_FALSE(ParseJsonBody("{nope", why));
    EXPECT_EQ(why, "the body is not JSON");
}

TEST(MessageFields, JsonOrFormElseRefused)
{
    struct Case {
        const char* type;
        std::string body;
        int status;
        const char* to;
        const char* error;
        const char* expire = "";
    };
    const Case cases[] = {
        {"application/json", R"({"to":"+4917","text":"hi"})", 0, "+4917", ""},
        {"application/json; charset=utf-8", R"({"to":"+4917","text":"hi"})", 0, "+4917", ""},
        {"application/json", R"({"to":4917,"text":"hi"})", 400, "", "\"to\" is missing or not a string"},
        {"application/json", "[1]", 400, "", "the body is not a JSON object"},
        {"application/json", R"({"to":"+4917","text":"hi","expire":"30m"})", 0, "+4917", "", "30m"},
        {"application/json", R"({"to":"+4917","text":"hi","expire":30})", 400, "+4917", "\"expire\" is not a string"},
        {"application/x-www-form-urlencoded", "to=+4917&text=hi", 0, "+4917", ""},
        {"application/x-www-form-urlencoded", "to=+4917&text=hi&expire=2h", 0, "+4917", "", "2h"},
        {"application/x-www-form-urlencoded", "to=4917", 400, "", "\"text\" is missing"},
        {"text/plain", "hi", 415, "", "send JSON"},
    };
    for (const Case& c : cases) {
        Request req;
        req.headers.emplace_back("content-type", c.type);
        req.body = c.body;
        NewMessage message;
        std::string error;
        EXPECT_EQ(ReadMessageFields(req, message, error), c.status) << c.body;
        EXPECT_EQ(message.to, c.to) << c.body;
        EXPECT_EQ(message.expire, c.expire) << c.body;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

TEST(HttpConfig, LimitsAndTheirBounds)
{
    std::vector<std::string> errors;
    auto c = ParseHttpConfig("max_headers = 50\nmax_header_bytes = 4096\nheader_timeout = 5\nrequest_timeout = 20\n"
                             "max_connections = 64\nmax_connections_per_client = 4\nalert_max_recipients = 3\n"
                             "alert_max_alerts = 7\n",
                             errors);
    ASSERT_TRUE(c) << errors.front();
    EXPECT_EQ(c->maxHeaders, 50u);
    EXPECT_EQ(c->maxHeaderBytes, 4096u);
    EXPECT_EQ(c->headerTimeout, 5u);
    EXPECT_EQ(c->requestTimeout, 20u);
    EXPECT_EQ(c->maxConnections, 64u);
    EXPECT_EQ(c->maxClientConnections, 4u);
    EXPECT_EQ(c->alertMaxRecipients, 3u);
    EXPECT_EQ(c->alertMaxAlerts, 7u);

    EXPECT_FALSE(ParseHttpConfig("max_headers = 7\nheader_timeout = 0\nmax_connections = 99999999999\n", errors));
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(errors[0], "line 1: max_headers is a number of header lines from 8 to 1000");
    errors.clear();
    EXPECT_FALSE(ParseHttpConfig("header_timeout = 60\nrequest_timeout = 30\n", errors));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "request_timeout (30 s) is shorter than header_timeout (60 s)");
}

TEST(AlertText, AlertsAreCappedAndMustBeObjects)
{
    json alerts = json::array();
    for (int i = 0; i < 5; ++i)
        alerts.push_back(json{{"status", "firing"}, {"annotations", {{"summary", "s" + std::to_string(i)}}}});
    std::string error;
    std::size_t leftOut = 0;
    auto text = AlertText(Notification("firing", alerts), 160, 3, error, &leftOut);
    ASSERT_TRUE(text) << error;
    EXPECT_EQ(leftOut, 2u);
    EXPECT_EQ(text->find("[FIRING:3]"), 0u) << *text;
    EXPECT_EQ(text->find("s3"), std::string::npos) << *text;
    alerts.push_back(1);
    EXPECT_TRUE(AlertText(Notification("firing", alerts), 160, 5, error));  // the sixth is not read
    EXPECT_FALSE(AlertText(Notification("firing", alerts), 160, 6, error));
    EXPECT_EQ(error, "alert 6 is not an object");
}

}  // namespace

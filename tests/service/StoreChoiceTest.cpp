// The queue element's store attributes as config.xml gives them: what is
// taken, and every fault named.
#include "service/host/StoreSettings.h"

#include <gtest/gtest.h>

namespace {

using velmo::host::ReadStoreChoice;
using velmo::host::StoreAttributes;

struct Case {
    const char* name;
    StoreAttributes attributes;
    const char* problem;  // "" when the choice is taken
};

TEST(StoreChoice, EveryFaultIsNamedAndNothingElseIsTaken)
{
    const Case cases[] = {
        {"Default", {}, ""},
        {"FoldersNamed", {"folders", {}, {}, {}, {}}, ""},
        {"FoldersWithAConnection",
         {"folders", "service=velmo", {}, {}, {}},
         "connection is only for store=\"postgresql\""},
        {"UnknownStore", {"mysql", {}, {}, {}, {}}, "store \"mysql\" is neither \"folders\" nor \"postgresql\""},
        {"CaseMatters",
         {"PostgreSQL", {}, {}, {}, {}},
         "store \"PostgreSQL\" is neither \"folders\" nor \"postgresql\""},
        {"NoConnection",
         {"postgresql", {}, {}, {}, {}},
         "store=\"postgresql\" needs a connection, such as \"service=velmo\""},
        {"UnreadableConnection", {"postgresql", "host=", {}, {}, {}}, ""},
        {"BrokenConnection",
         {"postgresql", "host='unclosed", {}, {}, {}},
         "connection \"host='unclosed\": unterminated quoted string in connection info string"},
        {"UnknownKeyword",
         {"postgresql", "colour=blue", {}, {}, {}},
         "connection \"colour=blue\": invalid connection option \"colour\""},
        {"Password",
         {"postgresql", "dbname=velmo password=secret", {}, {}, {}},
         "connection \"dbname=velmo password=secret\": it holds a password, which config.xml never does: give a "
         "passfile"},
        {"RelativePassfile",
         {"postgresql", "service=velmo", "pgpass", {}, {}},
         "passfile \"pgpass\" is not an absolute path"},
        {"HostWithASpace",
         {"postgresql", "service=velmo", {}, "gw 1", {}},
         "host \"gw 1\" is not a name of letters, digits, '.', '_' and '-' (at most 64)"},
        {"HostWithAControl",
         {"postgresql", "service=velmo", {}, "gw\n", {}},
         "host \"gw\\n\" is not a name of letters, digits, '.', '_' and '-' (at most 64)"},
        {"HostTooLong", {"postgresql", "service=velmo", {}, std::string(65, 'h'), {}}, "is not a name of letters"},
        {"LeaseTooShort", {"postgresql", "service=velmo", {}, {}, "5s"}, "lease \"5s\" is not a period from 10s to 1h"},
        {"LeaseTooLong", {"postgresql", "service=velmo", {}, {}, "2h"}, "lease \"2h\" is not a period from 10s to 1h"},
        {"LeaseNoPeriod",
         {"postgresql", "service=velmo", {}, {}, "soon"},
         "lease \"soon\" is not a period from 10s to 1h"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> problems;
        auto choice = ReadStoreChoice(c.attributes, problems);
        if (std::string(c.problem).empty()) {
            EXPECT_TRUE(choice) << c.name << ": " << (problems.empty() ? "" : problems[0]);
            EXPECT_TRUE(problems.empty()) << c.name;
        } else {
            EXPECT_FALSE(choice) << c.name;
            ASSERT_EQ(problems.size(), 1u) << c.name;
            EXPECT_NE(problems[0].find(c.problem), std::string::npos) << c.name << ": " << problems[0];
        }
    }
}

TEST(StoreChoice, APostgresChoiceCarriesItsSettingsAndThePassfileQuoted)
{
    std::vector<std::string> problems;
    auto choice =
        ReadStoreChoice({"postgresql", "service=velmo", "/etc/velmo/it's pass", "gw-1.example", "90s"}, problems);
    ASSERT_TRUE(choice) << problems[0];
    EXPECT_TRUE(choice->postgres);
    EXPECT_EQ(choice->settings.host, "gw-1.example");
    EXPECT_EQ(choice->settings.leaseSeconds, 90u);
    EXPECT_EQ(choice->settings.connection, "service=velmo passfile='/etc/velmo/it\\'s pass' connect_timeout=10");
    EXPECT_EQ(choice->connection, "service=velmo");

    auto defaults = ReadStoreChoice({"postgresql", "dbname=velmo", {}, {}, {}}, problems);
    ASSERT_TRUE(defaults);
    EXPECT_EQ(defaults->settings.host, velmo::host::MachineName());
    EXPECT_EQ(defaults->settings.leaseSeconds, 120u);
    EXPECT_FALSE(ReadStoreChoice({}, problems)->postgres);
    auto timeout = ReadStoreChoice({"postgresql", "dbname=velmo connect_timeout=3", {}, {}, {}}, problems);
    ASSERT_TRUE(timeout);
    EXPECT_EQ(timeout->settings.connection, "dbname=velmo connect_timeout=3") << "the administrator's own stands";
}

}  // namespace

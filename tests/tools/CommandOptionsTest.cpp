// velmo's option parsing: values in both spellings, flags, positional
// arguments anywhere, "--" and the refusals.
#include "tools/velmo/CommandOptions.h"

#include <gtest/gtest.h>

namespace {

using velmo::cli::CommandOptions;

TEST(CommandOptions, ValuesFlagsAndPositionalArguments)
{
    struct Case {
        std::vector<std::string> args;
        std::map<std::string, std::string> values;
        std::set<std::string> flags;
        std::vector<std::string> positional;
    } cases[] = {
        {{"--folder", "sent", "--json"}, {{"--folder", "sent"}}, {"--json"}, {}},
        {{"--folder=failed", "ID"}, {{"--folder", "failed"}}, {}, {"ID"}},
        {{"ID", "--wait", "--timeout", "5"}, {{"--timeout", "5"}}, {"--wait"}, {"ID"}},
        {{"--folder=", "x"}, {{"--folder", ""}}, {}, {"x"}},
        {{"--", "--json", "-"}, {}, {}, {"--json", "-"}},
        {{"-"}, {}, {}, {"-"}},
        {{"--folder", "a", "--folder", "b"}, {{"--folder", "b"}}, {}, {}},
    };
    for (const Case& c : cases) {
        CommandOptions o;
        std::string error;
        ASSERT_TRUE(velmo::cli::ParseOptions(c.args, {"--folder", "--timeout"}, {"--json", "--wait"}, o, error))
            << error;
        EXPECT_EQ(o.values, c.values);
        EXPECT_EQ(o.flags, c.flags);
        EXPECT_EQ(o.positional, c.positional);
    }
}

TEST(CommandOptions, RefusalsNameTheOption)
{
    struct Case {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{"--bogus"}, "unknown option --bogus"},
        {{"-x"}, "unknown option -x"},
        {{"--folder"}, "--folder needs a value"},
        {{"--json=yes"}, "--json takes no value"},
    };
    for (const Case& c : cases) {
        CommandOptions o;
        std::string error;
        EXPECT_FALSE(velmo::cli::ParseOptions(c.args, {"--folder"}, {"--json"}, o, error));
        EXPECT_EQ(error, c.error);
    }
}

TEST(CommandOptions, CountsAreWholeAndBounded)
{
    unsigned long v = 0;
    EXPECT_TRUE(velmo::cli::ParseCount("0", 10, v));
    EXPECT_TRUE(velmo::cli::ParseCount("10", 10, v));
    EXPECT_EQ(v, 10u);
    for (const char* bad : {"", "11", "-1", "1.5", "1s", " 1", "99999999999999999999999"})
        EXPECT_FALSE(velmo::cli::ParseCount(bad, 10, v)) << bad;
}

}  // namespace

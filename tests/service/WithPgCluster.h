// A test with its own throwaway PostgreSQL cluster and a database "velmo"
// in it; skipped where PostgreSQL's programs are not installed.
#pragma once

#include "service/PgCluster.h"

#include <gtest/gtest.h>
#include <string>

class WithPgCluster : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!cluster_.Started())
            GTEST_SKIP() << "PostgreSQL's programs are not installed";
        ASSERT_TRUE(cluster_.CreateDatabase());
    }
    // psql's output of sql; "" when it failed (psql's words are in
    // cluster_.Output()), as while the server is stopped.
    std::string Sql(const std::string& sql) { return cluster_.Psql(sql) ? cluster_.Output() : ""; }
    // The same where the statement must work: the test fails when it does not.
    std::string SqlOk(const std::string& sql)
    {
        EXPECT_TRUE(cluster_.Psql(sql)) << cluster_.Output();
        return cluster_.Output();
    }

    PgCluster cluster_;
};

// A test with its own throwaway PostgreSQL cluster and a database "velmo"
// in it; skipped where PostgreSQL's programs are not installed.
#pragma once

#include "service/PgCluster.h"

#include <gtest/gtest.h>

class WithPgCluster : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!cluster_.Started())
            GTEST_SKIP() << "PostgreSQL's programs are not installed";
        ASSERT_TRUE(cluster_.CreateDatabase());
    }

    PgCluster cluster_;
};

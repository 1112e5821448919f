#include "recorddb/sqlite_operation.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "recorddb/sqlite_db.h"
#include "test_support.h"

namespace {

using recorddb_test::QueryValue;
using recorddb_test::TempDir;
using Clock = std::chrono::steady_clock;

constexpr auto kTimeout = std::chrono::milliseconds(400);

// A file with a table, one connection that holds its exclusive lock (no other connection can
// read or write), and one that meets that lock with the busy timeout kTimeout.
class SqliteOperationTest : public testing::Test {
protected:
    void SetUp() override {
        path_ = dir_.File("db");
        ASSERT_TRUE(holder_.Open(path_, true));
        ASSERT_TRUE(holder_.Execute("CREATE TABLE t (v); INSERT INTO t VALUES (1)"));
        ASSERT_TRUE(holder_.Execute("BEGIN EXCLUSIVE"));
        waiting_.SetBusyTimeout(static_cast<int>(kTimeout.count()));
        ASSERT_TRUE(waiting_.Open(path_, false));
    }

    // How long a statement of the waiting connection takes; it must fail on the lock.
    Clock::duration FailingStatement() {
        const Clock::time_point start = Clock::now();
        EXPECT_FALSE(waiting_.Execute("INSERT INTO t VALUES (2)"));
        return Clock::now() - start;
    }

    TempDir dir_;
    std::string path_;
    SqliteDB holder_;
    SqliteDB waiting_;
};

TEST_F(SqliteOperationTest, OutsideAnOperationEachStatementWaitsTheWholeTimeout) {
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_GE(FailingStatement(), kTimeout);
    }
}

TEST_F(SqliteOperationTest, TheStatementsOfAnOperationWaitOneTimeoutInAll) {
    const SqliteOperation operation;
    EXPECT_GE(FailingStatement(), kTimeout) << "the first one waits";
    Clock::duration rest{};
    for (int i = 0; i < 5; ++i) rest += FailingStatement();
    EXPECT_LT(rest, kTimeout / 2) << "the later ones fail at once";
    {
        // A handler run inside the operation's box is an operation of its own.
        const SqliteOperation nested;
        EXPECT_GE(FailingStatement(), kTimeout);
        EXPECT_LT(FailingStatement(), kTimeout / 2);
    }
    EXPECT_LT(FailingStatement(), kTimeout / 2) << "the outer one's budget stays spent";

    // A statement that meets no lock runs as always.
    ASSERT_TRUE(holder_.Execute("COMMIT"));
    EXPECT_TRUE(waiting_.Execute("INSERT INTO t VALUES (3)"));
    EXPECT_EQ(QueryValue(holder_.Connection(), "SELECT group_concat(v) FROM t"), "1,3");
}

TEST_F(SqliteOperationTest, ALockGivenUpWithinTheBudgetIsWaitedFor) {
    std::thread release([this] {
        std::this_thread::sleep_for(kTimeout / 4);
        holder_.Execute("COMMIT");
    });
    const SqliteOperation operation;
    EXPECT_TRUE(waiting_.Execute("INSERT INTO t VALUES (2)"));
    release.join();

    // What is left of the budget serves the next lock of the same operation.
    ASSERT_TRUE(holder_.Execute("BEGIN EXCLUSIVE"));
    const Clock::duration waited = FailingStatement();
    EXPECT_GE(waited, kTimeout / 2);
    EXPECT_LT(waited, kTimeout);
    ASSERT_TRUE(holder_.Execute("COMMIT"));
    EXPECT_EQ(QueryValue(holder_.Connection(), "SELECT group_concat(v) FROM t"), "1,2");
}

TEST_F(SqliteOperationTest, WithoutABusyTimeoutAStatementFailsAtOnce) {
    waiting_.SetBusyTimeout(0);
    EXPECT_LT(FailingStatement(), kTimeout / 2);
    const SqliteOperation operation;
    EXPECT_LT(FailingStatement(), kTimeout / 2);
}

}  // namespace

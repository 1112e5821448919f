#include "recorddb/sqlite_dataset.h"

#include <gtest/gtest.h>

#include <string>

#include "recorddb/sqlite_db.h"

namespace {

class SqliteDatasetTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(db.Open(":memory:", true));
        ASSERT_TRUE(db.Execute("CREATE TABLE t (name TEXT, n INTEGER);"
                               "INSERT INTO t VALUES ('a', 1), (NULL, 2), ('', NULL);"));
    }

    SqliteDB db;
};

TEST_F(SqliteDatasetTest, CountsRowsByStepping) {
    SqliteDataset all = db.Query("SELECT * FROM t");
    EXPECT_EQ(all.RowCount(), 0);  // before any Run
    EXPECT_TRUE(all.Run());
    EXPECT_EQ(all.RowCount(), 3);
    EXPECT_TRUE(all.Run());  // reset before and after counting: same count again
    EXPECT_EQ(all.RowCount(), 3);

    SqliteDataset count = db.Query("SELECT count(*) FROM t");
    EXPECT_TRUE(count.Run());
    EXPECT_EQ(count.RowCount(), 1);
    const TextTable table = count.ReadAll();
    ASSERT_EQ(table.Rows(), 1);
    ASSERT_EQ(table.Columns(), 1);
    EXPECT_EQ(table.Cell(0, 0), "3");

    SqliteDataset none = db.Query("SELECT * FROM t WHERE n = 99");
    EXPECT_TRUE(none.Run());
    EXPECT_EQ(none.RowCount(), 0);
    EXPECT_TRUE(none.ReadAll(true).Empty());
}

TEST_F(SqliteDatasetTest, StepErrorsEndTheCount) {
    // abs() of the smallest 64-bit integer fails while the statement runs: on the second row (n = 2).
    SqliteDataset failsLater = db.Query("SELECT abs((n - 2) + (-9223372036854775807 - 1)) FROM t");
    EXPECT_TRUE(failsLater.Run());        // a row was seen before the error
    EXPECT_EQ(failsLater.RowCount(), 1);

    SqliteDataset failsAtOnce = db.Query("SELECT abs(-9223372036854775807 - 1)");
    EXPECT_FALSE(failsAtOnce.Run());
    EXPECT_EQ(failsAtOnce.RowCount(), 0);
}

TEST_F(SqliteDatasetTest, ReadAllGivesTextsWithOptionalHeader) {
    SqliteDataset ds = db.Query("SELECT name, n FROM t ORDER BY rowid");
    EXPECT_TRUE(ds.ReadAll(true).Empty());  // never run: nothing to size the table by
    ASSERT_TRUE(ds.Run());

    const TextTable plain = ds.ReadAll();
    ASSERT_EQ(plain.Rows(), 3);
    ASSERT_EQ(plain.Columns(), 2);
    EXPECT_EQ(plain.Cell(0, 0), "a");
    EXPECT_EQ(plain.Cell(0, 1), "1");
    EXPECT_EQ(plain.Cell(1, 0), "");  // NULL
    EXPECT_EQ(plain.Cell(2, 0), "");  // empty text
    EXPECT_EQ(plain.Cell(2, 1), "");  // NULL

    const TextTable headed = ds.ReadAll(true);
    ASSERT_EQ(headed.Rows(), 4);
    ASSERT_EQ(headed.Columns(), 2);
    EXPECT_EQ(headed.Cell(0, 0), "name");
    EXPECT_EQ(headed.Cell(0, 1), "n");
    EXPECT_EQ(headed.Cell(1, 0), "a");
    EXPECT_EQ(headed.Cell(3, 1), "");
    EXPECT_EQ(headed.Cell(4, 0), "");  // outside the table
    EXPECT_EQ(ds.RowCount(), 3);
}

TEST_F(SqliteDatasetTest, ReadAllGrowsWhenRowsWereAddedSinceTheLastCount) {
    SqliteDataset ds = db.Query("SELECT n FROM t ORDER BY rowid");
    ASSERT_TRUE(ds.Run());
    ASSERT_TRUE(db.Execute("INSERT INTO t VALUES ('d', 4), ('e', 5)"));
    const TextTable table = ds.ReadAll(true);
    ASSERT_EQ(table.Rows(), 6);
    EXPECT_EQ(table.Cell(0, 0), "n");
    EXPECT_EQ(table.Cell(4, 0), "4");
    EXPECT_EQ(table.Cell(5, 0), "5");
    EXPECT_EQ(ds.RowCount(), 5);  // the last count of ReadAll
}

TEST_F(SqliteDatasetTest, InertDatasetsAndClose) {
    SqliteDataset own;
    EXPECT_FALSE(own.Run());
    EXPECT_EQ(own.RowCount(), 0);
    EXPECT_TRUE(own.ReadAll().Empty());
    EXPECT_TRUE(own.Close());

    SqliteDataset bad = db.Query("SELECT * FROM nowhere");
    EXPECT_FALSE(bad.IsUsable());
    EXPECT_TRUE(bad.Close());
    EXPECT_TRUE(bad.Close());

    SqliteDataset ds = db.Query("SELECT * FROM t");
    ASSERT_TRUE(ds.Run());
    EXPECT_TRUE(ds.Close());
    EXPECT_EQ(ds.RowCount(), 0);
    EXPECT_FALSE(ds.Run());
    EXPECT_TRUE(ds.Close());

    SqliteDataset moved = db.Query("SELECT * FROM t");
    SqliteDataset target = std::move(moved);
    EXPECT_FALSE(moved.IsUsable());  // NOLINT(bugprone-use-after-move): a moved-from dataset is inert
    EXPECT_TRUE(target.Run());
    EXPECT_EQ(target.RowCount(), 3);
    EXPECT_TRUE(target.Close());
    EXPECT_TRUE(db.Close());  // no statement left unfinalized
}

}  // namespace

#include "recorddb/sqlite_table.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "recorddb/sqlite_db.h"
#include "recorddb/text_builder.h"
#include "test_support.h"

namespace {

using recorddb_test::QueryValue;
using recorddb_test::SqlTrace;
using recorddb_test::TempDir;
using Strings = std::vector<std::string>;

const SqliteFieldInfo kInfoFields[] = {{"id", -1, 0}, {"subject", 10, 50}, {"value", 10, 255}};

// An in-memory database with the table info(id, subject, value) holding rowids 1, 2, 3 and 5.
class SqliteTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(db.Open(":memory:", true));
        ASSERT_TRUE(db.CreateTable("info", kInfoFields));
        ASSERT_TRUE(db.Execute("INSERT INTO info VALUES (1, 'alpha', '1'), (2, 'beta', NULL),"
                               " (3, 'gamma', '45658.5'), (5, 'beta', '7')"));
        ASSERT_TRUE(db.Execute("CREATE TABLE empty (a, b)"));
    }
    void TearDown() override {
        table.Close();
        EXPECT_EQ(TextBuilder::PoolBlocksInUse(), 0);
    }

    std::string Value(const std::string& sql) { return QueryValue(db.Connection(), sql); }

    SqliteDB db;
    SqliteTable table;
};

TEST_F(SqliteTableTest, OpenLoadsNamesAndRowidsBeforeTheFirstRecord) {
    SqlTrace trace(db.Connection());
    ASSERT_TRUE(table.Open("info", db));
    EXPECT_EQ(trace.statements(), (Strings{"SELECT * FROM info LIMIT 0", "SELECT _ROWID_ FROM info ORDER BY _ROWID_ "}));
    EXPECT_EQ(table.GetState(), SqliteTable::State::Open);
    EXPECT_EQ(table.RecordCount(), 4);
    EXPECT_EQ(table.ColumnCount(), 3);
    EXPECT_EQ(table.Position(), 0);
    bool ok = true;
    EXPECT_EQ(table.ReadText("subject", &ok), "");
    EXPECT_FALSE(ok);
}

TEST_F(SqliteTableTest, OpenRefusalsAndClose) {
    EXPECT_FALSE(table.Open("nowhere", db));
    EXPECT_EQ(table.GetState(), SqliteTable::State::Closed);

    ASSERT_TRUE(table.Open("info", db));
    ASSERT_TRUE(table.MoveLast());
    // Refused before anything is touched: the cursor stays on its table.
    EXPECT_FALSE(table.Open("", db));
    EXPECT_FALSE(table.Open(std::string(1024, 't'), db));
    SqliteDB closed;
    EXPECT_FALSE(table.Open("info", closed));
    EXPECT_EQ(table.GetState(), SqliteTable::State::Open);
    EXPECT_EQ(table.Position(), 4);
    EXPECT_EQ(table.ReadText("subject"), "beta");

    // A name that fits the cursor but not its statements: no cut SQL is run, and the open fails.
    SqlTrace trace(db.Connection());
    EXPECT_FALSE(table.Open(std::string(1023, 't'), db));
    EXPECT_TRUE(trace.statements().empty());
    EXPECT_EQ(table.GetState(), SqliteTable::State::Closed);

    ASSERT_TRUE(table.Open("info", db));
    ASSERT_TRUE(table.Open("info", db));  // reopening closes first
    EXPECT_EQ(table.Position(), 0);
    EXPECT_TRUE(table.Close());
    EXPECT_TRUE(table.Close());
    EXPECT_FALSE(table.MoveFirst());
    EXPECT_FALSE(table.AddNew());
}

TEST_F(SqliteTableTest, MovesOnAnEmptyTableLeaveTheCursorOutside) {
    ASSERT_TRUE(table.Open("empty", db));
    EXPECT_FALSE(table.MoveFirst());
    EXPECT_EQ(table.Position(), 1);  // after the last record
    EXPECT_FALSE(table.MoveLast());
    EXPECT_EQ(table.Position(), 0);  // before the first
}

TEST_F(SqliteTableTest, MovesOverRecordsInRowidOrder) {
    ASSERT_TRUE(table.Open("info", db));
    ASSERT_TRUE(table.MoveLast());
    EXPECT_EQ(table.Position(), 4);
    EXPECT_EQ(table.ReadInt("id"), 5);
    ASSERT_TRUE(table.MoveFirst());
    EXPECT_EQ(table.Position(), 1);
    EXPECT_EQ(table.ReadInt("id"), 1);
}

TEST_F(SqliteTableTest, FindSearchesFromTheCurrentRecordOn) {
    ASSERT_TRUE(table.Open("info", db));
    SqlTrace trace(db.Connection());

    ASSERT_TRUE(table.Find("subject='beta'"));  // from before the first record
    EXPECT_EQ(table.Position(), 2);
    ASSERT_TRUE(table.Find("subject='beta'"));  // the current record is part of the search
    EXPECT_EQ(table.Position(), 2);
    EXPECT_EQ(trace.statements(), (Strings{"SELECT _ROWID_ FROM info WHERE (subject='beta') AND (_ROWID_>=0) ",
                                           "SELECT _ROWID_ FROM info WHERE (subject='beta') AND (_ROWID_>=2) "}));

    ASSERT_TRUE(table.Find("subject='gamma'"));
    ASSERT_TRUE(table.Find("subject='beta'"));
    EXPECT_EQ(table.Position(), 4);
    EXPECT_EQ(table.ReadInt("id"), 5);
    EXPECT_FALSE(table.Find("subject='alpha'"));  // only before the current record
    EXPECT_EQ(table.Position(), 4);

    EXPECT_FALSE(table.Find(""));
    EXPECT_FALSE(table.Find("this is === not SQL"));
    EXPECT_EQ(table.Position(), 4);

    // A row inserted behind the cursor's back is found by SQLite but is not in the snapshot.
    ASSERT_TRUE(db.Execute("INSERT INTO info VALUES (9, 'delta', 'x')"));
    ASSERT_TRUE(table.MoveFirst());
    EXPECT_FALSE(table.Find("subject='delta'"));
    EXPECT_EQ(table.Position(), 1);

    // A condition too long for the statement is refused without running anything.
    trace.Clear();
    EXPECT_FALSE(table.Find("subject='" + std::string(1000, 'z') + "'"));
    EXPECT_TRUE(trace.statements().empty());
}

TEST_F(SqliteTableTest, FindAfterTheLastRecordRunsNothing) {
    ASSERT_TRUE(table.Open("empty", db));
    ASSERT_FALSE(table.MoveFirst());
    SqlTrace trace(db.Connection());
    EXPECT_FALSE(table.Find("1"));
    EXPECT_TRUE(trace.statements().empty());
}

TEST_F(SqliteTableTest, ReadsTheCurrentRecordFreshEachTime) {
    ASSERT_TRUE(table.Open("info", db));
    ASSERT_TRUE(table.MoveFirst());
    SqlTrace trace(db.Connection());
    bool ok = false;
    EXPECT_EQ(table.ReadText("SUBJECT", &ok), "alpha");
    EXPECT_TRUE(ok);
    EXPECT_EQ(trace.statements(), (Strings{"SELECT subject FROM info WHERE _ROWID_ = 1 "}));
    EXPECT_EQ(table.ReadInt("Value"), 1);
    EXPECT_EQ(table.ReadText(1), "1");
    EXPECT_EQ(table.ReadText(2.9), "alpha");

    ASSERT_TRUE(db.Execute("UPDATE info SET value = 'changed' WHERE id = 1"));
    EXPECT_EQ(table.ReadText("value"), "changed");  // nothing is cached

    ASSERT_TRUE(table.Find("subject='beta'"));
    EXPECT_EQ(table.ReadText("value", &ok), "");  // NULL
    EXPECT_TRUE(ok);
    EXPECT_EQ(table.ReadInt("value", &ok), 0);
    EXPECT_TRUE(ok);

    ASSERT_TRUE(table.Find("subject='gamma'"));
    EXPECT_DOUBLE_EQ(table.ReadDateTime("value", &ok).days, 45658.5);
    EXPECT_TRUE(ok);
}

TEST_F(SqliteTableTest, ReadsOfNoColumnFail) {
    ASSERT_TRUE(table.Open("info", db));
    ASSERT_TRUE(table.MoveFirst());
    const FieldArg fields[] = {0, -1, 4, "nosuch", "", true, rt::DateTime(1.0), nullptr, 0.5};
    for (const FieldArg& field : fields) {
        bool ok = true;
        EXPECT_EQ(table.ReadText(field, &ok), "");
        EXPECT_FALSE(ok);
        ok = true;
        EXPECT_EQ(table.ReadInt(field, &ok), 0);
        EXPECT_FALSE(ok);
        ok = true;
        EXPECT_EQ(table.ReadDateTime(field, &ok).days, 0.0);
        EXPECT_FALSE(ok);
    }
    bool ok = false;
    EXPECT_EQ(table.ReadInt(3, &ok), 1);  // the last column
    EXPECT_TRUE(ok);
}

TEST_F(SqliteTableTest, UpdateNeedsAddNewAndAWrittenField) {
    ASSERT_TRUE(table.Open("info", db));
    EXPECT_FALSE(table.Update());  // open, not adding
    ASSERT_TRUE(table.AddNew());
    SqlTrace trace(db.Connection());
    EXPECT_FALSE(table.Update());  // nothing written
    EXPECT_EQ(table.GetState(), SqliteTable::State::Adding);
    EXPECT_TRUE(trace.statements().empty());
    EXPECT_EQ(Value("SELECT count(*) FROM info"), "4");
}

TEST_F(SqliteTableTest, SaveInsertsExactlyTheWrittenFieldsAndReloads) {
    ASSERT_TRUE(table.Open("info", db));
    ASSERT_TRUE(table.WriteField("subject", "early"));  // accepted while open, dropped by AddNew
    ASSERT_TRUE(table.AddNew());
    ASSERT_TRUE(table.WriteField("VALUE", "it's ''quoted''"));
    SqlTrace trace(db.Connection());
    ASSERT_TRUE(table.Update());
    EXPECT_EQ(trace.statements(), (Strings{"INSERT INTO info(value) VALUES(?)", "SELECT * FROM info LIMIT 0",
                                           "SELECT _ROWID_ FROM info ORDER BY _ROWID_ "}));
    EXPECT_EQ(table.GetState(), SqliteTable::State::Open);
    EXPECT_EQ(table.RecordCount(), 5);
    EXPECT_EQ(Value("SELECT subject FROM info WHERE id = 6"), "<null>");
    EXPECT_EQ(Value("SELECT value FROM info WHERE id = 6"), "it's ''quoted''");

    // The reload dropped the pending values: no writes until the next AddNew.
    EXPECT_FALSE(table.WriteField("subject", "late"));
    ASSERT_TRUE(table.AddNew());
    ASSERT_TRUE(table.WriteField("value", "text first"));
    ASSERT_TRUE(table.WriteField("value", 42));  // the later write wins
    ASSERT_TRUE(table.WriteField(2, ""));        // the empty text is saved as '', not NULL
    trace.Clear();
    ASSERT_TRUE(table.Update());
    EXPECT_EQ(trace.statements().front(), "INSERT INTO info(subject,value) VALUES(?,?)");
    EXPECT_EQ(Value("SELECT value FROM info WHERE id = 7"), "42");
    EXPECT_EQ(Value("SELECT typeof(subject) || ':' || length(subject) FROM info WHERE id = 7"), "text:0");
}

TEST_F(SqliteTableTest, RefusedWritesLeaveTheFieldUnset) {
    ASSERT_TRUE(table.Open("info", db));
    ASSERT_TRUE(table.AddNew());
    ASSERT_TRUE(table.WriteField("subject", "kept"));
    ASSERT_TRUE(table.WriteField("value", "dropped"));
    EXPECT_FALSE(table.WriteField("value", static_cast<const char*>(nullptr)));
    EXPECT_FALSE(table.WriteField("subject", nullptr));
    ASSERT_TRUE(table.WriteField("subject", "kept"));
    const FieldArg noColumn[] = {"nosuch", "", 0, -2, 4, true};
    for (const FieldArg& field : noColumn) EXPECT_FALSE(table.WriteField(field, 1));
    ASSERT_TRUE(table.Update());
    EXPECT_EQ(Value("SELECT subject || '/' || ifnull(value, 'NULL') FROM info WHERE id = 6"), "kept/NULL");
}

TEST_F(SqliteTableTest, EachValueKindIsBoundAsItsType) {
    ASSERT_TRUE(db.Execute("CREATE TABLE k (a, b, c, d, e, f, g, created TEXT)"));
    ASSERT_TRUE(table.Open("k", db));
    ASSERT_TRUE(table.AddNew());
    ASSERT_TRUE(table.WriteField("a", "text first"));
    ASSERT_TRUE(table.WriteField("a", true));  // the later write wins, with its own kind
    ASSERT_TRUE(table.WriteField("b", std::int64_t{1} << 40));
    ASSERT_TRUE(table.WriteField("c", 0.5f));
    ASSERT_TRUE(table.WriteField("d", rt::DateTime(45658.5)));
    ASSERT_TRUE(table.WriteField("e", rt::ByteSet{1, 0, 255}));
    ASSERT_TRUE(table.WriteField("f", rt::ByteSet{}));
    ASSERT_TRUE(table.WriteField("g", static_cast<std::uint8_t>(200)));
    ASSERT_TRUE(table.WriteField("created", rt::DateTime(45658.5)));
    ASSERT_TRUE(table.Update());
    EXPECT_EQ(Value("SELECT typeof(a)||typeof(b)||typeof(c)||typeof(d)||typeof(e)||typeof(f)||typeof(g)||typeof(created) FROM k"),
              "integerintegerrealrealblobblobintegertext");
    EXPECT_EQ(Value("SELECT a||','||b||','||c||','||d||','||hex(e)||','||length(f)||','||g||','||created FROM k"),
              "1,1099511627776,0.5,45658.5,0100FF,0,200,45658.5");
    ASSERT_TRUE(table.MoveFirst());
    EXPECT_DOUBLE_EQ(table.ReadDateTime("created").days, 45658.5);
}

TEST_F(SqliteTableTest, ASaveKeepsThePositionNumber) {
    ASSERT_TRUE(table.Open("empty", db));
    ASSERT_FALSE(table.MoveFirst());  // after the last record: position 1
    ASSERT_TRUE(table.AddNew());
    ASSERT_TRUE(table.WriteField("a", "first"));
    ASSERT_TRUE(table.Update());
    EXPECT_EQ(table.Position(), 1);  // now the new record
    EXPECT_EQ(table.ReadText("a"), "first");

    ASSERT_TRUE(table.Open("empty", db));  // before the first record
    ASSERT_TRUE(table.AddNew());
    ASSERT_TRUE(table.WriteField("b", 2));
    ASSERT_TRUE(table.Update());
    EXPECT_EQ(table.Position(), 0);
    EXPECT_EQ(table.RecordCount(), 2);
}

// A database file with the info table, in a temporary directory.
class SqliteTableFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.File("db.test");
        SqliteDB maker;
        ASSERT_TRUE(maker.Open(path, true));
        ASSERT_TRUE(maker.CreateTable("info", kInfoFields));
        ASSERT_TRUE(maker.Execute("INSERT INTO info (subject, value) VALUES ('db_ver', '1.0')"));
    }

    // Saves one info row through an open cursor, expecting the INSERT to be refused.
    void ExpectRefusedSave(SqliteTable& table) {
        ASSERT_TRUE(table.AddNew());
        ASSERT_TRUE(table.WriteField("subject", "pending"));
        ASSERT_TRUE(table.WriteField("value", "v"));
        EXPECT_FALSE(table.Update());
        EXPECT_EQ(table.GetState(), SqliteTable::State::Adding);
        EXPECT_EQ(table.RecordCount(), 1);
    }

    TempDir dir;
    std::string path;
};

TEST_F(SqliteTableFileTest, InsertRefusedByAnotherConnectionsLockCanBeRetried) {
    SqliteDB db;
    ASSERT_TRUE(db.Open(path));
    SqliteTable table;
    ASSERT_TRUE(table.Open("info", db));
    SqliteDB other;
    ASSERT_TRUE(other.Open(path));
    ASSERT_TRUE(other.Execute("BEGIN EXCLUSIVE"));

    ExpectRefusedSave(table);
    EXPECT_FALSE(table.Update());  // still locked: refused again, values still pending

    ASSERT_TRUE(other.Execute("COMMIT"));
    EXPECT_TRUE(table.Update());
    EXPECT_EQ(table.GetState(), SqliteTable::State::Open);
    EXPECT_EQ(table.RecordCount(), 2);
    EXPECT_EQ(QueryValue(other.Connection(), "SELECT count(*) || ':' || max(value) FROM info WHERE subject = 'pending'"),
              "1:v");
    EXPECT_FALSE(table.Update());  // no longer adding: nothing more is inserted
    EXPECT_EQ(QueryValue(other.Connection(), "SELECT count(*) FROM info"), "2");
    table.Close();
}

TEST_F(SqliteTableFileTest, InsertIntoAReadOnlyDatabaseIsRefused) {
    SqliteDB db;
    ASSERT_TRUE(db.Open("file:" + path + "?mode=ro", true));
    SqliteTable table;
    ASSERT_TRUE(table.Open("info", db));
    SqlTrace trace(db.Connection());
    ExpectRefusedSave(table);
    EXPECT_FALSE(table.Update());
    // Both attempts ran the same INSERT with the values kept from before.
    std::vector<std::string> inserts;
    for (const std::string& sql : trace.statements()) {
        if (sql.rfind("INSERT", 0) == 0) inserts.push_back(sql);
    }
    EXPECT_EQ(inserts, (Strings(2, "INSERT INTO info(subject,value) VALUES(?,?)")));
    table.Close();
    EXPECT_EQ(QueryValue(db.Connection(), "SELECT count(*) FROM info"), "1");
}

TEST_F(SqliteTableFileTest, InsertIntoAReadOnlyFileIsRefused) {
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    // File permissions do not bind the superuser (the CI runs as root): the test runs in a child
    // process as the unprivileged user "nobody", who may enter the directory and read the file.
    const bool asRoot = geteuid() == 0;
    if (asRoot) {
        ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    }
    std::fflush(nullptr);  // nothing buffered is written twice
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        constexpr uid_t kNobody = 65534;
        if (asRoot && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(3);
        if (geteuid() == 0) _exit(4);
        {
            SqliteDB db;
            EXPECT_TRUE(db.Open(path));
            SqliteTable table;
            EXPECT_TRUE(table.Open("info", db));
            if (table.GetState() == SqliteTable::State::Open) ExpectRefusedSave(table);
            table.Close();
        }
        // The child prints its own failures; its exit code tells the parent.
        std::fflush(nullptr);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "3: privileges not dropped, 4: still the superuser, 1: see above";
    // Nothing was written: the file still holds its one row.
    SqliteDB check;
    ASSERT_TRUE(check.Open(path));
    EXPECT_EQ(QueryValue(check.Connection(), "SELECT count(*) FROM info"), "1");
}

}  // namespace

#include "recorddb/sqlite_db.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "../folder_names.h"
#include "../special_files.h"
#include "runtime/text.h"
#include "test_support.h"

namespace {

using recorddb_test::NestedFolder;
using tomato_test::FolderNames;
using recorddb_test::QueryValue;
using recorddb_test::TempDir;

namespace fs = std::filesystem;

// Every file (not folder) below a folder, as paths relative to it.
std::set<std::string> Files(const fs::path& folder) {
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_directory()) files.insert(fs::relative(entry.path(), folder).string());
    }
    return files;
}

// True when the database's main file is in memory (SQLite names no file for it).
bool InMemory(const SqliteDB& db) {
    const char* file = sqlite3_db_filename(db.Connection(), "main");
    return file == nullptr || *file == '\0';
}

TEST(SqliteDBTest, InMemoryRequestsNeedCreate) {
    struct Case {
        std::string path;
        bool create;
        bool opens;
    };
    const Case cases[] = {
        {":memory:", true, true},   {":Memory:", true, true},   {":MEMORY:", true, true},
        {"", true, true},           {":memory:", false, false}, {":Memory:", false, false},
        {"", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("'" + c.path + "' create=" + std::to_string(c.create));
        SqliteDB db;
        EXPECT_EQ(db.Open(c.path, c.create), c.opens);
        EXPECT_EQ(db.IsOpen(), c.opens);
        if (c.opens) {
            EXPECT_TRUE(InMemory(db));
        }
    }
    SqliteDB omitted;
    EXPECT_FALSE(omitted.Open());
}

TEST(SqliteDBTest, MissingFileIsCreatedOnlyWithCreate) {
    TempDir dir;
    const std::string path = dir.File("missing.db");
    SqliteDB db;
    EXPECT_FALSE(db.Open(path, false));
    EXPECT_FALSE(db.IsOpen());
    EXPECT_FALSE(std::filesystem::exists(path));

    EXPECT_TRUE(db.Open(path, true));
    EXPECT_FALSE(InMemory(db));
    EXPECT_TRUE(std::filesystem::exists(path));
    ASSERT_TRUE(db.Close());
    EXPECT_TRUE(db.Open(path, false));  // now it exists
}

TEST(SqliteDBTest, OnlyRegularFilesAreOpenedAndNothingElseIsTouched) {
    TempDir dir;
    {
        SqliteDB db;
        ASSERT_TRUE(db.Open(dir.File("real.db"), true));
        ASSERT_TRUE(db.Execute("CREATE TABLE t (v)"));
    }
    fs::create_symlink("real.db", dir.File("link-to-real.db"));
    SqliteDB linked;
    EXPECT_TRUE(linked.Open(dir.File("link-to-real.db"), false)) << "a link to a database file is one";
    linked.Close();

    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0644), 0);
    const tomato_test::UnixSocket unixSocket(dir.File("socket"));
    ASSERT_TRUE(unixSocket.Bound());
    fs::create_symlink("fifo", dir.File("link-to-fifo"));
    fs::create_symlink("/dev/null", dir.File("link-to-device"));
    fs::create_directory(dir.File("folder"));
    const std::set<std::string> names = FolderNames(dir.path());

    for (const char* name : {"fifo", "socket", "link-to-fifo", "link-to-device", "folder"}) {
        SCOPED_TRACE(name);
        const fs::file_status before = fs::symlink_status(dir.File(name));
        tomato_test::FifoWatch watch({dir.File("fifo")});
        SqliteDB db;
        EXPECT_FALSE(db.Open(dir.File(name), false));
        EXPECT_FALSE(watch.Stop()) << "the FIFO was opened";
        EXPECT_FALSE(db.IsOpen());
        EXPECT_EQ(fs::symlink_status(dir.File(name)).type(), before.type());
        EXPECT_EQ(FolderNames(dir.path()), names) << "no journal or other file appeared";
    }

    // The same for a FIFO under the journal's name: SQLite looks into a journal it finds, which
    // for a FIFO would mean waiting for a writer for good.
    ASSERT_EQ(::mkfifo(dir.File("real.db-journal").c_str(), 0644), 0);
    tomato_test::FifoWatch watch({dir.File("real.db-journal")});
    SqliteDB db;
    ASSERT_TRUE(db.Open(dir.File("real.db"), false));
    EXPECT_FALSE(db.Execute("SELECT * FROM t")) << "a journal that cannot be opened";
    EXPECT_FALSE(watch.Stop()) << "the FIFO was opened";
    EXPECT_TRUE(fs::is_fifo(dir.File("real.db-journal")));
}

TEST(SqliteDBTest, PathsAreGbkAndMeetTheFileSystemInItsOwnSpelling) {
    TempDir dir;
    const std::filesystem::path folder = dir.path() / "下载" / "番茄 钟";
    std::filesystem::create_directories(folder);
    const std::string gbkPath = rt::Gbk((folder / "db.razezuzivu").string());
    {
        SqliteDB db;
        ASSERT_TRUE(db.Open(gbkPath, true));
        ASSERT_TRUE(db.Execute("CREATE TABLE t (v); INSERT INTO t VALUES ('" + rt::Gbk("番茄") + "')"));
        ASSERT_TRUE(db.Close());
    }
    // The file lies in the folder the user sees, under its own name, and nowhere else.
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
        files.push_back(std::filesystem::relative(entry.path(), dir.path()).string());
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"下载", "下载/番茄 钟", "下载/番茄 钟/db.razezuzivu"}));

    SqliteDB db;
    ASSERT_TRUE(db.Open(gbkPath, false)) << "an existing file is found through the same GBK path";
    EXPECT_EQ(QueryValue(db.Connection(), "SELECT v FROM t"), rt::Gbk("番茄"));
}

TEST(SqliteDBTest, PathTheFileSystemCannotSpellIsRefused) {
    TempDir dir;
    // Lossy conversions would turn these into the names "?" or U+FFFD; such files must stay unused.
    std::ofstream(dir.File("?.db")) << "";
    std::ofstream(dir.File("\xEF\xBF\xBD.db")) << "";
    for (const std::string name : {"\xFF.db", "\x81.db"}) {
        SCOPED_TRACE(name);
        SqliteDB db;
        EXPECT_FALSE(db.Open(dir.File(name), false));
        EXPECT_FALSE(db.Open(dir.File(name), true));
        EXPECT_FALSE(db.IsOpen());
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()),
              2);
    EXPECT_EQ(std::filesystem::file_size(dir.File("?.db")), 0u);
}

// SQLite's own VFS takes database paths of up to 504 bytes (512 with the journal's suffix); the
// file system takes up to PATH_MAX - 1.
TEST(SqliteDBTest, LongPathsWorkUpToWhatTheFileSystemTakes) {
    struct Case {
        const char* unit;
        std::size_t length;
    };
    for (const Case c : {Case{"a", 505}, Case{"番茄", 1200}, Case{"a", PATH_MAX - 1}, Case{"番茄", PATH_MAX - 1}}) {
        SCOPED_TRACE(std::string(c.unit) + " " + std::to_string(c.length));
        TempDir dir;
        const fs::path folder = NestedFolder(dir.path(), c.unit, c.length, "db.razezuzivu");
        const std::string path = (folder / "db.razezuzivu").string();
        ASSERT_EQ(path.size(), c.length);
        {
            SqliteDB db;
            ASSERT_TRUE(db.Open(rt::GbkFromSystemName(path), true));
            ASSERT_TRUE(db.Execute("CREATE TABLE t (v)"));
            ASSERT_TRUE(db.Execute("BEGIN; INSERT INTO t VALUES ('" + rt::Gbk("番茄") + "')"));
            EXPECT_EQ(FolderNames(folder), (std::set<std::string>{"db.razezuzivu", "db.razezuzivu-journal"}))
                << "the journal lies beside the database";
            ASSERT_TRUE(db.Execute("COMMIT"));
        }
        EXPECT_EQ(Files(dir.path()), std::set<std::string>{fs::relative(path, dir.path()).string()});
        SqliteDB reopened;
        ASSERT_TRUE(reopened.Open(rt::GbkFromSystemName(path), false));
        EXPECT_EQ(QueryValue(reopened.Connection(), "SELECT v FROM t"), rt::Gbk("番茄"));
    }
}

TEST(SqliteDBTest, APathTheFileSystemCannotTakeIsRefusedAndNothingIsCreated) {
    TempDir dir;
    const fs::path folder = NestedFolder(dir.path(), "a", PATH_MAX, "db.razezuzivu");
    SqliteDB db;
    EXPECT_FALSE(db.Open((folder / "db.razezuzivu").string(), true));
    EXPECT_FALSE(db.IsOpen());
    EXPECT_TRUE(Files(dir.path()).empty());
}

TEST(SqliteDBTest, ALongPathIsFoundRelativeToTheCurrentDirectoryAndThroughALink) {
    TempDir dir;
    const fs::path folder = NestedFolder(dir.path(), "a", 2000, "db.razezuzivu");
    const fs::path before = fs::current_path();
    fs::current_path(folder);
    {
        SqliteDB db;
        EXPECT_TRUE(db.Open("db.razezuzivu", true));
        EXPECT_TRUE(db.Execute("CREATE TABLE t (v)"));
    }
    fs::current_path(before);
    EXPECT_TRUE(fs::exists(folder / "db.razezuzivu"));

    // A link in a long folder to a database elsewhere: the journal lies beside the database.
    fs::create_directory(dir.path() / "elsewhere");
    fs::rename(folder / "db.razezuzivu", dir.path() / "elsewhere" / "real.db");
    fs::create_symlink(dir.path() / "elsewhere" / "real.db", folder / "db.razezuzivu");
    SqliteDB linked;
    ASSERT_TRUE(linked.Open((folder / "db.razezuzivu").string(), false));
    ASSERT_TRUE(linked.Execute("BEGIN; INSERT INTO t VALUES (1)"));
    EXPECT_EQ(FolderNames(dir.path() / "elsewhere"), (std::set<std::string>{"real.db", "real.db-journal"}));
    EXPECT_EQ(FolderNames(folder), std::set<std::string>{"db.razezuzivu"});
    ASSERT_TRUE(linked.Execute("COMMIT"));
}

TEST(SqliteDBTest, ConnectionsOnALongPathShareTheLockAndTheBusyTimeoutWaitsForIt) {
    TempDir dir;
    const std::string path = (NestedFolder(dir.path(), "a", 1500, "db.razezuzivu") / "db.razezuzivu").string();
    SqliteDB holder;
    ASSERT_TRUE(holder.Open(path, true));
    ASSERT_TRUE(holder.Execute("CREATE TABLE t (v)"));
    EXPECT_FALSE(holder.InTransaction());
    ASSERT_TRUE(holder.Execute("BEGIN IMMEDIATE"));
    EXPECT_TRUE(holder.InTransaction());

    SqliteDB impatient;
    ASSERT_TRUE(impatient.Open(path, false));
    EXPECT_FALSE(impatient.Execute("INSERT INTO t VALUES (1)")) << "the other connection holds the write lock";

    SqliteDB waiting;
    waiting.SetBusyTimeout(10000);  // set while closed: it holds for the connection opened later
    ASSERT_TRUE(waiting.Open(path, false));
    std::thread release([&holder] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        holder.Execute("COMMIT");
    });
    EXPECT_TRUE(waiting.Execute("INSERT INTO t VALUES (2)")) << "waits until the lock is given up";
    release.join();
    EXPECT_FALSE(holder.InTransaction());
    EXPECT_EQ(QueryValue(holder.Connection(), "SELECT group_concat(v) FROM t"), "2");
}

TEST(SqliteDBTest, OpenClosesTheOldConnectionEvenWhenItFails) {
    TempDir dir;
    SqliteDB db;
    ASSERT_TRUE(db.Open(":memory:", true));
    EXPECT_FALSE(db.Open(dir.File("nowhere.db")));
    EXPECT_FALSE(db.IsOpen());
    EXPECT_FALSE(db.Execute("SELECT 1"));
    EXPECT_TRUE(db.Close());  // closing a closed object
}

TEST(SqliteDBTest, ExecuteReportsSQLiteOutcome) {
    SqliteDB db;
    EXPECT_FALSE(db.Execute("CREATE TABLE t (a)"));  // closed
    ASSERT_TRUE(db.Open(":memory:", true));
    EXPECT_FALSE(db.Execute(""));
    EXPECT_TRUE(db.Execute("CREATE TABLE t (a); INSERT INTO t VALUES (1)"));
    EXPECT_FALSE(db.Execute("INSERT INTO nowhere VALUES (1)"));
    EXPECT_FALSE(db.Execute("this is not SQL"));
    EXPECT_EQ(QueryValue(db.Connection(), "SELECT count(*) FROM t"), "1");
}

TEST(SqliteDBTest, QueryOnAClosedObjectOrEmptySqlIsInert) {
    SqliteDB db;
    SqliteDataset closed = db.Query("SELECT 1");
    EXPECT_FALSE(closed.IsUsable());
    EXPECT_FALSE(closed.Run());
    ASSERT_TRUE(db.Open(":memory:", true));
    SqliteDataset empty = db.Query("");
    EXPECT_FALSE(empty.Run());
    SqliteDataset bad = db.Query("SELECT * FROM nowhere");
    EXPECT_FALSE(bad.Run());
    EXPECT_EQ(bad.RowCount(), 0);
    SqliteDataset good = db.Query("SELECT 1");
    EXPECT_TRUE(good.Run());
    EXPECT_TRUE(good.Close());
}

TEST(SqliteDBTest, CloseWithAnUnfinalizedDatasetReportsBusy) {
    SqliteDB db;
    ASSERT_TRUE(db.Open(":memory:", true));
    SqliteDataset open = db.Query("SELECT 1");
    ASSERT_TRUE(open.Run());
    EXPECT_FALSE(db.Close());
    EXPECT_FALSE(db.IsOpen());  // forgotten all the same
    EXPECT_TRUE(db.Close());
    // The statement still works and finalizes cleanly; the connection goes with it.
    EXPECT_TRUE(open.Run());
    EXPECT_EQ(open.RowCount(), 1);
    EXPECT_TRUE(open.Close());
}

// The CREATE TABLE text SQLite keeps for a table.
std::string TableSql(const SqliteDB& db, const std::string& table) {
    return QueryValue(db.Connection(), "SELECT sql FROM sqlite_master WHERE name = '" + table + "'");
}

struct TypeWordCase {
    int code;
    int length;
    const char* item;
};

void PrintTo(const TypeWordCase& c, std::ostream* os) {
    *os << "code " << c.code << ", length " << c.length << " -> " << c.item;
}

class CreateTableTypeWordTest : public ::testing::TestWithParam<TypeWordCase> {};

TEST_P(CreateTableTypeWordTest, MapsTheTypeCodeToItsWord) {
    const TypeWordCase& c = GetParam();
    SqliteDB db;
    ASSERT_TRUE(db.Open(":memory:", true));
    ASSERT_TRUE(db.CreateTable("t", SqliteFieldInfo{"c", c.code, c.length}));
    EXPECT_EQ(TableSql(db, "t"), std::string("CREATE TABLE t (") + c.item + ")");
}

// Every code of the mapping, with a length (which only the text codes use) and without.
const TypeWordCase kTypeWordCases[] = {
    {INT_MIN, 0, "c NONE"},
    {-2, 0, "c NONE"},
    {-2, 50, "c NONE"},
    {-1, 0, "c INTEGER PRIMARY KEY"},
    {-1, 50, "c INTEGER PRIMARY KEY"},
    {0, 0, "c"},
    {0, 50, "c"},
    {1, 0, "c INTEGER"},
    {2, 0, "c INTEGER"},
    {3, 0, "c INTEGER"},
    {3, 50, "c INTEGER"},
    {4, 0, "c INTEGER"},
    {5, 0, "c NUMERIC"},
    {6, 50, "c NUMERIC"},
    {7, 0, "c INTEGER"},
    {8, 0, "c TEXT"},
    {8, 255, "c TEXT(255)"},
    {8, -4, "c TEXT"},
    {9, 0, "c NONE"},
    {9, 50, "c NONE"},
    {10, 0, "c TEXT"},
    {10, 50, "c TEXT(50)"},
    {11, 0, "c BLOB"},
    {11, 50, "c BLOB"},
    {12, 0, "c TEXT"},
    {12, 1, "c TEXT(1)"},
    {13, 0, "c NONE"},
    {13, 50, "c NONE"},
    {100, 0, "c NONE"},
};

INSTANTIATE_TEST_SUITE_P(EveryCode, CreateTableTypeWordTest, ::testing::ValuesIn(kTypeWordCases),
                         [](const ::testing::TestParamInfo<TypeWordCase>& info) {
                             const auto n = [](long long v) { return (v < 0 ? "m" : "") + std::to_string(v < 0 ? -v : v); };
                             return "code_" + n(info.param.code) + "_len_" + n(info.param.length);
                         });

TEST(SqliteDBTest, CreateTableJoinsNamedItemsOfAnArray) {
    SqliteDB db;
    ASSERT_TRUE(db.Open(":memory:", true));
    const SqliteFieldInfo example[] = {{"id", -1, 0}, {"name", 10, 50}, {"n", 3, 0}};
    ASSERT_TRUE(db.CreateTable("t", example));
    EXPECT_EQ(TableSql(db, "t"), "CREATE TABLE t (id INTEGER PRIMARY KEY, name TEXT(50), n INTEGER)");

    const std::vector<SqliteFieldInfo> gap = {{"a", 3, 0}, {"", 3, 0}, {"b", 0, 0}};
    ASSERT_TRUE(db.CreateTable("u", gap));
    EXPECT_EQ(TableSql(db, "u"), "CREATE TABLE u (a INTEGER, b)");

    const std::vector<SqliteFieldInfo> lastSkipped = {{"a", 3, 0}, {"", 3, 0}};
    ASSERT_TRUE(db.CreateTable("v", lastSkipped));
    EXPECT_EQ(TableSql(db, "v"), "CREATE TABLE v (a INTEGER)");
}

TEST(SqliteDBTest, CreateTableRefusals) {
    SqliteDB db;
    const SqliteFieldInfo one{"a", 3, 0};
    EXPECT_FALSE(db.CreateTable("t", one));  // closed
    ASSERT_TRUE(db.Open(":memory:", true));
    EXPECT_FALSE(db.CreateTable("", one));
    EXPECT_FALSE(db.CreateTable("t", SqliteFieldInfo{"", 3, 0}));
    EXPECT_FALSE(db.CreateTable("t", std::span<const SqliteFieldInfo>()));
    const std::vector<SqliteFieldInfo> unnamed = {{"", 3, 0}, {"", 10, 5}};
    EXPECT_FALSE(db.CreateTable("t", unnamed));  // runs with an empty list, which SQLite rejects
    ASSERT_TRUE(db.CreateTable("t", one));
    EXPECT_FALSE(db.CreateTable("t", one));  // exists already
}

// Definitions at the edges of the areas they are composed in (each counting the terminating NUL):
// an item of an array has 200 bytes; a single definition is the whole column list (2000 bytes);
// the statement "CREATE TABLE t (...)" has 2000 bytes, 17 of them taken around the list.
TEST(SqliteDBTest, CreateTableRefusesWhatDoesNotFitItsAreaAndNeverCuts) {
    struct Case {
        const char* what;
        bool single;                     // one definition, else an array of them
        std::vector<std::size_t> names;  // length of each column name (code 0: the item is the name)
        bool created;
    };
    const Case cases[] = {
        {"single of 199", true, {199}, true},
        {"single of 200, over an array item's area", true, {200}, true},
        {"single of 1000", true, {1000}, true},
        {"single filling the statement's area", true, {1982}, true},
        {"single one byte over the statement's area", true, {1983}, false},
        {"single filling the list's area", true, {1999}, false},
        {"single over the list's area", true, {2000}, false},
        {"array item of 199", false, {199}, true},
        {"array item of 200", false, {200}, false},
        {"array item of 200 after one that fits", false, {10, 200}, false},
        {"array filling the statement's area", false, {199, 199, 199, 199, 199, 199, 199, 199, 199, 173}, true},
        {"array one byte over the statement's area", false, {199, 199, 199, 199, 199, 199, 199, 199, 199, 174}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SqliteDB db;
        ASSERT_TRUE(db.Open(":memory:", true));
        std::vector<SqliteFieldInfo> fields;
        std::string list;
        for (std::size_t i = 0; i < c.names.size(); ++i) {
            fields.push_back({std::string(c.names[i], static_cast<char>('a' + i)), 0, 0});
            list += (i == 0 ? "" : ", ") + fields.back().name;
        }
        const bool created = c.single ? db.CreateTable("t", fields.front()) : db.CreateTable("t", fields);
        EXPECT_EQ(created, c.created);
        EXPECT_EQ(TableSql(db, "t"), c.created ? "CREATE TABLE t (" + list + ")" : "<error>");
    }
}

}  // namespace

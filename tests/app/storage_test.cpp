// The database file: creation and opening at start, the info rows, the recording of tomatoes and
// what the user sees when the file cannot be used.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <thread>

#include "../folder_names.h"
#include "../special_files.h"
#include "../nested_folder.h"
#include "app_fixture.h"
#include "globals.h"
#include "recorddb/sqlite_db.h"
#include "runtime/files.h"
#include "runtime/messagebox.h"
#include "runtime/text.h"
#include "session_end.h"
#include "storage.h"

namespace apptest {
namespace {

namespace fs = std::filesystem;

const char* const kTomatoSchema =
    "CREATE TABLE tomato (id INTEGER PRIMARY KEY, created TEXT, classname TEXT(512), title TEXT, year INTEGER, "
    "month INTEGER, day INTEGER, state INTEGER, net INTEGER)";
const char* const kInfoSchema = "CREATE TABLE info (id INTEGER PRIMARY KEY, subject TEXT(50), value TEXT(255))";

// The info rows of a new file after its first start: id, subject, value.
const std::vector<std::tuple<int, std::string, std::string>> kFirstStartRows{
    {1, "db_ver", "1.0"},    {2, "integral", "0"},         {3, "goodtomato", "0"}, {4, "badtomato", "0"},
    {5, "alertwave", "1"},   {6, "clickListToStart", "0"}, {7, "tag_top", "0"},    {8, "tag_left", "0"},
    {9, "note", "0"},        {10, "showPBar", "0"},
};

std::vector<std::tuple<int, std::string, std::string>> Rows(const std::vector<InfoRow>& rows) {
    std::vector<std::tuple<int, std::string, std::string>> result;
    for (const InfoRow& row : rows) {
        result.emplace_back(static_cast<int>(row.id), row.subject, row.value.value_or("<NULL>"));
    }
    return result;
}

std::string CountSubject(std::string_view categoryUtf8) {
    return "count_" + G(categoryUtf8);
}

class StorageTest : public AppFixture {
protected:
    // A started program whose file holds the ten rows of a first start, with 工作 chosen.
    void StartWithCategory(int index = 1) {
        StartProgram();
        Comp("CategoryCombo").SetCurrentIndex(index);
    }
    std::vector<std::string> BoxCaptions() const {
        std::vector<std::string> captions;
        for (const ShownBox& box : boxes) captions.push_back(U8(box.caption));
        return captions;
    }
};

TEST_F(StorageTest, FirstStartBuildsTheFileWithItsSchemaAndTenInfoRows) {
    StartProgram();

    EXPECT_TRUE(boxes.empty()) << testing::PrintToString(BoxMessages());
    EXPECT_TRUE(exitCodes.empty());
    EXPECT_EQ(g_dbPath, Dir() + "/db.razezuzivu");
    std::vector<SqlRow> schema = Sql("SELECT type, name, sql FROM sqlite_master ORDER BY rowid");
    ASSERT_EQ(schema.size(), 2u) << "no index or other object besides the two tables";
    EXPECT_EQ(schema[0], (SqlRow{"table", "tomato", kTomatoSchema}));
    EXPECT_EQ(schema[1], (SqlRow{"table", "info", kInfoSchema}));
    EXPECT_EQ(Rows(InfoRows()), kFirstStartRows);
    EXPECT_TRUE(TomatoRows().empty());
    EXPECT_EQ(g_lastEnd.days, 0.0);
    EXPECT_FALSE(fs::exists(DbPath() + "-journal"));
}

TEST_F(StorageTest, SecondStartOpensTheFileAndAddsNothing) {
    StartProgram();
    EndProcess();  // the first run ends without a close attempt
    const std::string before = FileBytes(DbPath());
    ClearRecords();

    StartProgram();

    EXPECT_TRUE(boxes.empty()) << testing::PrintToString(BoxMessages());
    EXPECT_EQ(Rows(InfoRows()), kFirstStartRows);
    EXPECT_EQ(Sql("SELECT count(*) FROM sqlite_master"), (std::vector<SqlRow>{{"2"}}));
    EXPECT_EQ(FileBytes(DbPath()), before) << "a start that only reads changes nothing in the file";
}

TEST_F(StorageTest, InfoReadsAreExactAndAddAMissingSubjectOnce) {
    StartProgram();
    EndProcess();
    // Changes from outside: a subject differing only in case, a duplicate, a NULL value.
    ExecSql("UPDATE info SET subject='Alertwave' WHERE subject='alertwave'");
    ExecSql("INSERT INTO info(subject, value) VALUES('badtomato', '99')");
    ExecSql("UPDATE info SET value=NULL WHERE subject='note'");

    StartProgram();

    EXPECT_TRUE(boxes.empty()) << testing::PrintToString(BoxMessages());
    // Loading the settings added alertwave anew with "0" (its first read gave the empty text, so
    // the box is unchecked); the NULL memo read as the empty text and added nothing.
    const std::vector<InfoRow> rows = InfoRows();
    ASSERT_EQ(rows.size(), 12u);
    EXPECT_EQ(Rows({rows.back()}), (std::vector<std::tuple<int, std::string, std::string>>{{12, "alertwave", "0"}}));
    EXPECT_FALSE(Comp("AlertSoundCheck").Checked());
    EXPECT_EQ(Comp("NoteEdit").Content(), "");
    EXPECT_EQ(ReadInfoValue("badtomato"), "0") << "the row with the lower id answers";
    EXPECT_EQ(ReadInfoValue("alertwave"), "0");
    EXPECT_EQ(ReadInfoValue("note"), "");
    EXPECT_EQ(InfoRows().size(), 12u);

    EXPECT_EQ(ReadInfoValue("no_such_subject"), "") << "a missing subject reads as the empty text";
    EXPECT_EQ(ReadInfoValue("no_such_subject"), "0") << "and then as the 0 just stored";
    EXPECT_EQ(InfoRows().size(), 13u);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(StorageTest, SubjectWithApostropheIsFoundAndCounted) {
    StartProgram();
    EXPECT_TRUE(IncrementCategoryCount("it's"));
    EXPECT_TRUE(IncrementCategoryCount("it's"));
    EXPECT_TRUE(boxes.empty()) << testing::PrintToString(BoxMessages());
    EXPECT_EQ(InfoValue("count_it's"), "2");
    EXPECT_EQ(app::SqlStringBody("a'b''c"), "a''b''''c");
}

TEST_F(StorageTest, LastEndIsTheCreatedValueOfTheHighestIdAndSurvivesARestart) {
    StartProgram();
    AddTomatoRow(rt::MakeDateTime(2026, 3, 8, 9, 0, 0), 1);
    AddTomatoRow(rt::MakeDateTime(2026, 3, 1, 9, 0, 0), 2);  // older, but recorded last
    EndProcess();
    StartProgram();
    EXPECT_EQ(g_lastEnd, rt::MakeDateTime(2026, 3, 1, 9, 0, 0));
}

TEST_F(StorageTest, CreatedIsStoredAsTheTextOfTheDayNumber) {
    SetNow(2025, 1, 1, 12, 0, 0);
    StartWithCategory();
    RecordGoodTomato();

    const std::vector<TomatoRow> rows = TomatoRows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].created, "45658.5");
    EndProcess();
    StartProgram();
    EXPECT_EQ(g_lastEnd.days, 45658.5);
}

TEST_F(StorageTest, CloseDatabaseTwiceChangesNothing) {
    StartProgram();
    CloseDatabase();
    CloseDatabase();
    EXPECT_FALSE(g_db->IsOpen());
    EXPECT_TRUE(boxes.empty());
}

// --- recording ---------------------------------------------------------------------------

struct RecordingCase {
    const char* name;
    const char* sequence;  // G good, B bad, recorded in this order in the category 工作
    const char* good;
    const char* bad;
    const char* integral;
    std::optional<std::string> categoryCount;
    friend void PrintTo(const RecordingCase& c, std::ostream* os) { *os << c.name; }
};

class RecordingTest : public StorageTest, public testing::WithParamInterface<RecordingCase> {};

TEST_P(RecordingTest, CountersPointsAndCategoryRows) {
    const RecordingCase& c = GetParam();
    StartWithCategory();
    std::vector<int> states;
    for (const char* step = c.sequence; *step != '\0'; ++step) {
        AdvanceSeconds(1800);
        if (*step == 'G') {
            RecordGoodTomato();
            states.push_back(1);
        } else {
            RecordBadTomato();
            states.push_back(2);
        }
        EXPECT_EQ(g_lastEnd, Now());
    }

    EXPECT_TRUE(boxes.empty()) << testing::PrintToString(BoxMessages());
    EXPECT_EQ(InfoValue("goodtomato"), c.good);
    EXPECT_EQ(InfoValue("badtomato"), c.bad);
    EXPECT_EQ(InfoValue("integral"), c.integral);
    EXPECT_EQ(InfoValue(CountSubject("工作")), c.categoryCount);
    // The category row comes right after the ten rows of the first start.
    if (c.categoryCount) {
        EXPECT_EQ(InfoRows()[10].subject, CountSubject("工作"));
    } else {
        EXPECT_EQ(InfoRows().size(), 10u);
    }

    const std::vector<TomatoRow> rows = TomatoRows();
    ASSERT_EQ(rows.size(), states.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(rows[i].id, static_cast<std::int64_t>(i + 1));
        EXPECT_EQ(rows[i].state, states[i]);
        EXPECT_EQ(rows[i].classname, G("工作"));
        EXPECT_EQ(rows[i].title, "") << "the empty text, not NULL";
        EXPECT_TRUE(rows[i].netIsNull);
        EXPECT_EQ(rows[i].year, 2026);
        EXPECT_EQ(rows[i].month, 3);
        EXPECT_EQ(rows[i].day, 9);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, RecordingTest,
    testing::Values(RecordingCase{"OneGood", "G", "1", "0", "1", "1"},
                    RecordingCase{"TwoGood", "GG", "2", "0", "2", "2"},
                    RecordingCase{"OneBad", "B", "0", "1", "-5", std::nullopt},
                    RecordingCase{"GoodThenBad", "GB", "1", "1", "-4", "1"},
                    RecordingCase{"BadGoodBadGood", "BGBG", "2", "2", "-8", "2"}),
    [](const testing::TestParamInfo<RecordingCase>& info) { return std::string(info.param.name); });

TEST_F(StorageTest, RecordingTakesTheMomentOfRecordingAlsoAfterMidnight) {
    SetNow(2026, 3, 31, 23, 59, 59);
    StartWithCategory(2);  // 阅读
    AdvanceSeconds(1);     // the question was answered after midnight
    RecordBadTomato();

    const std::vector<TomatoRow> rows = TomatoRows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].classname, G("阅读"));
    EXPECT_EQ(std::tie(rows[0].year, rows[0].month, rows[0].day), std::make_tuple(2026LL, 4LL, 1LL));
    EXPECT_EQ(rows[0].createdDays, rt::MakeDateTime(2026, 4, 1).days);
    EXPECT_EQ(g_lastEnd, rt::MakeDateTime(2026, 4, 1));
}

TEST_F(StorageTest, CategoryCountReadsItsStoredTextAsAnInteger) {
    struct Case {
        const char* stored;
        const char* next;
    };
    const Case cases[] = {
        {"", "1"}, {"abc", "1"}, {"  7", "8"}, {"-3", "-2"}, {"12abc", "13"}, {"2147483647", "2147483648"},
    };
    StartWithCategory();
    RecordGoodTomato();  // adds the row
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        ExecSql("UPDATE info SET value='" + std::string(c.stored) + "' WHERE subject='" + CountSubject("工作") + "'");
        RecordGoodTomato();
        EXPECT_EQ(InfoValue(CountSubject("工作")), c.next);
    }
    EXPECT_TRUE(boxes.empty()) << testing::PrintToString(BoxMessages());
    EXPECT_EQ(InfoRows().size(), 11u);
}

TEST_F(StorageTest, ATomatoRowThatCannotBeInsertedLeavesNoneOfTheRecording) {
    // The trigger goes in between two runs: a schema changed behind an open connection's back
    // would make its next prepared insert fail by itself.
    StartProgram();
    EndProcess();
    ExecSql("CREATE TRIGGER refuse BEFORE INSERT ON tomato BEGIN SELECT RAISE(ABORT, 'refused'); END");
    StartWithCategory();
    AdvanceSeconds(60);

    RecordGoodTomato();

    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(U8(boxes[0].message), "保存番茄时钟失败");
    EXPECT_EQ(U8(boxes[0].caption), "发生意外");
    EXPECT_EQ(boxes[0].flags, 0x10);
    // The counters and the category count ran (no box of theirs), and went with the rollback.
    EXPECT_TRUE(TomatoRows().empty());
    EXPECT_EQ(Rows(InfoRows()), kFirstStartRows);
    EXPECT_EQ(g_lastEnd, Now());
    EXPECT_TRUE(exitCodes.empty());
}

struct CounterFailureCase {
    const char* name;
    const char* refusedSubject;  // an update of this info row is refused
    bool good;
    std::vector<std::string> messages;
    friend void PrintTo(const CounterFailureCase& c, std::ostream* os) { *os << c.name; }
};

class CounterFailureTest : public StorageTest, public testing::WithParamInterface<CounterFailureCase> {};

TEST_P(CounterFailureTest, EachFailedStatementShowsItsMessageAndNothingOfTheRecordingStays) {
    const CounterFailureCase& c = GetParam();
    StartWithCategory();
    RecordGoodTomato();  // the category row exists from here on
    EndProcess();
    ExecSql(std::string("CREATE TRIGGER refuse BEFORE UPDATE ON info WHEN old.subject='") + c.refusedSubject +
            "' BEGIN SELECT RAISE(ABORT, 'refused'); END");
    StartWithCategory();
    const auto before = InfoRows();

    c.good ? RecordGoodTomato() : RecordBadTomato();

    EXPECT_EQ(BoxMessages(), c.messages);
    for (const ShownBox& box : boxes) {
        EXPECT_EQ(U8(box.caption), "发生意外");
        EXPECT_EQ(box.flags, 0x10);
    }
    // The other steps ran (the boxes show no failure of theirs) and went with the rollback.
    EXPECT_EQ(TomatoRows().size(), 1u);
    EXPECT_EQ(InfoRows(), before);
    EXPECT_EQ(g_lastEnd, Now());
    EXPECT_TRUE(exitCodes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Statements, CounterFailureTest,
    testing::Values(CounterFailureCase{"GoodCounter", "goodtomato", true, {"保存番茄时钟失败"}},
                    CounterFailureCase{"GoodPoints", "integral", true, {"保存番茄时钟失败"}},
                    CounterFailureCase{"BadCounter", "badtomato", false, {"保存番茄时钟失败"}},
                    CounterFailureCase{"BadPoints", "integral", false, {"保存积分时钟失败"}},
                    CounterFailureCase{"CategoryCount", "count_\xB9\xA4\xD7\xF7", true, {"保存配置失败"}}),
    [](const testing::TestParamInfo<CounterFailureCase>& info) { return std::string(info.param.name); });

TEST_F(StorageTest, AWriteLockHeldPastTheBusyTimeoutMakesEveryWriteFailVisibly) {
    app::SetBusyTimeoutForTest(100);
    StartWithCategory();
    RecordGoodTomato();
    const auto rowsBefore = InfoRows();

    {
        ExternalLock lock(DbPath(), ExternalLock::Mode::Immediate);
        ASSERT_TRUE(lock.Held());
        RecordGoodTomato();
        RecordBadTomato();
    }

    EXPECT_EQ(BoxMessages(), (std::vector<std::string>{"保存番茄时钟失败", "保存番茄时钟失败", "保存番茄时钟失败",
                                                       "保存配置失败", "保存番茄时钟失败", "保存番茄时钟失败",
                                                       "保存积分时钟失败"}));
    EXPECT_TRUE(exitCodes.empty());
    EXPECT_EQ(Sql("PRAGMA integrity_check"), (std::vector<SqlRow>{{"ok"}}));
    EXPECT_EQ(Rows(InfoRows()), Rows(rowsBefore));
    EXPECT_EQ(TomatoRows().size(), 1u);

    // With the lock gone the next tomato is recorded whole.
    ClearRecords();
    RecordGoodTomato();
    EXPECT_TRUE(boxes.empty()) << testing::PrintToString(BoxMessages());
    EXPECT_EQ(TomatoRows().size(), 2u);
    EXPECT_EQ(InfoValue("goodtomato"), "2");
    EXPECT_EQ(InfoValue(CountSubject("工作")), "2");
}

TEST_F(StorageTest, AnExclusiveLockWhileANewCategoryIsCountedEndsTheProgramAndKeepsTheFile) {
    app::SetBusyTimeoutForTest(100);
    StartWithCategory(3);  // 学习, never counted before
    const auto rowsBefore = InfoRows();
    {
        ExternalLock lock(DbPath(), ExternalLock::Mode::Exclusive);
        ASSERT_TRUE(lock.Held());
        RecordGoodTomato();
    }
    EXPECT_EQ(BoxMessages(), (std::vector<std::string>{"保存番茄时钟失败", "保存番茄时钟失败", "保存番茄时钟失败",
                                                       "数据库操作失败"}));
    EXPECT_EQ(exitCodes, std::vector<int>{0});
    EXPECT_TRUE(fs::exists(DbPath()));
    EXPECT_EQ(Sql("PRAGMA integrity_check"), (std::vector<SqlRow>{{"ok"}}));
    EXPECT_EQ(Rows(InfoRows()), Rows(rowsBefore));
    EXPECT_TRUE(TomatoRows().empty());
    EXPECT_EQ(g_lastEnd.days, 0.0) << "the steps after the ending failure do not run";
}

TEST_F(StorageTest, ALockGivenUpWithinTheBusyTimeoutIsWaitedForAtTheStartAndWhileRecording) {
    // Another connection holds the exclusive lock for 300 ms while the program does `what`.
    const auto whileLockedBriefly = [this](const std::function<void()>& what) {
        auto lock = std::make_unique<ExternalLock>(DbPath(), ExternalLock::Mode::Exclusive);
        ASSERT_TRUE(lock->Held());
        std::thread release([&lock] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            lock.reset();
        });
        what();
        release.join();
    };
    StartProgram();
    EndProcess();

    whileLockedBriefly([this] { StartProgram(); });
    EXPECT_TRUE(boxes.empty()) << testing::PrintToString(BoxMessages());
    EXPECT_TRUE(exitCodes.empty());
    EXPECT_EQ(Rows(InfoRows()), kFirstStartRows);
    EXPECT_TRUE(Comp("AlertSoundCheck").Checked()) << "the settings were read";

    Comp("CategoryCombo").SetCurrentIndex(1);
    whileLockedBriefly([] { RecordGoodTomato(); });
    EXPECT_TRUE(boxes.empty()) << testing::PrintToString(BoxMessages());
    EXPECT_EQ(TomatoRows().size(), 1u);
    EXPECT_EQ(InfoValue("goodtomato"), "1");
    EXPECT_EQ(InfoValue(CountSubject("工作")), "1");
}

TEST_F(StorageTest, ACommitThatFailsRollsBackAndSaysSo) {
    app::SetBusyTimeoutForTest(100);
    StartWithCategory();
    {
        // Every step succeeds, but the COMMIT cannot get past the other connection's reading.
        ExternalLock reader(DbPath(), ExternalLock::Mode::Read);
        ASSERT_TRUE(reader.Held());
        RecordGoodTomato();
    }
    EXPECT_EQ(BoxMessages(), std::vector<std::string>{"保存番茄时钟失败"});
    EXPECT_TRUE(TomatoRows().empty());
    EXPECT_EQ(Rows(InfoRows()), kFirstStartRows);
    EXPECT_FALSE(g_db->InTransaction());
    EXPECT_EQ(g_lastEnd, Now());
}

TEST_F(StorageTest, TheBoxesOfAFailedRecordingComeAfterItsTransactionHasEnded) {
    StartProgram();
    EndProcess();
    ExecSql("CREATE TRIGGER refuse BEFORE UPDATE ON info WHEN old.subject='integral' AND new.value='1' "
            "BEGIN SELECT RAISE(ABORT, 'refused'); END");
    StartWithCategory();
    bool lockable = false;
    std::size_t rowsWhileOpen = 99;
    // While the box is open (its nested loop runs ticks, handlers, other copies), the file is
    // free and holds none of the failed recording; another recording made meanwhile is kept.
    Answer(rt::kAnswerOk, [&] {
        lockable = ExternalLock(DbPath(), ExternalLock::Mode::Immediate).Held();
        rowsWhileOpen = TomatoRows().size();
        RecordBadTomato();
    });

    RecordGoodTomato();

    EXPECT_EQ(BoxMessages(), std::vector<std::string>{"保存番茄时钟失败"});
    EXPECT_TRUE(lockable);
    EXPECT_EQ(rowsWhileOpen, 0u);
    const std::vector<TomatoRow> rows = TomatoRows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].state, 2);
    EXPECT_EQ(InfoValue("badtomato"), "1");
    EXPECT_EQ(InfoValue("integral"), "-5");
    EXPECT_EQ(InfoValue("goodtomato"), "0");
    EXPECT_EQ(InfoValue(CountSubject("工作")), std::nullopt);
}

// --- another program's lock: one wait per operation -------------------------------------

// What the user does while another program (a database tool in the middle of a long write) holds
// the file's exclusive lock: nobody else can read or write it.
enum class Operation { Start, DayChange, NaturalEndAnsweredNo, Close };

struct HeldLockCase {
    const char* name;
    Operation operation;
    std::vector<std::string> boxes;
    std::vector<int> exitCodes;
    friend void PrintTo(const HeldLockCase& c, std::ostream* os) { *os << c.name; }
};

class HeldLockTest : public StorageTest, public testing::WithParamInterface<HeldLockCase> {};

TEST_P(HeldLockTest, EachOperationWaitsOneBusyTimeoutInAllAndFailsAsWithoutTheFile) {
    const HeldLockCase& c = GetParam();
    constexpr auto kTimeout = std::chrono::milliseconds(600);
    app::SetBusyTimeoutForTest(static_cast<int>(kTimeout.count()));
    StartWithCategory();
    RecordGoodTomato();
    if (c.operation == Operation::Start) EndProcess();
    if (c.operation == Operation::NaturalEndAnsweredNo) {
        Comp("StartButton").Click();
        AdvanceSeconds(25 * 60);
        Answer(rt::kAnswerNo);
    }
    ClearRecords();
    const std::string bytes = FileBytes(DbPath());

    std::chrono::steady_clock::duration waited{};
    {
        ExternalLock lock(DbPath(), ExternalLock::Mode::Exclusive);
        ASSERT_TRUE(lock.Held());
        const auto start = std::chrono::steady_clock::now();
        switch (c.operation) {
        case Operation::Start:
            StartProgram();
            break;
        case Operation::DayChange:
            AdvanceSeconds(24 * 3600);
            Comp("RazezuZivur").Tick();  // the chart and the statistics are counted anew
            break;
        case Operation::NaturalEndAnsweredNo:
            Comp("RazezuZivur").Tick();  // a bad tomato, then the chart and the statistics
            break;
        case Operation::Close:
            CloseProgram();
            break;
        }
        waited = std::chrono::steady_clock::now() - start;
    }

    EXPECT_EQ(BoxMessages(), c.boxes);
    for (const ShownBox& box : boxes) {
        if (box.flags == 0x10) {
            EXPECT_EQ(U8(box.caption), "发生意外");
        }
    }
    EXPECT_EQ(exitCodes, c.exitCodes);
    EXPECT_GE(waited, kTimeout) << "another copy's short lock is waited for";
    EXPECT_LT(waited, 2 * kTimeout + std::chrono::milliseconds(500)) << "one wait, not one per statement";
    EXPECT_EQ(FileBytes(DbPath()), bytes) << "nothing of the file changed";
}

INSTANTIATE_TEST_SUITE_P(
    Operations, HeldLockTest,
    testing::Values(
        // The start's cursors cannot be opened: as with a file that holds no database.
        HeldLockCase{"Start", Operation::Start, {"数据库操作失败"}, {0}},
        HeldLockCase{"DayChange", Operation::DayChange, {}, {}},
        HeldLockCase{"NaturalEndAnsweredNo",
                     Operation::NaturalEndAnsweredNo,
                     {"您是否正常完成了这个番茄鈡？", "保存番茄时钟失败", "保存番茄时钟失败", "保存积分时钟失败"},
                     {}},
        HeldLockCase{"Close",
                     Operation::Close,
                     {"保存配置失败", "保存配置失败", "保存配置失败", "保存配置失败", "保存配置失败", "保存配置失败"},
                     {0}}),
    [](const testing::TestParamInfo<HeldLockCase>& info) { return std::string(info.param.name); });

// --- failures at start -------------------------------------------------------------------

TEST_F(StorageTest, ADirectoryThatCannotBeWrittenEndsTheProgramAndLeavesNoFile) {
    // Even root cannot create a file below a regular file.
    const std::string blocker = Dir() + "/blocker";
    std::ofstream(blocker) << "a file, not a directory";
    UseProgramDirectory(blocker + "/program");

    StartProgram();

    ASSERT_EQ(boxes.size(), 1u) << testing::PrintToString(BoxMessages());
    EXPECT_EQ(U8(boxes[0].message), "数据库创建失败，请检查目录是否有写权限。");
    EXPECT_EQ(U8(boxes[0].caption), "出错！");
    EXPECT_EQ(boxes[0].flags, 0x10);
    EXPECT_EQ(exitCodes, std::vector<int>{0});
    EXPECT_FALSE(fs::exists(DbPath()));
    EXPECT_EQ(std::distance(fs::directory_iterator(Dir()), fs::directory_iterator()), 1) << "only the blocker";
}

// The names of the files (not folders) below a folder.
std::vector<std::string> FilesBelow(const fs::path& folder) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_directory()) files.push_back(entry.path().filename().string());
    }
    return files;
}

TEST_F(StorageTest, AProgramDirectoryAsLongAsTheFileSystemAllowsHoldsTheDatabase) {
    struct Case {
        const char* folder;
        const char* unit;
        std::size_t length;  // of the database's path, in the file system's bytes
    };
    const Case cases[] = {{"ascii", "a", 600}, {"ascii-longest", "a", PATH_MAX - 1},
                          {"chinese-longest", "番茄钟", PATH_MAX - 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        const fs::path folder =
            tomato_test::NestedFolder(fs::path(Dir()) / c.folder, c.unit, c.length, "db.razezuzivu");
        ASSERT_EQ((folder / "db.razezuzivu").string().size(), c.length);
        UseProgramDirectory(rt::GbkFromSystemName(folder.string()));
        ClearRecords();

        StartWithCategory();
        AdvanceSeconds(60);
        RecordGoodTomato();
        const rt::DateTime recorded = Now();
        RestartProgram();

        EXPECT_TRUE(boxes.empty()) << testing::PrintToString(BoxMessages());
        EXPECT_EQ(exitCodes, std::vector<int>{0}) << "only the close's";
        // created holds the text of the day number, to 15 digits.
        EXPECT_NEAR(g_lastEnd.days, recorded.days, 1e-9) << "the next start found the tomato";
        EXPECT_EQ(ReadInfoValue("goodtomato"), "1");
        EXPECT_EQ(ReadInfoValue(CountSubject("工作")), "1");
        EXPECT_EQ(FilesBelow(fs::path(Dir()) / c.folder), std::vector<std::string>{"db.razezuzivu"});
        EndProcess();
    }
}

TEST_F(StorageTest, AProgramDirectoryTooLongForItsDatabaseEndsTheProgramAndLeavesNoFileAnywhere) {
    // The folder itself can be named, the database in it cannot.
    const fs::path folder = tomato_test::NestedFolder(fs::path(Dir()), "a", PATH_MAX, "db.razezuzivu");
    UseProgramDirectory(rt::GbkFromSystemName(folder.string()));

    StartProgram();

    EXPECT_EQ(BoxMessages(), std::vector<std::string>{"数据库创建失败，请检查目录是否有写权限。"});
    EXPECT_EQ(exitCodes, std::vector<int>{0});
    EXPECT_TRUE(FilesBelow(Dir()).empty());
}

TEST_F(StorageTest, AFolderNameThatIsNotUtf8EndsTheProgramAndLeavesNoFileAnywhere) {
    // A Latin-1 name: a lossy spelling would create the file in "caf?" or "caf\uFFFD" instead.
    const std::string folder = Dir() + "/caf\xE9";
    fs::create_directory(folder);
    fs::create_directory(Dir() + "/caf?");
    fs::create_directory(Dir() + "/caf\xEF\xBF\xBD");
    UseProgramDirectory(rt::GbkFromSystemName(folder));

    StartProgram();

    ASSERT_EQ(boxes.size(), 1u) << testing::PrintToString(BoxMessages());
    EXPECT_EQ(U8(boxes[0].message), "数据库创建失败，请检查目录是否有写权限。");
    EXPECT_EQ(U8(boxes[0].caption), "出错！");
    EXPECT_EQ(exitCodes, std::vector<int>{0});
    for (const auto& entry : fs::recursive_directory_iterator(Dir())) {
        EXPECT_TRUE(entry.is_directory()) << "a file appeared: " << entry.path();
    }
}

TEST_F(StorageTest, AFileThatIsNotADatabaseEndsTheProgramAndStaysByteForByte) {
    std::string junk;
    for (int i = 0; i < 200; ++i) junk += "this is a memo, not a database file\n";
    std::ofstream(DbPath(), std::ios::binary) << junk;

    StartProgram();

    ASSERT_EQ(boxes.size(), 1u) << testing::PrintToString(BoxMessages());
    EXPECT_EQ(U8(boxes[0].message), "数据库操作失败");
    EXPECT_EQ(U8(boxes[0].caption), "发生意外");
    EXPECT_EQ(boxes[0].flags, 0x10);
    EXPECT_EQ(exitCodes, std::vector<int>{0});
    EXPECT_EQ(FileBytes(DbPath()), junk);
    EXPECT_EQ(std::distance(fs::directory_iterator(Dir()), fs::directory_iterator()), 1) << "no journal left";
}

TEST_F(StorageTest, AnExistingFileThatCannotBeOpenedEndsTheProgramUntouched) {
    fs::create_directory(DbPath());  // exists, but no database can be opened on it

    StartProgram();

    ASSERT_GE(boxes.size(), 1u);
    EXPECT_EQ(U8(boxes[0].message), "数据库打开失败。");
    EXPECT_EQ(U8(boxes[0].caption), "出错！");
    EXPECT_EQ(boxes[0].flags, 0x10);
    EXPECT_EQ(boxes.size(), 1u) << testing::PrintToString(BoxMessages());
    EXPECT_EQ(exitCodes, std::vector<int>{0});
    EXPECT_TRUE(fs::is_directory(DbPath()));
    EXPECT_TRUE(fs::is_empty(DbPath()));
}

TEST_F(StorageTest, ANameThatIsNotARegularFileEndsTheStartAndStaysAsItWas) {
    const fs::path elsewhere = fs::path(Dir()).parent_path() / (fs::path(Dir()).filename().string() + "-elsewhere");
    fs::create_directory(elsewhere);
    ASSERT_EQ(::mkfifo((elsewhere / "fifo").c_str(), 0644), 0);
    struct Case {
        const char* name;
        std::function<void(const std::string&)> make;
    };
    std::optional<tomato_test::UnixSocket> unixSocket;
    const Case cases[] = {
        {"fifo", [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0); }},
        {"socket",
         [&unixSocket](const std::string& path) {
             unixSocket.emplace(path);
             ASSERT_TRUE(unixSocket->Bound());
         }},
        {"link to a fifo", [&](const std::string& path) { fs::create_symlink(elsewhere / "fifo", path); }},
        {"link to a device", [](const std::string& path) { fs::create_symlink("/dev/null", path); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.make(DbPath());
        const fs::file_type type = fs::symlink_status(DbPath()).type();
        ClearRecords();
        tomato_test::FifoWatch watch({DbPath(), elsewhere / "fifo"});
        StartProgram();
        EXPECT_FALSE(watch.Stop()) << "a FIFO was opened";
        ASSERT_EQ(boxes.size(), 1u) << testing::PrintToString(BoxMessages());
        EXPECT_EQ(U8(boxes[0].message), "数据库打开失败。");
        EXPECT_EQ(U8(boxes[0].caption), "出错！");
        EXPECT_EQ(boxes[0].flags, 0x10);
        EXPECT_EQ(exitCodes, std::vector<int>{0});
        EXPECT_EQ(fs::symlink_status(DbPath()).type(), type) << "left as it was";
        EXPECT_EQ(std::distance(fs::directory_iterator(Dir()), fs::directory_iterator()), 1) << "nothing beside it";
        EXPECT_TRUE(fs::is_fifo(elsewhere / "fifo"));
        EndProcess();
        fs::remove(DbPath());
    }
    fs::remove_all(elsewhere);
}

TEST_F(StorageTest, AStartRemovesWhatABuildThatDiedLeftButNotTheFileOfACopyBuildingNow) {
    StartProgram();
    EndProcess();
    const auto rowsBefore = InfoRows();
    const auto write = [this](const std::string& name, const std::string& text) {
        std::ofstream(Dir() + "/" + name, std::ios::binary) << text;
    };
    // Left by runs that died while building.
    write("db.new-dead01", "half a database");
    write("db.new-dead01-journal", "its journal");
    write("db.new-gone02-journal", "a journal whose file was deleted");
    fs::create_hard_link(DbPath(), Dir() + "/db.new-named3");  // killed after the database got its name
    // Another copy building at this very moment.
    rt::HeldFile building;
    ASSERT_EQ(building.Create(Dir() + "/db.new-busy04"), rt::NewNameResult::Done);
    write("db.new-busy04-journal", "");
    // Not the program's building files.
    write("db.new-ABCDEF", "");
    write("db.new-abc", "");
    write("db.new-abc123.bak", "");
    ASSERT_EQ(::mkfifo((Dir() + "/db.new-fifo05").c_str(), 0644), 0);
    fs::create_symlink(DbPath(), Dir() + "/db.new-link06");

    StartProgram();

    EXPECT_TRUE(boxes.empty()) << testing::PrintToString(BoxMessages());
    EXPECT_EQ(tomato_test::FolderNames(Dir()),
              (std::set<std::string>{"db.razezuzivu", "db.new-busy04", "db.new-busy04-journal", "db.new-ABCDEF",
                                     "db.new-abc", "db.new-abc123.bak", "db.new-fifo05", "db.new-link06"}));
    EXPECT_EQ(fs::hard_link_count(DbPath()), 1u) << "the second name is gone, the database kept";
    EXPECT_EQ(Rows(InfoRows()), Rows(rowsBefore));
}

TEST_F(StorageTest, AnInfoRowThatCannotBeAddedLaterEndsTheProgramAndKeepsTheFile) {
    StartProgram();
    EndProcess();
    ExecSql("DELETE FROM info WHERE subject='showPBar'");
    ExecSql("CREATE TRIGGER refuse BEFORE INSERT ON info BEGIN SELECT RAISE(ABORT, 'refused'); END");
    const auto rowsBefore = InfoRows();

    StartProgram();

    ASSERT_EQ(boxes.size(), 1u) << testing::PrintToString(BoxMessages());
    EXPECT_EQ(U8(boxes[0].message), "数据库操作失败");
    EXPECT_EQ(U8(boxes[0].caption), "发生意外");
    EXPECT_EQ(exitCodes, std::vector<int>{0});
    EXPECT_EQ(Rows(InfoRows()), Rows(rowsBefore));
}

// A file size limit makes the writes of a table fail while the file itself can be created.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};

struct TableFailureCase {
    const char* name;
    rlim_t limit;  // bytes: a new file holds one page (4096) per table after page 1
    const char* message;
    friend void PrintTo(const TableFailureCase& c, std::ostream* os) { *os << c.name; }
};

class TableFailureTest : public StorageTest, public testing::WithParamInterface<TableFailureCase> {};

TEST_P(TableFailureTest, ATableThatCannotBeCreatedTakesTheNewFileWithIt) {
    const TableFailureCase& c = GetParam();
    {
        const FileSizeLimit limit(c.limit);
        StartProgram();
    }
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(U8(boxes[0].message), c.message);
    EXPECT_EQ(U8(boxes[0].caption), "出错！");
    EXPECT_EQ(boxes[0].flags, 0x10);
    EXPECT_EQ(boxes.size(), 1u) << testing::PrintToString(BoxMessages());
    EXPECT_EQ(exitCodes, std::vector<int>{0});
    EXPECT_TRUE(fs::is_empty(Dir())) << "neither the file nor a journal is left";
}

TEST_P(TableFailureTest, ASessionEndDuringItsBoxAlsoTakesTheNewFileWithIt) {
    const TableFailureCase& c = GetParam();
    bool emptyAtTheEnd = false;
    Answer(1, [&] {
        OnSessionEnd();
        emptyAtTheEnd = fs::is_empty(Dir());  // the process ends here
    });
    {
        const FileSizeLimit limit(c.limit);
        StartProgram();
    }
    ASSERT_FALSE(exitCodes.empty());
    EXPECT_EQ(exitCodes.front(), 0);
    EXPECT_TRUE(emptyAtTheEnd) << "neither the file nor a journal is left";
}

INSTANTIATE_TEST_SUITE_P(Tables, TableFailureTest,
                         testing::Values(TableFailureCase{"Tomato", 0, "数据库创建表tomato失败。"},
                                         TableFailureCase{"Info", 10000, "数据库创建表info失败。"}),
                         [](const testing::TestParamInfo<TableFailureCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace apptest

#include "app_fixture.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "globals.h"
#include "program.h"
#include "runtime/messagebox.h"
#include "runtime/program.h"
#include "runtime/sound.h"
#include "runtime/text.h"
#include "storage.h"

namespace apptest {

namespace {

// The runtime's application object lives for the whole test process.
void EnsureRuntime() {
    static const bool started = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static int argc = 1;
        static char name[] = "app_tests";
        static char* argv[] = {name, nullptr};
        return rt::StartRuntime(argc, argv);
    }();
    ASSERT_TRUE(started);
}

std::string Hex(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(value));
    return text;
}

// The globals as a new process has them (their definitions' initial values).
void ResetGlobals() {
    g_dbPath.clear();
    g_lastEnd = rt::DateTime();
    g_running = 0;
    g_start = rt::DateTime();
    g_tomatoMinutes = 25;
    g_barTop = 0;
    g_barLeft = 0;
    g_chartDate = rt::DateTime();
    g_maxPerDay = 0;
    g_last7Days = 0;
    g_avgPerDay = 0;
    g_firstActiveDay = rt::DateTime();
}

// Opens an existing file (a GBK path, as the program names it) read-write without ever creating
// it, so that inspecting a directory never leaves a database file behind.
sqlite3* OpenExisting(const std::string& path) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(OnDisk(path).c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    return db;
}

}  // namespace

std::string G(std::string_view utf8) {
    return rt::Gbk(utf8);
}

std::string U8(std::string_view gbk) {
    return rt::Utf8FromGbk(gbk);
}

std::string OnDisk(std::string_view gbkPath) {
    auto name = rt::SystemName(gbkPath);
    if (!name) {
        ADD_FAILURE() << "the file system cannot spell " << U8(gbkPath);
        return std::string();
    }
    return *name;
}

class AppFixture::RecordingPlayer : public rt::SoundPlayer {
public:
    explicit RecordingPlayer(AppFixture& fixture) : fixture_(fixture) {}
    bool Play(std::string_view wave, bool loop) override {
        fixture_.sounds.push_back({SoundCall::Kind::Play, wave.size(), loop});
        fixture_.timeline.push_back("play " + std::to_string(wave.size()) + (loop ? " loop" : " once"));
        return true;
    }
    void StopAll() override {
        fixture_.sounds.push_back({SoundCall::Kind::StopAll, 0, false});
        fixture_.timeline.push_back("stop");
    }

private:
    AppFixture& fixture_;
};

void AppFixture::SetUp() {
    EnsureRuntime();
    // The web view's page on a closed loopback port: no name lookup that could outlive the test.
    app::SetWebViewAddressForTest("http://127.0.0.1:9/soft/vizaruzuvov/i.php?1.2.2");
    std::string pattern = (std::filesystem::temp_directory_path() / "tomato-app-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    programDir_ = dir_;
    SetNow(2026, 3, 9, 10, 0, 0);

    rt::SetClock([this] { return now_; });
    rt::SetMessageBoxHook([this](const std::string& message, int flags, const std::string& caption) {
        boxes.push_back({message, flags, caption});
        timeline.push_back("box " + U8(caption) + "|" + U8(message) + "|" + Hex(flags));
        if (answers_.empty()) return (flags & 0x0F) == rt::kMbYesNo ? rt::kAnswerNo : rt::kAnswerOk;
        ScriptedAnswer answer = std::move(answers_.front());
        answers_.pop_front();
        if (answer.whileOpen) answer.whileOpen();
        return answer.result;
    });
    player_ = new RecordingPlayer(*this);
    rt::SetSoundPlayer(player_);
    rt::SetRunProgramHook([this](const std::string& commandLine) {
        programsRun.push_back(commandLine);
        timeline.push_back("run " + U8(commandLine));
        return true;
    });
    rt::SetShellOpenHook([this](const std::string& address) {
        addressesOpened.push_back(address);
        timeline.push_back("open " + U8(address));
        return true;
    });
    rt::SetEndProgramHook([this](int exitCode) {
        exitCodes.push_back(exitCode);
        timeline.push_back("exit " + std::to_string(exitCode));
    });
}

void AppFixture::TearDown() {
    if (started_) EndProcess();
    app::SetDatabaseDirectoryForTest(std::string());
    app::SetBusyTimeoutForTest(0);
    app::SetWebViewAddressForTest(std::string());
    rt::SetEndProgramHook({});
    rt::SetShellOpenHook({});
    rt::SetRunProgramHook({});
    rt::SetSoundPlayer(nullptr);
    delete player_;
    player_ = nullptr;
    rt::SetMessageBoxHook({});
    rt::SetClock({});
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

std::string AppFixture::DbPath() const {
    return app::DatabasePathIn(programDir_);
}

void AppFixture::UseProgramDirectory(std::string directory) {
    programDir_ = std::move(directory);
    realProgramDirectory_ = false;
}

void AppFixture::UseRealProgramDirectory() {
    programDir_ = rt::ProgramDirectory();
    realProgramDirectory_ = true;
}

void AppFixture::StartProgram() {
    ASSERT_FALSE(started_) << "the previous run has not ended";
    ResetGlobals();
    app::SetDatabaseDirectoryForTest(realProgramDirectory_ ? std::string() : programDir_);
    InitGlobals();
    started_ = true;
    app::DefineProgramWindows();
    rt::LoadWindow("MainWindow");
}

bool AppFixture::CloseProgram() {
    rt::Window* window = rt::FindWindow("MainWindow");
    if (window == nullptr) {
        ADD_FAILURE() << "MainWindow is not open";
        return false;
    }
    return window->RequestClose();
}

void AppFixture::EndProcess() {
    if (!started_) return;
    rt::DestroyAllWindows();
    FreeGlobals();
    started_ = false;
}

void AppFixture::RestartProgram() {
    CloseProgram();
    EndProcess();
    StartProgram();
}

void AppFixture::SetNow(int year, int month, int day, int hour, int minute, int second) {
    now_ = rt::MakeDateTime(year, month, day, hour, minute, second);
}

void AppFixture::AdvanceSeconds(std::int64_t seconds) {
    // Whole seconds, rounded back to the second as rt::Now() would give them.
    const double days = now_.days + static_cast<double>(seconds) / 86400.0;
    now_ = rt::DateTime(std::round(days * 86400.0) / 86400.0);
}

void AppFixture::Answer(int result, std::function<void()> whileOpen) {
    answers_.push_back({result, std::move(whileOpen)});
}

std::vector<std::string> AppFixture::BoxMessages() const {
    std::vector<std::string> messages;
    for (const ShownBox& box : boxes) messages.push_back(U8(box.message));
    return messages;
}

void AppFixture::ClearRecords() {
    boxes.clear();
    sounds.clear();
    programsRun.clear();
    addressesOpened.clear();
    exitCodes.clear();
    timeline.clear();
}

rt::Component& AppFixture::Comp(std::string_view name) const {
    rt::Component* component = rt::FindComponent("MainWindow", name);
    if (component == nullptr) {
        // Thrown into the test body, which GoogleTest reports as a failure of that test.
        throw std::runtime_error("MainWindow has no open component " + std::string(name));
    }
    return *component;
}

std::vector<SqlRow> AppFixture::Sql(const std::string& sql) const {
    std::vector<SqlRow> rows;
    sqlite3* db = OpenExisting(DbPath());
    if (db == nullptr) {
        ADD_FAILURE() << "cannot open " << DbPath();
        return rows;
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sqlite3_errmsg(db) << " in " << sql;
    } else {
        int rc;
        while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
            SqlRow row;
            for (int c = 0; c < sqlite3_column_count(statement); ++c) {
                if (sqlite3_column_type(statement, c) == SQLITE_NULL) {
                    row.emplace_back();
                } else {
                    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, c));
                    row.emplace_back(std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, c))));
                }
            }
            rows.push_back(std::move(row));
        }
        if (rc != SQLITE_DONE) ADD_FAILURE() << sqlite3_errmsg(db) << " in " << sql;
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

void AppFixture::ExecSql(const std::string& sql) const {
    sqlite3* db = OpenExisting(DbPath());
    ASSERT_NE(db, nullptr) << "cannot open " << DbPath();
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    EXPECT_EQ(rc, SQLITE_OK) << (error != nullptr ? error : "") << " in " << sql;
    sqlite3_free(error);
    sqlite3_close(db);
}

std::vector<InfoRow> AppFixture::InfoRows() const {
    std::vector<InfoRow> rows;
    for (const SqlRow& row : Sql("SELECT id, subject, value FROM info ORDER BY id")) {
        rows.push_back({std::stoll(row[0].value_or("0")), row[1].value_or(""), row[2]});
    }
    return rows;
}

std::optional<std::string> AppFixture::InfoValue(std::string_view subject) const {
    for (const InfoRow& row : InfoRows()) {
        if (row.subject == subject) return row.value;
    }
    return std::nullopt;
}

std::vector<TomatoRow> AppFixture::TomatoRows() const {
    std::vector<TomatoRow> rows;
    const auto number = [](const std::optional<std::string>& cell) {
        return cell ? std::stoll(*cell) : 0LL;
    };
    for (const SqlRow& row : Sql("SELECT id, created, CAST(created AS REAL), classname, title, year, month, day, "
                                 "state, net IS NULL FROM tomato ORDER BY id")) {
        TomatoRow tomato;
        tomato.id = number(row[0]);
        tomato.created = row[1];
        tomato.createdDays = row[2] ? std::stod(*row[2]) : 0.0;
        tomato.classname = row[3];
        tomato.title = row[4];
        tomato.year = number(row[5]);
        tomato.month = number(row[6]);
        tomato.day = number(row[7]);
        tomato.state = number(row[8]);
        tomato.netIsNull = number(row[9]) != 0;
        rows.push_back(std::move(tomato));
    }
    return rows;
}

void AppFixture::AddTomatoRow(rt::DateTime when, int state, std::string_view categoryUtf8) const {
    sqlite3* db = OpenExisting(DbPath());
    ASSERT_NE(db, nullptr) << "cannot open " << DbPath();
    sqlite3_stmt* statement = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db,
                                 "INSERT INTO tomato(classname,title,year,month,day,created,state) "
                                 "VALUES(?,'',?,?,?,?,?)",
                                 -1, &statement, nullptr),
              SQLITE_OK);
    const std::string category = G(categoryUtf8);
    sqlite3_bind_text(statement, 1, category.data(), static_cast<int>(category.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int(statement, 2, rt::YearOf(when));
    sqlite3_bind_int(statement, 3, rt::MonthOf(when));
    sqlite3_bind_int(statement, 4, rt::DayOf(when));
    sqlite3_bind_double(statement, 5, when.days);
    sqlite3_bind_int(statement, 6, state);
    EXPECT_EQ(sqlite3_step(statement), SQLITE_DONE) << sqlite3_errmsg(db);
    sqlite3_finalize(statement);
    sqlite3_close(db);
}

std::string AppFixture::FileBytes(const std::string& path) const {
    std::ifstream file(OnDisk(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

ExternalLock::ExternalLock(const std::string& path, Mode mode) {
    db_ = OpenExisting(path);
    if (db_ == nullptr) return;
    const char* begin = mode == Mode::Read        ? "BEGIN; SELECT count(*) FROM sqlite_master"
                        : mode == Mode::Immediate ? "BEGIN IMMEDIATE"
                                                  : "BEGIN EXCLUSIVE";
    held_ = sqlite3_exec(db_, begin, nullptr, nullptr, nullptr) == SQLITE_OK;
}

ExternalLock::~ExternalLock() {
    if (held_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db_);
}

}  // namespace apptest

#include "storage.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "building_file.h"
#include "globals.h"
#include "recorddb/sqlite_db.h"
#include "recorddb/sqlite_table.h"
#include "runtime/datetime.h"
#include "runtime/files.h"
#include "runtime/messagebox.h"
#include "runtime/program.h"
#include "runtime/text.h"
#include "runtime/window.h"

namespace {

std::string g_databaseDirectoryForTest;
int g_busyTimeoutForTest = 0;

// How long a database operation waits for a lock that another copy of the program holds.
constexpr int kBusyTimeoutMs = 5000;

// An error box with one OK button; message and caption are UTF-8 fixed texts.
void ShowErrorBox(std::string_view message, std::string_view caption) {
    rt::ShowMessageBox(rt::Gbk(message), rt::kMbIconError, rt::Gbk(caption));
}

// Ends the program after a failure while the file is being built: the unfinished file goes with
// the closed database (CloseDatabase). It is this copy's own file under its building name, never
// the database's name, which another copy of the program may hold.
void EndWithUnfinishedFile() {
    CloseDatabase();
    rt::EndProgram(0);
}

constexpr std::string_view kCreateFailed = "数据库创建失败，请检查目录是否有写权限。";

// Gives the finished file the database's name, unless another copy of the program gave its own
// file that name first: then that file is the database and ours goes. The connection is closed
// first, since SQLite names the journal after the name a database was opened under. Leaves g_db
// open on the database and g_infoTable on its info table, as CreateDatabase returns; false when
// a failure has ended the program.
bool PublishDatabase() {
    g_infoTable->Close();
    g_db->Close();
    if (app::PublishBuildingFile(g_dbPath) == rt::NewNameResult::Failed) {
        ShowErrorBox(kCreateFailed, "出错！");
        rt::EndProgram(0);
        return false;
    }
    if (!g_db->Open(g_dbPath, false)) {
        ShowErrorBox("数据库打开失败。", "出错！");
        rt::EndProgram(0);
        return false;
    }
    g_infoTable->Open("info", *g_db);
    return true;
}

// The folder of the database file.
std::string DatabaseFolder() {
    return g_dbPath.substr(0, g_dbPath.rfind('/'));
}

// The condition that selects the info row of a subject.
std::string SubjectCondition(std::string_view subject) {
    return "subject='" + app::SqlStringBody(subject) + "'";
}

// The text of the current item of CategoryCombo; empty when there is none (or no main window).
std::string CurrentCategoryText() {
    const rt::Component* combo = rt::FindComponent("MainWindow", "CategoryCombo");
    if (combo == nullptr) return {};
    return rt::ComboItemText(*combo, combo->CurrentIndex());
}

struct TomatoKind {
    std::int32_t state;
    const char* counterStatement;
    const char* pointsStatement;
    std::string_view pointsMessage;  // UTF-8
    bool countsCategory;
};

constexpr std::string_view kSaveTomatoFailed = "保存番茄时钟失败";
constexpr std::string_view kUnexpected = "发生意外";

const TomatoKind kGoodTomato{1, "update info set value=value+1 where subject='goodtomato'",
                             "update info set value=value+1 where subject='integral'", kSaveTomatoFailed, true};
const TomatoKind kBadTomato{2, "update info set value=value+1 where subject='badtomato'",
                            "update info set value=value-5 where subject='integral'", "保存积分时钟失败", false};

// One recording (a tomato with its counters, a category count, or a missing setting's row) is one
// transaction, so that the file holds all of it or none of it. BEGIN IMMEDIATE takes the write
// lock at once (waiting the busy timeout for another copy of the program), so that no step meets
// that copy's lock halfway.
// The error boxes of failed steps wait until the transaction has ended: a box runs a nested event
// loop, in which timer ticks, the close handler or the other copy must not find the database
// locked by a transaction that waits for the user.
class Recording;
Recording* g_recording = nullptr;

class Recording {
public:
    // commitFailed: the box shown when everything ran but the COMMIT failed.
    explicit Recording(std::string_view commitFailed)
        : began_(g_db->Execute("BEGIN IMMEDIATE")), commitFailed_(commitFailed) {
        g_recording = this;
        // Rows another copy added since the info cursor was loaded are found from here on.
        if (began_) g_infoTable->Open("info", *g_db);
    }
    ~Recording() { End(); }
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    // A step writes only inside the transaction: never in autocommit, after a BEGIN that failed or
    // when SQLite has ended the transaction itself after an error.
    bool CanWrite() const { return began_ && g_db->InTransaction(); }

    // Runs one write step; when it fails or cannot run, its box waits for the end.
    template <typename Step>
    void Write(Step step, std::string_view message) {
        if (!(CanWrite() && step())) Failed(message);
    }
    void Failed(std::string_view message) {
        failed_ = true;
        boxes_.push_back(message);
    }

    // COMMIT when every step succeeded, ROLLBACK otherwise; then the boxes in their order.
    void End() {
        if (ended_) return;
        ended_ = true;
        g_recording = nullptr;
        if (began_ && !failed_ && !g_db->Execute("COMMIT")) Failed(commitFailed_);
        if (began_ && failed_) {
            if (g_db->InTransaction()) g_db->Execute("ROLLBACK");
            // The cursors' rowids may name rows that went with the rollback.
            g_tomatoTable->Open("tomato", *g_db);
            g_infoTable->Open("info", *g_db);
        }
        for (std::string_view message : boxes_) ShowErrorBox(message, kUnexpected);
    }
    // After End: true when everything it wrote is in the file.
    bool Committed() const { return ended_ && began_ && !failed_; }
    // Ends the recording without its remaining steps, rolling back what it wrote.
    void Abandon() {
        failed_ = true;
        End();
    }

private:
    const bool began_;
    const std::string_view commitFailed_;
    bool failed_ = false;
    bool ended_ = false;
    std::vector<std::string_view> boxes_;
};

// The steps shared by the good and the bad recording. The moment of recording is read once, so
// that the date columns, created and g_lastEnd always name the same second (also at midnight).
void RecordTomato(const TomatoKind& kind) {
    const rt::DateTime now = rt::Now();
    Recording recording(kSaveTomatoFailed);

    g_tomatoTable->AddNew();
    g_tomatoTable->WriteField("classname", CurrentCategoryText());
    g_tomatoTable->WriteField("title", std::string());
    g_tomatoTable->WriteField("year", static_cast<std::int32_t>(rt::YearOf(now)));
    g_tomatoTable->WriteField("month", static_cast<std::int32_t>(rt::MonthOf(now)));
    g_tomatoTable->WriteField("day", static_cast<std::int32_t>(rt::DayOf(now)));
    g_tomatoTable->WriteField("created", now);
    g_tomatoTable->WriteField("state", kind.state);
    recording.Write([] { return g_tomatoTable->Update(); }, kSaveTomatoFailed);

    recording.Write([&kind] { return g_db->Execute(kind.counterStatement); }, kSaveTomatoFailed);
    recording.Write([&kind] { return g_db->Execute(kind.pointsStatement); }, kind.pointsMessage);

    if (kind.countsCategory && !IncrementCategoryCount(CurrentCategoryText())) return;

    recording.End();
    g_lastEnd = now;
}

}  // namespace

namespace app {

std::string SqlStringBody(std::string_view text) {
    std::string body;
    body.reserve(text.size());
    for (char c : text) {
        body += c;
        if (c == '\'') body += '\'';
    }
    return body;
}

std::string DatabasePathIn(std::string_view directory) {
    return std::string(directory) + "/db.razezuzivu";
}

void SetDatabaseDirectoryForTest(std::string directory) {
    g_databaseDirectoryForTest = std::move(directory);
}

void SetBusyTimeoutForTest(int milliseconds) {
    g_busyTimeoutForTest = milliseconds;
}

}  // namespace app

bool OpenDatabase() {
    const std::string directory =
        g_databaseDirectoryForTest.empty() ? rt::ProgramDirectory() : g_databaseDirectoryForTest;
    g_dbPath = app::DatabasePathIn(directory);
    g_db->SetBusyTimeout(g_busyTimeoutForTest > 0 ? g_busyTimeoutForTest : kBusyTimeoutMs);
    if (directory.empty()) {
        // The program's directory could not be told: no file may be made anywhere else.
        ShowErrorBox(kCreateFailed, "出错！");
        rt::EndProgram(0);
        return false;
    }
    // Before the database is opened: removing them opens none of its names.
    app::RemoveLeftBuildingFiles(directory, g_dbPath);
    if (!rt::FileExists(g_dbPath)) {
        if (!CreateDatabase()) return false;
    } else if (!g_db->Open(g_dbPath, false)) {
        ShowErrorBox("数据库打开失败。", "出错！");
        rt::EndProgram(0);
        return false;
    }
    g_tomatoTable->Open("tomato", *g_db);
    g_infoTable->Open("info", *g_db);
    LoadLastRazezuZivu();
    return true;
}

bool CreateDatabase() {
    const std::array<SqliteFieldInfo, 9> tomatoFields{{
        {"id", -1, 0},
        {"created", 8, 0},
        {"classname", 10, 512},
        {"title", 10, 0},
        {"year", 3, 0},
        {"month", 3, 0},
        {"day", 3, 0},
        {"state", 3, 0},
        {"net", 3, 0},
    }};
    const std::array<SqliteFieldInfo, 3> infoFields{{
        {"id", -1, 0},
        {"subject", 10, 50},
        {"value", 10, 255},
    }};

    // Built under a name of its own (building_file.h) and given the database's name when complete
    // (PublishDatabase); the failures below delete only this copy's own file.
    if (!app::CreateBuildingFile(DatabaseFolder())) {
        ShowErrorBox(kCreateFailed, "出错！");
        rt::EndProgram(0);
        return false;
    }
    if (!g_db->Open(app::BuildingPath(), true)) {
        ShowErrorBox(kCreateFailed, "出错！");
        app::DeleteBuildingFile();
        rt::EndProgram(0);
        return false;
    }

    if (!g_db->CreateTable("tomato", tomatoFields)) {
        ShowErrorBox("数据库创建表tomato失败。", "出错！");
        EndWithUnfinishedFile();
        return false;
    }
    if (!g_db->CreateTable("info", infoFields)) {
        ShowErrorBox("数据库创建表info失败。", "出错！");
        EndWithUnfinishedFile();
        return false;
    }
    g_infoTable->Open("info", *g_db);

    static const std::array<std::pair<const char*, const char*>, 6> kInitialRows{{
        {"db_ver", "1.0"},
        {"integral", "0"},
        {"goodtomato", "0"},
        {"badtomato", "0"},
        {"alertwave", "1"},
        {"clickListToStart", "0"},
    }};
    for (const auto& [subject, value] : kInitialRows) {
        if (!InsertInfoRow(subject, value)) return false;
    }
    return PublishDatabase();
}

void LoadLastRazezuZivu() {
    g_tomatoTable->MoveLast();
    g_lastEnd = g_tomatoTable->ReadDateTime("created");
}

void CloseDatabase() {
    g_tomatoTable->Close();
    g_infoTable->Close();
    g_db->Close();
    // Closed while a new file is still being built (the session ends during one of its error
    // boxes): the unfinished file goes, as it would after the box.
    app::DeleteBuildingFile();
}

std::string ReadInfoValue(const std::string& subject, bool* programEnded) {
    if (programEnded != nullptr) *programEnded = false;
    const std::string condition = SubjectCondition(subject);
    g_infoTable->MoveFirst();
    if (g_infoTable->Find(condition)) return g_infoTable->ReadText("value");

    // Missing. A second copy of the program, started at the same moment on a new file, may be
    // adding the same subject: the second look and the insert hold the write lock together, so
    // that each subject keeps one row.
    Recording adding("数据库操作失败");
    if (adding.CanWrite()) {
        g_infoTable->MoveFirst();
        if (g_infoTable->Find(condition)) {
            std::string value = g_infoTable->ReadText("value");
            adding.End();
            return value;
        }
    }
    bool ended = !InsertInfoRow(subject, "0");
    if (!ended) {
        adding.End();
        if (!adding.Committed()) {
            // The row is not in the file after all: as any row that cannot be saved.
            rt::EndProgram(0);
            ended = true;
        }
    }
    if (ended && programEnded != nullptr) *programEnded = true;
    return {};
}

bool InsertInfoRow(const std::string& subject, const std::string& value) {
    g_infoTable->AddNew();
    g_infoTable->WriteField("subject", subject);
    g_infoTable->WriteField("value", value);
    Recording* recording = g_recording;
    if ((recording == nullptr || recording->CanWrite()) && g_infoTable->Update()) return true;

    // Within a recording, what it wrote so far goes with it, and its boxes come first.
    if (recording != nullptr) recording->Abandon();
    ShowErrorBox("数据库操作失败", kUnexpected);
    if (!app::BuildingPath().empty()) {
        EndWithUnfinishedFile();
    } else {
        rt::EndProgram(0);
    }
    return false;
}

void RecordGoodTomato() {
    RecordTomato(kGoodTomato);
}

void RecordBadTomato() {
    RecordTomato(kBadTomato);
}

bool IncrementCategoryCount(const std::string& category) {
    // Part of the tomato's recording, or a recording of its own when called alone.
    std::optional<Recording> own;
    if (g_recording == nullptr) own.emplace("保存配置失败");
    Recording& recording = *g_recording;

    g_infoTable->MoveFirst();
    const std::string subject = "count_" + category;
    std::string newValue = "1";
    if (g_infoTable->Find(SubjectCondition(subject))) {
        // Added in 64 bits, so that a count at the 32-bit limit does not wrap.
        const std::int64_t count = rt::ToInteger(g_infoTable->ReadText("value"));
        newValue = rt::ToText(count + 1);
    } else if (!InsertInfoRow(subject, newValue)) {
        return false;
    }
    const std::string statement = "update info set value='" + app::SqlStringBody(newValue) +
                                  "' where subject='" + app::SqlStringBody(subject) + "'";
    recording.Write([&statement] { return g_db->Execute(statement); }, "保存配置失败");
    if (own) own->End();
    return true;
}

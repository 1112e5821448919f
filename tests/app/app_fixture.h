#pragma once
// The program under test, one "process" at a time, in a temporary program directory, with every
// seam of the runtime set: the clock pinned, message boxes answered from a script and recorded,
// sounds, started programs, shell opens and the end of the program recorded.
//
// A test starts the program with StartProgram() (the globals as a new process has them, the three
// database objects constructed by InitGlobals, both windows defined and MainWindow loaded
// offscreen, so its created handler opens the database); CloseProgram() asks the main window to
// close, EndProcess() ends the "process" as rt::EndProgram would, RestartProgram() does both and
// starts anew on the same directory.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/datetime.h"
#include "runtime/window.h"

struct sqlite3;

namespace apptest {

// UTF-8 source text to the GBK bytes the program uses, and back (for messages in test output).
std::string G(std::string_view utf8);
std::string U8(std::string_view gbk);
// A GBK path as the file system spells it; fails the test when it cannot be spelled.
std::string OnDisk(std::string_view gbkPath);

// A message box as the program showed it; message and caption are GBK.
struct ShownBox {
    std::string message;
    int flags = 0;
    std::string caption;
};

struct SoundCall {
    enum class Kind { Play, StopAll };
    Kind kind = Kind::Play;
    std::size_t bytes = 0;  // size of the wave handed to Play
    bool loop = false;
};

// Sizes of the two embedded waves, to tell the sounds apart in SoundCall::bytes.
constexpr std::size_t kTickWaveBytes = 142380;
constexpr std::size_t kAlertWaveBytes = 354160;

// One result row of Sql(): each cell a text, or nullopt for NULL.
using SqlRow = std::vector<std::optional<std::string>>;

struct InfoRow {
    std::int64_t id = 0;
    std::string subject;               // GBK
    std::optional<std::string> value;  // GBK; nullopt for NULL
    friend bool operator==(const InfoRow&, const InfoRow&) = default;
};

struct TomatoRow {
    std::int64_t id = 0;
    std::optional<std::string> created;  // as stored (SQLite's text of the day number)
    double createdDays = 0;              // the same read back as a double
    std::optional<std::string> classname;
    std::optional<std::string> title;
    std::int64_t year = 0, month = 0, day = 0, state = 0;
    bool netIsNull = false;
};

class AppFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // --- program directory and database file ---------------------------------------------
    // Paths here are GBK, as the program names files; OnDisk() spells them for the file system.
    // The temporary program directory, removed after the test (ASCII: both spellings agree).
    const std::string& Dir() const { return dir_; }
    // The database file in the directory the program uses.
    std::string DbPath() const;
    // Makes the program use another directory (for instance one that cannot be written); call
    // before StartProgram.
    void UseProgramDirectory(std::string directory);
    // Makes the program find its directory itself, as the real program does: the directory of the
    // test executable. The test removes what it leaves there.
    void UseRealProgramDirectory();

    // --- the run ---------------------------------------------------------------------------
    // A new process: globals at their initial values, InitGlobals, windows defined, MainWindow
    // loaded (its created handler runs). Only the boxes, sounds and calls from here on count if
    // the test clears the records; nothing is cleared by a start.
    void StartProgram();
    // Asks MainWindow to close, as the user's close button does; the query-close handler's result.
    bool CloseProgram();
    // The process ends: every window destroyed and FreeGlobals run (as rt::EndProgram does).
    void EndProcess();
    // CloseProgram, EndProcess, StartProgram on the same directory.
    void RestartProgram();
    bool Started() const { return started_; }

    // --- clock -----------------------------------------------------------------------------
    // What rt::Now() answers; whole seconds. Starts at 9 March 2026 10:00:00.
    void SetNow(rt::DateTime now) { now_ = now; }
    void SetNow(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
    void AdvanceSeconds(std::int64_t seconds);
    rt::DateTime Now() const { return now_; }

    // --- message boxes ---------------------------------------------------------------------
    // The answer to the next box not yet answered (5 Yes, 6 No, 1 OK), optionally with what the
    // user does while the box is open (ticks, clicks), run before the answer is given. Boxes
    // without a scripted answer get 1 (OK) for boxes without Yes/No, 6 (No) for questions.
    void Answer(int result, std::function<void()> whileOpen = {});
    // Every box shown, in order.
    std::vector<ShownBox> boxes;
    // Captions or messages in UTF-8, for compact expectations.
    std::vector<std::string> BoxMessages() const;

    // --- recorded calls --------------------------------------------------------------------
    std::vector<SoundCall> sounds;
    std::vector<std::string> programsRun;      // command lines handed to rt::RunProgram
    std::vector<std::string> addressesOpened;  // addresses handed to rt::ShellOpen
    std::vector<int> exitCodes;                // codes handed to rt::EndProgram
    // Every box, sound, started program and end in order, as short UTF-8 lines:
    // "box <caption>|<message>|0x<flags>", "play <bytes> loop|once", "stop", "run <command line>",
    // "open <address>", "exit <code>".
    std::vector<std::string> timeline;
    // Forgets every recorded box, sound, call and exit code.
    void ClearRecords();

    // --- components ------------------------------------------------------------------------
    // A component of MainWindow; a missing one fails the test (by an exception into its body).
    rt::Component& Comp(std::string_view name) const;

    // --- the database file, through a connection of the test's own -------------------------
    std::vector<SqlRow> Sql(const std::string& sql) const;
    // Executes SQL on the file; fails the test when SQLite refuses it.
    void ExecSql(const std::string& sql) const;
    std::vector<InfoRow> InfoRows() const;
    // The value of the first row of a subject (GBK); nullopt when there is none or it is NULL.
    std::optional<std::string> InfoValue(std::string_view subject) const;
    std::vector<TomatoRow> TomatoRows() const;
    // Adds a tomato row as the program would have recorded it at the moment `when`.
    void AddTomatoRow(rt::DateTime when, int state, std::string_view categoryUtf8 = "工作") const;
    // The file's bytes; empty when it does not exist.
    std::string FileBytes(const std::string& path) const;

private:
    std::string dir_;
    std::string programDir_;
    bool realProgramDirectory_ = false;
    rt::DateTime now_;
    struct ScriptedAnswer {
        int result;
        std::function<void()> whileOpen;
    };
    std::deque<ScriptedAnswer> answers_;
    bool started_ = false;
    class RecordingPlayer;
    RecordingPlayer* player_ = nullptr;
};

// A second connection that holds a lock on a database file while it lives, as a second program
// instance in the middle of its work would: Read, a read transaction (others may write but not
// commit); Immediate, BEGIN IMMEDIATE (others may still read); Exclusive, BEGIN EXCLUSIVE (others
// can neither read nor write).
class ExternalLock {
public:
    enum class Mode { Read, Immediate, Exclusive };
    ExternalLock(const std::string& path, Mode mode);
    ~ExternalLock();
    ExternalLock(const ExternalLock&) = delete;
    ExternalLock& operator=(const ExternalLock&) = delete;
    bool Held() const { return held_; }

private:
    sqlite3* db_ = nullptr;
    bool held_ = false;
};

}  // namespace apptest

#pragma once
// The database object: owns at most one SQLite connection; opens or creates a database, executes
// SQL, starts queries and creates tables from field definitions.

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "recorddb/sqlite_dataset.h"

struct sqlite3;

// One column for SqliteDB::CreateTable. The name goes into the SQL unchanged; an empty name marks
// an item to skip. The length counts only for the text codes and only when above 0.
struct SqliteFieldInfo {
    std::string name;
    std::int32_t type = 0;
    std::int32_t length = 0;
};

class SqliteDB {
public:
    SqliteDB() = default;
    ~SqliteDB();

    SqliteDB(const SqliteDB&) = delete;
    SqliteDB& operator=(const SqliteDB&) = delete;

    // Closes any open connection first. An empty path or ":memory:" in any letter case asks for an
    // in-memory database, which needs create. Without create a regular file (or a symbolic link to
    // one) that can be read must already exist; anything else of that name (a folder, a FIFO, a
    // socket, a device) is refused without being opened. The path is GBK like every text; one the
    // file system cannot spell is refused. Paths up to what the file system takes (below PATH_MAX
    // bytes) can be opened.
    bool Open(const std::string& path = std::string(), bool create = false);
    // False only when SQLite reports the connection busy (a dataset not closed); the object counts
    // as closed afterwards in every case.
    bool Close();
    // Runs SQL text; true when SQLite executed it without error.
    bool Execute(const std::string& sql);
    // A new dataset for SQL text, prepared but not run; inert when closed, empty or not preparable.
    SqliteDataset Query(std::string_view sql);
    // CREATE TABLE from one definition or an array of them; true when the table was created.
    bool CreateTable(std::string_view table, const SqliteFieldInfo& field);
    bool CreateTable(std::string_view table, std::span<const SqliteFieldInfo> fields);

    // How long a statement waits for a lock that another connection holds before it fails, and
    // within a SqliteOperation how long all of its statements wait together: for the open
    // connection and every later one. 0 (the default) fails at once.
    void SetBusyTimeout(int milliseconds);
    // True while a transaction begun with BEGIN is open; SQLite ends one itself after some errors.
    bool InTransaction() const;

    bool IsOpen() const { return connection_ != nullptr; }
    // The connection that table cursors and datasets borrow; null while closed.
    sqlite3* Connection() const { return connection_; }

private:
    void InstallBusyHandler();
    static int OnBusy(void* self, int attempt);
    // Sleeps a little and gives true while the running statement may wait on for the lock.
    bool WaitForLock(int attempt);

    sqlite3* connection_ = nullptr;
    int busyTimeoutMs_ = 0;
    // What the running statement has waited, outside every operation.
    std::chrono::steady_clock::duration statementWaited_{};
};

#pragma once
// The database object: owns at most one SQLite connection; opens or creates a database, executes
// SQL, starts queries and creates tables from field definitions.

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
    // in-memory database, which needs create. Without create a file must already exist. The path
    // is GBK like every text; one the file system cannot spell is refused. Paths up to what the
    // file system takes (below PATH_MAX bytes) can be opened.
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

    // How long an operation waits for a lock that another connection holds before it fails: for
    // the open connection and every later one. 0 (the default) fails at once.
    void SetBusyTimeout(int milliseconds);
    // True while a transaction begun with BEGIN is open; SQLite ends one itself after some errors.
    bool InTransaction() const;

    bool IsOpen() const { return connection_ != nullptr; }
    // The connection that table cursors and datasets borrow; null while closed.
    sqlite3* Connection() const { return connection_; }

private:
    sqlite3* connection_ = nullptr;
    int busyTimeoutMs_ = 0;
};

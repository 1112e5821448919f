#pragma once
// A table cursor: the column names and a snapshot of the rowids of one table, a 1-based position
// in that snapshot, field reads by rowid, and records added one at a time as one INSERT each.
// Field values are never cached: every read is a fresh SELECT by rowid.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "recorddb/field_ref.h"
#include "recorddb/field_value.h"
#include "runtime/datetime.h"

struct sqlite3;
class SqliteDB;

class SqliteTable {
public:
    enum class State : std::int32_t { Closed = 0, Open = 1, Adding = 2 };

    // The longest table name a cursor takes is one byte less than this.
    static constexpr std::size_t kTableNameArea = 1024;

    SqliteTable();
    ~SqliteTable();

    SqliteTable(const SqliteTable&) = delete;
    SqliteTable& operator=(const SqliteTable&) = delete;

    // Opens the cursor on a table of an open database, before the first record. An empty or too
    // long name, or a closed database, gives false and leaves the cursor as it was; any other
    // failure (a missing table) leaves it closed.
    bool Open(std::string_view table, const SqliteDB& db);
    // Releases everything and forgets the connection; always true.
    bool Close();

    // Move to record 1 or to the last record; false (position before the first or after the last
    // record) when there is no such record.
    bool MoveFirst();
    bool MoveLast();
    // Moves to the first record, at or after the current one, for which the SQL condition holds.
    bool Find(std::string_view condition);

    // One field of the current record, by name (any ASCII letter case) or 1-based number. A failed
    // read gives the empty text, 0 or the date-time 0, and sets *ok to false.
    std::string ReadText(const FieldArg& field, bool* ok = nullptr);
    std::int32_t ReadInt(const FieldArg& field, bool* ok = nullptr);
    rt::DateTime ReadDateTime(const FieldArg& field, bool* ok = nullptr);

    // Starts a new record with every field unset.
    bool AddNew();
    // Sets the pending value of one field; false for no such field or a value that cannot be stored.
    bool WriteField(const FieldArg& field, const FieldArg& value);
    // Saves the record as one INSERT of exactly the fields written, then reloads the names and
    // rowids. On failure the cursor stays adding with its pending values, ready to try again.
    bool Update();

    State GetState() const { return state_; }
    std::int32_t Position() const { return position_; }
    std::int32_t RecordCount() const { return recordCount_; }
    std::int32_t ColumnCount() const { return columnCount_; }

private:
    struct RowidTableDeleter {
        void operator()(char** table) const;
    };

    bool IsOpen() const;
    bool Load();
    void CreatePendingValues();
    bool MoveTo(std::int32_t n);
    const char* CurrentRowid() const;
    std::int32_t ColumnNumberOf(const FieldArg& field) const;
    bool ReadField(const FieldArg& field, ColumnKind kind, ColumnValue& value);

    std::int32_t position_ = 0;
    std::int32_t recordCount_ = 0;
    std::int32_t columnCount_ = 0;
    std::string tableName_;
    // The table's column names in table order; a name SQLite could not give is absent.
    std::vector<std::optional<std::string>> columnNames_;
    // The result of the rowid query as SQLite gives it: entry 0 the header, entry n record n.
    std::unique_ptr<char*[], RowidTableDeleter> rowids_;
    State state_ = State::Closed;
    sqlite3* connection_ = nullptr;  // borrowed from the SqliteDB
    // One slot per column while a record can be written; absent otherwise.
    std::optional<std::vector<FieldValue>> pending_;
};

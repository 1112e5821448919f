#pragma once
// A query result: one prepared statement made by SqliteDB::Query, run to count its rows and read
// as a table of texts. A dataset without a connection or a statement is inert.

#include <cstdint>
#include <optional>

#include "recorddb/text_table.h"

struct sqlite3;
struct sqlite3_stmt;

class SqliteDataset {
public:
    // An inert dataset; only SqliteDB::Query makes usable ones.
    SqliteDataset() = default;
    ~SqliteDataset();

    SqliteDataset(SqliteDataset&& other) noexcept;
    SqliteDataset& operator=(SqliteDataset&& other) noexcept;
    SqliteDataset(const SqliteDataset&) = delete;
    SqliteDataset& operator=(const SqliteDataset&) = delete;

    // Steps the statement through all its rows from a reset and counts them, leaving it reset.
    // True when it ran to its end or yielded at least one row; an inert dataset gives false.
    bool Run();
    // Finalizes the statement and makes the dataset inert; false when finalize reported an error.
    bool Close();
    // Rows counted by the last Run; 0 before the first Run and after Close.
    std::int32_t RowCount() const { return rowCount_.value_or(0); }
    // Every row as texts (NULL as the empty text), the column names first when header is set.
    // Empty when the last Run counted no rows. Rows beyond that count are added to the table.
    TextTable ReadAll(bool header = false);

    // True while the dataset holds a connection and a statement.
    bool IsUsable() const { return connection_ != nullptr && statement_ != nullptr; }

private:
    friend class SqliteDB;
    SqliteDataset(sqlite3* connection, sqlite3_stmt* statement) : connection_(connection), statement_(statement) {}

    // The counting pass of Run on a usable dataset: reset, step to the end, reset.
    bool Count();

    sqlite3* connection_ = nullptr;      // borrowed from the SqliteDB
    sqlite3_stmt* statement_ = nullptr;  // owned; finalized by Close
    std::optional<std::int32_t> rowCount_;
};

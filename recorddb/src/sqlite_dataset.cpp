#include "recorddb/sqlite_dataset.h"

#include <sqlite3.h>

#include <limits>
#include <utility>

SqliteDataset::~SqliteDataset() {
    Close();
}

SqliteDataset::SqliteDataset(SqliteDataset&& other) noexcept
    : connection_(std::exchange(other.connection_, nullptr)),
      statement_(std::exchange(other.statement_, nullptr)),
      rowCount_(std::exchange(other.rowCount_, std::nullopt)) {}

SqliteDataset& SqliteDataset::operator=(SqliteDataset&& other) noexcept {
    if (this != &other) {
        Close();
        connection_ = std::exchange(other.connection_, nullptr);
        statement_ = std::exchange(other.statement_, nullptr);
        rowCount_ = std::exchange(other.rowCount_, std::nullopt);
    }
    return *this;
}

bool SqliteDataset::Count() {
    sqlite3_reset(statement_);
    std::int32_t rows = 0;
    bool ok = false;
    int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW) {
        // Rows are only stepped over, never read: counting costs no more than stepping.
        rows = 1;
        while (sqlite3_step(statement_) == SQLITE_ROW) {
            if (rows < std::numeric_limits<std::int32_t>::max()) ++rows;
        }
        ok = true;
    } else {
        ok = rc == SQLITE_DONE;
    }
    sqlite3_reset(statement_);
    rowCount_ = rows;
    return ok;
}

bool SqliteDataset::Run() {
    if (!IsUsable()) return false;
    return Count();
}

bool SqliteDataset::Close() {
    if (!IsUsable()) return true;
    const int rc = sqlite3_finalize(statement_);
    statement_ = nullptr;
    connection_ = nullptr;
    rowCount_.reset();
    return rc == SQLITE_OK;
}

TextTable SqliteDataset::ReadAll(bool header) {
    if (!IsUsable()) return TextTable();
    const std::int32_t counted = RowCount();
    if (counted == 0) return TextTable();
    const int columns = sqlite3_column_count(statement_);
    const int first = header ? 1 : 0;
    const int rows = counted < std::numeric_limits<std::int32_t>::max() ? counted + first : counted;
    TextTable table(rows, columns);
    if (header) {
        for (int c = 0; c < columns; ++c) {
            const char* name = sqlite3_column_name(statement_, c);
            table.SetCell(0, c, name != nullptr ? name : "");
        }
    }
    if (!Count()) return TextTable();
    int row = first;
    while (sqlite3_step(statement_) == SQLITE_ROW) {
        // The data may have grown since the count that sized the table: the table grows with it.
        if (row >= table.Rows()) table.AddRow();
        for (int c = 0; c < columns; ++c) {
            const unsigned char* text = sqlite3_column_text(statement_, c);
            table.SetCell(row, c, text != nullptr ? reinterpret_cast<const char*>(text) : "");
        }
        ++row;
    }
    Count();
    return table;
}

#include "recorddb/sqlite_table.h"

#include <sqlite3.h>

#include <cstring>
#include <utility>

#include "recorddb/sqlite_db.h"
#include "recorddb/text_builder.h"

namespace {

// Owns a prepared statement for the length of one cursor operation.
class Statement {
public:
    // Prepares sql on connection with the legacy interface; check Ok() before use.
    Statement(sqlite3* connection, const char* sql) {
        if (sqlite3_prepare(connection, sql, -1, &statement_, nullptr) != SQLITE_OK) statement_ = nullptr;
    }
    ~Statement() {
        if (statement_ != nullptr) sqlite3_finalize(statement_);
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool Ok() const { return statement_ != nullptr; }
    sqlite3_stmt* get() const { return statement_; }

private:
    sqlite3_stmt* statement_ = nullptr;
};

// Something to bind an empty blob to: a null pointer would bind SQL NULL instead.
const unsigned char kNoBytes[1] = {0};

}  // namespace

void SqliteTable::RowidTableDeleter::operator()(char** table) const {
    sqlite3_free_table(table);
}

SqliteTable::SqliteTable() = default;

SqliteTable::~SqliteTable() {
    Close();
}

bool SqliteTable::IsOpen() const {
    return state_ != State::Closed && connection_ != nullptr;
}

bool SqliteTable::Load() {
    columnNames_.clear();
    rowids_.reset();
    pending_.reset();
    if (connection_ == nullptr || tableName_.empty()) return false;

    TextBuilder sql;
    columnCount_ = 0;
    if (sql.Format("SELECT * FROM %s LIMIT 0", tableName_.c_str())) {
        Statement names(connection_, sql.Text());
        if (names.Ok()) {
            const int rc = sqlite3_step(names.get());
            if (rc == SQLITE_ROW || rc == SQLITE_DONE) {
                columnCount_ = sqlite3_column_count(names.get());
                columnNames_.reserve(static_cast<std::size_t>(columnCount_));
                for (int c = 0; c < columnCount_; ++c) {
                    const char* name = sqlite3_column_name(names.get(), c);
                    columnNames_.push_back(name != nullptr ? std::optional<std::string>(name) : std::nullopt);
                }
            }
        }
    }

    if (!sql.Format("SELECT _ROWID_ FROM %s ORDER BY _ROWID_ ", tableName_.c_str())) return false;
    char** result = nullptr;
    int rows = 0;
    int columns = 0;
    if (sqlite3_get_table(connection_, sql.Text(), &result, &rows, &columns, nullptr) != SQLITE_OK) {
        sqlite3_free_table(result);
        return false;
    }
    rowids_.reset(result);
    recordCount_ = rows;
    return true;
}

void SqliteTable::CreatePendingValues() {
    if (columnCount_ > 0) {
        pending_.emplace(static_cast<std::size_t>(columnCount_));
    } else {
        pending_.reset();
    }
}

bool SqliteTable::Open(std::string_view table, const SqliteDB& db) {
    if (table.empty() || table.size() >= kTableNameArea || !db.IsOpen()) return false;
    Close();
    tableName_.assign(table);
    connection_ = db.Connection();
    state_ = State::Open;
    if (!Load()) {
        Close();
        return false;
    }
    CreatePendingValues();
    return true;
}

bool SqliteTable::Close() {
    columnNames_.clear();
    rowids_.reset();
    pending_.reset();
    position_ = 0;
    recordCount_ = 0;
    columnCount_ = 0;
    tableName_.clear();
    state_ = State::Closed;
    connection_ = nullptr;
    return true;
}

bool SqliteTable::MoveTo(std::int32_t n) {
    if (!IsOpen()) return false;
    if (n <= 0) {
        position_ = 0;
        return false;
    }
    if (n > recordCount_) {
        position_ = recordCount_ + 1;
        return false;
    }
    position_ = n;
    return true;
}

bool SqliteTable::MoveFirst() {
    return MoveTo(1);
}

bool SqliteTable::MoveLast() {
    return MoveTo(recordCount_);
}

const char* SqliteTable::CurrentRowid() const {
    if (!rowids_ || position_ < 1 || position_ > recordCount_) return nullptr;
    return rowids_[static_cast<std::size_t>(position_)];
}

bool SqliteTable::Find(std::string_view condition) {
    if (!IsOpen() || condition.empty()) return false;
    const char* start = nullptr;
    if (position_ >= 1 && position_ <= recordCount_) {
        start = CurrentRowid();
        if (start == nullptr) return false;
    } else if (position_ < 1) {
        start = "0";
    } else {
        return false;
    }

    TextBuilder sql;
    if (!sql.Format("SELECT _ROWID_ FROM %s WHERE (%.*s) AND (_ROWID_>=%s) ", tableName_.c_str(),
                    static_cast<int>(condition.size()), condition.data(), start)) {
        return false;
    }
    Statement find(connection_, sql.Text());
    if (!find.Ok() || sqlite3_step(find.get()) != SQLITE_ROW) return false;
    const unsigned char* found = sqlite3_column_text(find.get(), 0);
    if (found == nullptr || !rowids_) return false;
    for (std::int32_t n = 1; n <= recordCount_; ++n) {
        const char* rowid = rowids_[static_cast<std::size_t>(n)];
        if (rowid != nullptr && std::strcmp(rowid, reinterpret_cast<const char*>(found)) == 0) {
            position_ = n;
            return true;
        }
    }
    return false;
}

std::int32_t SqliteTable::ColumnNumberOf(const FieldArg& field) const {
    const FieldRef ref = ResolveFieldRef(field);
    if (ref.IsNumber()) return ref.number;
    if (!ref.IsName()) return 0;
    for (std::size_t i = 0; i < columnNames_.size(); ++i) {
        if (columnNames_[i] && CompareFieldNames(*columnNames_[i], ref.name) == 0) {
            return static_cast<std::int32_t>(i + 1);
        }
    }
    return 0;
}

bool SqliteTable::ReadField(const FieldArg& field, ColumnKind kind, ColumnValue& value) {
    const std::int32_t column = ColumnNumberOf(field);
    if (column < 1 || !IsOpen() || column > columnCount_) return false;
    const char* rowid = CurrentRowid();
    if (rowid == nullptr) return false;
    const auto& name = columnNames_[static_cast<std::size_t>(column - 1)];
    if (!name) return false;

    TextBuilder sql;
    if (!sql.Format("SELECT %s FROM %s WHERE _ROWID_ = %s ", name->c_str(), tableName_.c_str(), rowid)) return false;
    Statement read(connection_, sql.Text());
    if (!read.Ok() || sqlite3_step(read.get()) != SQLITE_ROW) return false;
    return ReadColumnValue(read.get(), 0, kind, value);
}

std::string SqliteTable::ReadText(const FieldArg& field, bool* ok) {
    if (ok != nullptr) *ok = false;
    ColumnValue value;
    const bool read = ReadField(field, ColumnKind::Text, value);
    if (ok != nullptr) *ok = read;
    return read ? std::move(value.text) : std::string();
}

std::int32_t SqliteTable::ReadInt(const FieldArg& field, bool* ok) {
    if (ok != nullptr) *ok = false;
    ColumnValue value;
    const bool read = ReadField(field, ColumnKind::Int32, value);
    if (ok != nullptr) *ok = read;
    return read ? value.integer : 0;
}

rt::DateTime SqliteTable::ReadDateTime(const FieldArg& field, bool* ok) {
    if (ok != nullptr) *ok = false;
    ColumnValue value;
    const bool read = ReadField(field, ColumnKind::DateTime, value);
    if (ok != nullptr) *ok = read;
    return read ? value.dateTime : rt::DateTime();
}

bool SqliteTable::AddNew() {
    if (!IsOpen()) return false;
    if (!pending_) {
        CreatePendingValues();
    } else {
        for (FieldValue& slot : *pending_) slot = FieldValue();
    }
    state_ = State::Adding;
    return true;
}

bool SqliteTable::WriteField(const FieldArg& field, const FieldArg& value) {
    const std::int32_t column = ColumnNumberOf(field);
    if (column < 1 || !IsOpen() || column > columnCount_ || !pending_) return false;
    // The slot's old copy goes first; a refused value leaves the field unset.
    FieldValue& slot = (*pending_)[static_cast<std::size_t>(column - 1)];
    slot = FieldValue();
    std::optional<FieldValue> stored = FieldValue::From(value);
    if (!stored) return false;
    slot = std::move(*stored);
    return true;
}

bool SqliteTable::Update() {
    if (!IsOpen() || state_ != State::Adding || columnCount_ <= 0 || !pending_) return false;

    TextBuilder columns;
    TextBuilder marks;
    bool any = false;
    for (std::int32_t c = 0; c < columnCount_; ++c) {
        const auto& name = columnNames_[static_cast<std::size_t>(c)];
        if ((*pending_)[static_cast<std::size_t>(c)].kind() == FieldValue::Unset || !name) continue;
        if (!columns.AppendFormat("%s,", name->c_str()) || !marks.AppendFormat("?,")) return false;
        any = true;
    }
    if (!any) return false;

    // Both lists end in a comma, which the statement leaves out.
    TextBuilder sql;
    if (!sql.Format("INSERT INTO %s(%.*s) VALUES(%.*s)", tableName_.c_str(), columns.TextLength() - 1, columns.Text(),
                    marks.TextLength() - 1, marks.Text())) {
        return false;
    }
    Statement insert(connection_, sql.Text());
    if (!insert.Ok()) return false;

    // Parameters follow the column list: the written fields whose names are known, in table order.
    int parameter = 0;
    for (std::int32_t c = 0; c < columnCount_; ++c) {
        const FieldValue& slot = (*pending_)[static_cast<std::size_t>(c)];
        if (!columnNames_[static_cast<std::size_t>(c)]) continue;
        switch (slot.kind()) {
        case FieldValue::Unset:
            break;
        case FieldValue::Int32:
            sqlite3_bind_int(insert.get(), ++parameter, slot.int32());
            break;
        case FieldValue::Int64:
            sqlite3_bind_int64(insert.get(), ++parameter, slot.int64());
            break;
        case FieldValue::Double:
            sqlite3_bind_double(insert.get(), ++parameter, slot.real());
            break;
        case FieldValue::Text:
            sqlite3_bind_text(insert.get(), ++parameter, slot.text().data(), static_cast<int>(slot.text().size()),
                              SQLITE_TRANSIENT);
            break;
        case FieldValue::Bytes: {
            const rt::ByteSet& bytes = slot.bytes();
            sqlite3_bind_blob(insert.get(), ++parameter, bytes.empty() ? kNoBytes : bytes.data(),
                              static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
            break;
        }
        }
    }

    if (sqlite3_step(insert.get()) != SQLITE_DONE) return false;
    state_ = State::Open;
    Load();  // drops the pending values; a failed reload leaves no rowid list but the save stands
    return true;
}

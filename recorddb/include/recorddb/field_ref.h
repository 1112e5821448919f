#pragma once
// How a table cursor names and reads fields: comparing two field names, turning a caller's field
// argument into a name or a column number, and turning a result column into a typed value.

#include <cstdint>
#include <string>
#include <string_view>

#include "recorddb/field_value.h"
#include "runtime/datetime.h"

struct sqlite3_stmt;

// The outcome of ResolveFieldRef: a field name (non-empty, number -1), a 1-based column number
// (no name), or invalid (no name; the number -1 or the number below 1 that the caller gave).
struct FieldRef {
    std::string name;
    std::int32_t number = -1;

    bool IsName() const { return !name.empty(); }
    bool IsNumber() const { return name.empty() && number >= 1; }
    bool IsValid() const { return IsName() || IsNumber(); }
};

// 0 when the names are equal with ASCII letters folded to capitals (double-byte GBK characters
// compared byte for byte), -1 when the first sorts before the second, 1 otherwise.
int CompareFieldNames(std::string_view first, std::string_view second);

// A non-empty text names a field; an integer or a real (truncated toward zero, low 32 bits) of 1 or
// more numbers a column; everything else (the empty text, bool, date-time, binary data, nothing)
// is invalid.
FieldRef ResolveFieldRef(const FieldArg& field);

enum class ColumnKind { Text, Int32, DateTime };

// The value ReadColumnValue read: only the member of the wanted kind is set.
struct ColumnValue {
    std::string text;
    std::int32_t integer = 0;
    rt::DateTime dateTime;
};

// Reads column `column` (0-based) of a statement standing on a row as the wanted kind; a NULL reads
// as the empty text or 0. False without a statement, for a negative column or an unknown kind.
bool ReadColumnValue(sqlite3_stmt* statement, int column, ColumnKind kind, ColumnValue& value);

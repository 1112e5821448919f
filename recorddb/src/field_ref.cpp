#include "recorddb/field_ref.h"

#include <sqlite3.h>

#include <cmath>

#include "recorddb/text_builder.h"

int CompareFieldNames(std::string_view first, std::string_view second) {
    if ((first.data() == second.data() && first.size() == second.size()) || (first.empty() && second.empty())) {
        return 0;
    }
    TextBuilder a(first);
    TextBuilder b(second);
    a.UpperAscii();
    b.UpperAscii();
    const unsigned char* p = reinterpret_cast<const unsigned char*>(a.Text());
    const unsigned char* q = reinterpret_cast<const unsigned char*>(b.Text());
    for (;; ++p, ++q) {
        if (*p != *q) return *p < *q ? -1 : 1;
        if (*p == '\0') return 0;
    }
}

namespace {

// The low 32 bits of a real truncated toward zero, as a signed 32-bit integer; 0 for NaN and
// infinities, which have no integer part.
std::int32_t LowBitsOfReal(double value) {
    if (!std::isfinite(value)) return 0;
    double m = std::fmod(std::trunc(value), 4294967296.0);
    if (m < 0) m += 4294967296.0;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(m));
}

}  // namespace

FieldRef ResolveFieldRef(const FieldArg& field) {
    FieldRef ref;
    switch (field.kind()) {
    case FieldArg::Kind::Text:
        ref.name = field.text();
        return ref;
    case FieldArg::Kind::Int8:
    case FieldArg::Kind::Int16:
    case FieldArg::Kind::Int32:
    case FieldArg::Kind::Int64:
        ref.number = static_cast<std::int32_t>(static_cast<std::uint32_t>(field.integer()));
        return ref;
    case FieldArg::Kind::Float:
    case FieldArg::Kind::Double:
        ref.number = LowBitsOfReal(field.real());
        return ref;
    default:
        return ref;
    }
}

bool ReadColumnValue(sqlite3_stmt* statement, int column, ColumnKind kind, ColumnValue& value) {
    if (statement == nullptr || column < 0) return false;
    switch (kind) {
    case ColumnKind::Text: {
        const unsigned char* text = sqlite3_column_text(statement, column);
        value.text.assign(text != nullptr ? reinterpret_cast<const char*>(text) : "");
        return true;
    }
    case ColumnKind::Int32:
        value.integer = sqlite3_column_int(statement, column);
        return true;
    case ColumnKind::DateTime:
        value.dateTime = rt::DateTime(sqlite3_column_double(statement, column));
        return true;
    }
    return false;
}

#include "recorddb/field_value.h"

std::optional<FieldValue> FieldValue::From(const FieldArg& value) {
    FieldValue v;
    switch (value.kind()) {
    case FieldArg::Kind::Bool:
    case FieldArg::Kind::Int8:
    case FieldArg::Kind::Int16:
    case FieldArg::Kind::Int32:
        v.value_.emplace<1>(static_cast<std::int32_t>(value.integer()));
        return v;
    case FieldArg::Kind::Int64:
        v.value_.emplace<2>(value.integer());
        return v;
    case FieldArg::Kind::Float:
    case FieldArg::Kind::Double:
    case FieldArg::Kind::DateTime:
        v.value_.emplace<3>(value.real());
        return v;
    case FieldArg::Kind::Text:
        v.value_.emplace<4>(value.text());
        return v;
    case FieldArg::Kind::Bytes:
        v.value_.emplace<5>(value.bytes());
        return v;
    case FieldArg::Kind::Nothing:
    case FieldArg::Kind::NoText:
        break;
    }
    return std::nullopt;
}

const std::string& FieldValue::text() const {
    static const std::string empty;
    return kind() == Text ? std::get<4>(value_) : empty;
}

const rt::ByteSet& FieldValue::bytes() const {
    static const rt::ByteSet empty;
    return kind() == Bytes ? std::get<5>(value_) : empty;
}

#pragma once
// The values that callers hand to a table cursor: FieldArg, an argument "of any type" that names a
// field (by name or by number) or carries a value to write, and FieldValue, the typed value that a
// cursor keeps for one field of a record being added.

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "runtime/byteset.h"
#include "runtime/datetime.h"

// A tagged argument built implicitly from a text, a bool, an integer of 8 to 64 bits, a float, a
// double, a date-time, binary data or nothing; it keeps the kind the caller gave, so that a bool or
// a date-time is never taken for a number where the layer treats them differently.
class FieldArg {
public:
    enum class Kind { Nothing, NoText, Text, Bool, Int8, Int16, Int32, Int64, Float, Double, DateTime, Bytes };

    FieldArg() = default;
    FieldArg(std::nullptr_t) {}
    FieldArg(std::monostate) {}
    // A null pointer is a text that is no data at all (kind NoText), not the empty text.
    FieldArg(const char* text) : kind_(text != nullptr ? Kind::Text : Kind::NoText) {
        if (text != nullptr) text_ = text;
    }
    FieldArg(std::string text) : kind_(Kind::Text), text_(std::move(text)) {}
    FieldArg(std::string_view text) : kind_(Kind::Text), text_(text) {}
    FieldArg(float value) : kind_(Kind::Float), real_(value) {}
    FieldArg(double value) : kind_(Kind::Double), real_(value) {}
    FieldArg(rt::DateTime value) : kind_(Kind::DateTime), real_(value.days) {}
    FieldArg(rt::ByteSet bytes) : kind_(Kind::Bytes), bytes_(std::move(bytes)) {}

    // Integers by their width; an unsigned 32-bit value is kept whole as a 64-bit integer.
    template <std::integral T>
    FieldArg(T value) : integer_(static_cast<std::int64_t>(value)) {
        if constexpr (std::is_same_v<T, bool>) {
            kind_ = Kind::Bool;
        } else if constexpr (sizeof(T) == 1) {
            kind_ = Kind::Int8;
        } else if constexpr (sizeof(T) == 2) {
            kind_ = Kind::Int16;
        } else if constexpr (sizeof(T) == 4 && std::is_signed_v<T>) {
            kind_ = Kind::Int32;
        } else {
            kind_ = Kind::Int64;
        }
    }

    Kind kind() const { return kind_; }
    // The integer of Bool (0 or 1) and of the integer kinds.
    std::int64_t integer() const { return integer_; }
    // The value of Float, Double, and the day number of DateTime.
    double real() const { return real_; }
    const std::string& text() const { return text_; }
    const rt::ByteSet& bytes() const { return bytes_; }

private:
    Kind kind_ = Kind::Nothing;
    std::int64_t integer_ = 0;
    double real_ = 0.0;
    std::string text_;
    rt::ByteSet bytes_;
};

// The value of one field of a record being added: unset, a 32-bit or 64-bit integer, a double, a
// text or binary data. It owns its text or byte copy and holds at most one copy at a time.
class FieldValue {
public:
    enum Kind : std::int32_t { Unset = 0, Int32 = 1, Int64 = 2, Double = 3, Text = 4, Bytes = 5 };

    FieldValue() = default;

    // Built implicitly from anything a FieldArg is built from; a value that cannot be stored (nothing,
    // or a text that is no data at all) gives an unset value.
    template <typename T>
        requires(!std::is_same_v<std::remove_cvref_t<T>, FieldValue> && std::is_constructible_v<FieldArg, T>)
    FieldValue(T&& value) : FieldValue(From(FieldArg(std::forward<T>(value))).value_or(FieldValue())) {}

    // The stored form of a written value: bool, byte, short and 32-bit integers as Int32, 64-bit
    // integers as Int64, float, double and date-time as Double, texts and binary data as copies;
    // nothing for a value that cannot be stored.
    static std::optional<FieldValue> From(const FieldArg& value);

    Kind kind() const { return static_cast<Kind>(value_.index()); }
    std::int32_t int32() const { return kind() == Int32 ? std::get<1>(value_) : 0; }
    std::int64_t int64() const { return kind() == Int64 ? std::get<2>(value_) : 0; }
    double real() const { return kind() == Double ? std::get<3>(value_) : 0.0; }
    const std::string& text() const;
    const rt::ByteSet& bytes() const;

private:
    std::variant<std::monostate, std::int32_t, std::int64_t, double, std::string, rt::ByteSet> value_;
};

#include "runtime/text.h"

#include <iconv.h>
#include <locale.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>

namespace rt {
namespace {

// A byte of 0x80 or above begins a double-byte character; the byte after it belongs to it.
bool IsLeadByte(unsigned char c) { return c >= 0x80; }

// The byte count of the character starting at i (1, or 2 for a lead byte that has a trail byte).
std::size_t CharWidth(std::string_view text, std::size_t i) {
    return (IsLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) ? 2 : 1;
}

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// One converter per call: iconv_t is stateful and must not be shared between threads.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

// What a conversion gave: the text converted so far, and whether that is all of the input.
struct Conversion {
    std::string text;
    bool complete = true;
};

// Converts in. Every invalid or incomplete input sequence is replaced by `replacement`; without
// one, the conversion stops there. It also stops at an error iconv does not describe, keeping
// what it converted before.
Conversion Convert(const char* to, const char* from, std::string_view in,
                   std::optional<std::string_view> replacement) {
    Conversion result;
    if (in.empty()) return result;
    Converter conv(to, from);
    if (!conv.ok()) {
        // No converter installed: ASCII means the same on both sides, anything else cannot pass.
        const bool ascii = std::all_of(in.begin(), in.end(), [](char c) { return (c & 0x80) == 0; });
        if (ascii || replacement) {
            result.text = std::string(in);
        } else {
            result.complete = false;
        }
        return result;
    }
    std::string& out = result.text;
    out.resize(in.size() * 2 + 16);
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    std::size_t used = 0;
    while (srcLeft > 0) {
        char* dst = out.data() + used;
        std::size_t dstLeft = out.size() - used;
        std::size_t r = iconv(conv.get(), &src, &srcLeft, &dst, &dstLeft);
        used = out.size() - dstLeft;
        if (r != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
        } else if ((errno == EILSEQ || errno == EINVAL) && replacement) {
            out.resize(used);
            out.append(*replacement);
            used = out.size();
            ++src;
            --srcLeft;
            out.resize(used + srcLeft * 2 + 16);
        } else {
            result.complete = false;
            break;
        }
    }
    out.resize(used);
    return result;
}

// For texts shown or stored, where some text beats none: what could be converted.
std::string ConvertReplacing(const char* to, const char* from, std::string_view in,
                             std::string_view replacement) {
    return Convert(to, from, in, replacement).text;
}

// Marks a byte of a system name that is not UTF-8. GBK has no such byte, so the mark never
// converts back and the name can never reach the system as some other name.
constexpr char kNotGbk = '\xFF';

// Full-width ASCII (0xA3 0xA1..0xFE) and the full-width space (0xA1 0xA1) as their ASCII bytes.
std::string FoldFullWidth(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        std::size_t w = CharWidth(text, i);
        if (w == 2) {
            auto lead = static_cast<unsigned char>(text[i]);
            auto trail = static_cast<unsigned char>(text[i + 1]);
            if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE) {
                out += static_cast<char>(trail - 0x80);
            } else if (lead == 0xA1 && trail == 0xA1) {
                out += ' ';
            } else {
                out.append(text.substr(i, 2));
            }
        } else {
            out += text[i];
        }
        i += w;
    }
    return out;
}

template <char (*Fold)(char)>
std::string FoldAscii(std::string_view text) {
    std::string out(text);
    for (std::size_t i = 0; i < out.size();) {
        std::size_t w = CharWidth(out, i);
        if (w == 1) out[i] = Fold(out[i]);
        i += w;
    }
    return out;
}

}  // namespace

std::string Gbk(std::string_view utf8) { return ConvertReplacing("GB18030", "UTF-8", utf8, "?"); }

std::string Utf8FromGbk(std::string_view gbk) { return ConvertReplacing("UTF-8", "GB18030", gbk, "\xEF\xBF\xBD"); }

std::optional<std::string> SystemName(std::string_view gbk) {
    // A NUL would end the name early at the system call, naming another file.
    if (gbk.find('\0') != std::string_view::npos) return std::nullopt;
    Conversion name = Convert("UTF-8", "GB18030", gbk, std::nullopt);
    if (!name.complete) return std::nullopt;
    return std::move(name.text);
}

std::string GbkFromSystemName(std::string_view name) {
    return ConvertReplacing("GB18030", "UTF-8", name, std::string_view(&kNotGbk, 1));
}

int TextLength(std::string_view text) {
    return static_cast<int>(std::min<std::size_t>(text.size(), std::numeric_limits<int>::max()));
}

std::string TextLeft(std::string_view text, int n) {
    if (n <= 0) return {};
    return std::string(text.substr(0, static_cast<std::size_t>(n)));
}

std::string TextRight(std::string_view text, int n) {
    if (n <= 0) return {};
    auto k = std::min(text.size(), static_cast<std::size_t>(n));
    return std::string(text.substr(text.size() - k));
}

std::string TextMid(std::string_view text, int start, int n) {
    if (start < 1 || static_cast<std::size_t>(start) > text.size() || n <= 0) return {};
    return std::string(text.substr(static_cast<std::size_t>(start) - 1, static_cast<std::size_t>(n)));
}

int FindText(std::string_view text, std::string_view sought, int start, bool ignoreCase) {
    if (sought.empty() || sought.size() > text.size()) return -1;
    std::string foldedText, foldedSought;
    if (ignoreCase) {
        foldedText = ToUpper(text);
        foldedSought = ToUpper(sought);
        text = foldedText;
        sought = foldedSought;
    }
    std::size_t from = start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
    // Character boundaries are known only by walking from the first byte.
    for (std::size_t i = 0; i + sought.size() <= text.size(); i += CharWidth(text, i)) {
        if (i >= from && text.compare(i, sought.size(), sought) == 0) return static_cast<int>(i + 1);
    }
    return -1;
}

std::vector<std::string> SplitText(std::string_view text, std::string_view separator) {
    std::vector<std::string> parts;
    if (text.empty()) return parts;
    if (separator.empty()) {
        parts.emplace_back(text);
        return parts;
    }
    std::size_t partStart = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text.compare(i, separator.size(), separator) == 0) {
            parts.emplace_back(text.substr(partStart, i - partStart));
            i += separator.size();
            partStart = i;
        } else {
            i += CharWidth(text, i);
        }
    }
    if (partStart < text.size()) parts.emplace_back(text.substr(partStart));
    return parts;
}

std::string ToUpper(std::string_view text) { return FoldAscii<AsciiUpper>(text); }

std::string ToLower(std::string_view text) { return FoldAscii<AsciiLower>(text); }

std::string RemoveAllSpaces(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        std::size_t w = CharWidth(text, i);
        bool space = (w == 1 && text[i] == ' ') ||
                     (w == 2 && static_cast<unsigned char>(text[i]) == 0xA1 &&
                      static_cast<unsigned char>(text[i + 1]) == 0xA1);
        if (!space) out.append(text.substr(i, w));
        i += w;
    }
    return out;
}

std::string ReplaceTextPart(std::string_view text, int start, int deleteCount, std::string_view insert) {
    std::size_t at = start < 1 ? 0 : std::min(text.size(), static_cast<std::size_t>(start) - 1);
    std::size_t del = deleteCount < 0 ? 0 : std::min(text.size() - at, static_cast<std::size_t>(deleteCount));
    std::string out;
    out.reserve(text.size() - del + insert.size());
    out.append(text.substr(0, at));
    out.append(insert);
    out.append(text.substr(at + del));
    return out;
}

std::string BlankText(int n) { return n <= 0 ? std::string() : std::string(static_cast<std::size_t>(n), ' '); }

std::string ToText(int value) { return std::to_string(value); }

std::string ToText(std::int64_t value) { return std::to_string(value); }

std::string ToText(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-Inf" : "Inf";
    if (value == 0.0) return "0";  // also -0
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.13g", value);  // %g strips trailing zeros and the point
    std::string s(buf);
    auto e = s.find('e');
    if (e == std::string::npos) return s;
    // "1.5e-07" -> "1.5E-7": capital E, explicit sign, no leading zeros in the exponent.
    std::string mantissa = s.substr(0, e);
    char sign = s[e + 1];
    std::string digits = s.substr(e + 2);
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
    return mantissa + "E" + sign + digits;
}

int ToInteger(std::string_view text) {
    std::string folded = FoldFullWidth(text);
    std::size_t i = 0;
    while (i < folded.size() && IsBlank(folded[i])) ++i;
    bool negative = false;
    if (i < folded.size() && (folded[i] == '+' || folded[i] == '-')) {
        negative = folded[i] == '-';
        ++i;
    }
    std::int64_t value = 0;
    constexpr std::int64_t kLimit = static_cast<std::int64_t>(std::numeric_limits<int>::max()) + 1;
    for (; i < folded.size() && folded[i] >= '0' && folded[i] <= '9'; ++i) {
        value = std::min(kLimit, value * 10 + (folded[i] - '0'));
    }
    if (negative) return static_cast<int>(-value);  // -kLimit is INT_MIN exactly
    return static_cast<int>(std::min(value, kLimit - 1));
}

double ToNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    std::size_t begin = i;
    auto isDigit = [&](std::size_t k) { return k < text.size() && text[k] >= '0' && text[k] <= '9'; };
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t mantissaDigits = 0;
    while (isDigit(i)) ++i, ++mantissaDigits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (isDigit(i)) ++i, ++mantissaDigits;
    }
    if (mantissaDigits == 0) return 0.0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t k = i + 1;
        if (k < text.size() && (text[k] == '+' || text[k] == '-')) ++k;
        if (isDigit(k)) {
            while (isDigit(k)) ++k;
            i = k;
        }
    }
    // The C locale, whatever the program's locale says about the decimal point.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    std::string number(text.substr(begin, i - begin));
    return strtod_l(number.c_str(), nullptr, cLocale);
}

std::int64_t IntegerDivide(std::int64_t a, std::int64_t d) {
    if (d == 0) return 0;
    if (d == -1 && a == std::numeric_limits<std::int64_t>::min()) return std::numeric_limits<std::int64_t>::max();
    return a / d;
}

std::int64_t Remainder(std::int64_t a, std::int64_t d) {
    if (d == 0 || d == -1) return 0;  // d == -1: the remainder is 0, and a % -1 may trap
    return a % d;
}

std::int64_t FloorToInt(double x) {
    if (std::isnan(x)) return 0;
    double f = std::floor(x);
    // Only above zero does "the next whole number away from zero" differ from the floor.
    if (x > 0 && (f + 1.0) - x < 1e-12) f += 1.0;
    constexpr double kTop = 9223372036854775808.0;  // 2^63
    if (f >= kTop) return std::numeric_limits<std::int64_t>::max();
    if (f < -kTop) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(f);
}

}  // namespace rt

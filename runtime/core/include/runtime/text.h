#pragma once
// Text operations on GBK byte strings. Lengths and positions count bytes, positions start at 1.
// Searching and splitting step over a double-byte character (a byte of 0x80 or above followed by a
// trail byte; a GB18030 four-byte character steps as two such pairs) as one unit; taking a left,
// right or middle part cuts at the given byte count.

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rt {

// The GBK bytes of a UTF-8 text, for the system's own fixed texts written in UTF-8 source files.
// Characters GBK lacks are kept through GB18030, which agrees with GBK on every GBK character.
// Invalid UTF-8 bytes become "?". Thread-safe.
std::string Gbk(std::string_view utf8);
// The UTF-8 form of a GBK (GB18030) text; an invalid byte sequence becomes U+FFFD. Thread-safe.
std::string Utf8FromGbk(std::string_view gbk);

// Names meet the system here and nowhere else. A text that becomes a file name, path, library or
// export name, command line or address handed to a program is converted with SystemName; a name
// that comes from the system (a directory, an environment value) with GbkFromSystemName.
//
// The system's spelling (UTF-8) of a GBK text; nullopt when the text holds a byte sequence that is
// not GB18030 or a NUL byte, since either would make the name reach the system as another name.
// Thread-safe.
std::optional<std::string> SystemName(std::string_view gbk);
// The GBK text of a name the system gives. A byte that is not part of valid UTF-8 becomes 0xFF,
// which no GBK text holds, so that SystemName refuses the text instead of naming another file.
// Thread-safe.
std::string GbkFromSystemName(std::string_view name);

int TextLength(std::string_view text);
// n <= 0 gives the empty text, n >= length the whole text.
std::string TextLeft(std::string_view text, int n);
std::string TextRight(std::string_view text, int n);
// 1-based start; empty when start lies outside the text or n <= 0; cut at the end of the text.
std::string TextMid(std::string_view text, int start, int n = std::numeric_limits<int>::max());

// 1-based byte position of sought at or after start, or -1; never matches inside a double-byte
// character; a start below 1 counts as 1; ignoreCase folds ASCII letters only. An empty sought text
// is never found (-1).
int FindText(std::string_view text, std::string_view sought, int start = 1, bool ignoreCase = false);

// A separator counts only at a character boundary; adjacent separators give an empty part; a
// separator at the very end gives no empty last part; an empty text gives no parts. An empty
// separator gives the whole text as the one part.
std::vector<std::string> SplitText(std::string_view text, std::string_view separator);

// ASCII letters only; double-byte characters are left untouched.
std::string ToUpper(std::string_view text);
std::string ToLower(std::string_view text);
// Removes half-width spaces and the GBK full-width space (0xA1 0xA1, at a character boundary).
std::string RemoveAllSpaces(std::string_view text);
// Deletes deleteCount bytes at the 1-based start and inserts insert there. A start below 1 counts
// as 1, one beyond the end appends; the count is cut at the end of the text, a negative one is 0.
std::string ReplaceTextPart(std::string_view text, int start, int deleteCount, std::string_view insert);
// A text of n spaces (empty for n <= 0).
std::string BlankText(int n);

// Integers as decimal text with a minus sign when negative and no leading zeros.
std::string ToText(int value);
std::string ToText(std::int64_t value);
// A real with at most 13 significant digits, no trailing zeros and no decimal point for a whole
// number ("2.5", "0.1", "-3", "1234567890123"); from 1E+13 up and below 1E-4 in exponent form with a
// capital E, a sign and no leading zeros ("1E+20", "1.5E-7"). -0 reads "0"; "NaN", "Inf", "-Inf".
std::string ToText(double value);

// Full-width characters folded to ASCII, leading blanks skipped, one optional sign, then decimal
// digits up to the first non-digit; a text without leading digits reads as 0. Saturates at the
// 32-bit limits. Blanks are the ASCII white-space characters.
int ToInteger(std::string_view text);
// The decimal number at the start of the text (leading spaces skipped; sign, fraction and exponent
// allowed; independent of the C locale; no hexadecimal, "inf" or "nan"); 0 when the text does not
// begin with a number.
double ToNumber(std::string_view text);

// a / d truncated toward zero; 0 when d is 0; the one overflowing quotient saturates.
std::int64_t IntegerDivide(std::int64_t a, std::int64_t d);
// The remainder with the sign of a; 0 when d is 0.
std::int64_t Remainder(std::int64_t a, std::int64_t d);
// The largest integer not above x, after x has been moved to the next whole number away from zero
// when its fractional part lies within 1e-12 of it (28.999999999999996 gives 29). For a negative x
// that next number is the floor itself. NaN gives 0; values beyond the 64-bit range saturate.
std::int64_t FloorToInt(double x);

}  // namespace rt

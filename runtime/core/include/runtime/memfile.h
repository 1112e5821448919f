#pragma once
// In-memory files named by file numbers. The table of files may be used from several threads;
// one file's content is used by one thread at a time.

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/byteset.h"

namespace rt {

// A new empty memory file; its number is above 0.
int OpenMemoryFile();
// Releases the file; the number is then unknown.
void CloseFile(int file);

// A text as its bytes and one NUL byte, at the file's position (the file grows as needed).
bool WriteValues(int file, std::string_view text);
// Binary data as a 32-bit little-endian byte count followed by the bytes.
bool WriteValues(int file, const ByteSet& data);
// Several values in order, each as above.
template <typename First, typename Second, typename... Rest>
bool WriteValues(int file, const First& first, const Second& second, const Rest&... rest) {
    return WriteValues(file, first) && WriteValues(file, second, rest...);
}

// Read values written by WriteValues, in order; a value the file no longer holds is left empty
// and false is returned. A text runs to its NUL (which is passed) or to the end of the data; binary
// data whose count exceeds what is left is corrupt: left empty, false, the position moves to the end.
bool ReadValues(int file, std::string& text);
bool ReadValues(int file, ByteSet& data);
template <typename First, typename Second, typename... Rest>
bool ReadValues(int file, First& first, Second& second, Rest&... rest) {
    bool ok = ReadValues(file, first);
    ok = ReadValues(file, second, rest...) && ok;
    return ok;
}

// A text's bytes only, no NUL.
bool WriteText(int file, std::string_view text);
// Up to and including an LF (the LF and a CR in front of it are dropped from the result); stops in
// front of a NUL or 0x1A byte without passing it.
std::string ReadLine(int file);
// True only at the end of the data (also for an unknown file number, so reading loops end).
bool AtEndOfFile(int file);
void SeekToStart(int file);
// The number of bytes in the file; 0 for an unknown file number.
std::int64_t FileLength(int file);
// The 0-based position of the next byte read or written; 0 for an unknown file number. Lets a
// line loop notice that ReadLine stopped in front of a NUL or 0x1A byte without moving.
std::int64_t FilePosition(int file);
// Removes n bytes at the file's position (fewer when the data ends first); false for n < 0.
bool DeleteFileData(int file, std::int64_t n);
// Up to n bytes from the file's position.
ByteSet ReadByteSet(int file, std::int64_t n);
// Binary data's bytes only, no count.
bool WriteByteSets(int file, const ByteSet& data);

}  // namespace rt

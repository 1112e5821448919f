#pragma once
// Digests as hexadecimal text, through the runtime's hashing layer.

#include <cstdint>
#include <string>

#include "runtime/byteset.h"

namespace update {

// The digest of data by the algorithm identifier, as upper-case hexadecimal digits (two per byte,
// high half first); the empty text on any failure, also when digestLength is not the digest's size.
std::string HashHex(const rt::ByteSet& data, std::uint32_t algorithm, int digestLength);

// The MD5 digest of data as 32 hexadecimal digits; middle16 keeps digits 9 to 24, lowerCase turns
// A-F into a-f. The empty text when no digest could be computed.
std::string Md5Hex(const rt::ByteSet& data, bool middle16 = false, bool lowerCase = false);

}  // namespace update

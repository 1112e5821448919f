#pragma once
// Binary data: a length-counted block of bytes (embedded sounds, HTTP bodies, hash input),
// a type distinct from text.

#include <string>
#include <string_view>
#include <vector>

namespace rt {

using ByteSet = std::vector<unsigned char>;

// n zero bytes (empty for n <= 0).
ByteSet ZeroByteSet(int n);
// The first n bytes (all of them when n is larger; empty for n <= 0).
ByteSet ByteSetLeft(const ByteSet& data, int n);
// Conversions between a text's bytes and binary data, byte for byte.
ByteSet ToByteSet(std::string_view bytes);
std::string ToTextBytes(const ByteSet& data);

}  // namespace rt

#include "runtime/byteset.h"

#include <algorithm>

namespace rt {

ByteSet ZeroByteSet(int n) { return n <= 0 ? ByteSet() : ByteSet(static_cast<std::size_t>(n), 0); }

ByteSet ByteSetLeft(const ByteSet& data, int n) {
    if (n <= 0) return {};
    auto k = std::min(data.size(), static_cast<std::size_t>(n));
    return ByteSet(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(k));
}

ByteSet ToByteSet(std::string_view bytes) { return ByteSet(bytes.begin(), bytes.end()); }

std::string ToTextBytes(const ByteSet& data) { return std::string(data.begin(), data.end()); }

}  // namespace rt

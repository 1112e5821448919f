#include "recorddb/text_builder.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <string>

namespace {

// The process-wide pool; zero-initialised, so it starts with no block in use.
struct SmallBlockPool {
    std::int32_t inUse;
    std::uint8_t flags[TextBuilder::kPoolBlocks];
    alignas(16) char blocks[TextBuilder::kPoolBlocks][TextBuilder::kBlockSize];
};

SmallBlockPool g_pool;

const char kEmptyText[] = "";

// True when p lies within the pool's blocks.
bool IsPoolBlock(const char* p) {
    const char* first = &g_pool.blocks[0][0];
    const char* end = first + sizeof g_pool.blocks;
    return p != nullptr && !std::less<const char*>{}(p, first) && std::less<const char*>{}(p, end);
}

// The block number of a pointer that lies within the pool.
int BlockNumber(const char* p) {
    return static_cast<int>((p - &g_pool.blocks[0][0]) / TextBuilder::kBlockSize);
}

// Gives a block back: a pool block is marked free, any other goes to the heap; null is ignored.
void ReturnBlock(char* p) {
    if (p == nullptr) return;
    if (IsPoolBlock(p)) {
        g_pool.flags[BlockNumber(p)] = 0;
        --g_pool.inUse;
    } else {
        std::free(p);
    }
}

// Formats into one 1024-byte buffer and hands the piece to put; false, without calling put, when
// the piece does not fit or the format fails.
template <typename Put>
bool FormatPiece(const char* format, std::va_list args, Put put) {
    char buffer[TextBuilder::kFormatLimit + 1];
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (n < 0 || n > TextBuilder::kFormatLimit) return false;
    return put(std::string_view(buffer, static_cast<std::size_t>(n)));
}

constexpr int kMaxHeapRequest = std::numeric_limits<std::int32_t>::max() - TextBuilder::kHeapSpare;

}  // namespace

TextBuilder::TextBuilder(std::string_view text) {
    Set(text);
}

TextBuilder::~TextBuilder() {
    Release();
}

void TextBuilder::Release() {
    ReturnBlock(data_);
    data_ = nullptr;
    capacity_ = 0;
    length_ = 0;
}

int TextBuilder::PoolBlock() const {
    return IsPoolBlock(data_) ? BlockNumber(data_) : -1;
}

int TextBuilder::PoolBlocksInUse() {
    return g_pool.inUse;
}

bool TextBuilder::Allocate(int n) {
    if (n <= kBlockSize && g_pool.inUse < kPoolBlocks) {
        for (int i = 0; i < kPoolBlocks; ++i) {
            if (g_pool.flags[i] == 0) {
                g_pool.flags[i] = 1;
                ++g_pool.inUse;
                data_ = g_pool.blocks[i];
                capacity_ = kBlockSize;
                length_ = n;
                return true;
            }
        }
    }
    if (n > kMaxHeapRequest) return false;
    char* p = static_cast<char*>(std::malloc(static_cast<std::size_t>(n) + kHeapSpare));
    if (p == nullptr) return false;
    data_ = p;
    capacity_ = n + kHeapSpare;
    length_ = n;
    return true;
}

bool TextBuilder::Resize(int n) {
    if (n <= 0) {
        Release();
        return true;
    }
    if (data_ == nullptr) return Allocate(n);
    const bool pool = IsPoolBlock(data_);
    if (capacity_ >= n && (pool || capacity_ - n <= kBlockSize)) {
        length_ = n;
        return true;
    }
    if (n > kMaxHeapRequest) return false;
    const std::size_t size = static_cast<std::size_t>(n) + kHeapSpare;
    char* p = nullptr;
    if (pool) {
        // Outgrown its pool block: move to the heap and free the pool block at once.
        p = static_cast<char*>(std::malloc(size));
        if (p == nullptr) return false;
        std::memcpy(p, data_, static_cast<std::size_t>(std::min(n, length_)));
        ReturnBlock(data_);
    } else {
        p = static_cast<char*>(std::realloc(data_, size));
        if (p == nullptr) return false;
    }
    data_ = p;
    capacity_ = n + kHeapSpare;
    length_ = n;
    return true;
}

bool TextBuilder::AppendText(std::string_view text) {
    if (text.empty()) return true;
    if (text.size() > static_cast<std::size_t>(kMaxHeapRequest)) return false;
    // The bytes may be this builder's own, which a resize can move.
    std::string own;
    if (data_ != nullptr && !std::less<const char*>{}(text.data(), data_) &&
        std::less<const char*>{}(text.data(), data_ + capacity_)) {
        own.assign(text);
        text = own;
    }
    const int keep = TextLength();
    if (!Resize(keep)) return false;
    const int n = static_cast<int>(text.size());
    if (n + 1 > kMaxHeapRequest - keep || !Resize(keep + n + 1)) {
        // The shrink above only dropped the NUL from the length; put it back.
        if (data_ != nullptr) length_ = keep + 1;
        return false;
    }
    std::memcpy(data_ + keep, text.data(), static_cast<std::size_t>(n));
    data_[keep + n] = '\0';
    return true;
}

bool TextBuilder::Set(std::string_view text) {
    std::string own;
    if (data_ != nullptr && !text.empty() && !std::less<const char*>{}(text.data(), data_) &&
        std::less<const char*>{}(text.data(), data_ + capacity_)) {
        own.assign(text);
        text = own;
    }
    Release();
    if (text.empty()) return true;
    if (text.size() >= static_cast<std::size_t>(kMaxHeapRequest)) return false;
    // The bytes and their NUL go in as one piece, so the block is sized for both at once.
    const int n = static_cast<int>(text.size());
    if (!Allocate(n + 1)) return false;
    std::memcpy(data_, text.data(), static_cast<std::size_t>(n));
    data_[n] = '\0';
    return true;
}

bool TextBuilder::Format(const char* format, ...) {
    if (format == nullptr || *format == '\0') return true;
    std::va_list args;
    va_start(args, format);
    const bool ok = FormatPiece(format, args, [this](std::string_view piece) { return Set(piece); });
    va_end(args);
    return ok;
}

bool TextBuilder::Append(std::string_view text) {
    return AppendText(text);
}

bool TextBuilder::AppendFormat(const char* format, ...) {
    if (format == nullptr || *format == '\0') return true;
    std::va_list args;
    va_start(args, format);
    const bool ok = FormatPiece(format, args, [this](std::string_view piece) { return AppendText(piece); });
    va_end(args);
    return ok;
}

const char* TextBuilder::Text() const {
    return length_ > 0 ? data_ : kEmptyText;
}

int TextBuilder::TextLength() const {
    if (length_ <= 0) return 0;
    const void* nul = std::memchr(data_, '\0', static_cast<std::size_t>(length_));
    return nul != nullptr ? static_cast<int>(static_cast<const char*>(nul) - data_) : length_;
}

int TextBuilder::UpperAscii() {
    const int n = TextLength();
    for (int i = 0; i < n;) {
        const unsigned char c = static_cast<unsigned char>(data_[i]);
        if (c >= 0x80) {
            i += 2;  // a double-byte character: its trail byte is never folded
        } else {
            if (c >= 'a' && c <= 'z') data_[i] = static_cast<char>(c - 0x20);
            ++i;
        }
    }
    return n;
}

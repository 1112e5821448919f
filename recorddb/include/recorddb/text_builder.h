#pragma once
// A small growable text in which the record database layer composes its SQL and its upper-cased
// copies of names. Texts of up to 256 bytes (NUL included) take a block from one process-wide pool
// of 32 blocks of 256 bytes; longer texts, and any text once the pool is full, live on the heap with
// 128 bytes to spare. The pool has no lock: builders are used on one thread only.

#include <cstdint>
#include <string_view>

class TextBuilder {
public:
    static constexpr int kPoolBlocks = 32;
    static constexpr int kBlockSize = 256;
    static constexpr int kHeapSpare = 128;
    // The most bytes one formatted piece may hold, its NUL not counted (a 1024-byte buffer).
    static constexpr int kFormatLimit = 1023;

    TextBuilder() = default;
    // Starts with a copy of text (nothing for the empty text).
    explicit TextBuilder(std::string_view text);
    ~TextBuilder();

    TextBuilder(const TextBuilder&) = delete;
    TextBuilder& operator=(const TextBuilder&) = delete;

    // Releases the text, then copies text and a NUL in; false when the heap refuses.
    bool Set(std::string_view text);

    // Formats printf-style and sets the result. An empty format changes nothing. A result longer
    // than kFormatLimit bytes is refused: false, and the builder is left as it was.
    bool Format(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Appends text (with its NUL) after the current text; false when the heap refuses.
    bool Append(std::string_view text);

    // Formats printf-style and appends the result; refusals as for Format.
    bool AppendFormat(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // The NUL-terminated text; a shared empty text when the builder holds nothing. Never null.
    const char* Text() const;
    // Bytes of the text up to its NUL; 0 when empty.
    int TextLength() const;
    std::string_view View() const { return {Text(), static_cast<std::size_t>(TextLength())}; }

    // Turns a..z into A..Z in place, stepping over each byte of 0x80 or above together with the byte
    // after it (a double-byte GBK character); returns the text length.
    int UpperAscii();

    // Returns the block to the pool or the heap and leaves the builder empty.
    void Release();

    // Size of the block in use: 256 for a pool block, the requested size + 128 for a heap block.
    int Capacity() const { return capacity_; }
    // Bytes in use, the NUL included; 0 when empty.
    int Length() const { return length_; }
    // Number (0..31) of the pool block in use, or -1 for a heap block or no block.
    int PoolBlock() const;
    // Pool blocks in use by every builder of the process.
    static int PoolBlocksInUse();

private:
    bool Allocate(int n);
    bool Resize(int n);
    bool AppendText(std::string_view text);

    char* data_ = nullptr;
    std::int32_t capacity_ = 0;
    std::int32_t length_ = 0;
};

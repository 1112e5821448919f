#pragma once
// The hashing layer: contexts and hash objects by algorithm identifier, over OpenSSL's EVP digests.
// No state is shared between objects; any thread may use its own objects.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace rt::crypto {

// Provider type and acquire flags.
constexpr std::uint32_t kProvRsaFull = 1;
constexpr std::uint32_t kCryptVerifyContext = 0xF0000000u;

// Algorithm identifiers that have a digest here.
constexpr std::uint32_t kCalgMd5 = 0x8003;
constexpr std::uint32_t kCalgSha1 = 0x8004;
constexpr std::uint32_t kCalgSha256 = 0x800C;
constexpr std::uint32_t kCalgSha384 = 0x800D;
constexpr std::uint32_t kCalgSha512 = 0x800E;

// The parameter that reads a hash object's value.
constexpr std::uint32_t kHpHashVal = 2;

class Hash;

// A hashing context. Releasing it (destroying the object) is the end of its use.
class Context {
public:
    // A context of the provider type with the flags (kCryptVerifyContext or 0); nullptr on failure
    // (an unknown provider type, unknown flags, or the fault seam).
    static std::unique_ptr<Context> Acquire(std::uint32_t providerType, std::uint32_t flags);
    ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    // A hash object of the algorithm; nullptr when the algorithm has no digest here.
    std::unique_ptr<Hash> CreateHash(std::uint32_t algorithm);

private:
    Context() = default;
};

// One running digest. Destroying the object destroys the hash.
class Hash {
public:
    ~Hash();
    Hash(const Hash&) = delete;
    Hash& operator=(const Hash&) = delete;

    // Adds bytes to the digest; false once the value has been read.
    bool HashData(const void* data, std::size_t size);
    // Reads the value (kHpHashVal) into buffer: length holds the buffer's size on entry and the
    // value's size on success; false (length set to the size needed) when the buffer is too small,
    // and for any other parameter. After the first read the value is fixed.
    bool GetParam(std::uint32_t param, unsigned char* buffer, std::uint32_t& length);

private:
    friend class Context;
    struct Impl;
    explicit Hash(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Test seam: make acquiring fail, for the verify-only flag alone or for every acquire.
enum class AcquireFault { None, VerifyContext, Every };
void SetAcquireFault(AcquireFault fault);

}  // namespace rt::crypto

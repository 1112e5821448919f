#include "runtime/crypto.h"

#include <openssl/evp.h>

#include <atomic>
#include <cstring>
#include <vector>

namespace rt::crypto {
namespace {

std::atomic<AcquireFault> g_fault{AcquireFault::None};

struct MdCtxDeleter {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, MdCtxDeleter>;

// The EVP digest of an algorithm identifier, or nullptr when it has none here.
const EVP_MD* DigestOf(std::uint32_t algorithm) {
    switch (algorithm) {
    case kCalgMd5: return EVP_md5();
    case kCalgSha1: return EVP_sha1();
    case kCalgSha256: return EVP_sha256();
    case kCalgSha384: return EVP_sha384();
    case kCalgSha512: return EVP_sha512();
    default: return nullptr;
    }
}

}  // namespace

struct Hash::Impl {
    MdCtxPtr ctx;
    bool finished = false;
    std::vector<unsigned char> value;
};

void SetAcquireFault(AcquireFault fault) { g_fault.store(fault); }

std::unique_ptr<Context> Context::Acquire(std::uint32_t providerType, std::uint32_t flags) {
    if (providerType != kProvRsaFull || (flags != 0 && flags != kCryptVerifyContext)) return nullptr;
    const AcquireFault fault = g_fault.load();
    if (fault == AcquireFault::Every) return nullptr;
    if (fault == AcquireFault::VerifyContext && flags == kCryptVerifyContext) return nullptr;
    return std::unique_ptr<Context>(new Context());
}

Context::~Context() = default;

std::unique_ptr<Hash> Context::CreateHash(std::uint32_t algorithm) {
    const EVP_MD* md = DigestOf(algorithm);
    if (md == nullptr) return nullptr;
    auto impl = std::make_unique<Hash::Impl>();
    impl->ctx.reset(EVP_MD_CTX_new());
    if (!impl->ctx || EVP_DigestInit_ex(impl->ctx.get(), md, nullptr) != 1) return nullptr;
    return std::unique_ptr<Hash>(new Hash(std::move(impl)));
}

Hash::Hash(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Hash::~Hash() = default;

bool Hash::HashData(const void* data, std::size_t size) {
    if (impl_->finished) return false;
    if (size == 0) return true;
    return data != nullptr && EVP_DigestUpdate(impl_->ctx.get(), data, size) == 1;
}

bool Hash::GetParam(std::uint32_t param, unsigned char* buffer, std::uint32_t& length) {
    if (param != kHpHashVal) return false;
    if (!impl_->finished) {
        unsigned char md[EVP_MAX_MD_SIZE];
        unsigned int n = 0;
        if (EVP_DigestFinal_ex(impl_->ctx.get(), md, &n) != 1) return false;
        impl_->value.assign(md, md + n);
        impl_->finished = true;
    }
    const auto size = static_cast<std::uint32_t>(impl_->value.size());
    if (buffer == nullptr || length < size) {
        length = size;
        return false;
    }
    std::memcpy(buffer, impl_->value.data(), size);
    length = size;
    return true;
}

}  // namespace rt::crypto

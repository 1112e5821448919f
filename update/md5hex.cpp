#include "md5hex.h"

#include <vector>

#include "runtime/crypto.h"
#include "runtime/text.h"

namespace update {

std::string HashHex(const rt::ByteSet& data, std::uint32_t algorithm, int digestLength) {
    using namespace rt::crypto;
    static constexpr char kDigits[] = "0123456789ABCDEF";
    if (digestLength <= 0) return {};
    // The verify-only context first; a plain one when that is refused.
    std::unique_ptr<Context> context = Context::Acquire(kProvRsaFull, kCryptVerifyContext);
    if (!context) context = Context::Acquire(kProvRsaFull, 0);
    if (!context) return {};
    // Declared after the context, so the hash is destroyed before the context is released.
    std::unique_ptr<Hash> hash = context->CreateHash(algorithm);
    if (!hash) return {};
    if (!hash->HashData(data.data(), data.size())) return {};
    std::vector<unsigned char> value(static_cast<std::size_t>(digestLength), 0);
    auto n = static_cast<std::uint32_t>(digestLength);
    if (!hash->GetParam(kHpHashVal, value.data(), n)) return {};
    std::string out;
    out.reserve(2 * n);
    for (std::uint32_t k = 0; k < n && k < value.size(); ++k) {
        out.push_back(kDigits[value[k] >> 4]);
        out.push_back(kDigits[value[k] & 0x0F]);
    }
    return out;
}

std::string Md5Hex(const rt::ByteSet& data, bool middle16, bool lowerCase) {
    std::string digest = HashHex(data, rt::crypto::kCalgMd5, 16);
    if (digest.empty()) return {};
    if (middle16) digest = rt::TextMid(digest, 9, 16);
    if (lowerCase) digest = rt::ToLower(digest);
    return digest;
}

}  // namespace update

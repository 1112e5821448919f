// Update-server replies signed as the server signs them, with an MD5 computed by OpenSSL,
// independently of the library under test. Link OpenSSL::Crypto and have update/ on the include
// path (reply.h: the salt the update server shares).
#pragma once

#include <openssl/evp.h>

#include <string>
#include <string_view>

#include "reply.h"

namespace updatetest {

// Lower-case hexadecimal MD5 of the bytes.
inline std::string Md5Lower(std::string_view bytes) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(bytes.data(), bytes.size(), md, &n, EVP_md5(), nullptr);
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < n; ++i) {
        out.push_back(kDigits[md[i] >> 4]);
        out.push_back(kDigits[md[i] & 0xF]);
    }
    return out;
}

// A reply as the update server writes it: the four fields joined by "&&", then the signature of
// fields 1 to 3 with the shared salt.
inline std::string SignedReply(std::string_view product, std::string_view version, std::string_view notes,
                               std::string_view download) {
    std::string signedPart;
    signedPart.append(product).append(version).append(notes).append(update::kReplySalt);
    std::string reply;
    reply.append(product).append("&&").append(version).append("&&").append(notes).append("&&").append(download);
    return reply.append("&&").append(Md5Lower(signedPart));
}

}  // namespace updatetest

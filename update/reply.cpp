#include "reply.h"

#include <algorithm>

#include "http_request.h"
#include "md5hex.h"
#include "runtime/text.h"

namespace update {

// Constructed (and so destroyed) ahead of the library's other values, so that the end routine,
// registered later, runs while they still exist.
std::string_view g_salt;
std::string g_replyText __attribute__((init_priority(200)));
std::vector<std::string> g_replyFields __attribute__((init_priority(200)));

int FetchVerifiedReply(std::string_view updateAddress) {
    const rt::ByteSet body = HttpRequestWithTimeout(updateAddress);
    const auto nul = std::find(body.begin(), body.end(), 0);
    g_replyText.assign(body.begin(), nul);
    g_replyFields = rt::SplitText(g_replyText, "&&");
    if (g_replyFields.size() < 5) return 0;
    const std::string signedBytes = g_replyFields[0] + g_replyFields[1] + g_replyFields[2] + std::string(g_salt);
    const std::string digest = Md5Hex(rt::ToByteSet(signedBytes), false, true);
    // No digest is no signature: an empty field 5 never verifies.
    if (digest.empty()) return 0;
    return digest == g_replyFields[4] ? 1 : 0;
}

}  // namespace update

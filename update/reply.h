#pragma once
// The update reply: fetched with one GET, split at "&&" and accepted only when field 5 is the
// lower-case hexadecimal MD5 of fields 1 to 3 followed by the salt.

#include <string>
#include <string_view>
#include <vector>

namespace update {

// The reply-signing salt that the update server uses too: 23 printable ASCII characters.
inline constexpr char kReplySalt[] = "tK9v-Q2mX7_pL4w.R8zN3bJ";
static_assert(sizeof(kReplySalt) - 1 == 23, "the salt has 23 characters");

// Library-wide values, kept from one call to the next and released at the library's end.
extern std::string_view g_salt;                 // refers to kReplySalt from the start-up on
extern std::string g_replyText;                 // the body of the last reply, up to its first NUL
extern std::vector<std::string> g_replyFields;  // its "&&"-separated fields, verified or not

// 1 when a reply arrived and its signature matches, else 0. g_replyText and g_replyFields hold what
// arrived (the empty text and no fields when nothing did).
int FetchVerifiedReply(std::string_view updateAddress);

}  // namespace update

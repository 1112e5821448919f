#pragma once
// Splitting an http address into the host, path and port the HTTP exchange needs. Plain text
// operations on GBK bytes: the only scheme known is "http://"; user information, escapes and IPv6
// literals get no special treatment.

#include <string>
#include <string_view>

namespace update {

// The host, lower-cased (ASCII letters only); with keepPort, a colon and port behind it stay on it.
std::string UrlHost(std::string_view address, bool keepPort = false);
// The request path from the host's first "/" on (query and fragment included); never empty.
std::string UrlPath(std::string_view address);
// The port behind the host's first ":" read as a number (truncated, saturated to 32 bits);
// 80 when the address names none.
int UrlPort(std::string_view address);

}  // namespace update

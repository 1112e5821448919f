#include "url.h"

#include <cmath>
#include <limits>

#include "runtime/text.h"

namespace update {

std::string UrlHost(std::string_view address, bool keepPort) {
    const int scheme = rt::FindText(address, "http://");
    const int start = scheme > 0 ? scheme + 7 : 1;
    const int slash = rt::FindText(address, "/", start);
    std::string host = slash > 0 ? rt::TextMid(address, start, slash - start) : rt::TextMid(address, start);
    if (!keepPort) {
        const int colon = rt::FindText(host, ":");
        if (colon > 0) host = rt::TextLeft(host, colon - 1);
    }
    return rt::ToLower(host);
}

std::string UrlPath(std::string_view address) {
    const std::string host = UrlHost(address);
    // An empty host is taken as found at the first byte.
    const int at = host.empty() ? 1 : rt::FindText(address, host, 1, true);
    const int slash = rt::FindText(address, "/", at);
    if (slash < 1) return "/";
    return rt::TextMid(address, slash);
}

int UrlPort(std::string_view address) {
    const std::string host = UrlHost(address, true);
    const int colon = rt::FindText(host, ":");
    if (colon < 1) return 80;
    const double n = std::trunc(rt::ToNumber(rt::TextMid(host, colon + 1)));
    if (std::isnan(n)) return 0;
    if (n >= static_cast<double>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
    if (n <= static_cast<double>(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
    return static_cast<int>(n);
}

}  // namespace update

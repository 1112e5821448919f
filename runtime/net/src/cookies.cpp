// The cookie store: one cookie file of the product in the Netscape format that libcurl reads
// (CURLOPT_COOKIEFILE) when it sends a request. Writers replace the file as a whole through a
// temporary file and a rename, so a reader on another thread always sees a complete file.
//
// The file stays bounded as a browser's store does: expired cookies go at every write, and only the
// newest kMaxCookiesPerHost of a host and kMaxCookies in all are kept. The lines stand in the order
// the cookies were created; one set again keeps its line, as a browser keeps a replaced cookie's
// creation time. A session cookie (no expiry) never counts as expired; it stays until the bounds
// push it out, like any other.

#include "runtime/http.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <limits>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace rt::net {
namespace {

constexpr const char* kProductDirectory = "tomatoclock";
constexpr const char* kCookieFileName = "cookies.txt";
constexpr const char* kHttpOnlyPrefix = "#HttpOnly_";
// The least a browser keeps (RFC 6265, 6.1).
constexpr std::size_t kMaxCookiesPerHost = 50;
constexpr std::size_t kMaxCookies = 3000;
constexpr std::size_t kMaxCookieBytes = 4096;  // name, value and path together

std::mutex g_storeMutex;  // one writer at a time

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = AsciiLower(c);
    return out;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// True when the text holds a control character (tab, CR and LF included), which would break a
// line of the cookie file or a request header.
bool HasControl(std::string_view s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

bool IsIpAddress(std::string_view host) {
    for (char c : host)
        if (!((c >= '0' && c <= '9') || c == '.')) return false;
    return !host.empty();
}

// Creates the directory and its missing parents, the new ones readable by the user alone.
bool MakeDirectories(const std::string& path) {
    std::string partial;
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t next = path.find('/', pos);
        if (next == std::string::npos) next = path.size();
        partial = path.substr(0, next);
        pos = next + 1;
        if (partial.empty()) continue;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The host a stored domain belongs to, for the bound per host: a domain cookie's without its dot.
std::string HostKey(std::string_view domain) {
    if (!domain.empty() && domain.front() == '.') domain.remove_prefix(1);
    return std::string(domain);
}

// The host of an http URL, lower-cased; empty when there is none.
std::string HostOfUrl(std::string_view url) {
    if (url.size() < 7 || Lower(url.substr(0, 7)) != "http://") return {};
    std::string_view rest = url.substr(7);
    const std::size_t end = rest.find_first_of("/:?#");
    return Lower(rest.substr(0, end));
}

struct CookieLine {
    std::string domain;  // as in the file, without the HttpOnly prefix
    std::string path;
    std::string name;
    std::int64_t expiry = 0;
    std::string text;    // the whole line
};

// Splits a line of the cookie file into the fields that identify a cookie; false for comments and
// lines that are not cookies.
bool ParseLine(const std::string& line, CookieLine& out) {
    std::string_view v(line);
    if (v.substr(0, 10) == kHttpOnlyPrefix) v.remove_prefix(10);
    else if (v.empty() || v.front() == '#') return false;
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    while (pos <= v.size()) {
        std::size_t tab = v.find('\t', pos);
        if (tab == std::string_view::npos) tab = v.size();
        fields.push_back(v.substr(pos, tab - pos));
        pos = tab + 1;
    }
    if (fields.size() < 6) return false;
    out.domain = Lower(fields[0]);
    out.path = std::string(fields[2]);
    out.name = std::string(fields[5]);
    out.expiry = std::strtoll(std::string(fields[4]).c_str(), nullptr, 10);
    out.text = line;
    return true;
}

}  // namespace

std::string CookieFilePath() {
    std::string base;
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] == '\0') return {};
        base = std::string(home) + "/.local/share";
    }
    return base + "/" + kProductDirectory + "/" + kCookieFileName;
}

bool SetCookie(std::string_view url, std::optional<std::string_view> name, std::string_view data) {
    const std::string host = HostOfUrl(url);
    if (host.empty()) return false;

    // Name and value; the attributes follow the first ";" of the data.
    const std::size_t semi = data.find(';');
    std::string_view first = data.substr(0, semi);
    std::string_view attributes = semi == std::string_view::npos ? std::string_view() : data.substr(semi + 1);
    std::string_view cookieName;
    std::string_view value;
    if (name) {
        cookieName = Trim(*name);
        value = Trim(first);
    } else {
        const std::size_t eq = first.find('=');
        if (eq == std::string_view::npos) {
            cookieName = Trim(first);  // a bare token
        } else {
            cookieName = Trim(first.substr(0, eq));
            value = Trim(first.substr(eq + 1));
        }
    }
    if (cookieName.empty() || cookieName.front() == '#' || HasControl(cookieName) || HasControl(value) ||
        cookieName.find_first_of(" ;=") != std::string_view::npos)
        return false;

    std::string domain = host;
    bool tailMatch = false;
    std::string path = "/";
    bool secure = false;
    bool httpOnly = false;
    bool hasMaxAge = false;
    std::int64_t maxAge = 0;
    std::int64_t expires = 0;  // 0: a session cookie
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));

    while (!attributes.empty()) {
        const std::size_t end = attributes.find(';');
        std::string_view item = Trim(attributes.substr(0, end));
        attributes = end == std::string_view::npos ? std::string_view() : attributes.substr(end + 1);
        const std::size_t eq = item.find('=');
        const std::string key = Lower(Trim(item.substr(0, eq)));
        const std::string_view val = eq == std::string_view::npos ? std::string_view() : Trim(item.substr(eq + 1));
        if (HasControl(val)) return false;
        if (key == "path") {
            if (!val.empty() && val.front() == '/') path = std::string(val);
        } else if (key == "domain") {
            std::string d = Lower(val);
            while (!d.empty() && d.front() == '.') d.erase(0, 1);
            if (d.empty()) continue;
            const bool covers = d == host || (!IsIpAddress(host) && host.size() > d.size() &&
                                              host.compare(host.size() - d.size(), d.size(), d) == 0 &&
                                              host[host.size() - d.size() - 1] == '.');
            if (!covers) return false;
            domain = "." + d;
            tailMatch = true;
        } else if (key == "max-age") {
            char* stop = nullptr;
            const std::string digits(val);
            const long long n = std::strtoll(digits.c_str(), &stop, 10);
            if (!digits.empty() && stop != nullptr && *stop == '\0') {
                hasMaxAge = true;
                maxAge = n;
            }
        } else if (key == "expires") {
            const std::string when(val);
            const time_t t = curl_getdate(when.c_str(), nullptr);
            if (t != static_cast<time_t>(-1)) expires = t <= 0 ? -1 : static_cast<std::int64_t>(t);
        } else if (key == "secure") {
            secure = true;
        } else if (key == "httponly") {
            httpOnly = true;
        }
    }
    if (hasMaxAge) {
        const std::int64_t room = std::numeric_limits<std::int64_t>::max() - now;
        expires = maxAge <= 0 ? -1 : now + (maxAge < room ? maxAge : room);
    }
    const bool remove = expires < 0 || (expires != 0 && expires <= now);
    if (cookieName.size() + value.size() + path.size() > kMaxCookieBytes) return false;

    const std::string file = CookieFilePath();
    if (file.empty()) return false;
    const std::string dir = file.substr(0, file.rfind('/'));

    std::lock_guard<std::mutex> lock(g_storeMutex);
    if (!MakeDirectories(dir)) return false;

    std::string newLine;
    if (!remove) {
        std::ostringstream line;
        line << (httpOnly ? kHttpOnlyPrefix : "") << domain << '\t' << (tailMatch ? "TRUE" : "FALSE") << '\t'
             << path << '\t' << (secure ? "TRUE" : "FALSE") << '\t' << expires << '\t' << cookieName << '\t'
             << value;
        newLine = line.str();
    }

    // Keep every other cookie that has not expired, in the file's order; the new one takes the
    // line of one of the same domain, path and name, or comes last.
    std::vector<CookieLine> cookies;
    std::size_t newIndex = std::string::npos;
    {
        std::ifstream in(file);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            CookieLine c;
            if (!ParseLine(line, c)) continue;
            if (c.expiry != 0 && c.expiry <= now) continue;
            if (c.domain == domain && c.path == path && c.name == cookieName) {
                if (remove || newIndex != std::string::npos) continue;
                newIndex = cookies.size();
                c.text = newLine;
            }
            cookies.push_back(std::move(c));
        }
    }
    if (!remove && newIndex == std::string::npos) {
        newIndex = cookies.size();
        CookieLine c;
        c.domain = domain;
        c.text = newLine;
        cookies.push_back(std::move(c));
    }

    // The bounds, counted from the newest back: the cookie just set keeps its place whatever its
    // age, older ones go where a host or the file has no room left.
    std::map<std::string, std::size_t> perHost;
    std::size_t total = 0;
    if (newIndex != std::string::npos) {
        perHost[HostKey(domain)] = 1;
        total = 1;
    }
    std::vector<bool> keep(cookies.size(), true);
    for (std::size_t i = cookies.size(); i-- > 0;) {
        if (i == newIndex) continue;
        std::size_t& ofHost = perHost[HostKey(cookies[i].domain)];
        if (ofHost >= kMaxCookiesPerHost || total >= kMaxCookies) {
            keep[i] = false;
            continue;
        }
        ++ofHost;
        ++total;
    }

    std::string content = "# Netscape HTTP Cookie File\n";
    for (std::size_t i = 0; i < cookies.size(); ++i)
        if (keep[i]) content += cookies[i].text + "\n";

    std::string temp = file + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());  // created with mode 0600
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, 0600) == 0;
    std::size_t written = 0;
    while (ok && written < content.size()) {
        const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) written += static_cast<std::size_t>(n);
    }
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(temp.c_str(), file.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

}  // namespace rt::net

#include "runtime/http.h"

#include <curl/curl.h>

#include <cstring>
#include <string>
#include <vector>

namespace rt::net {
namespace {

// The platform's own limits, so that a silent server or a dead link cannot hold a transfer forever.
constexpr long kConnectTimeoutSeconds = 60;
constexpr long kStallSeconds = 60;  // no byte for this long ends the transfer
constexpr long kMaxRedirects = 10;
// How long one wait for the socket may last before the abort flag is looked at again; Abort wakes
// the wait at once, so this only bounds a lost wake-up.
constexpr int kPollMs = 1000;

struct EasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct MultiDeleter {
    void operator()(CURLM* m) const { curl_multi_cleanup(m); }
};
struct SlistDeleter {
    void operator()(curl_slist* s) const { curl_slist_free_all(s); }
};
using EasyPtr = std::unique_ptr<CURL, EasyDeleter>;
using MultiPtr = std::unique_ptr<CURLM, MultiDeleter>;
using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;

bool IsBlankChar(char c) { return c == ' ' || c == '\t' || c == ';'; }

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// True when a and b are equal ignoring the case of ASCII letters.
bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
    return true;
}

// libcurl's proxy address for a proxy list: its http entry, else its bare entry, else empty.
std::string ProxyForHttp(std::string_view list) {
    std::string chosen;
    std::string bare;
    std::size_t i = 0;
    while (i < list.size()) {
        while (i < list.size() && IsBlankChar(list[i])) ++i;
        std::size_t end = i;
        while (end < list.size() && !IsBlankChar(list[end])) ++end;
        std::string_view entry = list.substr(i, end - i);
        i = end;
        if (entry.empty()) continue;
        const std::size_t eq = entry.find('=');
        if (eq == std::string_view::npos) {
            if (bare.empty()) bare = std::string(entry);
        } else if (EqualsNoCase(entry.substr(0, eq), "http") && chosen.empty()) {
            chosen = std::string(entry.substr(eq + 1));
        }
    }
    std::string proxy = chosen.empty() ? bare : chosen;
    if (!proxy.empty() && proxy.find("://") == std::string::npos) proxy = "http://" + proxy;
    return proxy;
}

// True for a host name made of letters, digits, dots, hyphens and underscores only, so that it
// cannot change the meaning of the address it is put into.
bool IsPlainHostName(std::string_view host) {
    if (host.empty()) return false;
    for (unsigned char c : host) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '.' || c == '-' || c == '_';
        if (!ok) return false;
    }
    return true;
}

// The path with every byte that a request line cannot carry percent-encoded.
std::string EncodeTarget(std::string_view path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    if (path.empty() || path.front() != '/') out.push_back('/');
    for (unsigned char c : path) {
        if (c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}", c) != nullptr) {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0x0F]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

}  // namespace

bool GlobalInit() { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }
void GlobalCleanup() { curl_global_cleanup(); }

void AbortSignal::Abort() {
    aborted_.store(true);
    std::lock_guard<std::mutex> lock(mutex_);
    if (multi_ != nullptr) curl_multi_wakeup(static_cast<CURLM*>(multi_));
}

void AbortSignal::Attach(void* multi) {
    std::lock_guard<std::mutex> lock(mutex_);
    multi_ = multi;
}

void AbortSignal::Detach() {
    std::lock_guard<std::mutex> lock(mutex_);
    multi_ = nullptr;
}

std::unique_ptr<Session> Session::Open(std::string_view agent, int accessType,
                                       std::optional<std::string_view> proxy) {
    SessionSettings settings;
    settings.agent = std::string(agent);
    if (accessType == kOpenTypeProxy) {
        if (!proxy) return nullptr;
        bool blank = true;
        for (char c : *proxy) blank = blank && IsBlankChar(c);
        if (blank) return nullptr;
        settings.proxy = ProxyForHttp(*proxy);
    } else if (accessType != kOpenTypeDirect) {
        return nullptr;
    }
    return std::unique_ptr<Session>(new Session(std::move(settings)));
}

std::unique_ptr<Connection> Connection::Open(const Session& session, std::string_view host, int port,
                                             std::optional<std::string_view> user,
                                             std::optional<std::string_view> password) {
    if (!IsPlainHostName(host) || port < 0 || port > 65535) return nullptr;
    std::unique_ptr<Connection> c(new Connection());
    c->settings_ = session.Settings();
    c->host_ = std::string(host);
    c->port_ = port == 0 ? 80 : port;
    if (user) c->user_ = std::string(*user);
    if (password) c->password_ = std::string(*password);
    return c;
}

// Everything one request owns: its settings, the libcurl handle and what the response delivered.
struct Request::Transfer {
    SessionSettings settings;
    std::string url;
    std::optional<std::string> user;
    std::optional<std::string> password;
    std::string verb;
    long httpVersion = CURL_HTTP_VERSION_1_1;

    bool sent = false;
    bool complete = false;     // the transfer ended without error
    std::string body;          // what arrived of the body
    std::size_t readPos = 0;
    bool bodyDropped = false;  // longer than settings.maxBodyBytes

    std::string pendingHead;   // header block being received
    bool inHead = false;
    std::string head;          // the last complete header block
    bool headComplete = false;

    static size_t OnBody(char* data, size_t size, size_t count, void* user) {
        auto* t = static_cast<Transfer*>(user);
        const size_t n = size * count;
        if (t->bodyDropped) return 0;
        if (t->settings.maxBodyBytes != 0 && t->body.size() + n > t->settings.maxBodyBytes) {
            t->bodyDropped = true;
            std::string().swap(t->body);
            return 0;  // ends the transfer with a write error
        }
        t->body.append(data, n);
        return n;
    }

    // Collects one header line; a status line starts a new block (an interim or redirect response
    // is replaced by the next one), the empty line completes it.
    static size_t OnHeader(char* data, size_t size, size_t count, void* user) {
        auto* t = static_cast<Transfer*>(user);
        const size_t n = size * count;
        std::string_view line(data, n);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
        if (line.substr(0, 5) == "HTTP/") {
            t->pendingHead.assign(line);
            t->pendingHead += "\r\n";
            t->inHead = true;
        } else if (line.empty()) {
            if (t->inHead) {
                t->pendingHead += "\r\n";
                t->head.swap(t->pendingHead);
                t->pendingHead.clear();
                t->headComplete = true;
                t->inHead = false;
            }
        } else if (t->inHead) {
            t->pendingHead.append(line);
            t->pendingHead += "\r\n";
        }
        return n;
    }

    static int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        auto* t = static_cast<Transfer*>(user);
        return (t->settings.abort && t->settings.abort->Aborted()) ? 1 : 0;
    }
};

std::unique_ptr<Request> Request::Open(const Connection& connection,
                                       std::optional<std::string_view> verb, std::string_view path,
                                       std::string_view version, std::uint32_t flags) {
    (void)flags;  // nothing is cached, so every request goes to the server anyway
    long httpVersion;
    if (version == "HTTP/1.1") httpVersion = CURL_HTTP_VERSION_1_1;
    else if (version == "HTTP/1.0") httpVersion = CURL_HTTP_VERSION_1_0;
    else return nullptr;
    if (path.empty()) return nullptr;

    std::unique_ptr<Request> r(new Request());
    r->transfer_ = std::make_unique<Transfer>();
    Transfer& t = *r->transfer_;
    t.settings = connection.settings_;
    t.url = "http://" + connection.host_ + ":" + std::to_string(connection.port_) + EncodeTarget(path);
    t.user = connection.user_;
    t.password = connection.password_;
    t.verb = verb ? std::string(*verb) : std::string();
    t.httpVersion = httpVersion;
    return r;
}

Request::~Request() = default;

bool Request::Send(std::string_view headers, std::string_view body) {
    Transfer& t = *transfer_;
    if (t.sent) return false;
    t.sent = true;
    if (t.settings.abort && t.settings.abort->Aborted()) return false;

    EasyPtr easy(curl_easy_init());
    MultiPtr multi(curl_multi_init());
    if (!easy || !multi) return false;
    CURL* h = easy.get();

    // Threaded use: no signals, and an abandoned name lookup is left behind instead of joined.
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(h, CURLOPT_URL, t.url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, t.httpVersion);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
    if (!t.settings.agent.empty()) curl_easy_setopt(h, CURLOPT_USERAGENT, t.settings.agent.c_str());
    // An empty proxy means direct, whatever the environment says; a set one serves every host.
    curl_easy_setopt(h, CURLOPT_PROXY, t.settings.proxy.c_str());
    curl_easy_setopt(h, CURLOPT_NOPROXY, "");
    if (t.user) {
        curl_easy_setopt(h, CURLOPT_USERNAME, t.user->c_str());
        curl_easy_setopt(h, CURLOPT_PASSWORD, t.password ? t.password->c_str() : "");
        // More than one method: the credentials go out only after the server has asked for them.
        curl_easy_setopt(h, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC | CURLAUTH_DIGEST));
    }
    const std::string cookieFile = CookieFilePath();
    if (!cookieFile.empty()) curl_easy_setopt(h, CURLOPT_COOKIEFILE, cookieFile.c_str());

    // The caller's lines go out as given; an empty "Expect:" keeps libcurl from waiting for a
    // 100-continue before a larger body.
    curl_slist* list = nullptr;
    bool hasExpect = false;
    std::size_t pos = 0;
    while (pos < headers.size()) {
        std::size_t end = headers.find('\n', pos);
        if (end == std::string_view::npos) end = headers.size();
        std::string line(headers.substr(pos, end - pos));
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        if (line.size() >= 7 && EqualsNoCase(std::string_view(line).substr(0, 7), "Expect:")) hasExpect = true;
        curl_slist* next = curl_slist_append(list, line.c_str());
        if (next == nullptr) {
            curl_slist_free_all(list);
            return false;
        }
        list = next;
    }
    if (!hasExpect) {
        curl_slist* next = curl_slist_append(list, "Expect:");
        if (next != nullptr) list = next;
    }
    SlistPtr headerList(list);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headerList.get());

    // The verb goes out unchanged; only an exact GET or POST keeps libcurl's own method handling
    // (a POST that is redirected continues as a GET, as browsers do).
    const std::string postBody(body);
    if (postBody.empty()) {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
        if (!t.verb.empty() && t.verb != "GET") curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, t.verb.c_str());
    } else {
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, postBody.data());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(postBody.size()));
        if (t.verb != "POST") curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, t.verb.empty() ? "GET" : t.verb.c_str());
    }

    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &Transfer::OnProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);

    if (curl_multi_add_handle(multi.get(), h) != CURLM_OK) return false;
    if (t.settings.abort) t.settings.abort->Attach(multi.get());
    CURLcode result = CURLE_FAILED_INIT;
    bool finished = false;
    for (;;) {
        if (t.settings.abort && t.settings.abort->Aborted()) break;
        int running = 0;
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) break;
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi.get(), &queued)) {
            if (msg->msg == CURLMSG_DONE) {
                result = msg->data.result;
                finished = true;
            }
        }
        if (finished || running == 0) break;
        if (curl_multi_poll(multi.get(), nullptr, 0, kPollMs, nullptr) != CURLM_OK) break;
    }
    if (t.settings.abort) t.settings.abort->Detach();
    curl_multi_remove_handle(multi.get(), h);
    t.complete = finished && result == CURLE_OK;
    return t.complete;
}

bool Request::Read(void* buffer, std::uint32_t size, std::uint32_t& bytesRead) {
    Transfer& t = *transfer_;
    bytesRead = 0;
    if (t.bodyDropped || buffer == nullptr) return false;
    const std::size_t left = t.body.size() - t.readPos;
    if (left == 0) return t.complete;
    const std::size_t n = left < size ? left : size;
    std::memcpy(buffer, t.body.data() + t.readPos, n);
    t.readPos += n;
    bytesRead = static_cast<std::uint32_t>(n);
    return true;
}

bool Request::QueryRawHeaders(char* buffer, std::uint32_t& length) const {
    const Transfer& t = *transfer_;
    if (!t.headComplete) return false;
    const std::size_t needed = t.head.size() + 1;
    if (buffer == nullptr || needed > length) {
        length = static_cast<std::uint32_t>(needed);
        return false;
    }
    std::memcpy(buffer, t.head.data(), t.head.size());
    buffer[t.head.size()] = '\0';
    length = static_cast<std::uint32_t>(t.head.size());
    return true;
}

}  // namespace rt::net

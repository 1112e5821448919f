#pragma once
// The HTTP session layer: session, connection and request objects with the calls the update check
// relies on, over libcurl. Plain HTTP only. Each object is used by one thread; the abort signal and
// the cookie store may be used from any thread.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace rt::net {

// Access types of a session.
constexpr int kOpenTypeDirect = 1;
constexpr int kOpenTypeProxy = 3;
// Request flag: always fetch from the server (there is no cache here, so it changes nothing).
constexpr std::uint32_t kFlagReload = 0x80000000u;

// libcurl's global state: GlobalInit before any thread opens a session (the library's or the
// program's start-up), false when it cannot be set up; each successful call is balanced by one
// GlobalCleanup once no transfer runs any more. Calls are counted, so several users may pair them.
bool GlobalInit();
void GlobalCleanup();

// A stop request for the transfers of a session: a transfer in progress on another thread ends at
// once (its wait is woken), later ones fail at their start. Abort may be called from any thread.
class AbortSignal {
public:
    void Abort();
    bool Aborted() const { return aborted_.load(); }

private:
    friend class Request;
    // The transfer registers its libcurl multi handle while it runs, so Abort can wake it.
    void Attach(void* multi);
    void Detach();

    std::atomic<bool> aborted_{false};
    std::mutex mutex_;
    void* multi_ = nullptr;
};

// Settings shared by a session's connections and requests (plain values, copied down).
struct SessionSettings {
    std::string agent;
    std::string proxy;  // libcurl's proxy address; empty: direct
    std::shared_ptr<AbortSignal> abort;
    std::size_t maxBodyBytes = 0;  // 0: no limit
};

class Session {
public:
    // A session with the agent name. kOpenTypeDirect ignores the proxy text and never uses a proxy
    // (nor the environment's); kOpenTypeProxy takes a proxy list such as "http=host:port" (entries
    // separated by blanks or ";"; a bare "host:port" serves every scheme) and uses its http entry;
    // without one requests go direct. nullptr for another access type, or a proxy text that is blank.
    static std::unique_ptr<Session> Open(std::string_view agent, int accessType,
                                         std::optional<std::string_view> proxy);
    // The transfers of this session obey the signal; it must be set before connections are opened.
    void SetAbortSignal(std::shared_ptr<AbortSignal> signal) { settings_.abort = std::move(signal); }
    // A response body longer than this is dropped whole where it arrives (also a chunked one of
    // unknown length): nothing of it can be read. 0: no limit.
    void SetMaxBodyBytes(std::size_t bytes) { settings_.maxBodyBytes = bytes; }
    const SessionSettings& Settings() const { return settings_; }

private:
    explicit Session(SessionSettings settings) : settings_(std::move(settings)) {}
    SessionSettings settings_;
};

class Connection {
public:
    // A connection to host and port (0: the default port, 80) with optional credentials, which are
    // offered when the server asks for them. Nothing is sent yet. nullptr for an empty host, a host
    // with characters no host name has, or a port outside 0..65535.
    static std::unique_ptr<Connection> Open(const Session& session, std::string_view host, int port,
                                            std::optional<std::string_view> user,
                                            std::optional<std::string_view> password);

private:
    friend class Request;
    Connection() = default;
    SessionSettings settings_;
    std::string host_;
    int port_ = 80;
    std::optional<std::string> user_;
    std::optional<std::string> password_;
};

class Request {
public:
    // A request with the verb (absent or empty: GET; sent as given, letter case included), the path
    // (query included; bytes a request line cannot carry are percent-encoded), the protocol version
    // ("HTTP/1.0" or "HTTP/1.1") and flags (kFlagReload). nullptr for an empty path or another version.
    static std::unique_ptr<Request> Open(const Connection& connection,
                                         std::optional<std::string_view> verb, std::string_view path,
                                         std::string_view version, std::uint32_t flags);
    ~Request();
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    // Sends the request with the header lines (each ended by CR LF, sent as given) and the body
    // (none when empty), and receives the response. Redirects are followed, to http addresses only;
    // cookies of the store are sent where they match. False when no complete response arrived; what
    // did arrive can still be read. Once per request.
    bool Send(std::string_view headers, std::string_view body);
    // Copies up to size bytes of the body into buffer. bytesRead is 0 at the end of the body; after
    // a transfer that broke off, or a body dropped for its length, the end reads as a failure.
    bool Read(void* buffer, std::uint32_t size, std::uint32_t& bytesRead);
    // The final response's status line and headers, each ended by CR LF, then an empty line and a
    // NUL. length holds the buffer's size on entry and the number of characters (without the NUL)
    // on success; false, with length set to the size needed, when block and NUL do not fit, and
    // false when no complete header block was received.
    bool QueryRawHeaders(char* buffer, std::uint32_t& length) const;

    struct Transfer;

private:
    Request() = default;
    std::unique_ptr<Transfer> transfer_;
};

// The cookie store: the product's cookie file in the user's data directory, readable by the user
// alone, in the cookie-file format libcurl reads.
// $XDG_DATA_HOME/tomatoclock/cookies.txt, else ~/.local/share/tomatoclock/cookies.txt; empty when
// neither variable is set.
std::string CookieFilePath();

// Stores a cookie for an http URL's host: name and the data behind "=" (value, then attributes
// such as "; path=/; expires=...; max-age=...; domain=...; secure; httponly"); without a name the
// data carries "name=value" itself, or is a bare token stored as a name with an empty value. An
// expiry in the past removes the cookie. The store keeps the newest 50 cookies of a host and the
// newest 3000 in all, by the time each was first set, and drops expired ones. False for a URL
// without a host, a domain attribute that does not cover the host, characters that cannot be
// stored, name, value and path of more than 4096 bytes, or a file that cannot be written.
bool SetCookie(std::string_view url, std::optional<std::string_view> name, std::string_view data);

}  // namespace rt::net

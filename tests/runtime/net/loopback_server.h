#pragma once
// A small HTTP server for tests on 127.0.0.1 and an ephemeral port. It records every request it
// gets and answers as the test's handler says, misbehaving on demand: late or never, cut off after
// some bytes, or with any bytes at all. One request per connection; the server closes it after
// its answer.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace loopback {

struct Request {
    std::string method;
    std::string target;
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers;  // in the order received
    std::string body;

    // The value of the first header of that name (ASCII case ignored); empty when there is none.
    std::string Header(std::string_view name) const;
    bool HasHeader(std::string_view name) const;
    // Every header line "Name: value" in order, except those named in skip (case ignored).
    std::vector<std::string> HeaderLines(const std::vector<std::string>& skip = {}) const;
};

struct Response {
    std::string bytes;                 // sent exactly as given
    int delayMs = 0;                   // wait before the first byte
    bool never = false;                // never answer; hold the connection until the client drops it
    std::size_t closeAfter = std::string::npos;  // close after this many bytes

    // A complete response with Content-Length and "Connection: close"; extraHeaders are CRLF lines.
    static Response Status(int code, std::string_view reason, std::string_view body,
                           std::string_view extraHeaders = {});
    static Response Ok(std::string_view body, std::string_view extraHeaders = {}) {
        return Status(200, "OK", body, extraHeaders);
    }
    // A 200 response whose body is sent in chunks of chunkSize bytes, with no length given.
    static Response Chunked(std::string_view body, std::size_t chunkSize = 4096);
    // A 302 to the location.
    static Response Redirect(std::string_view location);
};

class Server {
public:
    using Handler = std::function<Response(const Request&)>;

    // Answers every request with 200 "ok" until a handler is set.
    Server();
    explicit Server(Handler handler);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    void SetHandler(Handler handler);
    int Port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by the path.
    std::string Url(std::string_view path = "/") const;

    std::vector<Request> Requests() const;
    std::size_t RequestCount() const;
    bool WaitForRequests(std::size_t n, std::chrono::milliseconds timeout) const;
    // Connections accepted and not yet closed by the server.
    int OpenConnections() const;
    bool WaitForNoConnections(std::chrono::milliseconds timeout) const;
    // Connections that the client closed while the server was holding back its answer.
    int DroppedByClient() const;

private:
    void AcceptLoop();
    void Serve(int fd);
    // Sleeps up to ms, ending early when the server stops or the client closes; false then.
    bool Hold(int fd, int ms);

    int listenFd_ = -1;
    int stopFd_ = -1;
    int port_ = 0;
    std::thread acceptThread_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    Handler handler_;
    std::vector<Request> requests_;
    std::vector<std::thread> connections_;
    int open_ = 0;
    int dropped_ = 0;
};

// A port on 127.0.0.1 where nothing listens (bound once and released).
int UnusedPort();

}  // namespace loopback

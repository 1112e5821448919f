#include "loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace loopback {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

void SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

}  // namespace

std::string Request::Header(std::string_view name) const {
    for (const auto& [k, v] : headers)
        if (EqualNoCase(k, name)) return v;
    return {};
}

bool Request::HasHeader(std::string_view name) const {
    for (const auto& h : headers)
        if (EqualNoCase(h.first, name)) return true;
    return false;
}

std::vector<std::string> Request::HeaderLines(const std::vector<std::string>& skip) const {
    std::vector<std::string> lines;
    for (const auto& [k, v] : headers) {
        bool skipped = false;
        for (const auto& s : skip) skipped = skipped || EqualNoCase(k, s);
        if (!skipped) lines.push_back(k + ": " + v);
    }
    return lines;
}

Response Response::Status(int code, std::string_view reason, std::string_view body, std::string_view extraHeaders) {
    Response r;
    r.bytes = "HTTP/1.1 " + std::to_string(code) + " " + std::string(reason) + "\r\n" +
              "Content-Length: " + std::to_string(body.size()) + "\r\n" + "Connection: close\r\n" +
              std::string(extraHeaders) + "\r\n" + std::string(body);
    return r;
}

Response Response::Chunked(std::string_view body, std::size_t chunkSize) {
    static constexpr char kHex[] = "0123456789abcdef";
    Response r;
    r.bytes = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
    for (std::size_t i = 0; i < body.size(); i += chunkSize) {
        const std::size_t n = std::min(chunkSize, body.size() - i);
        std::string size;
        for (std::size_t v = n; v > 0; v >>= 4) size.insert(size.begin(), kHex[v & 0xF]);
        r.bytes += size + "\r\n" + std::string(body.substr(i, n)) + "\r\n";
    }
    r.bytes += "0\r\n\r\n";
    return r;
}

Response Response::Redirect(std::string_view location) {
    return Status(302, "Found", "", "Location: " + std::string(location) + "\r\n");
}

Server::Server() : Server([](const Request&) { return Response::Ok("ok"); }) {}

Server::Server(Handler handler) : handler_(std::move(handler)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (listenFd_ < 0 || stopFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 64) != 0 || ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("loopback server cannot listen");
    port_ = ntohs(addr.sin_port);
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

Server::~Server() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t w = ::write(stopFd_, &one, sizeof one);
    acceptThread_.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        threads.swap(connections_);
    }
    for (auto& t : threads) t.join();
    ::close(listenFd_);
    ::close(stopFd_);
}

void Server::SetHandler(Handler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handler_ = std::move(handler);
}

std::string Server::Url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<Request> Server::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::size_t Server::RequestCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_.size();
}

bool Server::WaitForRequests(std::size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= n; });
}

int Server::OpenConnections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_;
}

bool Server::WaitForNoConnections(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return open_ == 0; });
}

int Server::DroppedByClient() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
}

void Server::AcceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        if ((fds[0].revents & POLLIN) == 0) continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard<std::mutex> lock(mutex_);
        ++open_;
        connections_.emplace_back([this, fd] { Serve(fd); });
    }
}

bool Server::Hold(int fd, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        int left = -1;
        if (ms >= 0) {
            const auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                     std::chrono::steady_clock::now());
            if (rest.count() <= 0) return true;
            left = static_cast<int>(rest.count());
        }
        pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        const int ready = ::poll(fds, 2, left);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || fds[1].revents != 0) return false;
        if (fds[0].revents != 0) {
            char c;
            const ssize_t n = ::recv(fd, &c, 1, MSG_PEEK);
            if (n <= 0) {
                std::lock_guard<std::mutex> lock(mutex_);
                ++dropped_;
                return false;
            }
            // Data after the request (a pipelined request) is not ours to read: keep waiting.
            ::usleep(1000);
        }
    }
}

void Server::Serve(int fd) {
    std::string data;
    std::size_t headEnd = std::string::npos;
    bool ok = true;
    auto readMore = [&]() -> bool {
        pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (::poll(fds, 2, 10000) <= 0 || fds[1].revents != 0) return false;
        char buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return false;
        data.append(buf, static_cast<std::size_t>(n));
        return true;
    };
    while (ok && (headEnd = data.find("\r\n\r\n")) == std::string::npos) ok = readMore();

    Request request;
    if (ok) {
        const std::string head = data.substr(0, headEnd);
        std::size_t pos = head.find("\r\n");
        const std::string line = head.substr(0, pos);
        const std::size_t s1 = line.find(' ');
        const std::size_t s2 = line.find(' ', s1 + 1);
        request.method = line.substr(0, s1);
        request.target = line.substr(s1 + 1, s2 - s1 - 1);
        request.version = s2 == std::string::npos ? "" : line.substr(s2 + 1);
        while (pos != std::string::npos && pos < head.size()) {
            const std::size_t start = pos + 2;
            pos = head.find("\r\n", start);
            const std::string h = head.substr(start, pos == std::string::npos ? std::string::npos : pos - start);
            const std::size_t colon = h.find(':');
            if (colon == std::string::npos) continue;
            std::size_t v = colon + 1;
            while (v < h.size() && h[v] == ' ') ++v;
            request.headers.emplace_back(h.substr(0, colon), h.substr(v));
        }
        const std::string length = request.Header("Content-Length");
        const std::size_t want = length.empty() ? 0 : std::strtoul(length.c_str(), nullptr, 10);
        while (ok && data.size() - (headEnd + 4) < want) ok = readMore();
        if (ok) request.body = data.substr(headEnd + 4, want);
    }

    if (ok) {
        Handler handler;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            handler = handler_;
        }
        const Response response = handler(request);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
        }
        changed_.notify_all();
        bool answer = true;
        if (response.never) {
            Hold(fd, -1);
            answer = false;
        }
        else if (response.delayMs > 0) answer = Hold(fd, response.delayMs);
        if (answer) {
            std::string_view bytes(response.bytes);
            if (response.closeAfter < bytes.size()) bytes = bytes.substr(0, response.closeAfter);
            SendAll(fd, bytes);
        }
    }
    // Let the client read everything before the socket goes: drain until it closes its side.
    ::shutdown(fd, SHUT_WR);
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (::poll(fds, 2, 2000) <= 0 || fds[1].revents != 0) break;
        char buf[1024];
        if (::recv(fd, buf, sizeof buf, 0) <= 0) break;
    }
    ::close(fd);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        --open_;
    }
    changed_.notify_all();
}

int UnusedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

}  // namespace loopback

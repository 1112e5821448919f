#pragma once
// Helpers of the HTTP layer's tests: a private data directory for the cookie store, and one
// request run through session, connection and request.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "runtime/http.h"

namespace nettest {

// Points XDG_DATA_HOME at a fresh temporary directory for the test's life, so that every test
// starts with an empty cookie store; afterwards the program's own (private) one is back.
class DataHomeFixture : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* saved = std::getenv("XDG_DATA_HOME")) saved_ = saved;
        char pattern[] = "/tmp/tomato-data-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        ::setenv("XDG_DATA_HOME", dir_.c_str(), 1);
    }
    void TearDown() override {
        if (saved_) {
            ::setenv("XDG_DATA_HOME", saved_->c_str(), 1);
        } else {
            ::unsetenv("XDG_DATA_HOME");
        }
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::filesystem::path CookieFile() const { return dir_ / "tomatoclock" / "cookies.txt"; }
    std::filesystem::path dir_;

private:
    std::optional<std::string> saved_;
};

struct Fetched {
    bool sent = false;
    std::string body;
    bool endedCleanly = false;  // the last read reported the end, not a failure
    std::string head;
    bool headOk = false;
};

struct FetchOptions {
    std::string verb;
    std::string headers;
    std::string body;
    std::size_t maxBodyBytes = 0;
    std::shared_ptr<rt::net::AbortSignal> abort;
    std::optional<std::string> proxy;  // a proxy list, as the session takes it
    std::optional<std::string> user;
    std::optional<std::string> password;
};

inline Fetched Fetch(const std::string& host, int port, const std::string& path, const FetchOptions& o = {}) {
    Fetched f;
    auto session = o.proxy ? rt::net::Session::Open("agent/1", rt::net::kOpenTypeProxy, *o.proxy)
                           : rt::net::Session::Open("agent/1", rt::net::kOpenTypeDirect, std::nullopt);
    if (!session) return f;
    session->SetAbortSignal(o.abort);
    session->SetMaxBodyBytes(o.maxBodyBytes);
    auto connection = rt::net::Connection::Open(*session, host, port, o.user, o.password);
    if (!connection) return f;
    auto request = rt::net::Request::Open(
        *connection, o.verb.empty() ? std::nullopt : std::optional<std::string_view>(o.verb), path, "HTTP/1.1",
        rt::net::kFlagReload);
    if (!request) return f;
    f.sent = request->Send(o.headers, o.body);
    for (;;) {
        char buf[512];
        std::uint32_t n = 0;
        const bool ok = request->Read(buf, sizeof buf, n);
        if (n == 0) {
            f.endedCleanly = ok;
            break;
        }
        EXPECT_LE(n, 512u);
        f.body.append(buf, n);
    }
    char head[4096];
    std::uint32_t length = sizeof head;
    f.headOk = request->QueryRawHeaders(head, length);
    if (f.headOk) f.head.assign(head, length);
    return f;
}

}  // namespace nettest

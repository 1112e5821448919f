#include "runtime/http.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "loopback_server.h"
#include "net_test_support.h"

namespace {

using loopback::Request;
using loopback::Response;
using nettest::Fetch;
using nettest::FetchOptions;
using Clock = std::chrono::steady_clock;

const bool kNetReady = rt::net::GlobalInit();

class HttpTest : public nettest::DataHomeFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(kNetReady);
        DataHomeFixture::SetUp();
    }
    loopback::Server server_;
};

TEST_F(HttpTest, BodyComesInChunksAndHeadersAsCrlfBlock) {
    const std::string body(1300, 'x');
    server_.SetHandler([&](const Request&) { return Response::Ok(body, "X-Note: one\r\n"); });
    auto session = rt::net::Session::Open("agent/1", rt::net::kOpenTypeDirect, std::nullopt);
    auto connection = rt::net::Connection::Open(*session, "127.0.0.1", server_.Port(), std::nullopt, std::nullopt);
    auto request = rt::net::Request::Open(*connection, std::nullopt, "/a?b=1", "HTTP/1.1", rt::net::kFlagReload);
    ASSERT_TRUE(request->Send("", ""));

    std::vector<std::uint32_t> sizes;
    char buf[512];
    std::uint32_t n = 0;
    do {
        ASSERT_TRUE(request->Read(buf, sizeof buf, n));
        sizes.push_back(n);
    } while (n != 0);
    EXPECT_EQ(sizes, (std::vector<std::uint32_t>{512, 512, 276, 0}));

    const std::string expected = "HTTP/1.1 200 OK\r\nContent-Length: 1300\r\nConnection: close\r\nX-Note: one\r\n\r\n";
    char head[1024];
    std::uint32_t length = sizeof head;
    ASSERT_TRUE(request->QueryRawHeaders(head, length));
    EXPECT_EQ(std::string(head, length), expected);
    EXPECT_EQ(head[length], '\0');

    // The block and its NUL must fit: one byte short fails and tells the size needed.
    length = static_cast<std::uint32_t>(expected.size());
    EXPECT_FALSE(request->QueryRawHeaders(head, length));
    EXPECT_EQ(length, expected.size() + 1);

    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/a?b=1");
    EXPECT_EQ(requests[0].version, "HTTP/1.1");
    EXPECT_EQ(requests[0].Header("User-Agent"), "agent/1");
}

TEST_F(HttpTest, HeadersAndVerbGoOutAsGiven) {
    FetchOptions o;
    o.verb = "get";
    o.headers = "accept: text/plain\r\nX-One: 1\r\n";
    const auto f = Fetch("127.0.0.1", server_.Port(), "/p q", o);
    EXPECT_EQ(f.body, "ok");
    const auto r = server_.Requests().at(0);
    EXPECT_EQ(r.method, "get");
    EXPECT_EQ(r.target, "/p%20q");
    // The caller's accept line replaces the transport's own; nothing else is added.
    EXPECT_EQ(r.HeaderLines({"Host", "User-Agent"}), (std::vector<std::string>{"accept: text/plain", "X-One: 1"}));
    EXPECT_TRUE(r.body.empty());
}

TEST_F(HttpTest, BodyIsSentOnlyWhenThereIsOne) {
    FetchOptions post;
    post.verb = "POST";
    post.body = "a=1&b=2";
    post.headers = "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 7\r\n";
    Fetch("127.0.0.1", server_.Port(), "/", post);
    FetchOptions empty;
    empty.verb = "POST";
    Fetch("127.0.0.1", server_.Port(), "/", empty);
    const auto r = server_.Requests();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].method, "POST");
    EXPECT_EQ(r[0].body, "a=1&b=2");
    EXPECT_EQ(r[0].Header("Content-Length"), "7");
    EXPECT_FALSE(r[0].HasHeader("Expect"));
    EXPECT_EQ(r[1].method, "POST");
    EXPECT_FALSE(r[1].HasHeader("Content-Length"));
    EXPECT_FALSE(r[1].HasHeader("Content-Type"));
}

TEST_F(HttpTest, LongBodyIsDroppedWhereItArrives) {
    struct Case {
        const char* name;
        Response response;
        bool kept;
    };
    const std::string limit(1000, 'b');
    const std::string over(1001, 'b');
    const Case cases[] = {
        {"exactly the limit", Response::Ok(limit), true},
        {"one byte over, with a length", Response::Ok(over), false},
        {"chunked, no length", Response::Chunked(std::string(5000, 'c'), 300), false},
        {"chunked within the limit", Response::Chunked(limit, 300), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server_.SetHandler([&](const Request&) { return c.response; });
        FetchOptions o;
        o.maxBodyBytes = 1000;
        const auto f = Fetch("127.0.0.1", server_.Port(), "/", o);
        EXPECT_EQ(f.sent, c.kept);
        EXPECT_EQ(f.endedCleanly, c.kept);
        EXPECT_EQ(f.body.size(), c.kept ? 1000u : 0u);
    }
}

TEST_F(HttpTest, BrokenOffBodyReadsWhatArrivedThenFails) {
    Response r = Response::Ok(std::string(100, 'z'));
    r.closeAfter = r.bytes.size() - 60;
    server_.SetHandler([&](const Request&) { return r; });
    const auto f = Fetch("127.0.0.1", server_.Port(), "/");
    EXPECT_FALSE(f.sent);
    EXPECT_EQ(f.body, std::string(40, 'z'));
    EXPECT_FALSE(f.endedCleanly);
    EXPECT_TRUE(f.headOk);
}

TEST_F(HttpTest, NothingReceivedMeansNoHeaders) {
    const auto f = Fetch("127.0.0.1", loopback::UnusedPort(), "/");
    EXPECT_FALSE(f.sent);
    EXPECT_TRUE(f.body.empty());
    EXPECT_FALSE(f.headOk);
}

TEST_F(HttpTest, AbortEndsAWaitingTransferAtOnce) {
    server_.SetHandler([](const Request&) {
        Response r;
        r.never = true;
        return r;
    });
    auto abort = std::make_shared<rt::net::AbortSignal>();
    std::thread stopper([&] {
        server_.WaitForRequests(1, std::chrono::seconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        abort->Abort();
    });
    FetchOptions o;
    o.abort = abort;
    const auto start = Clock::now();
    const auto f = Fetch("127.0.0.1", server_.Port(), "/", o);
    const auto elapsed = Clock::now() - start;
    stopper.join();
    EXPECT_FALSE(f.sent);
    EXPECT_LT(elapsed, std::chrono::milliseconds(600));
    EXPECT_TRUE(server_.WaitForNoConnections(std::chrono::seconds(2)));

    // An aborted session sends nothing more.
    const std::size_t before = server_.RequestCount();
    EXPECT_FALSE(Fetch("127.0.0.1", server_.Port(), "/", o).sent);
    EXPECT_EQ(server_.RequestCount(), before);
}

TEST_F(HttpTest, RedirectsAreFollowedToHttpOnly) {
    struct Case {
        std::string location;
        bool followed;
    };
    const Case cases[] = {
        {server_.Url("/final"), true},
        {"/final", true},
        {"file:///etc/passwd", false},
        {"ftp://127.0.0.1:" + std::to_string(server_.Port()) + "/final", false},
        {"https://127.0.0.1:" + std::to_string(server_.Port()) + "/final", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.location);
        server_.SetHandler([&](const Request& r) {
            return r.target == "/final" ? Response::Ok("landed") : Response::Redirect(c.location);
        });
        const auto f = Fetch("127.0.0.1", server_.Port(), "/start");
        EXPECT_EQ(f.body, c.followed ? "landed" : "");
        if (c.followed) {
            // The raw headers are those of the final response alone.
            EXPECT_EQ(f.head.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << f.head;
            EXPECT_EQ(f.head.find("302"), std::string::npos);
        }
    }
}

TEST_F(HttpTest, ProxyListServesHttpThroughItsHttpEntry) {
    struct Case {
        std::string list;
        bool viaProxy;
    };
    const std::string at = "127.0.0.1:" + std::to_string(server_.Port());
    const Case cases[] = {
        {"http=" + at, true},
        {"ftp=10.255.255.1:21 http=" + at, true},
        {at, true},
        {"ftp=" + at, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        FetchOptions o;
        o.proxy = c.list;
        const std::size_t before = server_.RequestCount();
        // Through the proxy the request names the origin in full; without one it goes to the origin,
        // which is the loopback server itself here.
        const auto f = Fetch(c.viaProxy ? "origin.invalid" : "127.0.0.1", c.viaProxy ? 80 : server_.Port(), "/x", o);
        ASSERT_EQ(server_.RequestCount(), before + 1);
        const auto r = server_.Requests().back();
        EXPECT_EQ(r.target, c.viaProxy ? "http://origin.invalid/x" : "/x");
    }
    EXPECT_EQ(rt::net::Session::Open("a", rt::net::kOpenTypeProxy, "  "), nullptr);
    EXPECT_EQ(rt::net::Session::Open("a", rt::net::kOpenTypeProxy, std::nullopt), nullptr);
    EXPECT_EQ(rt::net::Session::Open("a", 0, std::nullopt), nullptr);
}

TEST_F(HttpTest, DirectSessionIgnoresTheEnvironmentsProxy) {
    const std::string dead = "http://127.0.0.1:" + std::to_string(loopback::UnusedPort());
    ::setenv("http_proxy", dead.c_str(), 1);
    ::setenv("HTTP_PROXY", dead.c_str(), 1);
    const auto f = Fetch("127.0.0.1", server_.Port(), "/");
    ::unsetenv("http_proxy");
    ::unsetenv("HTTP_PROXY");
    EXPECT_EQ(f.body, "ok");
}

TEST_F(HttpTest, CredentialsAreOfferedWhenTheServerAsks) {
    server_.SetHandler([](const Request& r) {
        if (!r.HasHeader("Authorization"))
            return Response::Status(401, "Unauthorized", "", "WWW-Authenticate: Basic realm=\"t\"\r\n");
        return Response::Ok("in");
    });
    FetchOptions o;
    o.user = "user";  // no password
    const auto f = Fetch("127.0.0.1", server_.Port(), "/", o);
    EXPECT_EQ(f.body, "in");
    const auto r = server_.Requests();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_FALSE(r[0].HasHeader("Authorization"));
    EXPECT_EQ(r[1].Header("Authorization"), "Basic dXNlcjo=");  // "user:"
}

TEST_F(HttpTest, ConnectionRefusesWhatIsNoHostOrPort) {
    auto session = rt::net::Session::Open("a", rt::net::kOpenTypeDirect, std::nullopt);
    struct Case {
        std::string host;
        int port;
        bool ok;
    };
    const Case cases[] = {
        {"box.local", 8080, true}, {"box.local", 0, true},     {"", 80, false},
        {"a b", 80, false},        {"evil.example?x", 80, false}, {"u@h", 80, false},
        {"host", -1, false},       {"host", 65536, false},     {"host", 65535, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host + ":" + std::to_string(c.port));
        EXPECT_EQ(rt::net::Connection::Open(*session, c.host, c.port, std::nullopt, std::nullopt) != nullptr, c.ok);
    }
    auto connection = rt::net::Connection::Open(*session, "h", 80, std::nullopt, std::nullopt);
    EXPECT_EQ(rt::net::Request::Open(*connection, std::nullopt, "/", "HTTP/2", 0), nullptr);
    EXPECT_EQ(rt::net::Request::Open(*connection, std::nullopt, "", "HTTP/1.1", 0), nullptr);
}

}  // namespace

#include "http_request.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "loopback_server.h"
#include "net_test_support.h"
#include "runtime/memfile.h"

namespace {

using loopback::Request;
using loopback::Response;

const std::string kAccept =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
    "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*";
const std::string kLanguage = "Accept-Language: zh-cn";
const std::string kAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

std::string Text(const rt::ByteSet& body) { return rt::ToTextBytes(body); }

class HttpRequestTest : public nettest::DataHomeFixture {
protected:
    std::string CookieFileText() const {
        std::ifstream in(CookieFile());
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    loopback::Server server_;
};

TEST_F(HttpRequestTest, HeaderTextAndBodyByVerb) {
    const std::string url = server_.Url("/update/check.php?v=1");
    const std::string referer = "Referer: " + url;
    struct Case {
        const char* name;
        std::string verb;
        std::string extraHeaders;
        std::string postData;
        std::string method;
        std::vector<std::string> lines;  // every header but Host and User-Agent, in order
        std::string body;
    };
    const Case cases[] = {
        {"plain GET", "", "", "", "GET", {kAccept, referer, kLanguage}, ""},
        {"lower-case accept given", "", "accept: text/html\r\n", "", "GET",
         {"accept: text/html", referer, kLanguage}, ""},
        {"X-Referer given", "", "X-Referer: elsewhere\r\n", "", "GET",
         {"X-Referer: elsewhere", kAccept, kLanguage}, ""},
        {"verb get in lower case", "get", "", "", "get", {kAccept, referer, kLanguage}, ""},
        {"POST with data", "POST", "", "a=1&b=2", "POST",
         {kAccept, referer, kLanguage, "Content-Type: application/x-www-form-urlencoded", "Content-Length: 7"},
         "a=1&b=2"},
        {"POST without data", "POST", "", "", "POST", {kAccept, referer, kLanguage}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t before = server_.RequestCount();
        const rt::ByteSet body = update::HttpRequestWithTimeout(url, c.verb, "", "", "", c.extraHeaders, c.postData);
        EXPECT_EQ(Text(body), "ok");
        ASSERT_EQ(server_.RequestCount(), before + 1);
        const Request r = server_.Requests().back();
        EXPECT_EQ(r.method, c.method);
        EXPECT_EQ(r.target, "/update/check.php?v=1");
        EXPECT_EQ(r.version, "HTTP/1.1");
        EXPECT_EQ(r.Header("User-Agent"), kAgent);
        EXPECT_EQ(r.HeaderLines({"Host", "User-Agent"}), c.lines);
        EXPECT_EQ(r.body, c.body);
    }
}

TEST_F(HttpRequestTest, OtherVerbSendsNothing) {
    std::string raw = "previous";
    const rt::ByteSet body = update::HttpRequestWithTimeout(server_.Url("/"), "PUT", "", "", "", "", "x=1", 0, &raw);
    EXPECT_TRUE(body.empty());
    EXPECT_EQ(raw, "");
    EXPECT_EQ(server_.RequestCount(), 0u);
}

TEST_F(HttpRequestTest, FailuresEndAsTheirTableSays) {
    const std::string blank(1024, ' ');
    const std::string bigHeader = "X-Big: " + std::string(1000, 'h') + "\r\nSet-Cookie: big=1\r\n";
    struct Case {
        const char* name;
        Response response;
        std::string body;    // what the call returns
        bool headersKnown;   // the raw headers are the response's (else 1,024 spaces)
    };
    Response truncated = Response::Ok(std::string(100, 't'));
    truncated.closeAfter = truncated.bytes.size() - 70;
    const std::string withNul("ab\0cd", 5);
    const std::string mebibyte(update::kMaxReplyBodyBytes, 'm');
    const Case cases[] = {
        {"404 page", Response::Status(404, "Not Found", "<h1>no</h1>"), "<h1>no</h1>", true},
        {"body cut off", truncated, std::string(30, 't'), true},
        {"NUL inside the body", Response::Ok(withNul), withNul, true},
        {"empty body", Response::Ok(""), "", true},
        {"header block over 1,024 bytes", Response::Ok("body", bigHeader), "body", false},
        {"body of exactly 1 MiB", Response::Ok(mebibyte), mebibyte, true},
        {"body over 1 MiB", Response::Ok(mebibyte + "!"), "", true},
        {"chunked body over 1 MiB", Response::Chunked(mebibyte + "!", 65536), "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server_.SetHandler([&](const Request&) { return c.response; });
        std::string raw;
        const rt::ByteSet body = update::HttpRequestWithTimeout(server_.Url("/"), "", "", "", "", "", "", 0, &raw);
        EXPECT_EQ(Text(body), c.body);
        if (c.headersKnown) {
            const std::string head = c.response.bytes.substr(0, c.response.bytes.find("\r\n\r\n") + 4);
            EXPECT_EQ(raw, head);
        } else {
            EXPECT_EQ(raw, blank);
        }
    }
    // Headers that did not fit store no cookie either.
    EXPECT_FALSE(std::filesystem::exists(CookieFile()));

    std::string raw;
    const std::string refused = "http://127.0.0.1:" + std::to_string(loopback::UnusedPort()) + "/";
    EXPECT_TRUE(update::HttpRequestWithTimeout(refused, "", "", "", "", "", "", 0, &raw).empty());
    EXPECT_EQ(raw, blank);
}

TEST_F(HttpRequestTest, CookiesAreStoredAndSentBack) {
    server_.SetHandler([](const Request& r) {
        if (r.target != "/set") return Response::Ok("plain");
        return Response::Ok("set",
                            "Set-Cookie: sid=ab=c; path=/\r\n"
                            "Set-Cookie: flag\r\n"
                            "set-cookie: low=1\r\n"
                            "Set-Cookie: second=2\r\n");
    });
    EXPECT_EQ(Text(update::HttpRequestWithTimeout(server_.Url("/set"))), "set");
    EXPECT_EQ(Text(update::HttpRequestWithTimeout(server_.Url("/next"))), "plain");
    const Request next = server_.Requests().back();
    const std::string cookie = next.Header("Cookie");
    for (const char* sent : {"sid=ab=c", "flag=", "low=1", "second=2"}) EXPECT_NE(cookie.find(sent), std::string::npos) << sent << " in " << cookie;

    // The store holds them in the order of the header block, for the host alone.
    const std::string file = CookieFileText();
    const auto sid = file.find("\tsid\tab=c"), flag = file.find("\tflag\t"), low = file.find("\tlow\t1"),
               second = file.find("\tsecond\t2");
    ASSERT_NE(second, std::string::npos) << file;
    EXPECT_LT(sid, flag);
    EXPECT_LT(flag, low);
    EXPECT_LT(low, second);
    EXPECT_NE(file.find("127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\tab=c\n"), std::string::npos) << file;
}

TEST_F(HttpRequestTest, CookieLoopEndsAtAnEndOfFileByte) {
    server_.SetHandler([](const Request&) {
        return Response::Ok("x", "Set-Cookie: a=1\x1A; b\r\nSet-Cookie: c=3\r\n");
    });
    EXPECT_EQ(Text(update::HttpRequestWithTimeout(server_.Url("/"))), "x");
    const std::string file = CookieFileText();
    EXPECT_NE(file.find("\ta\t1\n"), std::string::npos) << file;
    EXPECT_NE(file.find("\tc\t3\n"), std::string::npos) << file;
}

TEST_F(HttpRequestTest, ProxyAndCredentials) {
    // A proxy text goes to the session as "http=" and the text; blanks mean a direct connection.
    const std::string proxy = "127.0.0.1:" + std::to_string(server_.Port());
    EXPECT_EQ(Text(update::HttpRequestWithTimeout("http://origin.invalid/x", "", proxy)), "ok");
    EXPECT_EQ(server_.Requests().back().target, "http://origin.invalid/x");
    EXPECT_EQ(Text(update::HttpRequestWithTimeout(server_.Url("/direct"), "", " \xA1\xA1 ")), "ok");
    EXPECT_EQ(server_.Requests().back().target, "/direct");

    server_.SetHandler([](const Request& r) {
        if (!r.HasHeader("Authorization"))
            return Response::Status(401, "Unauthorized", "", "WWW-Authenticate: Basic realm=\"u\"\r\n");
        return Response::Ok(r.Header("Authorization"));
    });
    // A user name without password: the password is absent, not the blank text.
    EXPECT_EQ(Text(update::HttpRequestWithTimeout(server_.Url("/"), "", "", "user", "  ")), "Basic dXNlcjo=");
    EXPECT_EQ(Text(update::HttpRequestWithTimeout(server_.Url("/"), "", "", "user", "pw")), "Basic dXNlcjpwdw==");
}

TEST_F(HttpRequestTest, WorkerStopsEarlyWithoutARequestRecord) {
    EXPECT_EQ(update::HttpWorkerMain(0), 0);
    const int file = rt::OpenMemoryFile();
    rt::WriteValues(file, std::string_view("NOT_THE_TAG"), std::string_view("http://127.0.0.1/"));
    EXPECT_EQ(update::HttpWorkerMain(file), 0);
    EXPECT_EQ(rt::FileLength(file), 12 + 18);  // untouched
    rt::CloseFile(file);
    EXPECT_EQ(server_.RequestCount(), 0u);
}

}  // namespace

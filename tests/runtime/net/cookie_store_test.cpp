#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "loopback_server.h"
#include "net_test_support.h"
#include "runtime/http.h"

namespace {

using loopback::Request;
using loopback::Response;
using nettest::Fetch;

const bool kNetReady = rt::net::GlobalInit();

class CookieStoreTest : public nettest::DataHomeFixture {
protected:
    std::string FileText() const {
        std::ifstream in(CookieFile());
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // The Cookie header the loopback server received for a GET of path.
    std::string CookieSentFor(const std::string& path) {
        const std::size_t before = server_.RequestCount();
        Fetch("127.0.0.1", server_.Port(), path);
        EXPECT_EQ(server_.RequestCount(), before + 1);
        return server_.Requests().back().Header("Cookie");
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(server_.Port()); }
    loopback::Server server_;
};

TEST_F(CookieStoreTest, FileLiesInTheDataDirectoryForTheUserAlone) {
    EXPECT_EQ(rt::net::CookieFilePath(), CookieFile().string());
    ASSERT_TRUE(rt::net::SetCookie("http://127.0.0.1", "sid", "ab=c; path=/"));
    struct stat st {};
    ASSERT_EQ(::stat(CookieFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(CookieFile().parent_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(FileText(), "# Netscape HTTP Cookie File\n127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\tab=c\n");
}

TEST_F(CookieStoreTest, WithoutXdgDataHomeTheHomesShareIsUsed) {
    const char* home = std::getenv("HOME");
    const std::string saved = home ? home : "";
    ::unsetenv("XDG_DATA_HOME");
    ::setenv("HOME", dir_.c_str(), 1);
    EXPECT_EQ(rt::net::CookieFilePath(), (dir_ / ".local/share/tomatoclock/cookies.txt").string());
    EXPECT_TRUE(rt::net::SetCookie("http://h", "a", "1"));
    EXPECT_TRUE(std::filesystem::exists(dir_ / ".local/share/tomatoclock/cookies.txt"));
    ::setenv("XDG_DATA_HOME", "relative/dir", 1);  // not absolute: ignored
    EXPECT_EQ(rt::net::CookieFilePath(), (dir_ / ".local/share/tomatoclock/cookies.txt").string());
    ::setenv("HOME", saved.c_str(), 1);
}

TEST_F(CookieStoreTest, StoredCookiesAreSentBackWhereTheyMatch) {
    ASSERT_TRUE(kNetReady);
    EXPECT_EQ(CookieSentFor("/"), "");
    ASSERT_TRUE(rt::net::SetCookie(Url(), "sid", "ab=c; path=/"));
    ASSERT_TRUE(rt::net::SetCookie(Url(), std::nullopt, "lang=zh; Path=/"));
    ASSERT_TRUE(rt::net::SetCookie(Url(), "deep", "1; path=/only"));
    ASSERT_TRUE(rt::net::SetCookie("http://other.example", "x", "y"));
    const std::string atRoot = CookieSentFor("/");
    EXPECT_NE(atRoot.find("sid=ab=c"), std::string::npos) << atRoot;
    EXPECT_NE(atRoot.find("lang=zh"), std::string::npos) << atRoot;
    EXPECT_EQ(atRoot.find("deep"), std::string::npos) << atRoot;
    EXPECT_EQ(atRoot.find("x=y"), std::string::npos) << atRoot;
    EXPECT_NE(CookieSentFor("/only/x").find("deep=1"), std::string::npos);
}

TEST_F(CookieStoreTest, SameCookieIsReplacedAndExpiredOneRemoved) {
    ASSERT_TRUE(rt::net::SetCookie(Url(), "sid", "one"));
    ASSERT_TRUE(rt::net::SetCookie(Url(), "keep", "k"));
    ASSERT_TRUE(rt::net::SetCookie(Url(), "sid", "two"));
    EXPECT_EQ(CookieSentFor("/"), "keep=k; sid=two");
    ASSERT_TRUE(rt::net::SetCookie(Url(), "sid", "gone; Max-Age=0"));
    ASSERT_TRUE(rt::net::SetCookie(Url(), "keep", "x; expires=Thu, 01 Jan 1970 00:00:01 GMT"));
    EXPECT_EQ(CookieSentFor("/"), "");
    ASSERT_TRUE(rt::net::SetCookie(Url(), "later", "v; max-age=3600; HttpOnly"));
    EXPECT_EQ(CookieSentFor("/"), "later=v");
    EXPECT_NE(FileText().find("#HttpOnly_127.0.0.1\tFALSE\t/\tFALSE\t"), std::string::npos);
}

TEST_F(CookieStoreTest, BareTokenIsStoredAsANameWithoutValue) {
    ASSERT_TRUE(rt::net::SetCookie(Url(), std::nullopt, "flag"));
    EXPECT_EQ(CookieSentFor("/"), "flag=");
}

TEST_F(CookieStoreTest, DomainAttributeMustCoverTheHost) {
    EXPECT_TRUE(rt::net::SetCookie("http://www.box.example", "a", "1; domain=.box.example"));
    EXPECT_TRUE(rt::net::SetCookie("http://www.box.example", "b", "2; domain=www.box.example"));
    EXPECT_FALSE(rt::net::SetCookie("http://www.box.example", "c", "3; domain=other.example"));
    EXPECT_FALSE(rt::net::SetCookie("http://www.box.example", "d", "4; domain=ox.example"));
    EXPECT_FALSE(rt::net::SetCookie("http://127.0.0.1", "e", "5; domain=0.0.1"));
    EXPECT_EQ(FileText(),
              "# Netscape HTTP Cookie File\n.box.example\tTRUE\t/\tFALSE\t0\ta\t1\n"
              ".www.box.example\tTRUE\t/\tFALSE\t0\tb\t2\n");
}

TEST_F(CookieStoreTest, WhatCannotBeStoredSafelyIsRefused) {
    struct Case {
        std::string url;
        std::optional<std::string> name;
        std::string data;
    };
    const Case cases[] = {
        {"ftp://h", "a", "1"},           {"http://", "a", "1"},      {"http://h", "", "1"},
        {"http://h", "a\tb", "1"},       {"http://h", "a", "1\t2"},  {"http://h", "a", "1\r\nX: y"},
        {"http://h", "#HttpOnly_a", "1"}, {"http://h", "a b", "1"},   {"http://h", std::nullopt, "=v"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url + " " + (c.name ? *c.name : "(none)") + " " + c.data);
        EXPECT_FALSE(rt::net::SetCookie(c.url, c.name ? std::optional<std::string_view>(*c.name) : std::nullopt,
                                        c.data));
    }
    EXPECT_FALSE(std::filesystem::exists(CookieFile()));
}

}  // namespace

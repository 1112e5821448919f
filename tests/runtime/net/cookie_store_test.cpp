#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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
    // Writes the file as an earlier run (or an older store without bounds) left it.
    void WriteFile(const std::vector<std::string>& lines, std::filesystem::perms mode) const {
        std::filesystem::create_directories(CookieFile().parent_path());
        std::ofstream out(CookieFile());
        out << "# Netscape HTTP Cookie File\n";
        for (const std::string& line : lines) out << line << "\n";
        out.close();
        std::filesystem::permissions(CookieFile(), mode);
    }
    // The cookies of the file as "domain name=value", in the file's order.
    std::vector<std::string> Stored() const {
        std::vector<std::string> out;
        std::istringstream in(FileText());
        for (std::string line; std::getline(in, line);) {
            if (line.empty() || (line[0] == '#' && line.rfind("#HttpOnly_", 0) != 0)) continue;
            std::vector<std::string> f;
            std::istringstream fields(line);
            for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
            f.resize(7);
            out.push_back(f[0] + " " + f[5] + "=" + f[6]);
        }
        return out;
    }
    loopback::Server server_;
};

// A file line of a cookie for the host (path /, no flags) with the expiry (0: a session cookie).
std::string Line(const std::string& host, const std::string& name, const std::string& value,
                 long long expiry = 0) {
    return host + "\tFALSE\t/\tFALSE\t" + std::to_string(expiry) + "\t" + name + "\t" + value;
}
// Cookies name<from> .. name<to - 1> of the host, each with the value v<i>.
std::vector<std::string> Lines(const std::string& host, const std::string& name, int from, int to) {
    std::vector<std::string> out;
    for (int i = from; i < to; ++i) out.push_back(Line(host, name + std::to_string(i), "v" + std::to_string(i)));
    return out;
}
// The same cookies as Stored gives them.
std::vector<std::string> Cookies(const std::string& host, const std::string& name, int from, int to) {
    std::vector<std::string> out;
    for (int i = from; i < to; ++i) out.push_back(host + " " + name + std::to_string(i) + "=v" + std::to_string(i));
    return out;
}
std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}
constexpr long long kLongAgo = 1000000000;   // 2001
constexpr long long kFarAhead = 4102444800;  // 2100

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
        // Name, value and path of more than 4096 bytes, as a browser refuses them.
        {"http://h", "a", std::string(4094, 'x') + "; path=/p"}, {"http://h", "ab", std::string(4094, 'x')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url + " " + (c.name ? *c.name : "(none)") + " " + c.data);
        EXPECT_FALSE(rt::net::SetCookie(c.url, c.name ? std::optional<std::string_view>(*c.name) : std::nullopt,
                                        c.data));
    }
    EXPECT_FALSE(std::filesystem::exists(CookieFile()));
    EXPECT_TRUE(rt::net::SetCookie("http://h", "a", std::string(4094, 'x')));  // 4096 bytes with the path
}

// The store stays bounded: expired cookies go at each write, a host keeps its newest 50 and the
// file its newest 3000; a cookie set again keeps its line (its age), and the one just set stays.
TEST_F(CookieStoreTest, StoreStaysBoundedOldestFirst) {
    struct Set {
        std::string url;
        std::string name;
        std::string data;
    };
    struct Case {
        std::string what;
        std::vector<std::string> file;  // the lines before
        std::vector<Set> sets;
        std::vector<std::string> kept;  // Stored() afterwards
    };
    std::vector<std::string> hosts;  // 61 hosts of 50 cookies: 3050 in all
    for (int h = 0; h < 61; ++h) hosts = Join({hosts, Lines("h" + std::to_string(h), "n", 0, 50)});
    const Case cases[] = {
        {"expired ones go, session and later ones stay",
         {Line("a", "old", "1", kLongAgo), Line("a", "sess", "2"), "#HttpOnly_" + Line("b", "gone", "3", kLongAgo),
          Line("b", "later", "4", kFarAhead)},
         {{"http://a", "new", "5"}},
         {"a sess=2", "b later=4", "a new=5"}},
        {"set again: the same line, the new value",
         {Line("a", "x", "1"), Line("a", "y", "2"), Line("A", "z", "3")},
         {{"http://a", "x", "9"}, {"http://A", "z", "8"}},
         {"a x=9", "a y=2", "a z=8"}},
        {"removed: its line goes, the others keep their order",
         {Line("a", "x", "1"), Line("a", "y", "2"), Line("a", "z", "3")},
         {{"http://a", "y", "; Max-Age=0"}},
         {"a x=1", "a z=3"}},
        {"a full host drops its oldest, another host keeps its own",
         Join({Lines("o", "c", 0, 5), Lines("a", "c", 0, 50)}),
         {{"http://a", "c50", "v50"}, {"http://a", "c51", "v51"}},
         Join({Cookies("o", "c", 0, 5), Cookies("a", "c", 2, 52)})},
        {"domain cookies count with their host",
         Join({Lines(".box.example", "d", 0, 25), Lines("box.example", "h", 0, 25)}),
         {{"http://box.example", "h25", "v25"}},
         Join({Cookies(".box.example", "d", 1, 25), Cookies("box.example", "h", 0, 26)})},
        {"an unbounded older file of one host is cut at the first write",
         Lines("a", "c", 0, 3001),
         {{"http://a", "new", "1"}},
         Join({Cookies("a", "c", 2952, 3001), {"a new=1"}})},
        {"set again as the oldest of a full host: it keeps its line and stays",
         Lines("a", "c", 0, 60),
         {{"http://a", "c0", "again"}},
         Join({{"a c0=again"}, Cookies("a", "c", 11, 60)})},
        {"the file keeps its newest 3000 over all hosts",
         hosts,
         {{"http://h61", "x", "1"}},
         [&] {
             std::vector<std::string> kept = Cookies("h1", "n", 1, 50);
             for (int h = 2; h < 61; ++h) kept = Join({kept, Cookies("h" + std::to_string(h), "n", 0, 50)});
             return Join({kept, {"h61 x=1"}});
         }()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(c.file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        for (const Set& set : c.sets) EXPECT_TRUE(rt::net::SetCookie(set.url, set.name, set.data));
        const std::vector<std::string> kept = Stored();
        EXPECT_EQ(kept.size(), c.kept.size());
        for (std::size_t i = 0; i < std::min(kept.size(), c.kept.size()); ++i) {
            if (kept[i] != c.kept[i]) {
                ADD_FAILURE() << "line " << i << ": " << kept[i] << ", expected " << c.kept[i];
                break;
            }
        }
    }
}

// What an older store left, 3001 cookies of one host readable by everyone, still loads: a
// request sends cookies from it; the next write cuts the file to the host's newest 50, for the user alone,
// and the request then sends those.
TEST_F(CookieStoreTest, OlderUnboundedFileLoadsAndIsCut) {
    ASSERT_TRUE(kNetReady);
    const std::string host = "127.0.0.1";
    WriteFile(Lines(host, "c", 0, 3001), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                             std::filesystem::perms::group_read | std::filesystem::perms::others_read);
    // (libcurl sends only some of so many.)
    EXPECT_NE(CookieSentFor("/").find("=v"), std::string::npos);

    ASSERT_TRUE(rt::net::SetCookie(Url(), "new", "1"));
    EXPECT_EQ(Stored(), Join({Cookies(host, "c", 2952, 3001), {host + " new=1"}}));
    struct stat st {};
    ASSERT_EQ(::stat(CookieFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string after = CookieSentFor("/");
    EXPECT_EQ(after.find("c2951="), std::string::npos) << after;
    EXPECT_NE(after.find("c2952=v2952"), std::string::npos) << after;
    EXPECT_NE(after.find("new=1"), std::string::npos) << after;
}

}  // namespace

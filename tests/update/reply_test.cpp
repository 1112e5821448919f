#include "reply.h"

#include <gtest/gtest.h>

#include "check.h"
#include "loopback_server.h"
#include "net_test_support.h"
#include "runtime/crypto.h"
#include "runtime/messagebox.h"
#include "runtime/program.h"
#include "update_test_support.h"

namespace {

using loopback::Request;
using loopback::Response;
using updatetest::Sign;
using updatetest::SignedReply;

class ReplyTest : public nettest::DataHomeFixture {
protected:
    void TearDown() override {
        rt::crypto::SetAcquireFault(rt::crypto::AcquireFault::None);
        rt::SetMessageBoxHook({});
        rt::SetShellOpenHook({});
        DataHomeFixture::TearDown();
    }
    void Serve(const std::string& body) {
        server_.SetHandler([body](const Request&) { return Response::Ok(body); });
    }
    loopback::Server server_;
};

TEST_F(ReplyTest, SignatureCoversFieldsOneToThreeAndTheSalt) {
    const std::string sig = Sign("Tomato", "1.3.0", "notes");
    const std::string sigNoNotes = Sign("Tomato", "1.3.0", "");
    const std::string sigAmp = Sign("Tomato", "1.3.0", "a&&b");
    std::string upper = sig;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    struct Case {
        const char* name;
        std::string body;
        int verified;
        std::size_t fields;
    };
    const Case cases[] = {
        {"five fields", "Tomato&&1.3.0&&notes&&http://dl/x&&" + sig, 1, 5},
        {"four fields", "Tomato&&1.3.0&&notes&&http://dl/x", 0, 4},
        {"upper-case signature", "Tomato&&1.3.0&&notes&&http://dl/x&&" + upper, 0, 5},
        {"newline after the signature", "Tomato&&1.3.0&&notes&&http://dl/x&&" + sig + "\r\n", 0, 5},
        {"a sixth field", "Tomato&&1.3.0&&notes&&http://dl/x&&" + sig + "&&extra", 1, 6},
        {"empty change notes", "Tomato&&1.3.0&&&&http://dl/x&&" + sigNoNotes, 1, 5},
        {"\"&&\" inside a field", "Tomato&&1.3.0&&a&&b&&http://dl/x&&" + sigAmp, 0, 6},
        {"NUL before the signature", std::string("Tomato&&1.3.0&&notes&&http://dl/x&&") + '\0' + sig, 0, 4},
        {"NUL after the signature", "Tomato&&1.3.0&&notes&&http://dl/x&&" + sig + std::string("\0junk", 5), 1, 5},
        {"field 4 changed after signing", "Tomato&&1.3.0&&notes&&file:///bin/sh&&" + sig, 1, 5},
        {"signed with another salt", "Tomato&&1.3.0&&notes&&http://dl/x&&" +
                                         update::Md5Hex(rt::ToByteSet("Tomato1.3.0notesother"), false, true), 0, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Serve(c.body);
        EXPECT_EQ(update::FetchVerifiedReply(server_.Url("/update")), c.verified);
        EXPECT_EQ(update::g_replyText, c.body.substr(0, c.body.find('\0')));
        EXPECT_EQ(update::g_replyFields.size(), c.fields);
    }
}

TEST_F(ReplyTest, NoReplyLeavesNothing) {
    Serve("Tomato&&1.3.0&&notes&&http://dl/x&&" + Sign("Tomato", "1.3.0", "notes"));
    ASSERT_EQ(update::FetchVerifiedReply(server_.Url("/")), 1);
    const std::string refused = "http://127.0.0.1:" + std::to_string(loopback::UnusedPort()) + "/";
    EXPECT_EQ(update::FetchVerifiedReply(refused), 0);
    EXPECT_EQ(update::g_replyText, "");
    EXPECT_TRUE(update::g_replyFields.empty());
}

TEST_F(ReplyTest, EmptySignatureNeverVerifiesWhenNoDigestCanBeComputed) {
    rt::crypto::SetAcquireFault(rt::crypto::AcquireFault::Every);
    Serve("Tomato&&1.3.0&&notes&&http://dl/x&&&&six");  // field 5 is empty
    EXPECT_EQ(update::FetchVerifiedReply(server_.Url("/")), 0);
    ASSERT_EQ(update::g_replyFields.size(), 6u);
    EXPECT_EQ(update::g_replyFields[4], "");
}

TEST_F(ReplyTest, UnverifiedReplyLeavesTheCurrentVersionAndShowsNothing) {
    int boxes = 0;
    rt::SetMessageBoxHook([&boxes](const std::string&, int, const std::string&) {
        ++boxes;
        return rt::kAnswerNo;
    });
    Serve(SignedReply("Tomato", "1.3.0", "n", "http://dl/x"));
    ASSERT_EQ(update::CheckNewVersion("1.2.2", server_.Url("/")), 1);
    EXPECT_EQ(update::g_currentVersion, "1.2.2");
    EXPECT_EQ(boxes, 1);

    Serve("Tomato&&9.9.9&&n&&http://dl/x&&" + std::string(32, '0'));
    EXPECT_EQ(update::CheckNewVersion("1.0.0", server_.Url("/")), 0);
    EXPECT_EQ(update::g_currentVersion, "1.2.2");
    EXPECT_EQ(boxes, 1);
    EXPECT_EQ(update::g_replyFields.at(1), "9.9.9");  // the fields are kept all the same
}

TEST_F(ReplyTest, AnswerDecidesWhatOpensNotTheResult) {
    std::vector<std::string> opened;
    rt::SetShellOpenHook([&opened](const std::string& address) {
        opened.push_back(address);
        return true;
    });
    struct Case {
        int answer;
        std::string address;
        std::vector<std::string> opened;
    };
    const Case cases[] = {
        {rt::kAnswerYes, "http://dl.example/t.zip", {"http://dl.example/t.zip"}},
        {rt::kAnswerNo, "http://dl.example/t.zip", {}},
        {rt::kAnswerYes, "/bin/sh", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address + (c.answer == rt::kAnswerYes ? " Yes" : " No"));
        opened.clear();
        rt::SetMessageBoxHook([&c](const std::string&, int, const std::string&) { return c.answer; });
        Serve(SignedReply("Tomato", "1.3.0", "n", c.address));
        EXPECT_EQ(update::CheckNewVersion("1.2.2", server_.Url("/")), 1);
        EXPECT_EQ(opened, c.opened);
    }
}

}  // namespace

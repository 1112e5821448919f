// The version check through the real export of the built update.so, loaded with dlopen as the
// program loads it. Nothing of the library is linked here; the question box is the library's own,
// answered through the shared application object.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "loopback_server.h"
#include "reply_signing.h"
#include "update/export.h"

namespace {

using loopback::Request;
using loopback::Response;

std::string SignedReply(const std::string& version) {
    const std::string product = "Tomato", notes = "notes";
    return updatetest::SignedReply(product, version, notes, "http://dl.example/t.zip");
}

class ExportTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // As in the program, the library stays loaded until the process ends, where its end
        // routine runs.
        library_ = ::dlopen(UPDATE_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        ASSERT_NE(library_, nullptr) << ::dlerror();
        check_ = reinterpret_cast<UpdateCheckFunction>(::dlsym(library_, UPDATE_EXPORT_NAME));
        ASSERT_NE(check_, nullptr) << ::dlerror();
    }
    static void TearDownTestSuite() {
        if (library_ != nullptr) ::dlclose(library_);
        library_ = nullptr;
    }

    // Calls the export while answering every question box with No; returns the result and the
    // boxes' captions and texts. The button texts of the last box are kept in buttons_.
    int Check(const char* current, const std::string& address, std::vector<QString>* boxes) {
        QTimer poll;
        poll.setInterval(20);
        QObject::connect(&poll, &QTimer::timeout, [this, boxes] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) return;
            boxes->push_back(box->windowTitle() + "|" + box->text());
            buttons_ = box->button(QMessageBox::Yes)->text() + "|" + box->button(QMessageBox::No)->text();
            box->button(QMessageBox::No)->click();
        });
        poll.start();
        return check_(current, address.empty() ? nullptr : address.c_str());
    }

    static inline void* library_ = nullptr;
    static inline UpdateCheckFunction check_ = nullptr;
    loopback::Server server_;
    QString buttons_;
};

TEST_F(ExportTest, QuestionOnlyForANewerVerifiedVersion) {
    struct Case {
        const char* latest;
        bool newer;
    };
    const Case cases[] = {
        {"1.2.3", true},    {"1.3", true},     {"1.3.0", true},   {"2.0.0", true},  {"2", true},
        {"1.2.10", true},   {"1.2.2", false},  {"1.2.2.9", false}, {"1.2", false},  {"1", false},
        {"0.9.9", false},   {"", false},       {"1..3", false},    {"1.2.3.", true}, {"1.2.3beta", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("latest ") + c.latest);
        const std::string reply = SignedReply(c.latest);
        server_.SetHandler([reply](const Request&) { return Response::Ok(reply); });
        std::vector<QString> boxes;
        EXPECT_EQ(Check("1.2.2", server_.Url("/update/check.php"), &boxes), 1);
        ASSERT_EQ(boxes.size(), c.newer ? 1u : 0u);
        if (c.newer) {
            EXPECT_EQ(boxes[0], QString::fromUtf8("Tomato有新版本！|您的版本：1.2.2\n最新版本：") + c.latest +
                                    QString::fromUtf8("\n\n更新内容：\nnotes"));
            // Qt's Chinese texts, though the application object is not the library's own.
            EXPECT_EQ(buttons_, QString::fromUtf8("是(&Y)|否(&N)"));
        }
    }
}

TEST_F(ExportTest, EmptyOrMissingTextsAndUnverifiedReplies) {
    const std::string newer = SignedReply("1.3.0");
    server_.SetHandler([newer](const Request&) { return Response::Ok(newer); });
    std::vector<QString> boxes;
    // An empty current version, or none at all, is never older.
    EXPECT_EQ(Check("", server_.Url("/"), &boxes), 1);
    EXPECT_EQ(Check(nullptr, server_.Url("/"), &boxes), 1);
    EXPECT_TRUE(boxes.empty());
    // No address: nothing to fetch.
    EXPECT_EQ(Check("1.2.2", "", &boxes), 0);

    const std::string unverified = "Tomato&&9.9.9&&notes&&http://dl.example/t.zip&&" + std::string(32, 'a');
    server_.SetHandler([unverified](const Request&) { return Response::Ok(unverified); });
    EXPECT_EQ(Check("1.2.2", server_.Url("/"), &boxes), 0);
    EXPECT_TRUE(boxes.empty());

    // A failed check in between does not change what a verified one shows.
    server_.SetHandler([newer](const Request&) { return Response::Ok(newer); });
    EXPECT_EQ(Check("1.0.0", server_.Url("/"), &boxes), 1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].contains(QString::fromUtf8("您的版本：1.0.0")));
}

TEST_F(ExportTest, CookiesOfTheCheckLieUnderAHomeNamedInChinese) {
    // The test program's own temporary home, with a home folder named in Chinese below it.
    const std::string savedHome = std::getenv("HOME");
    const std::string savedDataHome = std::getenv("XDG_DATA_HOME");
    const std::filesystem::path home = std::filesystem::path(savedHome) / "用户 家";
    std::filesystem::create_directories(home);
    ::unsetenv("XDG_DATA_HOME");
    ::setenv("HOME", home.c_str(), 1);
    server_.SetHandler([](const Request&) { return Response::Ok("x", "Set-Cookie: sid=7; path=/\r\n"); });
    std::vector<QString> boxes;
    EXPECT_EQ(Check("1.2.2", server_.Url("/update/check.php"), &boxes), 0);
    ::setenv("HOME", savedHome.c_str(), 1);
    ::setenv("XDG_DATA_HOME", savedDataHome.c_str(), 1);

    std::ifstream file(home / ".local/share/tomatoclock/cookies.txt");
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("\tsid\t7"), std::string::npos) << text;
}

}  // namespace

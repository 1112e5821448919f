#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "check.h"
#include "reply.h"
#include "runtime/messagebox.h"
#include "runtime/program.h"
#include "runtime/text.h"

namespace {

struct Shown {
    std::string message;
    int flags = 0;
    std::string caption;
};

class UpdateDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        update::g_currentVersion = "1.2.2";
        update::g_replyFields = {rt::Gbk("塔维番茄"), "1.3.0", rt::Gbk("修正：计时\r\n新增：图表"),
                                 "http://dl.example/tomato.zip", "sig"};
        rt::SetShellOpenHook([this](const std::string& address) {
            opened_.push_back(address);
            return true;
        });
    }
    void TearDown() override {
        rt::SetMessageBoxHook({});
        rt::SetShellOpenHook({});
        update::g_currentVersion.clear();
        update::g_replyFields.clear();
    }
    void Answer(int answer) {
        rt::SetMessageBoxHook([this, answer](const std::string& message, int flags, const std::string& caption) {
            shown_.push_back({message, flags, caption});
            return answer;
        });
    }
    std::vector<Shown> shown_;
    std::vector<std::string> opened_;
};

TEST_F(UpdateDialogTest, QuestionShowsBothVersionsAndTheNotes) {
    Answer(rt::kAnswerNo);
    update::ShowUpdateDialog();
    ASSERT_EQ(shown_.size(), 1u);
    EXPECT_EQ(shown_[0].message,
              rt::Gbk("您的版本：1.2.2\r\n最新版本：1.3.0\r\n\r\n更新内容：\r\n修正：计时\r\n新增：图表"));
    EXPECT_EQ(shown_[0].caption, rt::Gbk("塔维番茄有新版本！"));
    EXPECT_EQ(shown_[0].flags, 0x24);
    EXPECT_TRUE(opened_.empty());  // No opens nothing
}

TEST_F(UpdateDialogTest, EmptyFieldsAreShownAsTheyAre) {
    Answer(rt::kAnswerNo);
    update::g_replyFields = {"", "2", "", "", "sig"};
    update::ShowUpdateDialog();
    ASSERT_EQ(shown_.size(), 1u);
    EXPECT_EQ(shown_[0].caption, rt::Gbk("有新版本！"));
    EXPECT_EQ(shown_[0].message, rt::Gbk("您的版本：1.2.2\r\n最新版本：2\r\n\r\n更新内容：\r\n"));
}

TEST_F(UpdateDialogTest, YesOpensOnlyWebAddresses) {
    struct Case {
        std::string address;
        bool opened;
    };
    const Case cases[] = {
        {"http://dl.example/tomato.zip", true},
        {"https://dl.example/tomato.zip", true},
        {"HTTP://DL.EXAMPLE/T.ZIP", true},
        {"file:///etc/passwd", false},
        {"/usr/bin/xterm", false},
        {"C:\\Windows\\system32\\cmd.exe", false},
        {"ftp://dl.example/t.zip", false},
        {"javascript:alert(1)", false},
        {" http://dl.example/", false},
        {"http:", false},
        {"", false},
    };
    Answer(rt::kAnswerYes);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        opened_.clear();
        shown_.clear();
        update::g_replyFields[3] = c.address;
        update::ShowUpdateDialog();
        EXPECT_EQ(shown_.size(), 1u);  // the question is shown all the same
        EXPECT_EQ(opened_, c.opened ? std::vector<std::string>{c.address} : std::vector<std::string>{});
    }
}

// The real box, in an application object the library did not make: markup shows as plain text and
// the buttons read in Chinese all the same.
TEST_F(UpdateDialogTest, RealBoxShowsMarkupAsPlainTextAndChineseButtons) {
    update::g_replyFields[2] = "<b>bold</b> <a href=\"file:///etc/passwd\">link</a><img src=\"file:///x.png\">";
    bool seen = false;
    Qt::TextFormat format = Qt::RichText;
    QString text;
    QString buttons;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        seen = true;
        format = box->textFormat();
        if (auto* label = box->findChild<QLabel*>("qt_msgbox_label")) {
            text = label->text();
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
        }
        buttons = box->button(QMessageBox::Yes)->text() + "|" + box->button(QMessageBox::No)->text();
        box->button(QMessageBox::No)->click();
    });
    poll.start();
    update::ShowUpdateDialog();
    poll.stop();
    ASSERT_TRUE(seen);
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_TRUE(text.contains("<b>bold</b>"));
    EXPECT_EQ(buttons, QString::fromUtf8("是(&Y)|否(&N)"));
    EXPECT_TRUE(opened_.empty());
}

TEST(VersionTest, FirstThreePartsCompareAsIntegers) {
    struct Case {
        const char* latest;
        const char* current;
        bool newer;
    };
    const Case cases[] = {
        {"1.2.3", "1.2.2", true},   {"1.2.10", "1.2.9", true}, {"１.3", "1.2.2", true},  // full-width digit
        {"-1", "-2", true},         {"1.2.2", "1.2.2", false}, {"1.2", "1.2", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.latest) + " vs " + c.current);
        EXPECT_EQ(update::IsNewerVersion(rt::Gbk(c.latest), c.current), c.newer);
    }
}

}  // namespace

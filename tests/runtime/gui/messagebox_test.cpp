// Message boxes: icon, buttons and answer by flags, and timers that keep firing while one is open.
#include "gui_test_util.h"
#include "runtime/messagebox.h"
#include "runtime/qtext.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <gtest/gtest.h>

namespace rt {
namespace {

struct BoxCase {
    int flags;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton press;
    int answer;
    const char* buttonTexts;  // Qt's own Chinese texts, in the order Yes, No, OK
};

class MessageBoxTest : public test::GuiTest, public ::testing::WithParamInterface<BoxCase> {};

// Opens a real box on a window with a 100 ms timer, presses a button from a timer 650 ms later and
// checks the box as it was shown (its buttons read in Chinese), the answer, and the ticks counted
// while it was open.
TEST_P(MessageBoxTest, RealBoxAnswersByButtonWhileTimersTick)
{
    const BoxCase& c = GetParam();
    int ticks = 0;
    const std::string name = test::LoadTickerWindow("Boxed", 200, 100, 100, ticks);
    ASSERT_FALSE(name.empty());

    QMessageBox::Icon shownIcon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons shownButtons;
    QStringList shownButtonTexts;
    QString shownText;
    QString shownTitle;
    Qt::TextFormat shownFormat = Qt::AutoText;
    bool hadParent = true;
    int ticksAtPress = 0;
    QTimer::singleShot(650, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        shownIcon = box->icon();
        shownButtons = box->standardButtons();
        for (const auto button : {QMessageBox::Yes, QMessageBox::No, QMessageBox::Ok}) {
            if (box->button(button) != nullptr) {
                shownButtonTexts << box->button(button)->text();
            }
        }
        shownText = box->text();
        shownTitle = box->windowTitle();
        shownFormat = box->textFormat();
        hadParent = box->parentWidget() != nullptr;
        ticksAtPress = ticks;
        box->button(c.press)->click();
    });
    const int answer =
        ShowMessageBox(Gbk("番茄钟已开始，\r\n<b>是否</b>强制关闭？"), c.flags, Gbk("关闭确认"));
    EXPECT_EQ(answer, c.answer);
    EXPECT_EQ(shownIcon, c.icon);
    EXPECT_EQ(shownButtons, c.buttons);
    EXPECT_EQ(shownButtonTexts.join(u'|'), QString::fromUtf8(c.buttonTexts));
    EXPECT_EQ(shownText, QString::fromUtf8("番茄钟已开始，\n<b>是否</b>强制关闭？"));
    EXPECT_EQ(shownFormat, Qt::PlainText);
    EXPECT_EQ(shownTitle, QString::fromUtf8("关闭确认"));
    EXPECT_FALSE(hadParent);
    EXPECT_GE(ticksAtPress, 4);
}

INSTANTIATE_TEST_SUITE_P(
    Flags, MessageBoxTest,
    ::testing::Values(
        BoxCase{0x10, QMessageBox::Critical, QMessageBox::Ok, QMessageBox::Ok, kAnswerOk, "确定"},
        BoxCase{0x24, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, kAnswerYes,
                "是(&Y)|否(&N)"},
        BoxCase{0x24, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No, kAnswerNo,
                "是(&Y)|否(&N)"},
        BoxCase{0x40, QMessageBox::Information, QMessageBox::Ok, QMessageBox::Ok, kAnswerOk, "确定"}),
    [](const ::testing::TestParamInfo<BoxCase>& info) {
        return "Flags" + std::to_string(info.param.flags) + "_Answer" + std::to_string(info.param.answer);
    });

TEST(MessageBoxHookTest, HookAnswersAndSeesEveryBox)
{
    struct Seen {
        std::string message;
        int flags;
        std::string caption;
    };
    std::vector<Seen> seen;
    std::vector<int> answers = {kAnswerYes, kAnswerNo};
    SetMessageBoxHook([&](const std::string& message, int flags, const std::string& caption) {
        seen.push_back({message, flags, caption});
        const int answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    });
    EXPECT_EQ(ShowMessageBox(Gbk("是不是想要个烂番茄？"), 0x24, Gbk("番茄还没成熟")), kAnswerYes);
    EXPECT_EQ(ShowMessageBox(Gbk("请选择分类。"), 0x40, Gbk("提示")), kAnswerNo);
    SetMessageBoxHook(nullptr);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].message, Gbk("是不是想要个烂番茄？"));
    EXPECT_EQ(seen[0].flags, 0x24);
    EXPECT_EQ(seen[0].caption, Gbk("番茄还没成熟"));
    EXPECT_EQ(seen[1].flags, 0x40);
    EXPECT_EQ(seen[1].caption, Gbk("提示"));
}

}  // namespace
}  // namespace rt

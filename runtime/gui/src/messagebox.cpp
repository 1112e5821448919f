// Modal message boxes without owner window; the hook answers in tests.
#include "runtime/messagebox.h"

#include "internal.h"
#include "runtime/qtext.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace rt {
namespace {

MessageBoxHook& Hook()
{
    static auto* hook = new MessageBoxHook;
    return *hook;
}

}  // namespace

void SetMessageBoxHook(MessageBoxHook hook) { Hook() = std::move(hook); }

int ShowMessageBox(std::string_view message, int flags, std::string_view caption)
{
    if (Hook()) {
        // A copy: the hook may replace itself while it answers.
        const MessageBoxHook hook = Hook();
        return hook(std::string(message), flags, std::string(caption));
    }
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        return 0;
    }
    // The application object may be the host's rather than the runtime's (a library's box).
    detail::EnsureQtTranslations();
    QMessageBox box;
    box.setWindowTitle(ToQString(caption));
    // Plain text always: messages carry server-supplied text (the update's change notes).
    box.setTextFormat(Qt::PlainText);
    box.setText(ToQString(detail::ToLfBreaks(message)));
    switch (flags & 0xF0) {
    case kMbIconError:
        box.setIcon(QMessageBox::Critical);
        break;
    case kMbIconQuestion:
        box.setIcon(QMessageBox::Question);
        break;
    case 0x30:
        box.setIcon(QMessageBox::Warning);
        break;
    case kMbIconInformation:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    const bool yesNo = (flags & 0x0F) == kMbYesNo;
    if (yesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
    }
    // Task modal: every window of the program waits for the answer, while timers keep firing in
    // the box's own loop.
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    const auto pressed = box.standardButton(box.clickedButton());
    if (yesNo) {
        return pressed == QMessageBox::Yes ? kAnswerYes : kAnswerNo;
    }
    return kAnswerOk;
}

}  // namespace rt

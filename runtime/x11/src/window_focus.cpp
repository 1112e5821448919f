#include "runtime/window_focus.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QEvent>
#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtGui/QWindow>
#include <QtWidgets/QApplication>
#include <QtWidgets/QWidget>

#include "runtime/window.h"

namespace rt {

namespace {

constexpr const char* kKeeperName = "rt-show-without-activating";
// How long after a show an activation counts as the show's own.
constexpr qint64 kShowActivationMs = 1000;

// Watches the shown window and gives an activation that came with the show back.
class ActivationKeeper final : public QObject {
public:
    explicit ActivationKeeper(QWidget* widget) : QObject(widget), widget_(widget) {
        setObjectName(QString::fromLatin1(kKeeperName));
        // The attribute reaches a native window made later; one that exists already is asked
        // through the property the platform reads at each show.
        widget->setAttribute(Qt::WA_ShowWithoutActivating);
        if (QWindow* window = widget->windowHandle()) window->setProperty("_q_showWithoutActivating", true);
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != widget_) return false;
        switch (event->type()) {
        case QEvent::Show:
            previous_ = QApplication::activeWindow();
            if (previous_ == widget_) previous_ = nullptr;
            shown_.start();
            break;
        case QEvent::MouseButtonPress:  // the user's own choice from here on
            previous_ = nullptr;
            break;
        case QEvent::WindowActivate:
            if (!previous_.isNull() && previous_->isVisible() && shown_.isValid() &&
                shown_.elapsed() < kShowActivationMs) {
                QWidget* previous = previous_;
                previous_ = nullptr;
                previous->activateWindow();
            }
            break;
        default:
            break;
        }
        return false;
    }

private:
    QWidget* widget_;
    QPointer<QWidget> previous_;
    QElapsedTimer shown_;
};

}  // namespace

bool ShowWithoutActivating(Window* window) {
    QWidget* widget = window != nullptr ? window->Widget() : nullptr;
    if (widget == nullptr) return false;
    if (widget->findChild<QObject*>(QString::fromLatin1(kKeeperName), Qt::FindDirectChildrenOnly) == nullptr) {
        new ActivationKeeper(widget);
    }
    return true;
}

}  // namespace rt

#include "runtime/window_drag.h"

#include <QtCore/QEvent>
#include <QtCore/QObject>
#include <QtGui/QMouseEvent>
#include <QtWidgets/QWidget>

#include "runtime/window.h"

namespace rt {

namespace {

constexpr const char* kDraggerName = "rt-window-drag";

// Watches the window's widget; children pass unused mouse events up to it.
class WindowDragger final : public QObject {
public:
    WindowDragger(Window* window, QWidget* widget) : QObject(widget), window_(window) {
        setObjectName(QString::fromLatin1(kDraggerName));
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() != Qt::LeftButton) return false;
            dragging_ = true;
            pressed_ = mouse->globalPosition().toPoint();
            startLeft_ = window_->Left();
            startTop_ = window_->Top();
            return true;
        }
        case QEvent::MouseMove: {
            if (!dragging_) return false;
            const QPoint moved = static_cast<QMouseEvent*>(event)->globalPosition().toPoint() - pressed_;
            const int left = startLeft_ + moved.x();
            const int top = startTop_ + moved.y();
            if (left != window_->Left()) window_->SetLeft(left);
            if (top != window_->Top()) window_->SetTop(top);
            return true;
        }
        case QEvent::MouseButtonRelease:
            if (!dragging_ || static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton) return false;
            dragging_ = false;
            return true;
        default:
            return false;
        }
    }

private:
    Window* window_;
    bool dragging_ = false;
    QPoint pressed_;
    int startLeft_ = 0;
    int startTop_ = 0;
};

}  // namespace

bool EnableWindowDrag(Window* window) {
    QWidget* widget = window != nullptr ? window->Widget() : nullptr;
    if (widget == nullptr) return false;
    if (widget->findChild<QObject*>(QString::fromLatin1(kDraggerName), Qt::FindDirectChildrenOnly) == nullptr) {
        new WindowDragger(window, widget);
    }
    return true;
}

}  // namespace rt

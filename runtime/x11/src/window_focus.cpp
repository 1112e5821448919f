#include "runtime/window_focus.h"

#include <xcb/xcb.h>

#include <QtCore/QAbstractNativeEventFilter>
#include <QtCore/QCoreApplication>
#include <QtCore/QEvent>
#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtGui/QWindow>
#include <QtWidgets/QApplication>
#include <QtWidgets/QWidget>
#include <unordered_set>

#include "app_display.h"
#include "runtime/window.h"
#include "xlib_ops.h"

namespace rt {

namespace {

constexpr const char* kRefuserName = "rt-never-take-focus";
constexpr const char* kTaskbarName = "rt-keep-out-of-taskbar";
constexpr const char* kDemandsAttention = "_NET_WM_STATE_DEMANDS_ATTENTION";

bool Watched(QWidget* widget, const char* name) {
    return widget->findChild<QObject*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly) != nullptr;
}

x11::XWindowId NativeId(QWidget* widget) { return static_cast<x11::XWindowId>(widget->winId()); }

// Some window managers flag a window they map without activating it as demanding attention, and
// only an activation takes the flag off again; on a window that never takes the focus it would
// stay (a flashing taskbar) for good. So it is taken off such a window whenever it appears.
class AttentionClearer final : public QAbstractNativeEventFilter {
public:
    static void Watch(QWidget* widget) {
        static auto* clearer = new AttentionClearer;  // lives as long as the process
        if (clearer->application_ != QCoreApplication::instance()) {
            clearer->application_ = QCoreApplication::instance();
            clearer->application_->installNativeEventFilter(clearer);
        }
        auto* watch = new QObject(widget);
        QObject::connect(watch, &QObject::destroyed, [widget] { clearer->widgets_.erase(widget); });
        clearer->widgets_.insert(widget);
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t") return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7F) != XCB_PROPERTY_NOTIFY) return false;
        const auto* change = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        for (QWidget* widget : widgets_) {
            if (!widget->testAttribute(Qt::WA_WState_Created) || widget->internalWinId() != change->window) continue;
            _XDisplay* display = x11::AppDisplay();
            if (display != nullptr && x11::HasState(display, change->window, kDemandsAttention)) {
                x11::RequestStates(display, change->window, false, kDemandsAttention, nullptr);
            }
            break;
        }
        return false;
    }

private:
    QPointer<QCoreApplication> application_;
    std::unordered_set<QWidget*> widgets_;
};

// Keeps the keyboard focus off the window: it offers no focus protocol to the window manager, and
// an activation that comes all the same (Qt's offscreen platform activates every window it shows)
// goes back to the window that had it.
class FocusRefuser final : public QObject {
public:
    explicit FocusRefuser(QWidget* widget) : QObject(widget), widget_(widget) {
        setObjectName(QString::fromLatin1(kRefuserName));
        widget->installEventFilter(this);
        if (widget->isVisible()) Refuse();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != widget_) return false;
        if (event->type() == QEvent::Show) {
            // The native window exists now and is mapped right after.
            Refuse();
            previous_ = QApplication::activeWindow();
            if (previous_ == widget_) previous_ = nullptr;
        } else if (event->type() == QEvent::WindowActivate && !previous_.isNull() && previous_->isVisible()) {
            previous_->activateWindow();
        }
        return false;
    }

private:
    void Refuse() {
        // Qt offers WM_TAKE_FOCUS on every window; with it a manager counts the window as one
        // that takes the focus itself, whatever its input hint says.
        if (_XDisplay* display = x11::AppDisplay()) x11::RemoveProtocol(display, NativeId(widget_), "WM_TAKE_FOCUS");
    }

    QWidget* widget_;
    QPointer<QWidget> previous_;
};

// Keeps the window out of the taskbar and the pager, set before each map: Qt writes its own
// states at the map and keeps those it finds.
class TaskbarSkipper final : public QObject {
public:
    explicit TaskbarSkipper(QWidget* widget) : QObject(widget), widget_(widget) {
        setObjectName(QString::fromLatin1(kTaskbarName));
        widget->installEventFilter(this);
        if (widget->isVisible()) {
            if (_XDisplay* display = x11::AppDisplay()) {
                x11::RequestStates(display, NativeId(widget), true, kSkipTaskbar, kSkipPager);
            }
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == widget_ && event->type() == QEvent::Show) {
            if (_XDisplay* display = x11::AppDisplay()) {
                x11::AddStatesBeforeMap(display, NativeId(widget_), {kSkipTaskbar, kSkipPager});
            }
        }
        return false;
    }

private:
    static constexpr const char* kSkipTaskbar = "_NET_WM_STATE_SKIP_TASKBAR";
    static constexpr const char* kSkipPager = "_NET_WM_STATE_SKIP_PAGER";
    QWidget* widget_;
};

}  // namespace

bool NeverTakeFocus(Window* window) {
    QWidget* widget = window != nullptr ? window->Widget() : nullptr;
    if (widget == nullptr) return false;
    if (Watched(widget, kRefuserName)) return true;
    // Without notifying the widget: changing a top-level's flags through it would make its native
    // window anew. Qt turns the flag into the input hint.
    widget->overrideWindowFlags(widget->windowFlags() | Qt::WindowDoesNotAcceptFocus);
    if (QWindow* native = widget->windowHandle()) native->setFlags(native->flags() | Qt::WindowDoesNotAcceptFocus);
    new FocusRefuser(widget);
    if (x11::AppDisplay() != nullptr) AttentionClearer::Watch(widget);
    return true;
}

bool KeepOutOfTaskbar(Window* window) {
    QWidget* widget = window != nullptr ? window->Widget() : nullptr;
    if (widget == nullptr) return false;
    if (!Watched(widget, kTaskbarName)) new TaskbarSkipper(widget);
    return true;
}

}  // namespace rt

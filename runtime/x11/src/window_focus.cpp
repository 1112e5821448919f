#include "runtime/window_focus.h"

#include <xcb/xcb.h>

#include <QtCore/QAbstractNativeEventFilter>
#include <QtCore/QCoreApplication>
#include <QtCore/QEvent>
#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtGui/QGuiApplication>
#include <QtGui/QWindow>
#include <QtWidgets/QApplication>
#include <QtWidgets/QWidget>
#include <unordered_map>

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

class FocusRefuser;

// Watches the window manager's doings with the windows that never take the focus, through Qt's
// own X connection:
// - Some window managers flag a window they map without activating it as demanding attention,
//   and only an activation takes the flag off again; on a window that never takes the focus it
//   would stay (a flashing taskbar) for good. So it is taken off such a window whenever it
//   appears.
// - Every change of the active window (the root window's _NET_ACTIVE_WINDOW) is told to the
//   windows' refusers, which remember the user's window and give the focus back to it.
class ManagerWatch final : public QAbstractNativeEventFilter {
public:
    static void Watch(QWidget* widget, FocusRefuser* refuser);

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override;

private:
    QPointer<QCoreApplication> application_;
    std::unordered_map<QWidget*, FocusRefuser*> watched_;
};

// Keeps the keyboard focus off the window: it offers no focus protocol to the window manager, and
// an activation that comes all the same (Qt's offscreen platform activates every window it shows;
// a manager may force the focus on it) goes back to the window the user had before: an own one,
// or on X11 another program's too.
class FocusRefuser final : public QObject {
public:
    explicit FocusRefuser(QWidget* widget) : QObject(widget), widget_(widget) {
        setObjectName(QString::fromLatin1(kRefuserName));
        widget->installEventFilter(this);
        // Qt tells of the focus moving between own windows on every platform, but later than the
        // manager tells of it: where a manager names the active window, it alone is followed.
        connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* focus) {
            _XDisplay* display = x11::AppDisplay();
            if (focus != nullptr && (display == nullptr || x11::ActiveWindow(display) == 0)) {
                RememberOwn(QWidget::find(focus->winId()));
            }
        });
        if (widget->isVisible()) Refuse();
    }

    // The manager's active window changed (X11 only). A manager may also answer a focus forced on
    // the window by naming no active window at all, after the focus was given back (xfwm4).
    void ActiveChanged(_XDisplay* display) {
        const x11::XWindowId active = x11::ActiveWindow(display);
        if (IsThis(active) || (active == 0 && QGuiApplication::focusWindow() == widget_->windowHandle())) {
            GiveBack();
        } else if (active != 0) {
            Remember(active);
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != widget_) return false;
        if (event->type() == QEvent::Show) {
            // The native window exists now and is mapped right after.
            Refuse();
            // The manager knows the user's window, also another program's; without one only
            // this process's windows are known.
            _XDisplay* display = x11::AppDisplay();
            const x11::XWindowId active = display != nullptr ? x11::ActiveWindow(display) : 0;
            if (active == 0) {
                RememberOwn(QApplication::activeWindow());
            } else if (!IsThis(active)) {
                Remember(active);
            }
        } else if (event->type() == QEvent::WindowActivate) {
            GiveBack();
        }
        return false;
    }

private:
    void Refuse() {
        // Qt offers WM_TAKE_FOCUS on every window; with it a manager counts the window as one
        // that takes the focus itself, whatever its input hint says.
        if (_XDisplay* display = x11::AppDisplay()) x11::RemoveProtocol(display, NativeId(widget_), "WM_TAKE_FOCUS");
    }

    bool IsThis(x11::XWindowId window) const {
        return widget_->testAttribute(Qt::WA_WState_Created) && window == widget_->internalWinId();
    }

    // The user's window, by its widget when it is one of this process's, else by its id.
    void Remember(x11::XWindowId window) {
        QWidget* own = QWidget::find(static_cast<WId>(window));
        own_ = own != nullptr && own->isWindow() ? own : nullptr;
        foreign_ = own_.isNull() ? window : 0;
    }
    void RememberOwn(QWidget* active) {
        if (active == nullptr || active == widget_) return;
        own_ = active;
        foreign_ = 0;
    }

    void GiveBack() {
        if (!own_.isNull()) {
            if (own_->isVisible()) own_->activateWindow();
        } else if (_XDisplay* display = x11::AppDisplay(); display != nullptr && foreign_ != 0) {
            x11::Activate(display, foreign_);
        }
    }

    QWidget* widget_;
    // The user's window before this one: own_ while it is one of this process's, else foreign_.
    QPointer<QWidget> own_;
    x11::XWindowId foreign_ = 0;
};

void ManagerWatch::Watch(QWidget* widget, FocusRefuser* refuser) {
    static auto* watch = new ManagerWatch;  // lives as long as the process
    if (watch->application_ != QCoreApplication::instance()) {
        watch->application_ = QCoreApplication::instance();
        watch->application_->installNativeEventFilter(watch);
    }
    QObject::connect(refuser, &QObject::destroyed, [widget] { watch->watched_.erase(widget); });
    watch->watched_[widget] = refuser;
}

bool ManagerWatch::nativeEventFilter(const QByteArray& type, void* message, qintptr*) {
    if (type != "xcb_generic_event_t") return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7F) != XCB_PROPERTY_NOTIFY) return false;
    const auto* change = reinterpret_cast<const xcb_property_notify_event_t*>(event);
    _XDisplay* display = x11::AppDisplay();
    if (display == nullptr) return false;
    if (change->window == x11::Root(display)) {
        if (change->atom == x11::InternAtom(display, "_NET_ACTIVE_WINDOW")) {
            for (const auto& [widget, refuser] : watched_) refuser->ActiveChanged(display);
        }
        return false;
    }
    for (const auto& [widget, refuser] : watched_) {
        if (!widget->testAttribute(Qt::WA_WState_Created) || widget->internalWinId() != change->window) continue;
        if (x11::HasState(display, change->window, kDemandsAttention)) {
            x11::RequestStates(display, change->window, false, kDemandsAttention, nullptr);
        }
        break;
    }
    return false;
}

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
    auto* refuser = new FocusRefuser(widget);
    if (x11::AppDisplay() != nullptr) ManagerWatch::Watch(widget, refuser);
    return true;
}

bool KeepOutOfTaskbar(Window* window) {
    QWidget* widget = window != nullptr ? window->Widget() : nullptr;
    if (widget == nullptr) return false;
    if (!Watched(widget, kTaskbarName)) new TaskbarSkipper(widget);
    return true;
}

}  // namespace rt

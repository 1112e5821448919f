// Windows built from their designs, the registry of open windows, and the window events.
#include "internal.h"
#include "runtime/qtext.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEvent>
#include <QMoveEvent>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <map>
#include <set>

namespace rt::detail {

class WindowWidget;

class WindowImpl final : public Window {
public:
    WindowImpl(const WindowDesign& design, WindowWidget* widget);
    ~WindowImpl() override;

    const std::string& Name() const override { return design_.name; }
    std::uintptr_t Handle() const override;
    QWidget* Widget() const override;

    void SetCaption(std::string_view text) override;
    std::string Caption() const override { return caption_; }
    int Left() const override;
    int Top() const override;
    int Width() const override;
    int Height() const override;
    void SetLeft(int left) override;
    void SetTop(int top) override;
    void SetTag(std::string_view tag) override { tag_ = std::string(tag); }
    std::string Tag() const override { return tag_; }
    Component* Find(std::string_view name) const override;
    bool RequestClose() override;

    const WindowDesign& Design() const { return design_; }
    void BuildComponents();
    void Show();
    // The window system (or the runtime, for a start window without one) reports activation.
    void NoteActivated();
    void NoteMoved();
    // Fits the client area to the frame the window manager has given the window, so that frame
    // and client together keep the design size.
    void FitToFrame();
    void NoteCloseAsked() { RequestClose(); }

    bool closePending = false;

private:
    void MoveTo(QPoint position);
    void FirePositionChanged();
    bool ClientStillUnframed(const QMargins& frame) const;
    QSize ClientSizeFor(const QMargins& frame) const;

    WindowDesign design_;
    WindowWidget* widget_;
    std::vector<std::unique_ptr<ComponentImpl>> components_;
    std::string caption_;
    std::string tag_;
    QPoint reportedPosition_;
    bool movingByWrite_ = false;
    QSize neededClient_;    // the room the components on the client area take, from their designs
    QMargins fittedFrame_;  // the frame the client size was last fitted to
};

// The top-level widget of a window. It owns its WindowImpl, so that deleting the widget (at once or
// through deleteLater) takes the whole window with it.
class WindowWidget final : public QWidget {
public:
    explicit WindowWidget(const WindowDesign& design)
        : impl_(std::make_unique<WindowImpl>(design, this))
    {
    }
    ~WindowWidget() override { impl_.reset(); }

    WindowImpl& Impl() { return *impl_; }

protected:
    void closeEvent(QCloseEvent* event) override
    {
        // The runtime decides: the query-close handler runs, and an allowed close removes the
        // window once this event has been handled.
        event->ignore();
        impl_->NoteCloseAsked();
    }
    void moveEvent(QMoveEvent* event) override
    {
        QWidget::moveEvent(event);
        impl_->FitToFrame();
        impl_->NoteMoved();
    }
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::WindowActivate) {
            impl_->FitToFrame();
            impl_->NoteActivated();
        }
        return QWidget::event(event);
    }

private:
    std::unique_ptr<WindowImpl> impl_;
};

namespace {

// How long a shown start window waits for the window system's activation before the runtime
// activates it itself (no window manager, offscreen).
constexpr int kActivationGraceMs = 300;

struct Registry {
    std::map<std::string, WindowDesign, std::less<>> designs;
    std::set<std::string, std::less<>> firstActivated;  // windows whose first activation has fired
    std::vector<WindowWidget*> open;                    // in load order
    std::vector<QPointer<WindowWidget>> closing;        // hidden, deleted once their event is done
};

// Never destroyed: widgets must not be deleted by exit-time destructors after Qt has gone.
Registry& Reg()
{
    static auto* registry = new Registry;
    return *registry;
}

WindowWidget* FindOpen(std::string_view name)
{
    for (WindowWidget* widget : Reg().open) {
        if (widget->Impl().Name() == name) {
            return widget;
        }
    }
    return nullptr;
}

// Removes the window from the open ones and hides it; the widget goes once the events that are
// being handled now have returned (deleteLater waits for the loop level it was called from).
void CloseNow(WindowImpl& impl)
{
    auto& registry = Reg();
    auto it = std::find_if(registry.open.begin(), registry.open.end(),
                           [&impl](WindowWidget* widget) { return &widget->Impl() == &impl; });
    if (it == registry.open.end()) {
        return;
    }
    WindowWidget* widget = *it;
    registry.open.erase(it);
    widget->hide();
    widget->deleteLater();
    registry.closing.erase(std::remove(registry.closing.begin(), registry.closing.end(), nullptr),
                           registry.closing.end());
    registry.closing.emplace_back(widget);
    NoteWindowCountChanged(registry.open.size());
}

}  // namespace

bool IsOpen(const WindowImpl* impl)
{
    const auto& open = Reg().open;
    return std::any_of(open.begin(), open.end(),
                       [impl](WindowWidget* widget) { return &widget->Impl() == impl; });
}

std::size_t OpenWindowCount() { return Reg().open.size(); }

bool FireWindowEvent(WindowImpl& window, std::string_view component, EventKind kind)
{
    std::vector<EventBinding> bindings;
    for (const auto& binding : window.Design().events) {
        if (binding.event == kind && binding.component == component) {
            bindings.push_back(binding);
        }
    }
    bool allowed = true;
    for (const auto& binding : bindings) {
        if (kind == EventKind::QueryClose && binding.queryClose) {
            allowed = binding.queryClose() && allowed;
        } else if (binding.handler) {
            binding.handler();
        }
    }
    return allowed;
}

WindowImpl::WindowImpl(const WindowDesign& design, WindowWidget* widget)
    : design_(design), widget_(widget), caption_(design.caption)
{
}

WindowImpl::~WindowImpl() = default;

std::uintptr_t WindowImpl::Handle() const { return static_cast<std::uintptr_t>(widget_->winId()); }

QWidget* WindowImpl::Widget() const { return widget_; }

void WindowImpl::SetCaption(std::string_view text)
{
    caption_ = std::string(text);
    widget_->setWindowTitle(ToQString(text));
}

int WindowImpl::Left() const { return widget_->x(); }
int WindowImpl::Top() const { return widget_->y(); }
int WindowImpl::Width() const { return widget_->frameGeometry().width(); }
int WindowImpl::Height() const { return widget_->frameGeometry().height(); }

void WindowImpl::SetLeft(int left) { MoveTo(QPoint(left, widget_->y())); }

void WindowImpl::SetTop(int top) { MoveTo(QPoint(widget_->x(), top)); }

void WindowImpl::MoveTo(QPoint position)
{
    // A shown window reports the move synchronously; the write fires the event itself, once.
    movingByWrite_ = true;
    widget_->move(position);
    movingByWrite_ = false;
    FirePositionChanged();
}

void WindowImpl::FirePositionChanged()
{
    reportedPosition_ = widget_->pos();
    FireWindowEvent(*this, {}, EventKind::PositionChanged);
}

// The design size less the frame, but never less than the components need (nor, without a
// frame, more than the design size).
QSize WindowImpl::ClientSizeFor(const QMargins& frame) const
{
    const QSize design(std::max(1, design_.width), std::max(1, design_.height));
    const QSize needed = neededClient_.boundedTo(design);
    return QSize(std::max({1, design.width() - frame.left() - frame.right(), needed.width()}),
                 std::max({1, design.height() - frame.top() - frame.bottom(), needed.height()}));
}

void WindowImpl::FitToFrame()
{
    // Qt reads the frame from the manager's _NET_FRAME_EXTENTS once it has framed the window; the
    // client then moves within the frame, so a move event follows each change of the frame.
    if (design_.borderless) {
        return;
    }
    QWindow* handle = widget_->windowHandle();
    if (handle == nullptr) {
        return;
    }
    const QMargins frame = handle->frameMargins();
    if (frame == fittedFrame_) {
        return;
    }
    fittedFrame_ = frame;
    // The resize takes along the client's place as Qt holds it; one from before the frame would
    // put the client where the frame's corner belongs, the frame above and left of it. So the
    // corner is asked for again.
    const bool unframed = ClientStillUnframed(frame);
    widget_->setFixedSize(ClientSizeFor(frame));
    if (unframed) {
        widget_->move(reportedPosition_);
    }
}

// Qt may know of the frame before it has read where the frame put the client: an activation, or a
// configure notice sent before the frame (handled late, under load), may come first. It then holds
// the client at the frame's corner, where the client lay unframed, which a frame with a top or left
// part rules out.
bool WindowImpl::ClientStillUnframed(const QMargins& frame) const
{
    return widget_->geometry().topLeft() == reportedPosition_ && (frame.left() > 0 || frame.top() > 0);
}

void WindowImpl::NoteMoved()
{
    // A move that the runtime reports itself (a write of Left or Top) fires nothing more, nor does
    // a notice from before the frame: the window has not moved.
    if (!movingByWrite_ && widget_->pos() != reportedPosition_ && !ClientStillUnframed(fittedFrame_)) {
        FirePositionChanged();
    }
}

Component* WindowImpl::Find(std::string_view name) const
{
    for (const auto& component : components_) {
        if (component->Name() == name) {
            return component.get();
        }
    }
    return nullptr;
}

bool WindowImpl::RequestClose()
{
    if (!IsOpen(this)) {
        return true;
    }
    if (!FireWindowEvent(*this, {}, EventKind::QueryClose)) {
        return false;
    }
    CloseNow(*this);
    return true;
}

void WindowImpl::BuildComponents()
{
    widget_->setWindowTitle(ToQString(design_.caption));
    Qt::WindowFlags flags = Qt::Window;
    if (design_.borderless) {
        flags |= Qt::FramelessWindowHint;
    }
    widget_->setWindowFlags(flags);
    if (design_.background >= 0) {
        QPalette palette = widget_->palette();
        palette.setColor(QPalette::Window, ToQColor(static_cast<Colour>(design_.background)));
        widget_->setPalette(palette);
        widget_->setAutoFillBackground(true);
    }
    // The design's position and size are the outer ones, frame included. Until a window manager
    // frames the window (never, without one or offscreen) the client area is all of it; move()
    // places the frame's corner, so the manager is asked for that corner (north-west gravity).
    widget_->move(design_.left, design_.top);
    widget_->setFixedSize(ClientSizeFor(QMargins()));
    reportedPosition_ = widget_->pos();

    // A component's parent (a group box) may be designed after it; place those once it exists.
    std::vector<const ComponentDesign*> pending;
    for (const auto& component : design_.components) {
        pending.push_back(&component);
    }
    while (!pending.empty()) {
        bool progress = false;
        for (auto it = pending.begin(); it != pending.end();) {
            const ComponentDesign& component = **it;
            QWidget* parent = widget_;
            if (!component.parent.empty()) {
                Component* holder = Find(component.parent);
                if (holder == nullptr) {
                    const bool parentDesigned = std::any_of(
                        pending.begin(), pending.end(),
                        [&component](const ComponentDesign* d) { return d->name == component.parent; });
                    if (parentDesigned) {
                        ++it;
                        continue;
                    }
                } else if (holder->Widget() != nullptr) {
                    parent = holder->Widget();
                }
            }
            if (auto created = CreateComponent(*this, component, parent)) {
                components_.push_back(std::move(created));
            }
            it = pending.erase(it);
            progress = true;
        }
        if (!progress) {
            // Parents that hold each other: place the rest on the window itself.
            for (const ComponentDesign* component : pending) {
                if (auto created = CreateComponent(*this, *component, widget_)) {
                    components_.push_back(std::move(created));
                }
            }
            pending.clear();
        }
    }

    // A frame may take less than this from the client area: no component is cut by it.
    for (const auto& component : components_) {
        const QWidget* shown = component->Widget();
        if (shown != nullptr && shown->parentWidget() == widget_) {
            neededClient_ = neededClient_.expandedTo(QSize(component->Left() + component->Width(),
                                                           component->Top() + component->Height()));
        }
    }
}

void WindowImpl::Show()
{
    widget_->show();
    if (!design_.startWindow) {
        return;
    }
    widget_->raise();
    widget_->activateWindow();
    if (QWindow* window = widget_->windowHandle()) {
        window->requestActivate();
    }
    // Without a window manager (or offscreen) no activation may come; a start window is active
    // once shown all the same.
    QTimer::singleShot(kActivationGraceMs, widget_, [this] { NoteActivated(); });
}

void WindowImpl::NoteActivated()
{
    auto& registry = Reg();
    if (!IsOpen(this) || registry.firstActivated.count(design_.name) != 0) {
        return;
    }
    registry.firstActivated.insert(design_.name);
    // The handler may run a long nested loop; it runs from the event loop, not inside the window
    // system's activation.
    QTimer::singleShot(0, widget_, [this] {
        if (IsOpen(this)) {
            FireWindowEvent(*this, {}, EventKind::FirstActivation);
        }
    });
}

}  // namespace rt::detail

namespace rt {

using detail::FindOpen;
using detail::Reg;

void DefineWindow(WindowDesign design)
{
    std::string name = design.name;
    Reg().designs[name] = std::move(design);
}

bool LoadWindow(std::string_view name)
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        return false;
    }
    if (detail::WindowWidget* open = FindOpen(name)) {
        open->Impl().closePending = false;  // a load after a close request keeps the window
        return true;
    }
    auto& registry = Reg();
    auto design = registry.designs.find(name);
    if (design == registry.designs.end()) {
        return false;
    }
    detail::EnsureFontSubstitutes();
    auto* widget = new detail::WindowWidget(design->second);
    detail::WindowImpl& impl = widget->Impl();
    impl.BuildComponents();
    registry.open.push_back(widget);
    detail::FireWindowEvent(impl, {}, EventKind::Created);
    // The created handler may have closed the window, or asked for its close, already.
    if (FindOpen(name) == widget && !impl.closePending) {
        impl.Show();
    }
    return true;
}

void CloseWindowUnit(std::string_view name)
{
    detail::WindowWidget* widget = FindOpen(name);
    if (widget == nullptr || widget->Impl().closePending) {
        return;
    }
    widget->Impl().closePending = true;
    detail::WindowImpl* impl = &widget->Impl();
    QTimer::singleShot(0, widget, [impl] {
        if (impl->closePending) {
            detail::CloseNow(*impl);
        }
    });
}

Window* FindWindow(std::string_view name)
{
    detail::WindowWidget* widget = FindOpen(name);
    return widget ? &widget->Impl() : nullptr;
}

Component* FindComponent(std::string_view window, std::string_view component)
{
    Window* open = FindWindow(window);
    return open ? open->Find(component) : nullptr;
}

std::uintptr_t WindowHandle(std::string_view window)
{
    Window* open = FindWindow(window);
    return open ? open->Handle() : 0;
}

void SetFocusTo(Window* window)
{
    if (window == nullptr || window->Widget() == nullptr) {
        return;
    }
    QWidget* widget = window->Widget();
    widget->raise();
    widget->activateWindow();
}

void SetFocusTo(Component* component)
{
    if (component == nullptr || component->Widget() == nullptr) {
        return;
    }
    component->Widget()->setFocus(Qt::OtherFocusReason);
}

std::string ComboItemText(const Component& combo, int index) { return combo.ItemText(index); }

void DestroyAllWindows()
{
    auto& registry = Reg();
    std::vector<detail::WindowWidget*> open;
    open.swap(registry.open);
    for (auto it = open.rbegin(); it != open.rend(); ++it) {
        delete *it;
    }
    std::vector<QPointer<detail::WindowWidget>> closing;
    closing.swap(registry.closing);
    for (auto& widget : closing) {
        delete widget.data();
    }
    if (!open.empty()) {
        detail::NoteWindowCountChanged(0);
    }
}

}  // namespace rt

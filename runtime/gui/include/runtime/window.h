#pragma once
// Windows and components built from design tables, over Qt 6 Widgets. Every text in and out is
// GBK; every call is made on the UI thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class QWidget;

namespace rt {

enum class ComponentType {
    Button,
    CheckBox,
    ComboBox,
    Label,
    EditBox,     // multi-line memo
    GroupBox,    // holds children
    ShapeBox,
    ProcessBar,
    Timer,       // invisible
    BarChart,
    HtmlViewer,
};

enum class EventKind {
    // window events
    Created,          // fired during LoadWindow, after the components exist, before it is shown
    QueryClose,       // the user (or RequestClose) asks to close; the handler may refuse
    FirstActivation,  // the first time the window becomes active, once per run
    PositionChanged,  // fired inside a write of Left or Top, and when the window is moved
    // component events
    Clicked,          // a user click (a check box has toggled already)
    TimerTick,
    GotFocus,
    ListSelected,     // a combo box's current item was chosen by the user
};

// A Windows colour value 0x00BBGGRR.
using Colour = std::uint32_t;

struct FontDesign {
    std::string family;  // GBK; empty: the default font. Missing families fall back to installed ones.
    int height = 0;      // character height in pixels; 0: default
    int weight = 400;    // 100..900
};

struct ComponentDesign {
    ComponentType type = ComponentType::Label;
    std::string name;
    int left = 0, top = 0, width = 0, height = 0;  // relative to the window's client area or parent
    std::string caption;                           // design text (GBK)
    std::string parent;                            // a GroupBox that holds it; empty: the window
    std::vector<std::string> items;                // ComboBox items; item 0 is current at start
    int interval = 0;                              // Timer: milliseconds; > 0 runs from creation
    int minimum = 0, maximum = 100;                // ProcessBar range
    FontDesign font;
    // BarChart
    int columns = 0;
    std::vector<std::string> seriesCaptions;
    std::string title;
    std::string valueLabel;  // format of value labels; "${v}" stands for the value
};

// A design row of the given type, name, place and size, with an optional caption and parent; the
// rest of the row keeps its defaults.
inline ComponentDesign DesignComponent(ComponentType type, std::string name, int left, int top, int width,
                                       int height, std::string caption = {}, std::string parent = {})
{
    ComponentDesign d;
    d.type = type;
    d.name = std::move(name);
    d.left = left;
    d.top = top;
    d.width = width;
    d.height = height;
    d.caption = std::move(caption);
    d.parent = std::move(parent);
    return d;
}

struct EventBinding {
    std::string component;  // empty: the window itself
    EventKind event = EventKind::Clicked;
    std::function<void()> handler;     // every event but QueryClose
    std::function<bool()> queryClose;  // QueryClose: false keeps the window open
};

struct WindowDesign {
    std::string name;
    // Screen position and size of the whole window, frame included: the client area is what the
    // window manager's frame leaves of it, yet never less than the components on it need.
    int left = 0, top = 0, width = 0, height = 0;
    std::string caption;
    bool borderless = false;
    bool startWindow = false;   // activated when shown, also without a window manager
    std::int64_t background = -1;  // a Colour, or -1 for the default background
    std::vector<ComponentDesign> components;
    std::vector<EventBinding> events;
};

class Component {
public:
    virtual ~Component() = default;
    virtual ComponentType Type() const = 0;
    virtual const std::string& Name() const = 0;
    virtual std::uintptr_t Handle() const = 0;
    virtual QWidget* Widget() const = 0;  // nullptr for a Timer

    // Position and size relative to the parent.
    virtual int Left() const = 0;
    virtual int Top() const = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;

    virtual void SetCaption(std::string_view text) = 0;  // Button, CheckBox, Label, GroupBox
    virtual std::string Caption() const = 0;
    virtual void SetEnabled(bool enabled) = 0;
    virtual bool Enabled() const = 0;
    virtual void SetTextColour(Colour colour) = 0;  // Label
    virtual Colour TextColour() const = 0;
    virtual void SetChecked(bool checked) = 0;      // CheckBox; fires no event
    virtual bool Checked() const = 0;
    virtual void SetCurrentIndex(int index) = 0;    // ComboBox; fires no event
    virtual int CurrentIndex() const = 0;
    virtual int ItemCount() const = 0;
    virtual std::string ItemText(int index) const = 0;  // empty out of range
    virtual void SetContent(std::string_view text) = 0;  // EditBox
    virtual std::string Content() const = 0;

    // ProcessBar
    virtual void SetMinimum(int value) = 0;
    virtual void SetMaximum(int value) = 0;
    virtual void SetPosition(int value) = 0;
    virtual int Minimum() const = 0;
    virtual int Maximum() const = 0;
    virtual int Position() const = 0;

    // Timer
    virtual void SetInterval(int milliseconds) = 0;
    virtual int Interval() const = 0;
    virtual void SetTimerEnabled(bool enabled) = 0;
    virtual bool TimerEnabled() const = 0;

    // BarChart: the current column and series select what ColumnLabel and Value address.
    virtual int Columns() const = 0;
    virtual void SetCurrentColumn(int column) = 0;  // 0-based
    virtual int CurrentColumn() const = 0;
    virtual void SetColumnLabel(std::string_view label) = 0;
    virtual std::string ColumnLabel() const = 0;
    virtual void SetCurrentSeries(int series) = 0;  // 0-based
    virtual int CurrentSeries() const = 0;
    virtual void SetValue(double value) = 0;  // stored with a negative value as 0, above 1e7 as 1e7
    virtual double Value() const = 0;

    // HtmlViewer: fetch the address (http or https only) and show it as rich text; nothing on failure.
    virtual void Navigate(std::string_view address) = 0;
    virtual std::string Address() const = 0;

    // As the user would: a click (a check box toggles first, a disabled component ignores it),
    // a tick of a timer. For tests and for the runtime's own wiring.
    virtual void Click() = 0;
    virtual void Tick() = 0;
};

class Window {
public:
    virtual ~Window() = default;
    virtual const std::string& Name() const = 0;
    virtual std::uintptr_t Handle() const = 0;  // the native window id on X11, a unique id elsewhere
    virtual QWidget* Widget() const = 0;

    virtual void SetCaption(std::string_view text) = 0;
    virtual std::string Caption() const = 0;
    // The frame's outer corner and size on the screen, as in the design.
    virtual int Left() const = 0;
    virtual int Top() const = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    // Each write moves the window and fires PositionChanged before it returns.
    virtual void SetLeft(int left) = 0;
    virtual void SetTop(int top) = 0;
    // The window's free tag text.
    virtual void SetTag(std::string_view tag) = 0;
    virtual std::string Tag() const = 0;

    virtual Component* Find(std::string_view name) const = 0;  // nullptr when unknown

    // As the user asking to close: runs QueryClose; true when the window has closed.
    virtual bool RequestClose() = 0;
};

// Registers a window's design; LoadWindow creates it from this.
void DefineWindow(WindowDesign design);

// Creates the window anew from its design (Created fires during the load) and shows it; a start
// window is also activated. Does nothing and returns true when it is open already.
bool LoadWindow(std::string_view name);
// Closes the window once the current event has been handled.
void CloseWindowUnit(std::string_view name);
// The open window of that name, or nullptr.
Window* FindWindow(std::string_view name);
// The component of an open window, or nullptr.
Component* FindComponent(std::string_view window, std::string_view component);
// The native handle of an open window, or 0.
std::uintptr_t WindowHandle(std::string_view window);
// Gives the input focus to a window (activates it) or to a component.
void SetFocusTo(Window* window);
void SetFocusTo(Component* component);
// The text of the combo box item at a 0-based index; empty out of range.
std::string ComboItemText(const Component& combo, int index);

// Closes every window at once, without QueryClose (for the orderly end and for tests).
void DestroyAllWindows();

}  // namespace rt

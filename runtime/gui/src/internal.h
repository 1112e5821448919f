#pragma once
// Shared between the runtime's GUI sources; not part of the public interface.

#include "runtime/window.h"

#include <QColor>
#include <QFont>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRectF>
#include <QString>
#include <QWidget>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QWidget;

namespace rt::detail {

class WindowImpl;

// What the platform choice looks at in the environment; null or empty means unset.
struct PlatformEnvironment {
    const char* display = nullptr;         // DISPLAY
    const char* waylandDisplay = nullptr;  // WAYLAND_DISPLAY
    const char* qpaPlatform = nullptr;     // QT_QPA_PLATFORM
};
// The platform list to hand Qt with "-platform", or empty to leave the choice to Qt. The window
// functions speak X11, so where an X server is at hand (in a Wayland session: XWayland) Qt's xcb
// platform is asked for, with Wayland as the fallback when that server cannot be reached. A
// platform the user chose (QT_QPA_PLATFORM, a -platform argument among argv[1..argc)) is kept.
std::string QtPlatformFor(const PlatformEnvironment& environment, int argc, const char* const* argv);

// Registers the fallbacks for design fonts that Linux lacks; once, after the application exists.
void EnsureFontSubstitutes();
// Gives Qt's own texts (message-box buttons, the edit menu) in Chinese, whatever the user's locale:
// installs Qt's zh_CN catalogue on the application object, once per application object even with
// several copies of the runtime in the process. Without the catalogue Qt's defaults stay.
void EnsureQtTranslations();
// A Windows colour value 0x00BBGGRR as a QColor and back.
QColor ToQColor(Colour colour);
Colour FromQColor(const QColor& colour);
// The widget's font with the design's family, character height and weight applied.
QFont DesignFont(const FontDesign& design, const QFont& base);
bool HasDesignFont(const FontDesign& design);
// A caption as a static control shows it: "&&" gives "&", a single "&" (the mnemonic mark) is dropped.
QString StripMnemonic(const QString& text);
// LF-only line breaks for Qt, and CR LF for texts handed back to the system.
std::string ToLfBreaks(std::string_view text);
std::string ToCrLfBreaks(std::string_view text);

// The part every component shares: its design, its owner window and the events it fires. The
// defaults answer neutrally (0, empty, no effect) for properties a type does not have.
class ComponentImpl : public QObject, public Component {
public:
    ComponentImpl(WindowImpl& owner, const ComponentDesign& design);
    ~ComponentImpl() override;

    ComponentType Type() const override { return type_; }
    const std::string& Name() const override { return name_; }
    std::uintptr_t Handle() const override;
    QWidget* Widget() const override { return widget_; }

    int Left() const override;
    int Top() const override;
    int Width() const override;
    int Height() const override;

    void SetCaption(std::string_view) override {}
    std::string Caption() const override { return {}; }
    void SetEnabled(bool enabled) override;
    bool Enabled() const override;
    void SetTextColour(Colour) override {}
    Colour TextColour() const override { return 0; }
    void SetChecked(bool) override {}
    bool Checked() const override { return false; }
    void SetCurrentIndex(int) override {}
    int CurrentIndex() const override { return -1; }
    int ItemCount() const override { return 0; }
    std::string ItemText(int) const override { return {}; }
    void SetContent(std::string_view) override {}
    std::string Content() const override { return {}; }

    void SetMinimum(int) override {}
    void SetMaximum(int) override {}
    void SetPosition(int) override {}
    int Minimum() const override { return 0; }
    int Maximum() const override { return 0; }
    int Position() const override { return 0; }

    void SetInterval(int) override {}
    int Interval() const override { return 0; }
    void SetTimerEnabled(bool) override {}
    bool TimerEnabled() const override { return false; }

    int Columns() const override { return 0; }
    void SetCurrentColumn(int) override {}
    int CurrentColumn() const override { return 0; }
    void SetColumnLabel(std::string_view) override {}
    std::string ColumnLabel() const override { return {}; }
    void SetCurrentSeries(int) override {}
    int CurrentSeries() const override { return 0; }
    void SetValue(double) override {}
    double Value() const override { return 0.0; }

    void Navigate(std::string_view) override {}
    std::string Address() const override { return {}; }

    void Click() override;
    void Tick() override {}

protected:
    // Takes the widget that shows this component (parented by the caller) and wires focus events.
    void Attach(QWidget* widget);
    void Fire(EventKind kind);
    bool eventFilter(QObject* watched, QEvent* event) override;

    WindowImpl& owner_;
    ComponentDesign design_;

private:
    std::string name_;
    ComponentType type_;
    QPointer<QWidget> widget_;
};

// Creates the component of a design under parent (the window's client area or a group box).
std::unique_ptr<ComponentImpl> CreateComponent(WindowImpl& owner, const ComponentDesign& design,
                                               QWidget* parent);
std::unique_ptr<ComponentImpl> CreateBarChart(WindowImpl& owner, const ComponentDesign& design,
                                              QWidget* parent);
std::unique_ptr<ComponentImpl> CreateHtmlViewer(WindowImpl& owner, const ComponentDesign& design,
                                                QWidget* parent);

// A value label of a bar chart as it is painted: the bar it stands for, its text and the
// rectangle its glyphs fill, in the chart's own coordinates. A vertical label reads upwards.
struct BarValueLabel {
    int series = 0;
    int column = 0;
    QString text;
    QRectF rect;
    bool vertical = false;
};
// The value labels the bar chart component paints with its present values and geometry; empty
// for another component.
std::vector<BarValueLabel> BarChartValueLabels(const Component& component);

// Whether the window is open: loaded and not yet closed (a closed one may wait for its deletion).
bool IsOpen(const WindowImpl* window);
// Runs every handler bound to the window's or a component's event; false when a query-close
// handler refused. Handlers are copied before they run, so a handler may close its own window.
bool FireWindowEvent(WindowImpl& window, std::string_view component, EventKind kind);

// True once EndProgram has begun the orderly end (windows, sound, the exit routine).
bool OrderlyEndBegun();

// Stops every real sound and releases what the player holds; the orderly end calls it.
void ShutdownSound();
// How many windows are open now.
std::size_t OpenWindowCount();
// Asks the running message loop to end when the last window has gone.
void NoteWindowCountChanged(std::size_t openWindows);

}  // namespace rt::detail

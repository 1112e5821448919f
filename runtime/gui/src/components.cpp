// The plain components: buttons, check boxes, combo boxes, labels, memos, group boxes, shapes,
// progress bars and timers.
#include "internal.h"
#include "runtime/qtext.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPalette>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

namespace rt::detail {

ComponentImpl::ComponentImpl(WindowImpl& owner, const ComponentDesign& design)
    : owner_(owner), design_(design), name_(design.name), type_(design.type)
{
}

ComponentImpl::~ComponentImpl() = default;

std::uintptr_t ComponentImpl::Handle() const
{
    // Child widgets stay non-native (a native child would change how the window paints), so the
    // widget's address serves as the unique handle.
    return widget_ ? reinterpret_cast<std::uintptr_t>(widget_.data())
                   : reinterpret_cast<std::uintptr_t>(this);
}

int ComponentImpl::Left() const { return widget_ ? widget_->x() : design_.left; }
int ComponentImpl::Top() const { return widget_ ? widget_->y() : design_.top; }
int ComponentImpl::Width() const { return widget_ ? widget_->width() : design_.width; }
int ComponentImpl::Height() const { return widget_ ? widget_->height() : design_.height; }

void ComponentImpl::SetEnabled(bool enabled)
{
    if (widget_) {
        widget_->setEnabled(enabled);
    }
}

bool ComponentImpl::Enabled() const { return widget_ ? widget_->isEnabled() : true; }

void ComponentImpl::Click()
{
    if (!widget_ || widget_->isEnabled()) {
        Fire(EventKind::Clicked);
    }
}

void ComponentImpl::Attach(QWidget* widget)
{
    widget_ = widget;
    widget->setGeometry(design_.left, design_.top, design_.width, design_.height);
    if (HasDesignFont(design_.font)) {
        widget->setFont(DesignFont(design_.font, widget->font()));
    }
    widget->installEventFilter(this);
}

void ComponentImpl::Fire(EventKind kind)
{
    // A closed window's widgets live on until the loop deletes them; their timers and focus
    // changes in that time are no events of the program's.
    if (IsOpen(&owner_)) {
        FireWindowEvent(owner_, name_, kind);
    }
}

bool ComponentImpl::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == widget_.data() && event->type() == QEvent::FocusIn) {
        Fire(EventKind::GotFocus);
    }
    return false;
}

namespace {

// Buttons and check boxes: a click by the user (or Click()) fires Clicked; a disabled one ignores it.
class ButtonComponent final : public ComponentImpl {
public:
    ButtonComponent(WindowImpl& owner, const ComponentDesign& design, QWidget* parent)
        : ComponentImpl(owner, design)
    {
        if (design.type == ComponentType::CheckBox) {
            button_ = new QCheckBox(parent);
        } else {
            button_ = new QPushButton(parent);
        }
        Attach(button_);
        button_->setText(ToQString(design.caption));
        caption_ = design.caption;
        // clicked() comes only from the user or click(), never from setChecked().
        connect(button_, &QAbstractButton::clicked, this, [this] { Fire(EventKind::Clicked); });
    }

    void SetCaption(std::string_view text) override
    {
        caption_ = std::string(text);
        button_->setText(ToQString(text));
    }
    std::string Caption() const override { return caption_; }
    void SetChecked(bool checked) override { button_->setChecked(checked); }
    bool Checked() const override { return button_->isChecked(); }
    // QAbstractButton::click() toggles a check box first and does nothing when disabled.
    void Click() override { button_->click(); }

private:
    QAbstractButton* button_ = nullptr;
    std::string caption_;
};

class ComboBoxComponent final : public ComponentImpl {
public:
    ComboBoxComponent(WindowImpl& owner, const ComponentDesign& design, QWidget* parent)
        : ComponentImpl(owner, design), combo_(new QComboBox(parent))
    {
        Attach(combo_);
        combo_->setEditable(false);
        combo_->setMaxVisibleItems(std::max(10, static_cast<int>(design.items.size())));
        for (const auto& item : design.items) {
            combo_->addItem(ToQString(item));
        }
        combo_->setCurrentIndex(design.items.empty() ? -1 : 0);
        // activated() is the user's choice; setCurrentIndex() does not emit it.
        connect(combo_, &QComboBox::activated, this, [this](int) { Fire(EventKind::ListSelected); });
    }

    void SetCaption(std::string_view text) override
    {
        const int index = combo_->findText(ToQString(text));
        if (index >= 0) {
            combo_->setCurrentIndex(index);
        }
    }
    std::string Caption() const override { return FromQString(combo_->currentText()); }
    void SetCurrentIndex(int index) override
    {
        combo_->setCurrentIndex(index >= 0 && index < combo_->count() ? index : -1);
    }
    int CurrentIndex() const override { return combo_->currentIndex(); }
    int ItemCount() const override { return combo_->count(); }
    std::string ItemText(int index) const override
    {
        if (index < 0 || index >= combo_->count()) {
            return {};
        }
        return FromQString(combo_->itemText(index));
    }

private:
    QComboBox* combo_;
};

class LabelComponent final : public ComponentImpl {
public:
    LabelComponent(WindowImpl& owner, const ComponentDesign& design, QWidget* parent)
        : ComponentImpl(owner, design), label_(new QLabel(parent))
    {
        Attach(label_);
        // Plain text always: a label never interprets markup in what it is given.
        label_->setTextFormat(Qt::PlainText);
        label_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        SetCaption(design.caption);
    }

    void SetCaption(std::string_view text) override
    {
        caption_ = std::string(text);
        label_->setText(StripMnemonic(ToQString(text)));
    }
    std::string Caption() const override { return caption_; }
    void SetTextColour(Colour colour) override
    {
        colour_ = colour & 0xFFFFFF;
        QPalette palette = label_->palette();
        palette.setColor(QPalette::WindowText, ToQColor(colour_));
        label_->setPalette(palette);
    }
    Colour TextColour() const override { return colour_; }

private:
    QLabel* label_;
    std::string caption_;
    Colour colour_ = 0;
};

// The multi-line memo. The system keeps CR LF line breaks; Qt gets LF.
class EditBoxComponent final : public ComponentImpl {
public:
    EditBoxComponent(WindowImpl& owner, const ComponentDesign& design, QWidget* parent)
        : ComponentImpl(owner, design), edit_(new QPlainTextEdit(parent))
    {
        Attach(edit_);
        edit_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        SetContent(design.caption);
    }

    void SetContent(std::string_view text) override
    {
        edit_->setPlainText(ToQString(ToLfBreaks(text)));
    }
    std::string Content() const override { return ToCrLfBreaks(FromQString(edit_->toPlainText())); }
    void SetCaption(std::string_view text) override { SetContent(text); }
    std::string Caption() const override { return Content(); }

private:
    QPlainTextEdit* edit_;
};

class GroupBoxComponent final : public ComponentImpl {
public:
    GroupBoxComponent(WindowImpl& owner, const ComponentDesign& design, QWidget* parent)
        : ComponentImpl(owner, design), box_(new QGroupBox(parent))
    {
        Attach(box_);
        SetCaption(design.caption);
    }

    void SetCaption(std::string_view text) override
    {
        caption_ = std::string(text);
        box_->setTitle(ToQString(text));
    }
    std::string Caption() const override { return caption_; }

private:
    QGroupBox* box_;
    std::string caption_;
};

class ShapeBoxComponent final : public ComponentImpl {
public:
    ShapeBoxComponent(WindowImpl& owner, const ComponentDesign& design, QWidget* parent)
        : ComponentImpl(owner, design)
    {
        auto* frame = new QFrame(parent);
        Attach(frame);
        frame->setFrameShape(QFrame::Box);
        frame->setFrameShadow(QFrame::Plain);
        QPalette palette = frame->palette();
        palette.setColor(QPalette::WindowText, QColor(160, 160, 160));
        frame->setPalette(palette);
    }
};

class ProcessBarComponent final : public ComponentImpl {
public:
    ProcessBarComponent(WindowImpl& owner, const ComponentDesign& design, QWidget* parent)
        : ComponentImpl(owner, design), bar_(new QProgressBar(parent))
    {
        Attach(bar_);
        bar_->setTextVisible(false);
        // A progress bar looks the same on any window: its frame, groove and fill come from the
        // ordinary palette, not from its window's background colour (the floating bar's is its
        // key colour, and a frame drawn from it would be a shade of the key). Its own background
        // is filled as well, so that the anti-aliased corners blend with that and never with the
        // window's colour.
        QPalette ordinary = QApplication::palette(bar_);
        ordinary.setResolveMask(~QPalette::ResolveMask(0));  // every role its own, none inherited
        bar_->setPalette(ordinary);
        bar_->setAutoFillBackground(true);
        bar_->setRange(design.minimum, std::max(design.minimum, design.maximum));
        bar_->setValue(design.minimum);
    }

    void SetMinimum(int value) override
    {
        bar_->setMinimum(value);
        SetPosition(position_);
    }
    void SetMaximum(int value) override
    {
        bar_->setMaximum(value);
        SetPosition(position_);
    }
    // Qt ignores a value outside the range; a progress bar clamps it instead.
    void SetPosition(int value) override
    {
        position_ = value;
        bar_->setValue(std::clamp(value, bar_->minimum(), std::max(bar_->minimum(), bar_->maximum())));
    }
    int Minimum() const override { return bar_->minimum(); }
    int Maximum() const override { return bar_->maximum(); }
    int Position() const override { return bar_->value(); }

private:
    QProgressBar* bar_;
    int position_ = 0;
};

// An invisible timer; an interval above 0 runs it from creation.
class TimerComponent final : public ComponentImpl {
public:
    TimerComponent(WindowImpl& owner, const ComponentDesign& design)
        : ComponentImpl(owner, design), timer_(new QTimer(this))
    {
        timer_->setTimerType(Qt::PreciseTimer);
        connect(timer_, &QTimer::timeout, this, [this] { Fire(EventKind::TimerTick); });
        SetInterval(design.interval);
    }

    void SetInterval(int milliseconds) override
    {
        interval_ = std::max(0, milliseconds);
        if (interval_ > 0) {
            timer_->start(interval_);
        } else {
            timer_->stop();
        }
    }
    int Interval() const override { return interval_; }
    void SetTimerEnabled(bool enabled) override
    {
        if (enabled && interval_ > 0) {
            timer_->start(interval_);
        } else if (!enabled) {
            timer_->stop();
        }
    }
    bool TimerEnabled() const override { return timer_->isActive(); }
    void SetEnabled(bool enabled) override { SetTimerEnabled(enabled); }
    bool Enabled() const override { return timer_->isActive(); }
    void Tick() override { Fire(EventKind::TimerTick); }
    void Click() override {}

private:
    QTimer* timer_;
    int interval_ = 0;
};

}  // namespace

std::unique_ptr<ComponentImpl> CreateComponent(WindowImpl& owner, const ComponentDesign& design,
                                               QWidget* parent)
{
    switch (design.type) {
    case ComponentType::Button:
    case ComponentType::CheckBox:
        return std::make_unique<ButtonComponent>(owner, design, parent);
    case ComponentType::ComboBox:
        return std::make_unique<ComboBoxComponent>(owner, design, parent);
    case ComponentType::Label:
        return std::make_unique<LabelComponent>(owner, design, parent);
    case ComponentType::EditBox:
        return std::make_unique<EditBoxComponent>(owner, design, parent);
    case ComponentType::GroupBox:
        return std::make_unique<GroupBoxComponent>(owner, design, parent);
    case ComponentType::ShapeBox:
        return std::make_unique<ShapeBoxComponent>(owner, design, parent);
    case ComponentType::ProcessBar:
        return std::make_unique<ProcessBarComponent>(owner, design, parent);
    case ComponentType::Timer:
        return std::make_unique<TimerComponent>(owner, design);
    case ComponentType::BarChart:
        return CreateBarChart(owner, design, parent);
    case ComponentType::HtmlViewer:
        return CreateHtmlViewer(owner, design, parent);
    }
    return nullptr;
}

}  // namespace rt::detail

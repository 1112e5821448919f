// A window of the runtime's interface over a plain widget, for the window functions that take one.
#pragma once

#include <QtCore/QPoint>
#include <QtWidgets/QWidget>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/window.h"

namespace x11test {

// Counts the coordinate writes.
class FakeWindow final : public rt::Window {
public:
    FakeWindow() {
        widget_.resize(220, 16);
        widget_.move(100, 50);
        child_ = new QWidget(&widget_);
        child_->setGeometry(0, 0, 200, 16);
    }
    const std::string& Name() const override { return name_; }
    std::uintptr_t Handle() const override { return 1; }
    QWidget* Widget() const override { return const_cast<QWidget*>(&widget_); }
    void SetCaption(std::string_view) override {}
    std::string Caption() const override { return {}; }
    int Left() const override { return widget_.x(); }
    int Top() const override { return widget_.y(); }
    int Width() const override { return widget_.width(); }
    int Height() const override { return widget_.height(); }
    void SetLeft(int left) override { widget_.move(left, widget_.y()); writes.push_back({left, widget_.y()}); }
    void SetTop(int top) override { widget_.move(widget_.x(), top); writes.push_back({widget_.x(), top}); }
    void SetTag(std::string_view) override {}
    std::string Tag() const override { return {}; }
    rt::Component* Find(std::string_view) const override { return nullptr; }
    bool RequestClose() override { return false; }

    QWidget* Child() const { return child_; }
    std::vector<QPoint> writes;  // the position after each write

private:
    std::string name_ = "FakeWindow";
    QWidget widget_;
    QWidget* child_;
};

}  // namespace x11test

// The window-function layer off X11 (Qt's offscreen platform), its shape arithmetic and the drag.

#include <gtest/gtest.h>

#include <QtCore/QCoreApplication>
#include <QtGui/QImage>
#include <QtGui/QMouseEvent>
#include <QtGui/QWindow>
#include <QtWidgets/QApplication>
#include <QtWidgets/QWidget>
#include <memory>
#include <vector>

#include "colour_key.h"
#include "fake_window.h"
#include "runtime/win32.h"
#include "runtime/window.h"
#include "runtime/window_drag.h"
#include "runtime/window_focus.h"

namespace w = rt::win32;
using x11test::FakeWindow;
using rt::x11::Rect;

namespace {

constexpr QRgb kKey = 0xFFFF80C0;     // the Windows colour 0xC080FF as Qt's 0xAARRGGBB
constexpr QRgb kBar = 0xFF3080E0;

// An image of key colour with the given rectangles painted in another colour.
QImage Picture(int width, int height, const std::vector<Rect>& painted, QImage::Format format = QImage::Format_RGB32) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(kKey);
    for (const Rect& r : painted) {
        for (int y = r.y; y < r.y + r.height; ++y) {
            for (int x = r.x; x < r.x + r.width; ++x) image.setPixel(x, y, kBar);
        }
    }
    return image.convertToFormat(format);
}

TEST(OpaqueRectangles, CoverExactlyThePixelsOfOtherColours) {
    struct Case {
        const char* id;
        int width, height;
        std::vector<Rect> painted;
        std::vector<QPoint> keyed;  // pixels given back the key colour afterwards
        std::vector<Rect> expected;
    };
    const std::vector<Case> cases = {
        {"all key: nothing left", 220, 16, {}, {}, {}},
        {"no key: the whole window", 4, 3, {{0, 0, 4, 3}}, {}, {{0, 0, 4, 3}}},
        {"bar and keyed margin", 220, 16, {{0, 0, 200, 16}}, {}, {{0, 0, 200, 16}}},
        {"two runs per row", 10, 2, {{0, 0, 3, 2}, {6, 0, 4, 2}}, {}, {{0, 0, 3, 2}, {6, 0, 4, 2}}},
        {"a hole splits the bands", 6, 5, {{0, 0, 6, 5}}, {{2, 2}, {3, 2}},
         {{0, 0, 6, 2}, {0, 2, 2, 1}, {4, 2, 2, 1}, {0, 3, 6, 2}}},
        {"single pixel at the far corner", 5, 5, {{4, 4, 1, 1}}, {}, {{4, 4, 1, 1}}},
        {"empty rows between bands", 3, 4, {{0, 0, 3, 1}, {0, 3, 3, 1}}, {}, {{0, 0, 3, 1}, {0, 3, 3, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        QImage image = Picture(c.width, c.height, c.painted);
        for (QPoint p : c.keyed) image.setPixel(p, kKey);
        EXPECT_EQ(rt::x11::OpaqueRectangles(image, kKey), c.expected);
    }
}

TEST(OpaqueRectangles, IgnoreAlphaAndPixelFormat) {
    const std::vector<Rect> expected = {{0, 0, 200, 16}};
    for (QImage::Format format : {QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied,
                                  QImage::Format_RGB888, QImage::Format_RGB16}) {
        SCOPED_TRACE(static_cast<int>(format));
        QImage image = Picture(220, 16, {{0, 0, 200, 16}}, format);
        if (format == QImage::Format_RGB16) {
            // 16-bit colour cannot hold the key exactly: every pixel then differs from it.
            EXPECT_EQ(rt::x11::OpaqueRectangles(image, kKey), (std::vector<Rect>{{0, 0, 220, 16}}));
        } else {
            EXPECT_EQ(rt::x11::OpaqueRectangles(image, kKey), expected);
        }
    }
    // The key matches whatever the alpha of a pixel or of the key itself.
    QImage translucent = Picture(3, 1, {{0, 0, 1, 1}}, QImage::Format_ARGB32);
    translucent.setPixel(2, 0, kKey & 0x00FFFFFF);
    EXPECT_EQ(rt::x11::OpaqueRectangles(translucent, kKey & 0x00FFFFFF), (std::vector<Rect>{{0, 0, 1, 1}}));
}

class OffX11 : public ::testing::Test {
protected:
    void SetUp() override {
        w::SetCallRecorder([this](const w::CallRecord& call) { calls.push_back(call); });
    }
    void TearDown() override {
        w::SetCallRecorder({});
        w::SetForegroundWindowHook({});
    }
    std::vector<w::CallRecord> calls;
};

TEST_F(OffX11, WindowFunctionsDoNothingAndSaySo) {
    ASSERT_FALSE(w::OnX11Display());
    QWidget window;
    window.resize(220, 16);
    const auto handle = static_cast<w::HWND>(window.winId());

    EXPECT_EQ(w::GetForegroundWindow(), 0u);
    EXPECT_FALSE(w::SetWindowPos(handle, w::HWND_TOPMOST, 0, 0, 0, 0, w::SWP_NOSIZE | w::SWP_NOMOVE));
    EXPECT_EQ(w::SetWindowLongA(handle, w::GWL_EXSTYLE, w::WS_EX_LAYERED), 0);
    EXPECT_EQ(w::GetWindowLongA(handle, w::GWL_EXSTYLE), 0);
    EXPECT_FALSE(w::SetLayeredWindowAttributes(handle, 0xC080FF, 0, w::LWA_COLORKEY));

    const auto h = static_cast<std::int64_t>(handle);
    const std::vector<std::pair<std::string, std::vector<std::int64_t>>> expected = {
        {"GetForegroundWindow", {0}},
        {"SetWindowPos", {h, -1, 0, 0, 0, 0, 3}},
        {"SetWindowLongA", {h, -20, 0x80000}},
        {"GetWindowLongA", {h, -20}},
        {"SetLayeredWindowAttributes", {h, 0xC080FF, 0, 1}},
    };
    ASSERT_EQ(calls.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].first);
        EXPECT_EQ(calls[i].function, expected[i].first);
        EXPECT_EQ(calls[i].arguments, expected[i].second);
        EXPECT_FALSE(calls[i].applied);
    }
}

TEST_F(OffX11, ForegroundHookAnswersAndIsReported) {
    w::SetForegroundWindowHook([] { return w::HWND{0x4200007}; });
    EXPECT_EQ(w::GetForegroundWindow(), 0x4200007u);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].arguments, (std::vector<std::int64_t>{0x4200007}));
    w::SetForegroundWindowHook({});
    EXPECT_EQ(w::GetForegroundWindow(), 0u);
}

TEST_F(OffX11, WorkingSetTrimUnderstandsOnlyTheOwnProcessWithMinusOnes) {
    struct Case {
        w::HANDLE process;
        w::SIZE_T minimum, maximum;
        bool trimmed;
    };
    for (const Case& c : {Case{-1, -1, -1, true}, Case{0, -1, -1, false}, Case{-1, 0, 0, false},
                          Case{-1, 1 << 20, 1 << 22, false}, Case{1234, -1, -1, false}}) {
        SCOPED_TRACE(testing::Message() << c.process << "," << c.minimum << "," << c.maximum);
        calls.clear();
        EXPECT_EQ(w::SetProcessWorkingSetSize(c.process, c.minimum, c.maximum), c.trimmed);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].applied, c.trimmed);
    }
}

void SendMouse(QWidget* target, QEvent::Type type, Qt::MouseButton button, QPoint global) {
    const QPointF local = target->mapFromGlobal(QPointF(global));
    Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, local, QPointF(global), type == QEvent::MouseMove ? Qt::NoButton : button, held,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
}

TEST(WindowDrag, LeftButtonDragMovesTheWindowThroughItsCoordinateWrites) {
    FakeWindow window;
    window.Widget()->show();
    ASSERT_TRUE(rt::EnableWindowDrag(&window));
    ASSERT_TRUE(rt::EnableWindowDrag(&window));  // a second call adds no second mover

    // Pressed on the child, as on the bar: the child leaves the mouse to the window.
    SendMouse(window.Child(), QEvent::MouseButtonPress, Qt::LeftButton, {110, 55});
    SendMouse(window.Child(), QEvent::MouseMove, Qt::LeftButton, {140, 55});   // right by 30
    SendMouse(window.Child(), QEvent::MouseMove, Qt::LeftButton, {150, 255});  // then down by 200
    SendMouse(window.Child(), QEvent::MouseButtonRelease, Qt::LeftButton, {150, 255});
    SendMouse(window.Child(), QEvent::MouseMove, Qt::NoButton, {400, 400});    // released: stays

    EXPECT_EQ(window.writes, (std::vector<QPoint>{{130, 50}, {140, 50}, {140, 250}}));
    EXPECT_EQ(window.Left(), 140);
    EXPECT_EQ(window.Top(), 250);
}

TEST(WindowDrag, OtherButtonsAndMissingWindowsDoNothing) {
    FakeWindow window;
    window.Widget()->show();
    ASSERT_TRUE(rt::EnableWindowDrag(&window));
    SendMouse(window.Widget(), QEvent::MouseButtonPress, Qt::RightButton, {110, 55});
    SendMouse(window.Widget(), QEvent::MouseMove, Qt::RightButton, {300, 300});
    SendMouse(window.Widget(), QEvent::MouseButtonRelease, Qt::RightButton, {300, 300});
    EXPECT_TRUE(window.writes.empty());
    EXPECT_FALSE(rt::EnableWindowDrag(nullptr));
}

TEST(NeverTakeFocus, EveryActivationGoesBackToTheWindowThatHadIt) {
    QWidget first;
    first.resize(100, 100);
    first.show();
    first.activateWindow();
    QCoreApplication::processEvents();
    ASSERT_EQ(QApplication::activeWindow(), &first);

    FakeWindow bar;
    ASSERT_TRUE(rt::NeverTakeFocus(&bar));
    ASSERT_TRUE(rt::NeverTakeFocus(&bar));  // a second call adds nothing
    EXPECT_TRUE(bar.Widget()->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    bar.Widget()->show();  // the offscreen platform activates every window it shows
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::activeWindow(), &first);
    ASSERT_NE(bar.Widget()->windowHandle(), nullptr);
    EXPECT_TRUE(bar.Widget()->windowHandle()->flags().testFlag(Qt::WindowDoesNotAcceptFocus));

    // Unlike a window only shown without activation, a later activation goes back as well.
    bar.Widget()->activateWindow();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::activeWindow(), &first);

    // Off X11 the taskbar has nothing to be kept out of; the call is harmless.
    EXPECT_TRUE(rt::KeepOutOfTaskbar(&bar));
    EXPECT_FALSE(rt::NeverTakeFocus(nullptr));
    EXPECT_FALSE(rt::KeepOutOfTaskbar(nullptr));
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

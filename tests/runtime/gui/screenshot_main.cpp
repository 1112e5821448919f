// On a real X server, under a window manager or without one (run_with_wm.sh): a start window from a
// design table is shown and activated, and a screenshot of its place on the screen is not blank.
// Exit code 0 once all holds, 1 when it does not within the time allowed.
#include "runtime/program.h"
#include "runtime/text.h"
#include "runtime/window.h"

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QSet>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

using rt::ComponentType;
using rt::DesignComponent;

bool g_activated = false;
int g_result = 1;
constexpr int kCheckEveryMs = 100;
constexpr int kChecks = 150;  // 15 s in all

// Looks at the window every kCheckEveryMs until all holds or the checks left are used up.
void Check(int left)
{
    rt::Window* window = rt::FindWindow("ShotWindow");
    if (window == nullptr) {
        std::puts("window is not open");
        rt::DestroyAllWindows();
        return;
    }
    QWidget* widget = window->Widget();
    const QRect area(widget->mapToGlobal(QPoint(0, 0)), widget->size());
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage().copy(area);
    QSet<QRgb> colours;
    for (int y = 0; y < shot.height(); y += 2) {
        for (int x = 0; x < shot.width(); x += 2) {
            colours.insert(shot.pixel(x, y));
        }
    }
    const bool ok = QGuiApplication::platformName() == QLatin1String("xcb") && widget->isVisible() &&
                    g_activated && shot.width() == widget->width() && colours.size() >= 8;
    if (!ok && left > 0) {
        QTimer::singleShot(kCheckEveryMs, [left] { Check(left - 1); });
        return;
    }
    std::printf("platform %s, shown %d, first activation %d, active %d, %lld colours in %dx%d\n",
                qPrintable(QGuiApplication::platformName()), widget->isVisible(), g_activated,
                widget->isActiveWindow(), static_cast<long long>(colours.size()), shot.width(), shot.height());
    g_result = ok ? 0 : 1;
    rt::DestroyAllWindows();
}

}  // namespace

int main(int argc, char** argv)
{
    if (!rt::StartRuntime(argc, argv)) {
        std::puts("runtime did not start");
        return 2;
    }
    rt::WindowDesign w;
    w.name = "ShotWindow";
    w.left = 40;
    w.top = 40;
    w.width = 600;
    w.height = 400;
    w.caption = rt::Gbk("番茄截图");
    w.startWindow = true;
    w.components.push_back(DesignComponent(ComponentType::Button, "StartButton", 5, 7, 112, 24, rt::Gbk("开始番茄钟(&S)")));
    auto clock = DesignComponent(ComponentType::Label, "ClockLabel", 300, 5, 189, 29, "0:25:00");
    clock.font = {"Segoe UI Light", 24, 300};
    w.components.push_back(clock);
    auto chart = DesignComponent(ComponentType::BarChart, "DailyChart", 5, 40, 590, 250);
    chart.columns = 7;
    chart.seriesCaptions = {rt::Gbk("好番茄"), rt::Gbk("烂番茄")};
    chart.title = rt::Gbk("30天内的番茄钟数");
    chart.valueLabel = "${v}";
    chart.font = {rt::Gbk("新宋体"), 12, 400};
    w.components.push_back(chart);
    w.components.push_back(DesignComponent(ComponentType::GroupBox, "NoteGroup", 4, 300, 590, 90, rt::Gbk("当前任务备忘(&N)")));
    w.components.push_back(DesignComponent(ComponentType::EditBox, "NoteEdit", 8, 20, 570, 60, rt::Gbk("备忘"), "NoteGroup"));
    rt::EventBinding first;
    first.event = rt::EventKind::FirstActivation;
    first.handler = [] { g_activated = true; };
    w.events.push_back(first);
    rt::EventBinding created;
    created.event = rt::EventKind::Created;
    created.handler = [] {
        rt::Component* chart = rt::FindComponent("ShotWindow", "DailyChart");
        rt::Component* clockLabel = rt::FindComponent("ShotWindow", "ClockLabel");
        clockLabel->SetTextColour(0x0000FF);
        for (int column = 0; column < 7; ++column) {
            chart->SetCurrentColumn(column);
            chart->SetColumnLabel(rt::ToText(column + 1));
            chart->SetCurrentSeries(0);
            chart->SetValue(column + 1);
            chart->SetCurrentSeries(1);
            chart->SetValue(column % 3);
        }
    };
    w.events.push_back(created);
    rt::DefineWindow(w);
    if (!rt::LoadWindow("ShotWindow")) {
        std::puts("window did not load");
        return 3;
    }
    QTimer::singleShot(kCheckEveryMs, [] { Check(kChecks); });
    rt::RunMessageLoop();
    return g_result;
}

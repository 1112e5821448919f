#include "program.h"

#include <utility>

#include "chart_stats.h"
#include "floating_bar.h"
#include "globals.h"
#include "recorddb/sqlite_db.h"
#include "recorddb/sqlite_operation.h"
#include "recorddb/sqlite_table.h"
#include "runtime/messagebox.h"
#include "runtime/program.h"
#include "runtime/text.h"
#include "runtime/window.h"
#include "session_end.h"
#include "settings.h"
#include "storage.h"
#include "timer.h"

#ifndef TOMATO_WEB_HOST
#error "TOMATO_WEB_HOST must be defined by the build"
#endif
#ifndef TOMATO_UPDATE_HOST
#error "TOMATO_UPDATE_HOST must be defined by the build"
#endif

namespace app {

const char* const kProgramVersion = "1.2.2";

namespace {

using rt::DesignComponent;

constexpr char kMainWindow[] = "MainWindow";
constexpr char kFloatingBarWindow[] = "FloatingBarWindow";
// Show mode of RunProgram: maximised.
constexpr int kShowMaximized = 4;

std::string g_updateAddressForTest;
std::string g_webViewAddressForTest;

// StartButton's got-focus event is bound, but nothing is to happen on it.
void OnStartButtonGotFocus() {}

// The combo box's list event is bound; it reads the choice and leaves it at that.
void OnCategoryComboListSelected() {
    if (rt::Component* combo = rt::FindComponent(kMainWindow, "CategoryCombo")) {
        (void)combo->CurrentIndex();
    }
}

// Each event is one operation the user waits for: whatever its handler does waits for another
// program's database lock one busy timeout in all, not one per statement.
rt::EventBinding On(std::string component, rt::EventKind event, void (*handler)()) {
    rt::EventBinding b;
    b.component = std::move(component);
    b.event = event;
    b.handler = [handler] {
        const SqliteOperation operation;
        handler();
    };
    return b;
}

rt::WindowDesign MainWindowDesign() {
    using rt::ComponentType;
    using rt::Gbk;
    rt::WindowDesign w;
    w.name = kMainWindow;
    w.left = 50;
    w.top = 50;
    w.width = 884;
    w.height = 541;
    w.startWindow = true;

    auto& c = w.components;
    c.push_back(DesignComponent(ComponentType::Button, "StartButton", 5, 7, 112, 24, Gbk("开始番茄钟(&S)")));
    {
        auto combo = DesignComponent(ComponentType::ComboBox, "CategoryCombo", 125, 9, 83, 20);
        for (const char* item : {"选择分类", "工作", "阅读", "学习", "兼职", "创作"}) {
            combo.items.push_back(Gbk(item));
        }
        c.push_back(std::move(combo));
    }
    c.push_back(DesignComponent(ComponentType::Label, "CategoryLabel", -112, 48, 96, 20, Gbk("选择分类(&C)")));
    c.push_back(DesignComponent(ComponentType::CheckBox, "TickSoundCheck", 216, 12, 60, 16, Gbk("滴答声")));
    c.push_back(DesignComponent(ComponentType::CheckBox, "AlertSoundCheck", 280, 12, 96, 16, Gbk("声音提示")));
    c.push_back(DesignComponent(ComponentType::CheckBox, "ShowBarCheck", 355, 12, 93, 16, Gbk("显示进度条")));
    c.push_back(DesignComponent(ComponentType::Button, "ResetBarButton", 447, 10, 84, 19, Gbk("进度条归位")));
    c.push_back(DesignComponent(ComponentType::Button, "SponsorButton", 539, 10, 84, 19, Gbk("捐助...")));
    {
        auto timer = DesignComponent(ComponentType::Timer, "RazezuZivur", 636, 8, 40, 32);
        timer.interval = 500;
        c.push_back(std::move(timer));
    }
    c.push_back(DesignComponent(ComponentType::HtmlViewer, "NoticeView", 656, 4, 20, 20));
    {
        auto clock = DesignComponent(ComponentType::Label, "ClockLabel", 684, 5, 189, 29);
        clock.font = {"Segoe UI Light", 24, 300};
        c.push_back(std::move(clock));
    }
    c.push_back(DesignComponent(ComponentType::Label, "StatusLabel", 688, 42, 185, 18));
    c.push_back(DesignComponent(ComponentType::ShapeBox, "StatsBand", 5, 37, 867, 24));
    {
        auto stats = DesignComponent(ComponentType::Label, "StatsLabel", 5, 42, 671, 18);
        stats.font = {"Arial", 12, 400};
        c.push_back(std::move(stats));
    }
    {
        auto chart = DesignComponent(ComponentType::BarChart, "DailyChart", 5, 65, 867, 328);
        chart.columns = 30;
        chart.seriesCaptions = {Gbk("好番茄"), Gbk("烂番茄")};
        chart.title = Gbk("30天内的番茄钟数");
        chart.valueLabel = "${v}";
        chart.font = {Gbk("新宋体"), 12, 400};
        c.push_back(std::move(chart));
    }
    c.push_back(DesignComponent(ComponentType::GroupBox, "NoteGroup", 4, 408, 867, 96, Gbk("当前任务备忘(&N)")));
    {
        auto note = DesignComponent(ComponentType::EditBox, "NoteEdit", 8, 16, 848, 72);
        note.parent = "NoteGroup";
        c.push_back(std::move(note));
    }

    using rt::EventKind;
    auto& e = w.events;
    e.push_back(On({}, EventKind::Created, OnMainWindowCreated));
    {
        rt::EventBinding close;
        close.event = EventKind::QueryClose;
        close.queryClose = [] {
            const SqliteOperation operation;
            return OnMainWindowQueryClose();
        };
        e.push_back(std::move(close));
    }
    e.push_back(On({}, EventKind::FirstActivation, OnMainWindowFirstActivated));
    e.push_back(On("StartButton", EventKind::Clicked, OnStartButtonClicked));
    e.push_back(On("StartButton", EventKind::GotFocus, OnStartButtonGotFocus));
    e.push_back(On("CategoryCombo", EventKind::ListSelected, OnCategoryComboListSelected));
    e.push_back(On("TickSoundCheck", EventKind::Clicked, OnTickSoundToggled));
    e.push_back(On("RazezuZivur", EventKind::TimerTick, OnRazezuZivurTick));
    e.push_back(On("ShowBarCheck", EventKind::Clicked, OnShowBarToggled));
    e.push_back(On("ResetBarButton", EventKind::Clicked, OnResetBarClicked));
    e.push_back(On("SponsorButton", EventKind::Clicked, OnSponsorClicked));
    return w;
}

rt::WindowDesign FloatingBarWindowDesign() {
    rt::WindowDesign w;
    w.name = kFloatingBarWindow;
    w.left = 50;
    w.top = 50;
    w.width = 220;
    w.height = 16;
    w.borderless = true;
    w.background = 0xC080FF;  // keyed out by the bar's created handler

    auto bar = DesignComponent(rt::ComponentType::ProcessBar, "FloatingProgressBar", 0, 0, 200, 16);
    bar.minimum = 0;
    bar.maximum = 100;
    w.components.push_back(std::move(bar));
    auto timer = DesignComponent(rt::ComponentType::Timer, "FloatingBarTimer", 200, 0, 20, 16);
    timer.interval = 1000;
    w.components.push_back(std::move(timer));

    w.events.push_back(On({}, rt::EventKind::Created, OnFloatingBarCreated));
    w.events.push_back(On({}, rt::EventKind::PositionChanged, OnFloatingBarMoved));
    w.events.push_back(On("FloatingBarTimer", rt::EventKind::TimerTick, OnFloatingBarTimerTick));
    return w;
}

}  // namespace

std::string MainWindowCaption() { return rt::Gbk("Tavik tomato 塔维番茄 v1.2.2"); }

std::string WebViewAddress() {
    if (!g_webViewAddressForTest.empty()) return g_webViewAddressForTest;
    return std::string("http://") + TOMATO_WEB_HOST + "/soft/vizaruzuvov/i.php?1.2.2";
}

std::string UpdateAddress() {
    if (!g_updateAddressForTest.empty()) return g_updateAddressForTest;
    return std::string("http://") + TOMATO_UPDATE_HOST + "/update/vizaruzuvov.php";
}

std::string SponsorCommandLine() { return std::string("xdg-open http://") + TOMATO_WEB_HOST + "/vantrel/sponsor"; }

void DefineProgramWindows() {
    rt::DefineWindow(MainWindowDesign());
    rt::DefineWindow(FloatingBarWindowDesign());
}

void SetUpdateAddressForTest(std::string address) { g_updateAddressForTest = std::move(address); }

void SetWebViewAddressForTest(std::string address) { g_webViewAddressForTest = std::move(address); }

}  // namespace app

int ProgramStart() {
    // The runtime itself has been started by main(); here it gets the window definitions.
    app::DefineProgramWindows();
    InitGlobals();
    rt::RegisterExitRoutine(FreeGlobals);
    // Before the main window loads: the database's error boxes at start are inside its load.
    (void)WatchSessionEnd();
    rt::LoadWindow(app::kMainWindow);
    rt::RunMessageLoop();
    return 0;
}

void InitGlobals() {
    // A second call (a test starting the program again) must not leak the first objects.
    FreeGlobals();
    g_db = new SqliteDB();
    g_tomatoTable = new SqliteTable();
    g_infoTable = new SqliteTable();
}

void FreeGlobals() {
    delete g_db;
    g_db = nullptr;
    delete g_tomatoTable;
    g_tomatoTable = nullptr;
    delete g_infoTable;
    g_infoTable = nullptr;
    g_dbPath.clear();
    ForgetLoadedSettings();
}

void OnMainWindowCreated() {
    if (rt::Window* main = rt::FindWindow(app::kMainWindow)) main->SetCaption(app::MainWindowCaption());
    if (rt::Component* view = rt::FindComponent(app::kMainWindow, "NoticeView")) view->Navigate(app::WebViewAddress());
    if (!OpenDatabase()) return;  // the program has been ended (it goes on only under the end seam)
    RefreshChart();
    ResetTimerState();
    RefreshStatistics();
    LoadSettings();
}

void OnMainWindowFirstActivated() {
    // The update library is bound only now, so that a missing library costs nothing before.
    using UpdateCheck = int (*)(const char* version, const char* address);
    void* command = rt::BindLibraryCommand("update.so", rt::Gbk("检测新版本"));
    if (command == nullptr) return;  // only when the end seam let the program go on
    const std::string address = app::UpdateAddress();
    (void)reinterpret_cast<UpdateCheck>(command)(app::kProgramVersion, address.c_str());
}

bool OnMainWindowQueryClose() {
    SaveSettings();
    if (g_running != 1) {
        CloseDatabase();
        rt::EndProgram(0);
        return false;
    }
    // The tomato may end by itself while the question is open (ticks run inside the box); then it is
    // already recorded, and a Yes must not record it a second time.
    const rt::DateTime asked = g_start;
    const int answer = rt::ShowMessageBox(rt::Gbk("番茄钟已开始，是否强制关闭并累计一个烂番茄？"),
                                          rt::kMbYesNo | rt::kMbIconQuestion, rt::Gbk("关闭确认"));
    if (answer != rt::kAnswerYes) return false;
    if (g_running == 1 && g_start == asked) RecordBadTomato();
    CloseDatabase();
    rt::EndProgram(0);
    return false;
}

void OnSponsorClicked() { (void)rt::RunProgram(app::SponsorCommandLine(), app::kShowMaximized); }

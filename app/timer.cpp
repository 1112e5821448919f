#include "timer.h"

#include "chart_stats.h"
#include "globals.h"
#include "runtime/datetime.h"
#include "runtime/messagebox.h"
#include "runtime/program.h"
#include "runtime/sound.h"
#include "runtime/text.h"
#include "runtime/window.h"
#include "storage.h"

namespace app {

const std::string& TickSound() {
    static const std::string wave = rt::ReadResource(":/sounds/tick.wav");
    return wave;
}

const std::string& AlertSound() {
    static const std::string wave = rt::ReadResource(":/sounds/alert.wav");
    return wave;
}

}  // namespace app

namespace {

constexpr rt::Colour kGrey = 0x808080;
constexpr rt::Colour kRed = 0x0000FF;

// A component of the main window; null only when the window is not open.
rt::Component* Part(std::string_view name) { return rt::FindComponent("MainWindow", name); }

bool IsChecked(std::string_view name) {
    const rt::Component* box = Part(name);
    return box != nullptr && box->Checked();
}

void SetCaption(std::string_view name, std::string_view text) {
    if (rt::Component* c = Part(name)) c->SetCaption(text);
}

void SetCategoryEnabled(bool enabled) {
    if (rt::Component* combo = Part("CategoryCombo")) combo->SetEnabled(enabled);
}

void SetClock(std::string_view text, rt::Colour colour) {
    if (rt::Component* clock = Part("ClockLabel")) {
        clock->SetCaption(text);
        clock->SetTextColour(colour);
    }
}

// The two-digit form of a non-negative number: 7 gives "07", 25 gives "25".
std::string Pad2(std::int64_t value) {
    const std::string t = rt::ToText(value);
    return rt::TextLeft("00", 2 - rt::TextLength(t)) + t;
}

// A Yes/No question and an information box; message and caption are UTF-8 fixed texts.
int Ask(const char* message, const char* caption) {
    return rt::ShowMessageBox(rt::Gbk(message), rt::kMbYesNo | rt::kMbIconQuestion, rt::Gbk(caption));
}

void Tell(const char* message, const char* caption) {
    (void)rt::ShowMessageBox(rt::Gbk(message), rt::kMbIconInformation, rt::Gbk(caption));
}

void StartTomato() {
    rt::Component* combo = Part("CategoryCombo");
    if (combo == nullptr) return;
    if (combo->CurrentIndex() == 0) {  // the placeholder item
        Tell("请选择分类。", "提示");
        rt::SetFocusTo(combo);
        return;
    }
    if (IsChecked("TickSoundCheck")) (void)rt::PlaySoundData(app::TickSound(), true);
    if (IsChecked("ShowBarCheck")) (void)rt::LoadWindow("FloatingBarWindow");
    SetCategoryEnabled(false);
    SetCaption("StartButton", rt::Gbk("停止番茄钟(&P)"));
    g_start = rt::Now();
    g_running = 1;
    SetClock("0:" + Pad2(g_tomatoMinutes) + ":00", kRed);
}

void OfferAbandon() {
    // Ticks go on inside the question, so the tomato may end by itself before the answer; it is
    // recorded then, and whatever is answered afterwards has nothing left to act on.
    const rt::DateTime asked = g_start;
    const int answer = Ask("是不是想要个烂番茄？", "番茄还没成熟");
    if (g_running != 1 || g_start != asked) return;
    if (answer == rt::kAnswerYes) {
        FinishTomato(true);
        Tell("你成功获得1个烂番茄！", "恭喜");
    } else {
        Tell("请继续保持忙碌状态！", "番茄钟仍在继续");
    }
}

}  // namespace

void OnStartButtonClicked() { ToggleTomato(); }

void ToggleTomato() {
    if (g_running == 1) {
        OfferAbandon();
    } else {
        StartTomato();
    }
}

void OnRazezuZivurTick() {
    UpdateCountdown();
    RefreshOnDayChange();
    UpdateIdleStatus();
}

void UpdateCountdown() {
    if (g_running == 0) {
        SetClock("0:00:00", kGrey);
        return;
    }
    // The current time less the tomato's length: the tomato is over once it started at or before.
    const rt::DateTime limit = rt::AddToDateTime(rt::Now(), rt::DateUnit::Minute, -g_tomatoMinutes);
    if (g_start <= limit) {
        FinishTomato();
        return;
    }
    const auto remaining = static_cast<std::int64_t>(rt::DateTimeInterval(g_start, limit, rt::DateUnit::Second));
    const std::int64_t hours = rt::IntegerDivide(remaining, 3600);
    const std::int64_t rest = rt::Remainder(remaining, 3600);
    const std::int64_t minutes = rt::IntegerDivide(rest, 60);
    const std::int64_t seconds = rt::Remainder(rest, 60);
    if (rt::Component* clock = Part("ClockLabel")) {
        clock->SetCaption(rt::ToText(hours) + ":" + Pad2(minutes) + ":" + Pad2(seconds));
    }
}

void FinishTomato(bool forced) {
    // Idle first: ticks that run inside the questions below must neither end it again nor count.
    g_running = 0;
    SetClock("0:00:00", kGrey);
    if (forced) {
        RecordBadTomato();
    } else {
        if (IsChecked("AlertSoundCheck")) (void)rt::PlaySoundData(app::AlertSound(), false);
        if (Ask("您是否正常完成了这个番茄鈡？", "番茄时钟结束！") == rt::kAnswerYes) {
            RecordGoodTomato();
            Tell("您的人生又多了1个完美的番茄钟！", "恭喜");
        } else {
            RecordBadTomato();
        }
    }
    rt::StopSound();
    RefreshChart();
    RefreshStatistics();
    SetCategoryEnabled(true);
    SetCaption("StartButton", rt::Gbk("开始番茄钟(&S)"));
}

void ResetTimerState() {
    g_running = 0;
    SetClock("0:00:00", kGrey);
    g_tomatoMinutes = 25;
    SetCategoryEnabled(true);
}

void OnTickSoundToggled() {
    if (IsChecked("TickSoundCheck") && g_running == 1) {
        (void)rt::PlaySoundData(app::TickSound(), true);
    } else {
        rt::StopSound();
    }
}

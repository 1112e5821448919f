#include "settings.h"

#include <string>

#include "globals.h"
#include "recorddb/sqlite_db.h"
#include "runtime/messagebox.h"
#include "runtime/text.h"
#include "runtime/window.h"
#include "storage.h"

namespace {

bool g_settingsLoaded = false;

rt::Component* MainComponent(std::string_view name) {
    return rt::FindComponent("MainWindow", name);
}

std::string CheckText(std::string_view checkBox) {
    const rt::Component* box = MainComponent(checkBox);
    return box != nullptr && box->Checked() ? "1" : "0";
}

void ApplyCheck(std::string_view checkBox, const std::string& stored) {
    if (rt::Component* box = MainComponent(checkBox)) box->SetChecked(stored == "1");
}

// Runs "update info set value='<value>' where subject='<subject>'"; a failure is shown and the
// caller goes on with the next setting.
void SaveSetting(const std::string& subject, const std::string& value) {
    const std::string statement =
        "update info set value='" + app::SqlStringBody(value) + "' where subject='" + subject + "'";
    if (!g_db->Execute(statement)) {
        rt::ShowMessageBox(rt::Gbk("保存配置失败"), rt::kMbIconError, rt::Gbk("发生意外"));
    }
}

}  // namespace

void SaveSettings() {
    SaveSetting("alertwave", CheckText("AlertSoundCheck"));
    SaveSetting("clickListToStart", CheckText("TickSoundCheck"));
    SaveSetting("showPBar", CheckText("ShowBarCheck"));
    SaveSetting("tag_top", rt::ToText(g_barTop));
    SaveSetting("tag_left", rt::ToText(g_barLeft));
    // Without the memo box there is nothing to save; writing an empty text would lose the memo.
    if (const rt::Component* note = MainComponent("NoteEdit")) SaveSetting("note", note->Content());
}

void LoadSettings() {
    g_settingsLoaded = false;
    bool ended = false;
    const std::string alert = ReadInfoValue("alertwave", &ended);
    if (ended) return;
    ApplyCheck("AlertSoundCheck", alert);

    const std::string tick = ReadInfoValue("clickListToStart", &ended);
    if (ended) return;
    ApplyCheck("TickSoundCheck", tick);

    const std::string top = ReadInfoValue("tag_top", &ended);
    if (ended) return;
    g_barTop = rt::ToInteger(top);

    const std::string left = ReadInfoValue("tag_left", &ended);
    if (ended) return;
    g_barLeft = rt::ToInteger(left);

    const std::string note = ReadInfoValue("note", &ended);
    if (ended) return;
    if (rt::Component* edit = MainComponent("NoteEdit")) edit->SetContent(note);

    const std::string showBar = ReadInfoValue("showPBar", &ended);
    if (ended) return;
    ApplyCheck("ShowBarCheck", showBar);
    g_settingsLoaded = true;
}

bool SettingsLoaded() { return g_settingsLoaded; }

void ForgetLoadedSettings() { g_settingsLoaded = false; }

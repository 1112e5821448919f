#include "check.h"

#include <chrono>
#include <cstdlib>
#include <vector>

#include "http_request.h"
#include "reply.h"
#include "runtime/http.h"
#include "runtime/messagebox.h"
#include "runtime/program.h"
#include "runtime/text.h"

namespace update {

// Constructed (and so destroyed) ahead of the library's other values, so that the end routine,
// registered later, runs while they still exist.
std::string g_currentVersion __attribute__((init_priority(200)));

namespace {

// How long the library's end waits for workers that were given up to finish their last steps.
constexpr std::chrono::milliseconds kWorkerGrace{3000};

bool g_netStarted = false;

// Field n (counted from 1) of the last reply, or the empty text.
const std::string& Field(std::size_t n) {
    static const std::string empty;
    return n >= 1 && n <= g_replyFields.size() ? g_replyFields[n - 1] : empty;
}

// True for an address the shell may open: an http or https address. The download address is not
// covered by the signature, so anything else (a file, another scheme) is never handed on.
bool IsWebAddress(std::string_view address) {
    const std::string lower = rt::ToLower(rt::TextLeft(address, 8));
    return lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0;
}

}  // namespace

bool IsNewerVersion(std::string_view latest, std::string_view current) {
    const std::vector<std::string> l = rt::SplitText(latest, ".");
    const std::vector<std::string> c = rt::SplitText(current, ".");
    for (std::size_t i = 0; i < 3; ++i) {
        if (i >= l.size() || i >= c.size()) return false;
        const int li = rt::ToInteger(l[i]);
        const int ci = rt::ToInteger(c[i]);
        if (li > ci) return true;
        if (li != ci) return false;
    }
    return false;
}

int CheckNewVersion(const std::string& currentVersion, const std::string& updateAddress) {
    if (FetchVerifiedReply(updateAddress) == 0) return 0;
    g_currentVersion = currentVersion;
    if (IsNewerVersion(Field(2), currentVersion)) ShowUpdateDialog();
    return 1;
}

void ShowUpdateDialog() {
    const std::string message = rt::Gbk("您的版本：") + g_currentVersion + "\r\n" + rt::Gbk("最新版本：") + Field(2) +
                                "\r\n\r\n" + rt::Gbk("更新内容：") + "\r\n" + Field(3);
    const std::string caption = Field(1) + rt::Gbk("有新版本！");
    const int answer = rt::ShowMessageBox(message, rt::kMbYesNo | rt::kMbIconQuestion, caption);
    if (answer == rt::kAnswerYes && IsWebAddress(Field(4))) rt::ShellOpen(Field(4));
}

void InitGlobalArray() { g_replyFields.clear(); }

void InitSalt() { g_salt = std::string_view(kReplySalt, sizeof(kReplySalt) - 1); }

bool ProgramInit() {
    // The runtime's start-up for a library: libcurl's global state, before any worker starts.
    // The program's application object is the one the library uses; none is created here.
    g_netStarted = rt::net::GlobalInit();
    InitGlobalArray();
    // Run at unload (dlclose) or at the process's end, before the values above are destroyed.
    static const bool registered = std::atexit(FreeUpdateGlobals) == 0;
    (void)registered;
    InitSalt();
    return true;
}

void FreeUpdateGlobals() {
    // No worker may be left running in the library's code once it is gone.
    const bool none = StopHttpWorkers(kWorkerGrace);
    std::string().swap(g_currentVersion);
    std::vector<std::string>().swap(g_replyFields);
    std::string().swap(g_replyText);
    if (g_netStarted && none) rt::net::GlobalCleanup();
    g_netStarted = false;
}

}  // namespace update

// The program's first activation against the real update.so beside this test program and an update
// server on the loopback interface: the library's question for a newer signed version, the shell
// open after Yes, nothing for replies that do not count, and the main window's 500 ms timer running
// on while the server is slow to answer.
//
// update.so carries its own copy of the runtime, so the fixture's message-box and shell seams do
// not reach it: its question is a real (offscreen) Qt box, read and answered here through the
// shared application object, and its shell open starts "xdg-open", for which a recording stand-in
// is put first on PATH. The fixture's seams still record everything the program itself does.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app_fixture.h"
#include "globals.h"
#include "loopback_server.h"
#include "program.h"
#include "recorddb/sqlite_db.h"
#include "reply_signing.h"
#include "runtime/datetime.h"
#include "runtime/program.h"
#include "session_end.h"

namespace apptest {
namespace {

using loopback::Request;
using loopback::Response;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr char kUpdatePath[] = "/update/vizaruzuvov.php";
constexpr char kDownload[] = "http://dl.example.org/tomato-1.2.3.zip";

using updatetest::Md5Lower;

// A reply as the update server writes it (GBK): fields 1 to 3 signed with the shared salt.
std::string SignedReply(const std::string& version) {
    const std::string product = G("塔维番茄");
    const std::string notes = G("修正了统计\r\n新的进度条");
    return updatetest::SignedReply(product, version, notes, kDownload);
}

// The library's question box as it appeared.
struct QuestionBox {
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    Qt::TextFormat format = Qt::AutoText;
    Clock::time_point shownAt;
};

// While it lives, records every modal message box that comes up and answers it with one button.
class BoxAnswerer {
public:
    explicit BoxAnswerer(QMessageBox::StandardButton answer) {
        poll_.setInterval(10);
        QObject::connect(&poll_, &QTimer::timeout, [this, answer] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            // A box already answered stays the modal widget, hidden, until its loop has ended.
            if (box == nullptr || !box->isVisible()) return;
            boxes.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons(),
                             box->textFormat(), Clock::now()});
            QAbstractButton* button = box->button(answer);
            if (button == nullptr) button = box->buttons().value(0);
            if (button != nullptr) button->click();
        });
        poll_.start();
    }
    std::vector<QuestionBox> boxes;

private:
    QTimer poll_;
};

// A stand-in "xdg-open" first on PATH that appends its argument to a file, so that what the library
// hands the shell can be read back. PATH is restored at the end.
class RecordingShell {
public:
    explicit RecordingShell(const std::string& dir) : bin_(dir + "/shell-bin"), log_(dir + "/opened.txt") {
        std::filesystem::create_directories(bin_);
        const std::string script = bin_ + "/xdg-open";
        std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << log_ << "'\n";
        ::chmod(script.c_str(), 0755);
        const char* path = std::getenv("PATH");
        oldPath_ = path != nullptr ? path : "/usr/bin:/bin";
        ::setenv("PATH", (bin_ + ":" + oldPath_).c_str(), 1);
    }
    ~RecordingShell() { ::setenv("PATH", oldPath_.c_str(), 1); }
    RecordingShell(const RecordingShell&) = delete;
    RecordingShell& operator=(const RecordingShell&) = delete;

    // The addresses opened so far, waiting up to `atLeast`'s count within the time-out (the
    // stand-in runs detached, so it may write a little after the library has returned).
    std::vector<std::string> Opened(std::size_t atLeast, milliseconds timeout) const {
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            std::vector<std::string> lines;
            std::ifstream file(log_);
            std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            std::istringstream in(content);
            for (std::string line; std::getline(in, line);) lines.push_back(line);
            // Only complete lines count.
            if (!content.empty() && content.back() != '\n') lines.pop_back();
            if (lines.size() >= atLeast || Clock::now() >= deadline) return lines;
            std::this_thread::sleep_for(milliseconds(20));
        }
    }
    void Clear() const { std::filesystem::remove(log_); }

private:
    std::string bin_;
    std::string log_;
    std::string oldPath_;
};

class UpdateEndToEnd : public AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        shell_ = std::make_unique<RecordingShell>(Dir());
        StartProgram();
        ClearRecords();
        app::SetUpdateAddressForTest(server_.Url(kUpdatePath));
    }
    void TearDown() override {
        app::SetUpdateAddressForTest({});
        AppFixture::TearDown();
        shell_.reset();
    }

    // The first activation of MainWindow. The runtime delivers it once per process, from the
    // event loop, shortly after the start window is shown: the first test of a process waits for
    // that event (a direct call could otherwise have the event's own call run nested inside it);
    // later tests of the same process call the handler as the event would.
    void FirstActivation() {
        static bool delivered = false;
        if (delivered) {
            OnMainWindowFirstActivated();
            return;
        }
        delivered = true;
        const std::size_t before = server_.RequestCount();
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        // The handler runs inside one processEvents call, so once its request has been seen here,
        // that call (and the handler) has returned.
        while (server_.RequestCount() == before && Clock::now() < deadline) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        ASSERT_GT(server_.RequestCount(), before) << "the first activation never came";
    }

    // The program goes on as before: a tick, the database open, an ordinary close while idle.
    void ExpectProgramCarriesOn() {
        Comp("RazezuZivur").Tick();
        EXPECT_TRUE(g_db->IsOpen());
        EXPECT_FALSE(CloseProgram());
        EXPECT_EQ(exitCodes, (std::vector<int>{0}));
    }

    // Every request went to the update path with a GET.
    void ExpectOnlyUpdateGets(std::size_t count) {
        const std::vector<Request> requests = server_.Requests();
        EXPECT_EQ(requests.size(), count);
        for (const Request& request : requests) {
            EXPECT_EQ(request.method, "GET");
            EXPECT_EQ(request.target, kUpdatePath);
            EXPECT_EQ(request.Header("Cookie"), "");
        }
    }

    loopback::Server server_;
    std::unique_ptr<RecordingShell> shell_;
};

const QString kQuestionCaption = QString::fromUtf8("塔维番茄有新版本！");
const QString kQuestionText =
    QString::fromUtf8("您的版本：1.2.2\n最新版本：1.2.3\n\n更新内容：\n修正了统计\n新的进度条");

TEST_F(UpdateEndToEnd, NewerSignedVersionIsAskedAndYesOpensTheDownload) {
    const std::string reply = SignedReply("1.2.3");
    server_.SetHandler([reply](const Request&) { return Response::Ok(reply); });
    struct Case {
        QMessageBox::StandardButton answer;
        std::vector<std::string> opened;
    };
    const Case cases[] = {{QMessageBox::Yes, {kDownload}}, {QMessageBox::No, {}}};
    std::size_t calls = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer == QMessageBox::Yes ? "answer Yes" : "answer No");
        shell_->Clear();
        BoxAnswerer answerer(c.answer);
        FirstActivation();
        ++calls;

        ASSERT_EQ(answerer.boxes.size(), 1u);
        const QuestionBox& box = answerer.boxes[0];
        EXPECT_EQ(box.caption, kQuestionCaption);
        EXPECT_EQ(box.text, kQuestionText);
        // The flags 0x24: Yes and No, and the question icon.
        EXPECT_EQ(box.buttons, QMessageBox::Yes | QMessageBox::No);
        EXPECT_EQ(box.icon, QMessageBox::Question);
        EXPECT_EQ(box.format, Qt::PlainText);

        // After a No a stray open would have had this long to show up.
        const auto opened = shell_->Opened(c.opened.size(), milliseconds(c.opened.empty() ? 300 : 10000));
        EXPECT_EQ(opened, c.opened);
        ExpectOnlyUpdateGets(calls);
        // The library was found beside the program: no error box, no end.
        EXPECT_TRUE(timeline.empty()) << "first: " << (timeline.empty() ? "" : timeline.front());
    }
    ExpectProgramCarriesOn();
}

TEST_F(UpdateEndToEnd, RepliesThatDoNotCountShowNothing) {
    const std::string newer = SignedReply("9.9.9");
    struct Case {
        const char* name;
        Response response;
    };
    const Case cases[] = {
        // Field 5 is a signature, but not of these fields.
        {"bad signature", Response::Ok(newer.substr(0, newer.size() - 32) + Md5Lower("other"))},
        {"not newer", Response::Ok(SignedReply("1.2.2"))},
        {"error page", Response::Status(404, "Not Found", "<html>not here</html>")},
    };
    std::size_t calls = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Response response = c.response;
        server_.SetHandler([response](const Request&) { return response; });
        BoxAnswerer answerer(QMessageBox::No);
        FirstActivation();
        ++calls;
        EXPECT_TRUE(answerer.boxes.empty()) << answerer.boxes[0].caption.toStdString();
        ExpectOnlyUpdateGets(calls);
    }
    EXPECT_TRUE(shell_->Opened(0, milliseconds(0)).empty());
    EXPECT_TRUE(timeline.empty()) << "first: " << (timeline.empty() ? "" : timeline.front());
    ExpectProgramCarriesOn();
}

TEST_F(UpdateEndToEnd, MainWindowTimerTicksWhileTheServerIsSlow) {
    constexpr int kServerDelayMs = 3000;
    const std::string reply = SignedReply("1.2.3");
    // When the request arrived: the call was waiting from then on (the ticks before it ran in the
    // test's own loop that lets the first activation come).
    auto requested = std::make_shared<std::atomic<Clock::time_point>>(Clock::time_point{});
    server_.SetHandler([reply, requested](const Request&) {
        *requested = Clock::now();
        Response response = Response::Ok(reply);
        response.delayMs = kServerDelayMs;
        return response;
    });

    // Every tick of the idle program reads the clock (the chart's day-change check), so the
    // wall-clock times of the readings are those of the tick handler's runs. The pinned time
    // itself is what the program sees.
    auto readings = std::make_shared<std::vector<Clock::time_point>>();
    rt::SetClock([this, readings] {
        readings->push_back(Clock::now());
        return Now();
    });
    Comp("RazezuZivur").Tick();
    ASSERT_FALSE(readings->empty()) << "a tick no longer reads the clock; observe the ticks otherwise";
    readings->clear();

    BoxAnswerer answerer(QMessageBox::No);
    FirstActivation();
    const auto end = Clock::now();
    rt::SetClock([this] { return Now(); });
    const Clock::time_point start = requested->load();
    ASSERT_NE(start, Clock::time_point{}) << "no request reached the server";

    // The late reply is still taken: the question comes once it has arrived.
    ASSERT_EQ(answerer.boxes.size(), 1u);
    EXPECT_EQ(answerer.boxes[0].caption, kQuestionCaption);
    EXPECT_EQ(answerer.boxes[0].text, kQuestionText);
    const auto shown = answerer.boxes[0].shownAt;
    EXPECT_GE(shown - start, milliseconds(kServerDelayMs - 50));
    EXPECT_LT(end - start, milliseconds(kServerDelayMs + 10000));

    // The ticks while the call waited, from its start until the question appeared.
    std::vector<Clock::time_point> points{start};
    int ticks = 0;
    for (const auto reading : *readings) {
        if (reading < start) continue;
        if (reading > shown) break;
        // Readings within one tick lie close together; a new tick begins after a pause.
        if (ticks == 0 || reading - points.back() > milliseconds(100)) ++ticks;
        points.push_back(reading);
    }
    points.push_back(shown);
    auto largest = Clock::duration::zero();
    for (std::size_t i = 1; i < points.size(); ++i) largest = std::max(largest, points[i] - points[i - 1]);
    const auto largestMs = std::chrono::duration_cast<milliseconds>(largest).count();
    RecordProperty("largest_tick_gap_ms", static_cast<int>(largestMs));
    RecordProperty("ticks_during_wait", ticks);
    std::cout << "largest gap between ticks while waiting: " << largestMs << " ms over " << ticks
              << " ticks in " << std::chrono::duration_cast<milliseconds>(shown - start).count() << " ms\n";
    EXPECT_LE(largest, milliseconds(600));
    EXPECT_GE(ticks, 5);

    ExpectOnlyUpdateGets(1);
    EXPECT_TRUE(timeline.empty()) << "first: " << (timeline.empty() ? "" : timeline.front());
    ExpectProgramCarriesOn();
}

// The end of the session reaches the program inside the library's loops too (the library has its
// own copy of the runtime, with nothing of the program's handler in it): while the call waits for
// the server, and while the library's question is open. The settings are saved, the database
// closed and the end asked for with 0 there and then, before the call returns.
class SessionEndInsideTheUpdateCall : public UpdateEndToEnd {
protected:
    void SetUp() override {
        UpdateEndToEnd::SetUp();
        ASSERT_TRUE(WatchSessionEnd());
        // The end as the fixture records it, and whether it came while the call was still running
        // and the library's question was open.
        rt::SetEndProgramHook([this](int code) {
            exitCodes.push_back(code);
            endedInsideCall = calling;
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            endedInsideQuestion = box != nullptr && box->isVisible() && box->windowTitle() == kQuestionCaption;
            noteAtEnd = InfoValue("note");
        });
        Comp("NoteEdit").SetContent(G("更新时写的备忘"));
    }
    void TearDown() override {
        rt::SetSessionEndHandler({});
        UpdateEndToEnd::TearDown();
    }
    void CallUpdate() {
        calling = true;
        FirstActivation();
        calling = false;
    }

    bool calling = false;
    bool endedInsideCall = false;
    bool endedInsideQuestion = false;
    std::optional<std::string> noteAtEnd;
};

TEST_F(SessionEndInsideTheUpdateCall, WhileTheCallWaitsForTheServer) {
    // The server answers only once the end has come (or after 10 s, and the test fails).
    auto ended = std::make_shared<std::atomic<bool>>(false);
    auto requested = std::make_shared<std::atomic<bool>>(false);
    server_.SetHandler([ended, requested](const Request&) {
        *requested = true;
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (!*ended && Clock::now() < deadline) std::this_thread::sleep_for(milliseconds(5));
        return Response::Ok(SignedReply("1.2.2"));
    });
    rt::SetEndProgramHook([this, ended](int code) {
        exitCodes.push_back(code);
        endedInsideCall = calling;
        noteAtEnd = InfoValue("note");
        *ended = true;
    });
    QTimer signaller;
    QObject::connect(&signaller, &QTimer::timeout, [&] {
        if (!*requested) return;
        signaller.stop();
        std::raise(SIGTERM);
    });
    signaller.start(10);
    CallUpdate();
    EXPECT_EQ(exitCodes, std::vector<int>{0});
    EXPECT_TRUE(endedInsideCall);
    EXPECT_EQ(noteAtEnd, G("更新时写的备忘"));
    EXPECT_FALSE(g_db->IsOpen());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(SessionEndInsideTheUpdateCall, WhileTheLibrarysQuestionIsOpen) {
    const std::string reply = SignedReply("1.2.3");
    server_.SetHandler([reply](const Request&) { return Response::Ok(reply); });
    // Raises the signal once the question is up, and answers No once the end has come (the real
    // process would have ended there).
    bool raised = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) return;
        if (!raised) {
            raised = true;
            std::raise(SIGHUP);
        } else if (!exitCodes.empty() && box->button(QMessageBox::No) != nullptr) {
            box->button(QMessageBox::No)->click();
        }
    });
    poll.start(10);
    CallUpdate();
    EXPECT_TRUE(raised) << "the question never came";
    EXPECT_EQ(exitCodes, std::vector<int>{0});
    EXPECT_TRUE(endedInsideCall);
    EXPECT_TRUE(endedInsideQuestion);
    EXPECT_EQ(noteAtEnd, G("更新时写的备忘"));
    EXPECT_FALSE(g_db->IsOpen());
    EXPECT_TRUE(shell_->Opened(0, milliseconds(0)).empty());
}

}  // namespace
}  // namespace apptest

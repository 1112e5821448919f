// The real program ended by the session (SIGTERM, SIGHUP, SIGINT) on a real X server, under a
// window manager or on a bare server (run_with_wm.sh): a copy of the built program with the real
// update.so beside it in a temporary program directory, used as a user would, through xdotool: a
// memo typed and pasted into the memo box, a check box clicked, a tomato started, the window closed
// (close_request), the file locked by another program at the start. Then the signal, the exit
// code, and what the database file holds.
//
// That the program has taken in every key before the signal comes is seen through the clipboard:
// the memo is selected and copied in the program, and the copy read back here.

#include <gtest/gtest.h>

#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <signal.h>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "../database_file.h"
#include "runtime/text.h"

namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};

// Runs xdotool with the arguments; its standard output, trimmed.
QString Xdotool(const QStringList& arguments) {
    QProcess tool;
    tool.start(QStringLiteral("xdotool"), arguments);
    if (!tool.waitForFinished(10000)) {
        tool.kill();
        tool.waitForFinished();
        ADD_FAILURE() << "xdotool " << arguments.join(u' ').toStdString() << " did not finish";
        return {};
    }
    return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
}

class SessionEndOnX11 : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "run this test through run_with_wm.sh";
        for (const char* file : {TOMATO_PROGRAM, TOMATO_UPDATE_LIBRARY}) {
            const QString source = QString::fromUtf8(file);
            ASSERT_TRUE(QFile::copy(source, dir_.filePath(QFileInfo(source).fileName()))) << file;
        }
    }
    void TearDown() override {
        if (program_.state() != QProcess::NotRunning) {
            program_.kill();
            program_.waitForFinished();
        }
    }

    std::string DbPath() const { return dir_.filePath(QStringLiteral("db.razezuzivu")).toStdString(); }
    // The value of an info subject as the file holds it (GBK bytes).
    std::string StoredInfo(const std::string& subject) const {
        return tomato_test::DatabaseFile(DbPath()).Value(subject);
    }
    std::string TomatoRowCount() const {
        const auto count = tomato_test::DatabaseFile(DbPath()).Column("SELECT count(*) FROM tomato");
        return count && !count->empty() ? count->front() : "<none>";
    }

    // Starts the copy as a desktop would: no signal ignored, whatever this test was started with.
    void Start() {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // A sanitizer build would report the X and Qt libraries' leaks at exit in place of the
        // exit code this test reads; the unit tests look for leaks.
        const QString asan = environment.value(QStringLiteral("ASAN_OPTIONS"));
        environment.insert(QStringLiteral("ASAN_OPTIONS"),
                           (asan.isEmpty() ? QString() : asan + u':') + QStringLiteral("detect_leaks=0"));
        program_.setProcessEnvironment(environment);
        program_.setProgram(dir_.filePath(QStringLiteral("tomatoclock")));
        program_.setWorkingDirectory(QDir::rootPath());
        program_.setProcessChannelMode(QProcess::ForwardedChannels);
        program_.setChildProcessModifier([] {
            for (const int s : kSignals) ::signal(s, SIG_DFL);
        });
        program_.start();
        ASSERT_TRUE(program_.waitForStarted(10000));
    }

    // A visible window of the program whose name matches; empty when none comes within 20 s.
    QString WaitForWindow(const QString& name) {
        QString window;
        (void)QTest::qWaitFor(
            [&] {
                const QStringList found =
                    // --all: the process and the name together; by default either one would do.
                    Xdotool({QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                             QStringLiteral("--pid"), QString::number(program_.processId()), QStringLiteral("--name"),
                             name})
                        .split(u'\n', Qt::SkipEmptyParts);
                window = found.value(0);
                return !window.isEmpty() || program_.state() == QProcess::NotRunning;
            },
            20000);
        return window;
    }

    QString StartAndWaitForMainWindow() {
        Start();
        const QString main = WaitForWindow(QStringLiteral("Tavik tomato"));
        if (!main.isEmpty()) Xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), main});
        return main;
    }

    // A click at a point of the main window's client area.
    void Click(const QString& main, int x, int y) {
        Xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), main, QString::number(x), QString::number(y),
                 QStringLiteral("click"), QStringLiteral("1")});
    }
    void Keys(const QStringList& keys) {
        Xdotool(QStringList{QStringLiteral("key"), QStringLiteral("--clearmodifiers")} + keys);
    }

    // Types and pastes the memo into the memo box (Chinese text comes in by the clipboard, as a
    // user without an input method would bring it), then waits until the program has it: the memo,
    // selected and copied there, is what the clipboard here reads. The box is reached by its
    // mnemonic, not by a click: keys reach the program in the order they are typed, while a
    // manager may hold a click back a while (xfwm4 under load, just after the floating bar is
    // mapped) and let the keys typed after it go to the old focus.
    bool EnterMemo() {
        Keys({QStringLiteral("alt+n")});
        Xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("5"), QStringLiteral("abc ")});
        QGuiApplication::clipboard()->setText(QString::fromUtf8("备忘：写报告"));
        Keys({QStringLiteral("ctrl+v"), QStringLiteral("Return")});
        Xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("5"), QStringLiteral("it's")});
        Keys({QStringLiteral("ctrl+a"), QStringLiteral("ctrl+c")});
        return QTest::qWaitFor([] { return QGuiApplication::clipboard()->text() == kMemo; }, 20000);
    }

    // Sends the signal and waits for the end: true when the program ended by itself with 0.
    bool EndsWithZeroAfter(int signal) {
        ::kill(static_cast<pid_t>(program_.processId()), signal);
        if (!program_.waitForFinished(20000)) return false;
        return program_.exitStatus() == QProcess::NormalExit && program_.exitCode() == 0;
    }
    std::string EndDescription() const {
        if (program_.state() != QProcess::NotRunning) return "still running";
        if (program_.exitStatus() == QProcess::CrashExit) return "ended by a signal";
        return "exit code " + std::to_string(program_.exitCode());
    }

    // The program's visible windows other than `main`.
    QStringList OtherWindows(const QString& main) {
        QStringList windows = Xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                                       QString::number(program_.processId())})
                                  .split(u'\n', Qt::SkipEmptyParts);
        windows.removeAll(main);
        return windows;
    }

    // The main window's tomato running, the floating bar on: its appearance says it runs.
    bool StartTomato(const QString& main) {
        Click(main, 375, 20);  // ShowBarCheck
        // The category from CategoryCombo's list, once the list is there, and gone again.
        Click(main, 165, 19);
        if (!QTest::qWaitFor([&] { return !OtherWindows(main).isEmpty(); }, 20000)) return false;
        Keys({QStringLiteral("Down"), QStringLiteral("Return")});
        if (!QTest::qWaitFor([&] { return OtherWindows(main).isEmpty(); }, 20000)) return false;
        Click(main, 60, 19);  // StartButton
        return QTest::qWaitFor(
            [&] {
                for (const QString& w : OtherWindows(main)) {
                    if (Xdotool({QStringLiteral("getwindowgeometry"), w}).contains(u"220x16")) return true;
                }
                return false;
            },
            20000);
    }

    static inline const QString kMemo = QString::fromUtf8("abc 备忘：写报告\nit's");
    QTemporaryDir dir_;
    QProcess program_;
};

class SessionEndSignalOnX11 : public SessionEndOnX11, public ::testing::WithParamInterface<int> {};

TEST_P(SessionEndSignalOnX11, MemoAndSettingsTypedSinceTheStartAreInTheFile) {
    const QString main = StartAndWaitForMainWindow();
    ASSERT_FALSE(main.isEmpty()) << "no main window";
    Click(main, 230, 20);  // TickSoundCheck, off in a new file
    ASSERT_TRUE(EnterMemo()) << "the memo never reached the program; the clipboard holds "
                             << QGuiApplication::clipboard()->text().toStdString();
    EXPECT_TRUE(EndsWithZeroAfter(GetParam())) << EndDescription();
    EXPECT_EQ(StoredInfo("note"), rt::Gbk("abc 备忘：写报告\r\nit's")) << "GBK bytes, the line break CR LF";
    EXPECT_EQ(StoredInfo("clickListToStart"), "1");
    EXPECT_EQ(StoredInfo("alertwave"), "1");
}

INSTANTIATE_TEST_SUITE_P(Signals, SessionEndSignalOnX11, ::testing::ValuesIn(kSignals),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SIGTERM ? "SIGTERM"
                                                : info.param == SIGHUP ? "SIGHUP"
                                                                       : "SIGINT");
                         });

TEST_F(SessionEndOnX11, RunningTomatoIsNotRecorded) {
    const QString main = StartAndWaitForMainWindow();
    ASSERT_FALSE(main.isEmpty()) << "no main window";
    ASSERT_TRUE(StartTomato(main)) << "the tomato did not start (no floating bar)";
    ASSERT_TRUE(EnterMemo()) << "the memo never reached the program; the clipboard holds "
                             << QGuiApplication::clipboard()->text().toStdString();
    EXPECT_TRUE(EndsWithZeroAfter(SIGTERM)) << EndDescription();
    EXPECT_EQ(TomatoRowCount(), "0");
    EXPECT_EQ(StoredInfo("badtomato"), "0");
    EXPECT_EQ(StoredInfo("integral"), "0");
    EXPECT_EQ(StoredInfo("showPBar"), "1");
    EXPECT_EQ(StoredInfo("note"), rt::Gbk("abc 备忘：写报告\r\nit's"));
}

TEST_F(SessionEndOnX11, CloseQuestionOpenAnswersNothingAndRecordsNothing) {
    const QString main = StartAndWaitForMainWindow();
    ASSERT_FALSE(main.isEmpty()) << "no main window";
    ASSERT_TRUE(StartTomato(main)) << "the tomato did not start (no floating bar)";
    // Closed as a manager closes a window the user closes, so that it works without a manager and
    // under one that binds no key to it.
    QProcess close;
    close.start(QStringLiteral(TOMATO_CLOSE_REQUEST), {main});
    ASSERT_TRUE(close.waitForFinished(10000) && close.exitStatus() == QProcess::NormalExit && close.exitCode() == 0)
        << "the close request was not sent";
    ASSERT_FALSE(WaitForWindow(QString::fromUtf8("关闭确认")).isEmpty()) << "no close question";
    EXPECT_TRUE(EndsWithZeroAfter(SIGTERM)) << EndDescription();
    EXPECT_EQ(TomatoRowCount(), "0");
    EXPECT_EQ(StoredInfo("badtomato"), "0");
    EXPECT_EQ(StoredInfo("showPBar"), "1");
}

// A file that is not a database: the start ends in an error box. The end that comes while it is
// open saves nothing into that file, and asks nothing.
TEST_F(SessionEndOnX11, ErrorBoxAtStartEndsWithZeroAndTheFileUntouched) {
    const QByteArray notADatabase("these are not the bytes of a database file\n");
    {
        QFile file(QString::fromStdString(DbPath()));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(notADatabase);
    }
    Start();
    ASSERT_FALSE(WaitForWindow(QString::fromUtf8("发生意外")).isEmpty()) << "no error box";
    EXPECT_TRUE(EndsWithZeroAfter(SIGTERM)) << EndDescription();
    QFile file(QString::fromStdString(DbPath()));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), notADatabase);
}

// Another program (a database tool in the middle of a long write) holds the file's exclusive lock
// from before the start: the start waits for it once, then ends in its error box as with a file it
// cannot read. Run once first, so that the file is there.
class LockedAtStartOnX11 : public SessionEndOnX11 {
protected:
    void SetUp() override {
        SessionEndOnX11::SetUp();
        if (HasFatalFailure()) return;
        const QString main = StartAndWaitForMainWindow();
        ASSERT_FALSE(main.isEmpty()) << "no main window at the first start";
        QProcess close;
        close.start(QStringLiteral(TOMATO_CLOSE_REQUEST), {main});
        ASSERT_TRUE(close.waitForFinished(10000) && close.exitCode() == 0) << "the close request was not sent";
        ASSERT_TRUE(program_.waitForFinished(20000) && program_.exitCode() == 0) << EndDescription();
        bytes_ = FileBytes();
        holder_ = std::make_unique<tomato_test::DatabaseFile>(DbPath());
        ASSERT_TRUE(holder_->Column("BEGIN EXCLUSIVE")) << "the lock could not be taken";
    }
    QByteArray FileBytes() const {
        QFile file(QString::fromStdString(DbPath()));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QByteArray bytes_;
    std::unique_ptr<tomato_test::DatabaseFile> holder_;
};

TEST_F(LockedAtStartOnX11, TheErrorBoxComesAfterOneWaitAndTheFileStaysUntouched) {
    QElapsedTimer clock;
    clock.start();
    Start();
    ASSERT_FALSE(WaitForWindow(QString::fromUtf8("发生意外")).isEmpty()) << "no error box within 20 s";
    std::cout << "[ locked start ] error box after " << clock.elapsed() << " ms" << std::endl;
    EXPECT_TRUE(EndsWithZeroAfter(SIGTERM)) << EndDescription();
    holder_.reset();
    EXPECT_EQ(FileBytes(), bytes_);
}

TEST_F(LockedAtStartOnX11, ASessionEndDuringTheWaitEndsTheProgramOnceTheWaitIsOver) {
    Start();
    QTest::qWait(1000);
    EXPECT_TRUE(EndsWithZeroAfter(SIGTERM)) << EndDescription();
    holder_.reset();
    EXPECT_EQ(FileBytes(), bytes_);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QGuiApplication application(argc, argv);
    return RUN_ALL_TESTS();
}

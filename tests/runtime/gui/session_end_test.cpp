// The end of the session: SIGTERM, SIGHUP and SIGINT reach the program's handler on the UI thread,
// from nested loops too, never inside the signal and never twice at once; a real process ends in
// order with 0; what the process started keeps the signals' defaults.
#include "gui_test_util.h"
#include "runtime/events.h"
#include "runtime/messagebox.h"
#include "runtime/program.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace rt {
namespace {

constexpr int kSessionSignals[] = {SIGTERM, SIGHUP, SIGINT};

// The handler is the process's: every test leaves the signals as it found them.
class SessionEndTest : public test::GuiTest {
protected:
    void TearDown() override
    {
        SetSessionEndHandler({});
        test::GuiTest::TearDown();
    }
};

TEST_F(SessionEndTest, HandlerRunsOnTheUiThreadAfterTheSignalNotInsideIt)
{
    for (const int signal : kSessionSignals) {
        SCOPED_TRACE(signal);
        int calls = 0;
        bool onUiThread = false;
        ASSERT_TRUE(SetSessionEndHandler([&] {
            ++calls;
            onUiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        }));
        ASSERT_EQ(::raise(signal), 0);
        EXPECT_EQ(calls, 0) << "ran inside the signal";
        ASSERT_TRUE(test::WaitUntil([&] { return calls == 1; }));
        EXPECT_TRUE(onUiThread);
        // A signal sent to the process from outside, to whichever thread takes it.
        ASSERT_EQ(::kill(::getpid(), signal), 0);
        ASSERT_TRUE(test::WaitUntil([&] { return calls == 2; }));
    }
}

TEST_F(SessionEndTest, HandlerRunsInsideAnOpenMessageBoxAndAThreadWait)
{
    int calls = 0;
    bool boxWasOpen = false;
    // Owned by the worker too, which is left to run should the test fail before it ends.
    const auto released = std::make_shared<std::atomic<bool>>(false);
    ASSERT_TRUE(SetSessionEndHandler([&] {
        ++calls;
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxWasOpen = box->isVisible();
            box->close();
        }
        *released = true;
    }));

    // A real box: the signal is raised from a timer that runs inside the box's own loop.
    QTimer raiser;
    QObject::connect(&raiser, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box != nullptr && box->isVisible()) {
            raiser.stop();
            ::raise(SIGTERM);
        }
    });
    raiser.start(10);
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, [] {
        if (QWidget* box = QApplication::activeModalWidget()) box->close();
    });
    giveUp.start(5000);
    ShowMessageBox("open", kMbIconInformation, "session");
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(boxWasOpen);

    // The wait for a worker thread that ends only once the handler has run.
    *released = false;
    auto worker = WorkerThread::Start([released] {
        while (!*released) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    ASSERT_NE(worker, nullptr);
    QTimer::singleShot(20, [] { ::raise(SIGHUP); });
    std::uint32_t answer = kWaitMessage;
    for (int wakes = 0; answer == kWaitMessage && wakes < 1000; ++wakes) {
        answer = MsgWaitForThread(*worker, 5000);
    }
    EXPECT_EQ(answer, kWaitObject0);
    EXPECT_EQ(calls, 2);
}

TEST_F(SessionEndTest, ASignalWhileTheHandlerRunsIsPartOfTheSameEnd)
{
    int calls = 0;
    int callsSeenInside = 0;
    ASSERT_TRUE(SetSessionEndHandler([&] {
        ++calls;
        if (calls > 1) return;
        // A second signal, then the loop runs as it would inside the handler's own message box.
        ::raise(SIGTERM);
        ::raise(SIGINT);
        for (int i = 0; i < 5; ++i) ProcessPendingEvents();
        callsSeenInside = calls;
    }));
    ::raise(SIGHUP);
    ASSERT_TRUE(test::WaitUntil([&] { return calls >= 1 && callsSeenInside > 0; }));
    EXPECT_EQ(callsSeenInside, 1) << "the handler was entered again";
    for (int i = 0; i < 5; ++i) ProcessPendingEvents();
    EXPECT_EQ(calls, 1) << "the signals read inside came back afterwards";

    // One pass of the loop is enough to deliver a signal, so the count above says something.
    ::raise(SIGTERM);
    ProcessPendingEvents();
    EXPECT_EQ(calls, 2);
}

struct Disposition {
    bool ignored = false;
    bool defaulted = false;
};

Disposition DispositionOf(int signal)
{
    struct sigaction now {};
    ::sigaction(signal, nullptr, &now);
    return {now.sa_handler == SIG_IGN, now.sa_handler == SIG_DFL};
}

TEST_F(SessionEndTest, SignalsIgnoredAtStartStayIgnoredAndAnEmptyHandlerGivesTheDefaultsBack)
{
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction before {};
    ASSERT_EQ(::sigaction(SIGHUP, &ignore, &before), 0);

    int calls = 0;
    ASSERT_TRUE(SetSessionEndHandler([&] { ++calls; }));
    EXPECT_TRUE(DispositionOf(SIGHUP).ignored);
    EXPECT_FALSE(DispositionOf(SIGTERM).defaulted);
    EXPECT_FALSE(DispositionOf(SIGTERM).ignored);
    ::raise(SIGHUP);
    ::raise(SIGTERM);
    ASSERT_TRUE(test::WaitUntil([&] { return calls == 1; }));

    ASSERT_TRUE(SetSessionEndHandler({}));
    EXPECT_TRUE(DispositionOf(SIGTERM).defaulted);
    EXPECT_TRUE(DispositionOf(SIGINT).defaulted);
    EXPECT_TRUE(DispositionOf(SIGHUP).ignored);
    ::sigaction(SIGHUP, &before, nullptr);
}

// The hexadecimal signal mask of a /proc status line such as "SigIgn:".
std::uint64_t StatusMask(const std::string& status, const std::string& field)
{
    std::istringstream lines(status);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(field, 0) == 0) return std::stoull(line.substr(field.size()), nullptr, 16);
    }
    ADD_FAILURE() << "no " << field << " in\n" << status;
    return 0;
}

// The pipes a process holds apart from its standard input and output.
std::set<std::string> PipesBeyondStdio(const QString& process)
{
    std::set<std::string> pipes;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(process));
    for (const QString& fd : fds.entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files)) {
        if (fd.toInt() < 3) continue;
        const QString target = QFile::symLinkTarget(fds.filePath(fd));
        if (target.contains(QStringLiteral("pipe:"))) pipes.insert(target.section(u'/', -1).toStdString());
    }
    return pipes;
}

TEST_F(SessionEndTest, AStartedProgramHasTheSignalsDefaultsAndNoneOfThePipe)
{
    // The pipes that watching adds (what this process was started with may go to its children).
    const std::set<std::string> before = PipesBeyondStdio(QStringLiteral("self"));
    ASSERT_TRUE(SetSessionEndHandler([] {}));
    std::set<std::string> watching;
    for (const std::string& pipe : PipesBeyondStdio(QStringLiteral("self"))) {
        if (before.count(pipe) == 0) watching.insert(pipe);
    }
    ASSERT_FALSE(watching.empty());

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString pidFile = dir.filePath(QStringLiteral("pid"));
    ASSERT_TRUE(RunProgram("/bin/sh -c \"echo $$ > " + pidFile.toStdString() + ".part && mv " +
                           pidFile.toStdString() + ".part " + pidFile.toStdString() + " && exec sleep 30\""));
    ASSERT_TRUE(test::WaitUntil([&] { return QFile::exists(pidFile); }));
    QFile file(pidFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString child = QString::fromLatin1(file.readAll()).trimmed();
    const pid_t childPid = child.toInt();
    ASSERT_GT(childPid, 0);
    // The shell has become sleep once its command line says so.
    ASSERT_TRUE(test::WaitUntil([&] {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(child));
        return cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().startsWith("sleep");
    }));

    std::ifstream statusFile("/proc/" + child.toStdString() + "/status");
    const std::string status((std::istreambuf_iterator<char>(statusFile)), std::istreambuf_iterator<char>());
    std::uint64_t bits = 0;
    for (const int signal : kSessionSignals) bits |= std::uint64_t{1} << (signal - 1);
    for (const char* field : {"SigIgn:", "SigCgt:", "SigBlk:"}) {
        EXPECT_EQ(StatusMask(status, field) & bits, 0u) << field;
    }
    for (const std::string& pipe : PipesBeyondStdio(child)) EXPECT_EQ(watching.count(pipe), 0u) << pipe;

    ::kill(childPid, SIGTERM);
}

// A run of the helper program that the test sends a signal once it has printed `when`.
struct SignalledRun {
    bool ended = false;
    int exitCode = -1;
    std::string output;
};

SignalledRun SignalHelper(const QStringList& arguments, const std::string& when, int signal)
{
    QProcess process;
    process.setProgram(QStringLiteral(RT_GUI_HELPER));
    process.setArguments(arguments);
    // As a desktop starts a program: whatever this test was started with, no signal is ignored.
    process.setChildProcessModifier([] {
        for (const int s : kSessionSignals) ::signal(s, SIG_DFL);
    });
    process.start();
    SignalledRun run;
    QByteArray output;
    while (!output.contains(when.c_str()) && process.waitForReadyRead(20000)) output += process.readAllStandardOutput();
    if (output.contains(when.c_str())) ::kill(static_cast<pid_t>(process.processId()), signal);
    run.ended = process.waitForFinished(20000) && process.exitStatus() == QProcess::NormalExit;
    if (!run.ended) {
        process.kill();
        process.waitForFinished();
    }
    run.exitCode = process.exitCode();
    run.output = (output + process.readAllStandardOutput()).toStdString();
    return run;
}

TEST(SessionEndProcessTest, EndsInOrderWithZeroAtEachSignalAlsoInsideABox)
{
    struct Case {
        QStringList arguments;
        const char* when;
        int signal;
        const char* output;
    };
    const Case cases[] = {
        {{QStringLiteral("session-end")}, "ready\n", SIGTERM, "ready\nsession end\nexit routine\n"},
        {{QStringLiteral("session-end")}, "ready\n", SIGHUP, "ready\nsession end\nexit routine\n"},
        {{QStringLiteral("session-end")}, "ready\n", SIGINT, "ready\nsession end\nexit routine\n"},
        {{QStringLiteral("session-end"), QStringLiteral("box")}, "box open\n", SIGTERM,
         "box open\nsession end\nexit routine\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(u' ').toStdString() + " " + std::to_string(c.signal));
        const SignalledRun run = SignalHelper(c.arguments, c.when, c.signal);
        EXPECT_TRUE(run.ended) << "killed by the signal, or still running";
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.output, c.output);
    }
}

}  // namespace
}  // namespace rt

// The program's frame: the orderly end seen from a parent process, library commands bound by name,
// files and started programs.
#include "gui_test_util.h"
#include "internal.h"
#include "runtime/messagebox.h"
#include "runtime/program.h"
#include "runtime/text.h"

#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <vector>

namespace rt {
namespace {

struct HelperRun {
    int exitCode = -1000;
    std::string output;
};

HelperRun RunHelper(const QStringList& arguments, const QString& program = QStringLiteral(RT_GUI_HELPER),
                    const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProgram(program);
    process.setProcessEnvironment(environment);
    process.setArguments(arguments);
    process.start();
    HelperRun run;
    if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitCode();
    run.output = process.readAllStandardOutput().toStdString();
    return run;
}

int Count(const std::string& text, const std::string& part)
{
    int count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

TEST(OrderlyEndTest, ParentSeesTheExitCodeAndTheRoutineRunsOnce)
{
    struct Case {
        const char* code;
        int seen;  // as the parent's wait reports it: -1 arrives as 255
    };
    for (const Case c : {Case{"0", 0}, Case{"-1", 255}, Case{"3", 3}}) {
        SCOPED_TRACE(c.code);
        const HelperRun run = RunHelper({QStringLiteral("end"), QString::fromLatin1(c.code)});
        EXPECT_EQ(run.exitCode, c.seen);
        EXPECT_EQ(Count(run.output, "ending inside the box"), 1) << run.output;
        EXPECT_EQ(Count(run.output, "exit routine"), 1) << run.output;
        EXPECT_EQ(Count(run.output, "returned"), 0) << run.output;
        EXPECT_EQ(Count(run.output, "loop ended"), 0) << run.output;
    }
}

TEST(OrderlyEndTest, QueryCloseHandlerEndsTheProgramWhenTheWindowManagerCloses)
{
    const HelperRun run = RunHelper({QStringLiteral("close")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "query close\nexit routine\n");
}

TEST(OrderlyEndTest, LoopEndsWithTheLastWindowAndTheRoutineRunsAtReturn)
{
    const HelperRun run = RunHelper({QStringLiteral("return")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "loop ended\nexit routine\n");
}

TEST(OrderlyEndTest, MissingLibraryShowsTheFatalBoxAndEndsWithMinusOne)
{
    const HelperRun run = RunHelper({QStringLiteral("missing-lib")});
    EXPECT_EQ(run.exitCode, 255);
    EXPECT_NE(run.output.find("box flags=16"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("message=" + Gbk("无法找到指定DLL库文件“no-such-library.so”中的输出命令“检测新版本”") + "\n"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(Count(run.output, "exit routine"), 1);
    EXPECT_EQ(Count(run.output, "returned"), 0);
}

// Qt's own texts are Chinese whatever the locale: the catalogue is loaded at start-up. Without it
// (here: a copy of the helper whose qt.conf names an empty translations directory) the program runs
// on with Qt's English texts.
TEST(QtTextsTest, ChineseFromTheCatalogueEnglishWithoutIt)
{
    const std::string chinese = "yes-no=是(&Y)|否(&N)\nok=确定\n"
                                "menu=撤消(&U)|重做(&R)|剪切(&T)|复制(&C)|粘贴(&P)|删除|全选\n"
                                "ran on\nexit routine\n";
    const std::string defaults = "yes-no=&Yes|&No\nok=OK\n"
                                "menu=&Undo|&Redo|Cu&t|&Copy|&Paste|Delete|Select All\n"
                                "ran on\nexit routine\n";
    // The user's English locale does not matter.
    QProcessEnvironment english = QProcessEnvironment::systemEnvironment();
    english.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
    english.insert(QStringLiteral("LC_ALL"), QStringLiteral("en_US.UTF-8"));
    const HelperRun found = RunHelper({QStringLiteral("qt-texts")}, QStringLiteral(RT_GUI_HELPER), english);
    EXPECT_EQ(found.exitCode, 0);
    EXPECT_EQ(found.output, chinese);

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("empty")));
    const QString copy = dir.filePath(QStringLiteral("helper"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(RT_GUI_HELPER), copy));
    QFile conf(dir.filePath(QStringLiteral("qt.conf")));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write("[Paths]\nPlugins=" + QLibraryInfo::path(QLibraryInfo::PluginsPath).toUtf8() + "\nTranslations=" +
               dir.filePath(QStringLiteral("empty")).toUtf8() + "\n");
    conf.close();
    const HelperRun missing = RunHelper({QStringLiteral("qt-texts")}, copy, english);
    EXPECT_EQ(missing.exitCode, 0);
    EXPECT_EQ(missing.output, defaults);
}

// Records boxes and ends instead of showing and ending.
class SeamTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetMessageBoxHook([this](const std::string& message, int flags, const std::string& caption) {
            messages.push_back(message);
            lastFlags = flags;
            lastCaption = caption;
            return kAnswerOk;
        });
        SetEndProgramHook([this](int code) { endCodes.push_back(code); });
    }
    void TearDown() override
    {
        SetMessageBoxHook(nullptr);
        SetEndProgramHook(nullptr);
        SetRunProgramHook(nullptr);
        SetShellOpenHook(nullptr);
    }

    std::vector<std::string> messages;
    int lastFlags = 0;
    std::string lastCaption;
    std::vector<int> endCodes;
};

TEST_F(SeamTest, LibraryCommandIsBoundFromTheProgramsDirectoryByItsGbkName)
{
    // The test library lies beside the test program only, not on the system's search path.
    using Command = int (*)(int);
    auto command = reinterpret_cast<Command>(BindLibraryCommand("librt_gui_testlib.so", Gbk("测试命令")));
    ASSERT_NE(command, nullptr);
    EXPECT_EQ(command(1), 42);
    // A library on the system's search path.
    EXPECT_NE(BindLibraryCommand("libm.so.6", "cos"), nullptr);
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(endCodes.empty());
}

TEST_F(SeamTest, MissingLibraryOrExportNamesBothAndEndsWithMinusOne)
{
    struct Case {
        const char* what;
        std::string library;
        std::string exportName;
    };
    const Case cases[] = {
        {"no library", "update.dll", Gbk("检测新版本")},
        {"no export", "librt_gui_testlib.so", Gbk("检测新版本")},
        {"no export on the search path", "libm.so.6", "no_such_function"},
        {"empty names", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        messages.clear();
        endCodes.clear();
        EXPECT_EQ(BindLibraryCommand(c.library, c.exportName), nullptr);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0], Gbk("无法找到指定DLL库文件“") + c.library + Gbk("”中的输出命令“") + c.exportName +
                                   Gbk("”"));
        EXPECT_EQ(lastFlags, 0x10);
        EXPECT_FALSE(lastCaption.empty());
        EXPECT_EQ(endCodes, std::vector<int>{-1});
    }
    // A library name with a format directive is shown as it is.
    messages.clear();
    BindLibraryCommand("%s%n.so", "x");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], Gbk("无法找到指定DLL库文件“%s%n.so”中的输出命令“x”"));
}

TEST(ProgramTest, ProgramDirectoryIsTheCurrentDirectoryAfterStart)
{
    const std::string directory = ProgramDirectory();
    ASSERT_FALSE(directory.empty());
    EXPECT_NE(directory.back(), '/');
    EXPECT_TRUE(FileExists(directory + "/librt_gui_testlib.so"));
    char cwd[PATH_MAX];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(Gbk(cwd), directory);  // the test main started the runtime
}

TEST(ProgramTest, FilesAreNamedInGbk)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkpath(QString::fromUtf8("下载/番茄 钟")));
    const QString utf8Path = dir.filePath(QString::fromUtf8("下载/番茄 钟/番茄.txt"));
    const std::string gbkPath = Gbk(utf8Path.toStdString());
    EXPECT_FALSE(FileExists(gbkPath));
    QFile file(utf8Path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_TRUE(FileExists(gbkPath));
    EXPECT_TRUE(DeleteFileCommand(gbkPath));
    EXPECT_FALSE(FileExists(gbkPath));
    EXPECT_FALSE(DeleteFileCommand(gbkPath));
    EXPECT_FALSE(FileExists(""));
}

TEST(ProgramTest, NameTheSystemCannotSpellNamesNoFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // The names a lossy conversion would have made of the GBK text below.
    for (const char* lossy : {"?.txt", "\xEF\xBF\xBD.txt"}) {
        QFile file(dir.filePath(QString::fromUtf8(lossy)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const std::string unspellable = Gbk(dir.path().toStdString()) + "/\xFF.txt";
    EXPECT_FALSE(FileExists(unspellable));
    EXPECT_FALSE(DeleteFileCommand(unspellable));
    EXPECT_FALSE(FileExists(Gbk(dir.path().toStdString()) + std::string("/?.txt\0x", 8)));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2);
}

TEST(ProgramTest, RunProgramSplitsTheLineAndStartsWithoutAShell)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string out = dir.filePath(QStringLiteral("out.txt")).toStdString();
    // Quotes group an argument with blanks; a shell would have expanded $HOME and run "; echo".
    const std::string line =
        "/bin/sh -c \"IFS=; printf '%s|' $0 $1 > " + out + "\" \"first arg\" $HOME;echo";
    ASSERT_TRUE(RunProgram(line, 4));
    ASSERT_TRUE(test::WaitUntil([&] { return QFile::exists(QString::fromStdString(out)); }));
    test::Pump(100);
    QFile file(QString::fromStdString(out));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toStdString(), "first arg|$HOME;echo|");

    EXPECT_FALSE(RunProgram("/no/such/program --flag"));
    EXPECT_FALSE(RunProgram(""));
    EXPECT_FALSE(RunProgram("   "));
}

TEST(ProgramTest, ArgumentsAndAddressesReachProgramsInTheSystemsSpelling)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string out = dir.filePath(QStringLiteral("out.txt")).toStdString();
    ASSERT_TRUE(RunProgram(Gbk("/bin/sh -c \"IFS=; printf '%s|' $0 > " + out + "\" \"番茄 钟\""), 4));
    ASSERT_TRUE(test::WaitUntil([&] { return QFile(QString::fromStdString(out)).size() > 0; }));
    QFile file(QString::fromStdString(out));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toStdString(), "番茄 钟|");

    // The desktop's opener, as a stand-in first on the search path, receives the address.
    const QString opener = dir.filePath(QStringLiteral("xdg-open"));
    const std::string opened = dir.filePath(QStringLiteral("opened.txt")).toStdString();
    {
        QFile script(opener);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(("#!/bin/sh\nprintf '%s' \"$1\" > '" + opened + "'\n").c_str());
    }
    QFile::setPermissions(opener, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", dir.path().toUtf8() + ":" + path);
    const bool started = ShellOpen(Gbk("http://例子.example/下载/番茄 钟.zip"));
    qputenv("PATH", path);
    ASSERT_TRUE(started);
    ASSERT_TRUE(test::WaitUntil([&] { return QFile(QString::fromStdString(opened)).size() > 0; }));
    QFile openedFile(QString::fromStdString(opened));
    ASSERT_TRUE(openedFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(openedFile.readAll().toStdString(), "http://例子.example/下载/番茄 钟.zip");

    // Texts the system cannot spell start nothing, rather than something else.
    EXPECT_FALSE(RunProgram("/bin/sh -c \"touch " + out + ".\xFF\""));
    EXPECT_FALSE(ShellOpen("http://h/\x81"));
    test::Pump(200);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 3);
}

TEST(ProgramTest, SeamsReceiveCommandLinesAndAddresses)
{
    std::vector<std::string> runs;
    std::vector<std::string> opened;
    SetRunProgramHook([&](const std::string& line) {
        runs.push_back(line);
        return true;
    });
    SetShellOpenHook([&](const std::string& address) {
        opened.push_back(address);
        return false;
    });
    EXPECT_TRUE(RunProgram("explorer.exe http://www.example.org/vantrel/sponsor", 4));
    EXPECT_FALSE(ShellOpen("http://www.example.org/download"));
    SetRunProgramHook(nullptr);
    SetShellOpenHook(nullptr);
    EXPECT_EQ(runs, std::vector<std::string>{"explorer.exe http://www.example.org/vantrel/sponsor"});
    EXPECT_EQ(opened, std::vector<std::string>{"http://www.example.org/download"});
}

TEST(QtPlatformTest, XServerAtHandGetsXcbUnlessTheUserChose)
{
    struct Case {
        const char* name;
        const char* display;
        const char* waylandDisplay;
        const char* qpaPlatform;
        std::vector<const char*> arguments;  // after the program's name
        const char* platform;                // "" leaves the choice to Qt
    };
    const Case cases[] = {
        {"xwayland", ":1", "wayland-0", nullptr, {}, "xcb;wayland"},
        {"xwayland, program arguments kept apart", ":1", "wayland-0", nullptr, {"-style", "fusion", "x"}, "xcb;wayland"},
        {"wayland alone", nullptr, "wayland-0", nullptr, {}, ""},
        {"x11 alone", ":0", nullptr, nullptr, {}, "xcb"},
        {"neither", nullptr, nullptr, nullptr, {}, ""},
        {"user's environment", ":1", "wayland-0", "wayland", {}, ""},
        {"user's environment offscreen", ":0", nullptr, "offscreen", {}, ""},
        {"user's argument", ":1", "wayland-0", nullptr, {"-platform", "wayland"}, ""},
        {"user's argument, double dash", ":1", "wayland-0", nullptr, {"x", "--platform", "wayland"}, ""},
        {"user's argument without a value", ":1", "wayland-0", nullptr, {"-platform"}, ""},
        {"empty display", "", "wayland-0", nullptr, {}, ""},
        {"empty wayland display", ":1", "", nullptr, {}, "xcb"},
        {"empty user's environment", ":1", "wayland-0", "", {}, "xcb;wayland"},
        {"lookalike arguments", ":1", "wayland-0", nullptr, {"-platformtheme", "gtk3", "-platform=wayland"}, "xcb;wayland"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<const char*> argv{"tomatoclock"};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        const int argc = static_cast<int>(argv.size());
        argv.push_back(nullptr);
        EXPECT_EQ(detail::QtPlatformFor({c.display, c.waylandDisplay, c.qpaPlatform}, argc, argv.data()), c.platform);
    }
}

}  // namespace
}  // namespace rt

// The database file with real processes of the program (program_copy.cpp): a copy killed at each
// write of a recording leaves all of the recording or none of it, a copy killed at any point of
// the first build leaves the next start a good file and nothing else, and copies started together
// in a fresh folder end with one good file that holds what each of them recorded.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "../../database_file.h"
#include "../../folder_names.h"
#include "runtime/text.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// How a copy of the program ended and what it wrote to stdout.
struct Outcome {
    int exitCode = -1;  // -1 when it did not exit by itself
    int signal = 0;     // the signal that ended it, 0 when it exited
    std::string output;
    std::vector<std::string> Boxes() const {
        std::vector<std::string> boxes;
        std::size_t start = 0;
        while (start < output.size()) {
            std::size_t end = output.find('\n', start);
            if (end == std::string::npos) end = output.size();
            if (output.compare(start, 4, "box ") == 0) boxes.push_back(output.substr(start + 4, end - start - 4));
            start = end + 1;
        }
        return boxes;
    }
    // The changing file operations the copy counted after crash-at; -1 when it did not say.
    long Ops() const {
        const std::size_t at = output.rfind("ops ");
        return at == std::string::npos ? -1 : std::strtol(output.c_str() + at + 4, nullptr, 10);
    }
};

// A running copy of the program on a database folder; gateFd, when given, becomes its fd 3.
class Copy {
public:
    Copy(const fs::path& folder, const std::vector<std::string>& actions, int gateFd = -1) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "pipe: " << std::strerror(errno);
            return;
        }
        std::vector<std::string> args{PROGRAM_COPY, folder.string()};
        args.insert(args.end(), actions.begin(), actions.end());
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);

        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_adddup2(&files, out[1], STDOUT_FILENO);
        if (gateFd >= 0) posix_spawn_file_actions_adddup2(&files, gateFd, 3);
        const int rc = posix_spawn(&pid_, PROGRAM_COPY, &files, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&files);
        ::close(out[1]);
        output_ = out[0];
        if (rc != 0) {
            ADD_FAILURE() << "cannot start " << PROGRAM_COPY << ": " << std::strerror(rc);
            pid_ = -1;
        }
    }
    ~Copy() {
        if (pid_ > 0) Wait();
        if (output_ >= 0) ::close(output_);
    }
    Copy(const Copy&) = delete;
    Copy& operator=(const Copy&) = delete;

    // Reads the copy's output to its end and waits for it to end.
    Outcome Wait() {
        Outcome outcome;
        char buffer[4096];
        ssize_t got;
        while ((got = ::read(output_, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
            if (got > 0) outcome.output.append(buffer, static_cast<std::size_t>(got));
        }
        int status = 0;
        if (pid_ > 0) {
            while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            pid_ = -1;
            if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
            if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
        }
        return outcome;
    }

private:
    pid_t pid_ = -1;
    int output_ = -1;
};

// A temporary folder, removed with everything in it.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "tomato-processes-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
        path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

const std::string kCategoryCount = "count_" + rt::Gbk("工作");

// What a file holds of the recordings: rows and counters, all as text.
struct Recorded {
    long tomatoRows = 0;
    std::string good, bad, integral;
    std::vector<std::string> categoryCounts;  // the value of every count_工作 row
    friend bool operator==(const Recorded&, const Recorded&) = default;
    friend std::ostream& operator<<(std::ostream& os, const Recorded& r) {
        os << "{rows " << r.tomatoRows << ", good " << r.good << ", bad " << r.bad << ", integral " << r.integral
           << ", count_工作";
        for (const std::string& count : r.categoryCounts) os << " " << count;
        return os << "}";
    }
};

// The file with its integrity checked; Read gives nullopt (and a failure) when it cannot be read
// or is damaged.
class Database : public tomato_test::DatabaseFile {
public:
    using DatabaseFile::DatabaseFile;

    std::optional<Recorded> Read() const {
        const auto integrity = Column("PRAGMA integrity_check");
        if (!integrity || *integrity != std::vector<std::string>{"ok"}) {
            ADD_FAILURE() << "integrity_check: " << (integrity ? testing::PrintToString(*integrity) : "failed");
            return std::nullopt;
        }
        const auto rows = Column("SELECT count(*) FROM tomato");
        const auto counts = Column("SELECT value FROM info WHERE subject='" + kCategoryCount + "' ORDER BY id");
        if (!rows || !counts) return std::nullopt;
        return Recorded{std::stol(rows->front()), Value("goodtomato"), Value("badtomato"), Value("integral"),
                        *counts};
    }
};

std::string Bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Plus(const std::string& number, long amount) {
    return std::to_string(std::stol(number) + amount);
}

// --- a recording is all or nothing --------------------------------------------------------

struct KillCase {
    const char* name;
    std::vector<std::string> before;  // what a first run recorded
    const char* record;               // "good" or "bad", of the category 工作
    friend void PrintTo(const KillCase& c, std::ostream* os) { *os << c.name; }
};

// What the recording adds to a file that held `before`.
Recorded AfterRecording(const Recorded& before, const std::string& kind) {
    Recorded after = before;
    ++after.tomatoRows;
    if (kind == "good") {
        after.good = Plus(before.good, 1);
        after.integral = Plus(before.integral, 1);
        after.categoryCounts =
            before.categoryCounts.empty() ? std::vector<std::string>{"1"}
                                          : std::vector<std::string>{Plus(before.categoryCounts.front(), 1)};
    } else {
        after.bad = Plus(before.bad, 1);
        after.integral = Plus(before.integral, -5);
    }
    return after;
}

class KilledRecordingTest : public testing::TestWithParam<KillCase> {};

TEST_P(KilledRecordingTest, AKillAtAnyWriteLeavesAllOfTheRecordingOrNone) {
    const KillCase& c = GetParam();
    TempFolder work;
    const fs::path first = work.Path() / "first";
    fs::create_directory(first);
    std::vector<std::string> firstRun{"start"};
    firstRun.insert(firstRun.end(), c.before.begin(), c.before.end());
    const Outcome prepared = Copy(first, firstRun).Wait();
    ASSERT_EQ(prepared.exitCode, 0) << prepared.output;
    ASSERT_TRUE(prepared.Boxes().empty()) << prepared.output;
    const std::string template_ = Bytes(first / "db.razezuzivu");
    const std::optional<Recorded> before = Database(first / "db.razezuzivu").Read();
    ASSERT_TRUE(before);
    const Recorded after = AfterRecording(*before, c.record);

    // The kill comes in front of operation n; the first n at which the copy ends by itself is
    // past the recording's last write.
    constexpr long kMaxOps = 200;
    long none = 0, all = 0;
    std::vector<long> partial;
    long n = 1;
    for (; n <= kMaxOps; ++n) {
        SCOPED_TRACE("killed in front of operation " + std::to_string(n));
        const fs::path run = work.Path() / std::to_string(n);
        fs::create_directory(run);
        std::ofstream(run / "db.razezuzivu", std::ios::binary) << template_;
        const Outcome outcome = Copy(run, {"start", "crash-at=" + std::to_string(n), c.record}).Wait();
        if (outcome.signal != SIGKILL) {
            ASSERT_EQ(outcome.exitCode, 0) << outcome.output;
            EXPECT_TRUE(outcome.Boxes().empty()) << outcome.output;
            EXPECT_LT(outcome.Ops(), n) << outcome.output;
            EXPECT_EQ(Database(run / "db.razezuzivu").Read(), after) << "the recording run to its end";
            break;
        }
        const std::optional<Recorded> found = Database(run / "db.razezuzivu").Read();
        ASSERT_TRUE(found);
        if (*found == *before) {
            ++none;
        } else if (*found == after) {
            ++all;
        } else {
            partial.push_back(n);
            ADD_FAILURE() << "part of the recording: " << *found << ", before " << *before << ", after " << after;
        }
        fs::remove_all(run);
    }
    ASSERT_LE(n, kMaxOps) << "the recording never ran to its end";
    EXPECT_GT(n, 2) << "the recording changed the file without a counted operation";
    std::cout << "[ kill points ] " << c.name << ": " << n - 1 << " kills, " << none << " none, " << all << " all, "
              << partial.size() << " partial" << std::endl;
    EXPECT_TRUE(partial.empty()) << partial.size() << " of " << n - 1 << " kills left part of the recording";
}

INSTANTIATE_TEST_SUITE_P(
    Recordings, KilledRecordingTest,
    testing::Values(KillCase{"GoodTomatoOfANewCategory", {}, "good"},
                    KillCase{"GoodTomatoOfACountedCategory", {"good"}, "good"},
                    KillCase{"BadTomato", {"good"}, "bad"}),
    [](const testing::TestParamInfo<KillCase>& info) { return std::string(info.param.name); });

// --- a first build killed at any point ---------------------------------------------------

TEST(KilledBuild, AKillAtAnyPointOfTheFirstBuildLeavesTheNextStartAGoodFileAndNothingElse) {
    // The info rows of a first start: the six of the build and the four the settings add.
    const std::vector<std::string> firstStartRows{
        "1 db_ver 1.0",  "2 integral 0", "3 goodtomato 0", "4 badtomato 0", "5 alertwave 1",
        "6 clickListToStart 0", "7 tag_top 0", "8 tag_left 0", "9 note 0", "10 showPBar 0"};
    TempFolder work;
    constexpr long kMaxOps = 400;
    constexpr long kBatch = 6;  // kill points tried side by side, each in a folder of its own
    long end = 0;               // the first n at which the start ran to its end
    long leftovers = 0;         // kills after which the folder held more than the database
    for (long first = 1; end == 0 && first <= kMaxOps; first += kBatch) {
        std::vector<long> killedAt;
        {
            std::vector<std::unique_ptr<Copy>> copies;
            for (long n = first; n < first + kBatch; ++n) {
                fs::create_directory(work.Path() / std::to_string(n));
                copies.push_back(std::make_unique<Copy>(work.Path() / std::to_string(n),
                                                        std::vector<std::string>{"crash-at=" + std::to_string(n), "start"}));
            }
            for (long n = first; n < first + kBatch; ++n) {
                const Outcome outcome = copies[static_cast<std::size_t>(n - first)]->Wait();
                if (end != 0) continue;
                if (outcome.signal == SIGKILL) {
                    killedAt.push_back(n);
                    continue;
                }
                end = n;
                EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
                EXPECT_TRUE(outcome.Boxes().empty()) << outcome.output;
            }
        }
        std::vector<std::unique_ptr<Copy>> nextStarts;
        for (long n : killedAt) {
            const std::set<std::string> left = tomato_test::FolderNames(work.Path() / std::to_string(n));
            if (left != std::set<std::string>{"db.razezuzivu"}) ++leftovers;
            nextStarts.push_back(std::make_unique<Copy>(work.Path() / std::to_string(n), std::vector<std::string>{"start"}));
        }
        for (std::size_t i = 0; i < killedAt.size(); ++i) {
            SCOPED_TRACE("killed in front of operation " + std::to_string(killedAt[i]));
            const fs::path run = work.Path() / std::to_string(killedAt[i]);
            const Outcome next = nextStarts[i]->Wait();
            EXPECT_EQ(next.exitCode, 0) << next.output;
            EXPECT_TRUE(next.Boxes().empty()) << next.output;
            EXPECT_EQ(tomato_test::FolderNames(run), std::set<std::string>{"db.razezuzivu"});
            const Database db(run / "db.razezuzivu");
            EXPECT_TRUE(db.Read()) << "a good file";
            EXPECT_EQ(db.Column("SELECT id || ' ' || subject || ' ' || value FROM info ORDER BY id"), firstStartRows);
            EXPECT_EQ(fs::hard_link_count(run / "db.razezuzivu"), 1u);
        }
    }
    ASSERT_NE(end, 0) << "the first start never ran to its end";
    EXPECT_GT(leftovers, 0) << "no kill left anything behind: the kills missed the build";
    std::cout << "[ kill points ] first build: " << end - 1 << " kills, " << leftovers
              << " left files beside the database" << std::endl;
}

// --- two copies started together ----------------------------------------------------------

TEST(TwoCopies, StartedTogetherInAFreshFolderTheyShareOneGoodFile) {
    constexpr int kRounds = 30;
    int failedRounds = 0;
    for (int round = 0; round < kRounds; ++round) {
        TempFolder folder;
        int gate[2];
        ASSERT_EQ(::pipe2(gate, O_CLOEXEC), 0);
        std::vector<Outcome> outcomes;
        {
            Copy first(folder.Path(), {"gate", "start", "good", "memo=first copy", "close"}, gate[0]);
            Copy second(folder.Path(), {"gate", "start", "good", "memo=second copy", "close"}, gate[0]);
            ::close(gate[0]);
            ::close(gate[1]);  // both go
            outcomes.push_back(first.Wait());
            outcomes.push_back(second.Wait());
        }
        // Everything wrong with this round, one line each.
        std::vector<std::string> wrong;
        for (const Outcome& outcome : outcomes) {
            if (outcome.exitCode != 0 || !outcome.Boxes().empty()) {
                wrong.push_back("a copy ended with code " + std::to_string(outcome.exitCode) + ", signal " +
                                std::to_string(outcome.signal) + ": " + outcome.output);
            }
        }
        const std::set<std::string> names = tomato_test::FolderNames(folder.Path());
        if (names != std::set<std::string>{"db.razezuzivu"}) {
            wrong.push_back("the folder holds " + testing::PrintToString(names) + " instead of the database alone");
        }
        if (names.count("db.razezuzivu") != 0) {
            Database db(folder.Path() / "db.razezuzivu");
            const std::optional<Recorded> recorded = db.Read();
            const Recorded both{2, "2", "0", "2", {"2"}};
            if (recorded != both) {
                const std::string held = recorded ? testing::PrintToString(*recorded) : "nothing readable";
                wrong.push_back("the file holds " + held + " instead of both copies' tomatoes " +
                                testing::PrintToString(both));
            }
            // Each subject keeps one row, also where both copies added it at their first start.
            const auto repeated = db.Column("SELECT subject FROM info GROUP BY subject HAVING count(*) > 1");
            if (repeated && !repeated->empty()) {
                wrong.push_back("subjects with more than one row: " + testing::PrintToString(*repeated));
            }
            const std::string memo = db.Value("note");
            if (memo != "first copy" && memo != "second copy") wrong.push_back("the memo is " + memo);
        }
        if (!wrong.empty()) {
            ++failedRounds;
            ADD_FAILURE() << "round " << round << ":\n  " << testing::PrintToString(wrong);
        }
    }
    std::cout << "[ two copies ] " << failedRounds << " of " << kRounds << " rounds failed" << std::endl;
}

}  // namespace

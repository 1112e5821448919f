// Files that come into being whole: a new file under a free name, held while it is built, a move to
// a free name that never replaces a file, and the removal of such files that nobody holds.
#include "runtime/files.h"
#include "runtime/text.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../../special_files.h"
#include "../../nested_folder.h"

namespace rt {
namespace {

namespace fs = std::filesystem;

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "rt-files-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        fs::create_directory(dir_ / "下载");
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    // A path below the test's folder: as the file system spells it, and as GBK for the calls.
    fs::path Native(const std::string& name) const { return dir_ / "下载" / name; }
    std::string Path(const std::string& name) const { return Gbk(Native(name).string()); }
    void Write(const std::string& name, const std::string& text) const
    {
        std::ofstream(Native(name), std::ios::binary) << text;
    }
    std::string Read(const std::string& name) const
    {
        std::ifstream in(Native(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    fs::path dir_;
};

TEST_F(FilesTest, AHeldFileIsCreatedNewAndNeverTouchesAFileThatExists)
{
    HeldFile file;
    EXPECT_EQ(file.Create(Path("番茄.db")), NewNameResult::Done);
    EXPECT_TRUE(file.Held());
    EXPECT_TRUE(fs::is_regular_file(Native("番茄.db")));
    EXPECT_EQ(fs::file_size(Native("番茄.db")), 0u);
    file.Release();
    EXPECT_FALSE(file.Held());
    EXPECT_TRUE(fs::exists(Native("番茄.db"))) << "letting it go keeps the file";

    Write("番茄.db", "kept");
    EXPECT_EQ(file.Create(Path("番茄.db")), NewNameResult::Taken);
    EXPECT_EQ(Read("番茄.db"), "kept");
    EXPECT_FALSE(file.Held());

    EXPECT_EQ(file.Create(Path("missing/x.db")), NewNameResult::Failed);
    EXPECT_EQ(file.Create(Gbk(dir_.string()) + "/\xFF.db"), NewNameResult::Failed) << "cannot be spelled";
    EXPECT_EQ(file.Create(""), NewNameResult::Failed);
    EXPECT_FALSE(file.Held());
}

// Holds a file from another process, as a copy of the program that is building it does, until the
// object is destroyed.
class OtherProcessHold {
public:
    explicit OtherProcessHold(const fs::path& file)
    {
        int ready[2];
        if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(release_, O_CLOEXEC) != 0) return;
        child_ = ::fork();
        if (child_ == 0) {
            // Only system calls here: the parent may have threads.
            ::close(ready[0]);
            ::close(release_[1]);
            const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
            const char held = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
            (void)::write(ready[1], &held, 1);
            char byte;
            (void)::read(release_[0], &byte, 1);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release_[0]);
        char held = 'n';
        held_ = child_ > 0 && ::read(ready[0], &held, 1) == 1 && held == 'y';
        ::close(ready[0]);
    }
    ~OtherProcessHold()
    {
        ::close(release_[1]);
        if (child_ > 0) ::waitpid(child_, nullptr, 0);
    }
    OtherProcessHold(const OtherProcessHold&) = delete;
    OtherProcessHold& operator=(const OtherProcessHold&) = delete;
    bool Held() const { return held_; }

private:
    pid_t child_ = -1;
    int release_[2] = {-1, -1};
    bool held_ = false;
};

TEST_F(FilesTest, DeleteUnlessHeldDeletesOnlyARegularFileNobodyHolds)
{
    Write("left", "left by a run that died");
    Write("target", "a file a link leads to");
    fs::create_symlink(Native("target"), Native("link"));
    ASSERT_EQ(::mkfifo(Native("fifo").c_str(), 0644), 0);
    fs::create_directory(Native("folder"));
    HeldFile ours;
    ASSERT_EQ(ours.Create(Path("held here")), NewNameResult::Done);
    Write("held elsewhere", "being built");
    const OtherProcessHold other(Native("held elsewhere"));
    ASSERT_TRUE(other.Held());
    HeldFile released;
    ASSERT_EQ(released.Create(Path("let go")), NewNameResult::Done);
    released.Release();

    struct Case {
        const char* name;
        LeftFileResult result;
    };
    const Case cases[] = {
        {"left", LeftFileResult::Deleted},         {"let go", LeftFileResult::Deleted},
        {"held here", LeftFileResult::Held},       {"held elsewhere", LeftFileResult::Held},
        {"link", LeftFileResult::NotAFile},        {"fifo", LeftFileResult::NotAFile},
        {"folder", LeftFileResult::NotAFile},      {"missing", LeftFileResult::Missing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool existed = fs::exists(fs::symlink_status(Native(c.name)));
        tomato_test::FifoWatch watch({Native("fifo")});
        EXPECT_EQ(DeleteUnlessHeld(Path(c.name)), c.result);
        EXPECT_FALSE(watch.Stop()) << "the FIFO was opened";
        EXPECT_EQ(fs::exists(fs::symlink_status(Native(c.name))), existed && c.result != LeftFileResult::Deleted);
    }
    EXPECT_EQ(Read("target"), "a file a link leads to");
    EXPECT_EQ(Read("held elsewhere"), "being built");
    EXPECT_EQ(DeleteUnlessHeld(Gbk(dir_.string()) + "/\xFF"), LeftFileResult::Failed) << "cannot be spelled";
}

TEST_F(FilesTest, ASecondNameIsAHardLinkOfTheFile)
{
    Write("db", "the database");
    fs::create_hard_link(Native("db"), Native("second"));
    Write("copy", "the database");
    fs::create_symlink(Native("db"), Native("link"));
    EXPECT_TRUE(IsSecondNameOf(Path("second"), Path("db")));
    EXPECT_TRUE(IsSecondNameOf(Path("db"), Path("second")));
    EXPECT_FALSE(IsSecondNameOf(Path("copy"), Path("db")));
    EXPECT_FALSE(IsSecondNameOf(Path("link"), Path("db"))) << "a symbolic link is not one";
    EXPECT_TRUE(IsSecondNameOf(Path("second"), Path("link"))) << "the file a link names is";
    EXPECT_FALSE(IsSecondNameOf(Path("missing"), Path("db")));
    EXPECT_FALSE(IsSecondNameOf(Path("second"), Path("missing")));
}

TEST_F(FilesTest, FolderEntriesNamesEveryEntryInGbk)
{
    Write("番茄.db", "");
    fs::create_directory(Native("folder"));
    fs::create_symlink(Native("nowhere"), Native("link"));
    std::vector<std::string> names = FolderEntries(Gbk(Native("").string()));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"folder", "link", Gbk("番茄.db")}));
    EXPECT_TRUE(FolderEntries(Path("missing")).empty());
}

TEST_F(FilesTest, MoveToNewNameNeverReplacesAFile)
{
    Write("new", "built");
    EXPECT_EQ(MoveToNewName(Path("new"), Path("db")), NewNameResult::Done);
    EXPECT_FALSE(fs::exists(Native("new")));
    EXPECT_EQ(Read("db"), "built");

    Write("second", "built later");
    EXPECT_EQ(MoveToNewName(Path("second"), Path("db")), NewNameResult::Taken);
    EXPECT_EQ(Read("db"), "built");
    EXPECT_EQ(Read("second"), "built later") << "left where it was";

    // A name taken by a link that leads nowhere is taken all the same.
    fs::create_symlink(Native("nowhere"), Native("link"));
    EXPECT_EQ(MoveToNewName(Path("second"), Path("link")), NewNameResult::Taken);
    EXPECT_FALSE(fs::exists(Native("nowhere")));

    EXPECT_EQ(MoveToNewName(Path("missing"), Path("other")), NewNameResult::Failed);
    EXPECT_FALSE(fs::exists(Native("other")));
}

TEST_F(FilesTest, PathsUpToTheSystemsLimitWork)
{
    const fs::path folder = tomato_test::NestedFolder(dir_ / "long", "番茄", PATH_MAX - 1, "db.razezuzivu");
    const std::string building = Gbk((folder / "db.new-abcdef").string());
    const std::string target = Gbk((folder / "db.razezuzivu").string());
    HeldFile file;
    EXPECT_EQ(file.Create(building), NewNameResult::Done);
    EXPECT_EQ(MoveToNewName(building, target), NewNameResult::Done);
    EXPECT_TRUE(fs::exists(folder / "db.razezuzivu"));
    EXPECT_FALSE(fs::exists(folder / "db.new-abcdef"));
}

}  // namespace
}  // namespace rt

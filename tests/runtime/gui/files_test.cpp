// Files that come into being whole: a new file under a free name, and a move to a free name that
// never replaces a file.
#include "runtime/files.h"
#include "runtime/text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

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

TEST_F(FilesTest, CreateNewFileNeverTouchesAFileThatExists)
{
    EXPECT_EQ(CreateNewFile(Path("番茄.db")), NewNameResult::Done);
    EXPECT_TRUE(fs::is_regular_file(Native("番茄.db")));
    EXPECT_EQ(fs::file_size(Native("番茄.db")), 0u);

    Write("番茄.db", "kept");
    EXPECT_EQ(CreateNewFile(Path("番茄.db")), NewNameResult::Taken);
    EXPECT_EQ(Read("番茄.db"), "kept");

    EXPECT_EQ(CreateNewFile(Path("missing/x.db")), NewNameResult::Failed);
    EXPECT_EQ(CreateNewFile(Gbk(dir_.string()) + "/\xFF.db"), NewNameResult::Failed) << "cannot be spelled";
    EXPECT_EQ(CreateNewFile(""), NewNameResult::Failed);
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
    EXPECT_EQ(CreateNewFile(building), NewNameResult::Done);
    EXPECT_EQ(MoveToNewName(building, target), NewNameResult::Done);
    EXPECT_TRUE(fs::exists(folder / "db.razezuzivu"));
    EXPECT_FALSE(fs::exists(folder / "db.new-abcdef"));
}

}  // namespace
}  // namespace rt

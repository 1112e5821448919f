#include "runtime/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <string>

#include "runtime/text.h"

namespace rt {
namespace {

std::optional<std::string> Name(std::string_view path)
{
    auto name = SystemName(path);
    if (!name || name->empty()) return std::nullopt;
    return name;
}

// The errors with which a file system says it has no hard links (EPERM on FAT, for one).
bool NoHardLinks(int error)
{
    return error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EMLINK;
}

// The errors with which the kernel or the file system says it cannot rename without replacing.
bool NoExclusiveRename(int error)
{
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

bool SameInode(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True while the name still names the file open as fd (not removed, not replaced).
bool StillNamed(int fd, const std::string& name)
{
    struct stat opened {};
    struct stat named {};
    return ::fstat(fd, &opened) == 0 && ::lstat(name.c_str(), &named) == 0 && SameInode(opened, named);
}

enum class Hold { Taken, HeldByOther, NotAvailable };

// Takes the hold without waiting. NotAvailable: the file system keeps no such holds, so nobody can
// tell whether another process holds the file.
Hold TryHold(int fd)
{
    int rc;
    while ((rc = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (rc == 0) return Hold::Taken;
    return errno == EWOULDBLOCK ? Hold::HeldByOther : Hold::NotAvailable;
}

}  // namespace

HeldFile::~HeldFile()
{
    Release();
}

void HeldFile::Release()
{
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
}

NewNameResult HeldFile::Create(std::string_view path)
{
    Release();
    const auto name = Name(path);
    if (!name) return NewNameResult::Failed;
    // The permissions SQLite gives a database file it creates itself.
    const int fd = ::open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return errno == EEXIST ? NewNameResult::Taken : NewNameResult::Failed;
    // Between the creation and the hold another process may have taken the new file for a left
    // one and be deleting it: then the name is given up as taken. Where the file system keeps no
    // holds the file is built all the same; nobody can then tell it from a left one, and nobody
    // deletes it as one.
    if (TryHold(fd) == Hold::HeldByOther || !StillNamed(fd, *name)) {
        ::close(fd);
        return NewNameResult::Taken;
    }
    fd_ = fd;
    return NewNameResult::Done;
}

LeftFileResult DeleteUnlessHeld(std::string_view path)
{
    const auto name = Name(path);
    if (!name) return LeftFileResult::Failed;
    struct stat info {};
    if (::lstat(name->c_str(), &info) != 0) return errno == ENOENT ? LeftFileResult::Missing : LeftFileResult::Failed;
    if (!S_ISREG(info.st_mode)) return LeftFileResult::NotAFile;
    // Non-blocking and not through a link: whatever replaced the file since, opening it cannot wait.
    const int fd = ::open(name->c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return LeftFileResult::Missing;
        return errno == ELOOP ? LeftFileResult::NotAFile : LeftFileResult::Failed;
    }
    LeftFileResult result;
    if (::fstat(fd, &info) != 0) {
        result = LeftFileResult::Failed;
    } else if (!S_ISREG(info.st_mode)) {
        result = LeftFileResult::NotAFile;
    } else if (TryHold(fd) != Hold::Taken) {
        result = LeftFileResult::Held;  // or nobody can tell: left alone all the same
    } else if (!StillNamed(fd, *name)) {
        result = LeftFileResult::Missing;  // the file looked at is gone; the name is another's now
    } else if (::unlink(name->c_str()) == 0) {
        result = LeftFileResult::Deleted;
    } else {
        result = errno == ENOENT ? LeftFileResult::Missing : LeftFileResult::Failed;
    }
    ::close(fd);
    return result;
}

bool IsSecondNameOf(std::string_view name, std::string_view file)
{
    const auto first = Name(name);
    const auto second = Name(file);
    if (!first || !second) return false;
    struct stat a {};
    struct stat b {};
    return ::lstat(first->c_str(), &a) == 0 && S_ISREG(a.st_mode) && ::stat(second->c_str(), &b) == 0 &&
           SameInode(a, b);
}

std::vector<std::string> FolderEntries(std::string_view folder)
{
    std::vector<std::string> entries;
    const auto name = Name(folder);
    if (!name) return entries;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(name->c_str()), &::closedir);
    if (!dir) return entries;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view entryName = entry->d_name;
        if (entryName == "." || entryName == "..") continue;
        entries.push_back(GbkFromSystemName(entryName));
    }
    return entries;
}

NewNameResult MoveToNewName(std::string_view from, std::string_view to)
{
    const auto source = Name(from);
    const auto target = Name(to);
    if (!source || !target) return NewNameResult::Failed;

    if (::link(source->c_str(), target->c_str()) == 0) {
        // Gone already is as good: another process removed the old name as a left one.
        if (::unlink(source->c_str()) == 0 || errno == ENOENT) return NewNameResult::Done;
        return NewNameResult::OldNameKept;
    }
    if (errno == EEXIST) return NewNameResult::Taken;
    if (!NoHardLinks(errno)) return NewNameResult::Failed;

    if (::renameat2(AT_FDCWD, source->c_str(), AT_FDCWD, target->c_str(), RENAME_NOREPLACE) == 0) {
        return NewNameResult::Done;
    }
    if (errno == EEXIST) return NewNameResult::Taken;
    if (!NoExclusiveRename(errno)) return NewNameResult::Failed;

    struct stat info {};
    if (::lstat(target->c_str(), &info) == 0) return NewNameResult::Taken;
    if (errno != ENOENT) return NewNameResult::Failed;
    return ::rename(source->c_str(), target->c_str()) == 0 ? NewNameResult::Done : NewNameResult::Failed;
}

}  // namespace rt

#include "runtime/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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

}  // namespace

NewNameResult CreateNewFile(std::string_view path)
{
    const auto name = Name(path);
    if (!name) return NewNameResult::Failed;
    // The permissions SQLite gives a database file it creates itself.
    const int fd = ::open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return errno == EEXIST ? NewNameResult::Taken : NewNameResult::Failed;
    ::close(fd);
    return NewNameResult::Done;
}

NewNameResult MoveToNewName(std::string_view from, std::string_view to)
{
    const auto source = Name(from);
    const auto target = Name(to);
    if (!source || !target) return NewNameResult::Failed;

    if (::link(source->c_str(), target->c_str()) == 0) {
        ::unlink(source->c_str());
        return NewNameResult::Done;
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

#pragma once
// Files that must come into being whole: an empty file created under a name nobody holds and held
// while it is built, a finished file moved to its final name without ever replacing a file of
// that name, and the removal of such files that a process left behind when it died. Paths are
// GBK texts as in program.h (FileExists, DeleteFileCommand); one the system cannot spell fails.

#include <string>
#include <string_view>
#include <vector>

namespace rt {

enum class NewNameResult {
    Done,
    Taken,   // a file of that name exists; nothing was changed
    Failed,  // any other failure; nothing was changed
    // MoveToNewName only: the file has its new name, but the old one could not be removed, so
    // both name it.
    OldNameKept,
};

// A file this process holds (an flock on it) from its creation until Release or destruction, so
// that another process tells a file still being built from one left behind by a process that died
// (DeleteUnlessHeld). SQLite's locks (POSIX record locks) and this one do not disturb each other;
// but releasing closes a descriptor of the file, which drops every record lock this process holds
// on it: release only once no connection of this process has the file open.
class HeldFile {
public:
    HeldFile() = default;
    ~HeldFile();
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    // Creates an empty file and holds it; never opens or truncates one that exists. Any file held
    // before is released first.
    NewNameResult Create(std::string_view path);
    bool Held() const { return fd_ >= 0; }
    void Release();

private:
    int fd_ = -1;
};

enum class LeftFileResult {
    Deleted,
    Held,      // a process holds it (HeldFile): left alone
    Missing,   // no file of that name (any more)
    NotAFile,  // not a regular file (a folder, a link, a FIFO, ...): left alone
    Failed,    // it could not be deleted
};

// Deletes a regular file unless a process holds it. It holds the file itself while it looks and
// deletes, so that a process just creating a file of that name finds it gone and takes another
// name. It never blocks and never opens what is not a regular file.
LeftFileResult DeleteUnlessHeld(std::string_view path);

// True when `name` is itself a regular file (not a symbolic link) and the very file that `file`
// names: a second name of it.
bool IsSecondNameOf(std::string_view name, std::string_view file);

// The names of a folder's entries, without "." and ".."; empty when it cannot be read.
std::vector<std::string> FolderEntries(std::string_view folder);

// Moves a file to a name that is free, in one step that no other process can come between: a hard
// link followed by the removal of the old name, or on a file system without hard links a rename
// that refuses to replace. Where the file system has neither, a rename after a check that the
// name is free (two processes can then meet in the moment between the two).
NewNameResult MoveToNewName(std::string_view from, std::string_view to);

}  // namespace rt

#pragma once
// Files that must come into being whole: an empty file created under a name nobody holds, and a
// finished file moved to its final name without ever replacing a file of that name. Paths are
// GBK texts as in program.h (FileExists, DeleteFileCommand); one the system cannot spell fails.

#include <string_view>

namespace rt {

enum class NewNameResult {
    Done,
    Taken,   // a file of that name exists; nothing was changed
    Failed,  // any other failure; nothing was changed
};

// Creates an empty file; never opens or truncates one that exists.
NewNameResult CreateNewFile(std::string_view path);

// Moves a file to a name that is free, in one step that no other process can come between: a hard
// link followed by the removal of the old name, or on a file system without hard links a rename
// that refuses to replace. Where the file system has neither, a rename after a check that the
// name is free (two processes can then meet in the moment between the two).
NewNameResult MoveToNewName(std::string_view from, std::string_view to);

}  // namespace rt

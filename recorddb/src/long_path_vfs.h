#pragma once
// The VFS through which SqliteDB opens its files: the default VFS of the process, except that a
// database whose name is too long for it is handed over under a short name of its directory.
//
// SQLite's unix VFS takes names of at most 512 bytes, journal suffix included, so a database path
// above 504 bytes cannot be opened, and that VFS copies names into fixed buffers of that size, so
// its limit cannot simply be raised. A longer path is named instead as
// "/proc/self/fd/<d>/<file name>", where d is a handle of the file's directory that this layer
// opens and keeps for the rest of the process; the journal then lies beside the database as
// always. What the file system itself refuses (a path of PATH_MAX bytes or more) stays refused:
// no name is ever cut.

namespace recorddb_detail {

// The registered name of the VFS; registered at the first call, wrapping the VFS that is the
// default at that moment. Null when SQLite has no default VFS.
const char* LongPathVfsName();

}  // namespace recorddb_detail

#pragma once
// The VFS through which SqliteDB opens its files: the default VFS of the process, except that a
// database whose name is too long for it is handed over under a short name of its directory, and
// that a name that is not a regular file (a FIFO, a socket, a device, a folder, or a link to one)
// is never opened: SQLite would open a FIFO under a journal's name to read it, and wait for a
// writer for good. Such a name fails as a file that cannot be opened and stays as it is.
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
const char* LayerVfsName();

}  // namespace recorddb_detail

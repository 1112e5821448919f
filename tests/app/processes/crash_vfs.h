#pragma once
// A VFS for tests that wraps the default one and ends the process with SIGKILL in front of the
// n-th operation that changes a file, so that a test can stop a real process at every write of
// what it does. The operations counted: a write, truncate or sync of any file, the opening of a
// rollback journal and the deletion of a file through SQLite, and the program's own links and
// deletions of files (link and unlink, wrapped at link time: -Wl,--wrap=link,--wrap=unlink).
// Reads, locks and everything else pass untouched.

namespace crashvfs {

// Registers the VFS as the default one; call before any database is opened. Counts nothing yet.
void Install();
// Counting starts from here: the n-th counted operation (n >= 1) kills the process before it is
// carried out; n = 0 only counts.
void ArmAt(long n);
// The operations counted since ArmAt.
long Count();
// Counts one operation (and kills the process when it is the one asked for).
void Counted();

}  // namespace crashvfs

#include "crash_vfs.h"

#include <sqlite3.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace crashvfs {
namespace {

sqlite3_vfs* g_base = nullptr;
sqlite3_vfs g_vfs{};
bool g_armed = false;
long g_killAt = 0;
long g_count = 0;

}  // namespace

// Counts one changing operation and ends the process when it is the one asked for.
void Counted() {
    if (!g_armed) return;
    ++g_count;
    if (g_killAt > 0 && g_count == g_killAt) std::raise(SIGKILL);
}

namespace {

// The wrapper's file: its own methods, followed in the same allocation by the wrapped file.
struct File {
    sqlite3_file base;
    sqlite3_file* real;
};

sqlite3_file* Real(sqlite3_file* file) {
    return reinterpret_cast<File*>(file)->real;
}

int Close(sqlite3_file* f) {
    return Real(f)->pMethods->xClose(Real(f));
}
int Read(sqlite3_file* f, void* buffer, int amount, sqlite3_int64 offset) {
    return Real(f)->pMethods->xRead(Real(f), buffer, amount, offset);
}
int Write(sqlite3_file* f, const void* buffer, int amount, sqlite3_int64 offset) {
    Counted();
    return Real(f)->pMethods->xWrite(Real(f), buffer, amount, offset);
}
int Truncate(sqlite3_file* f, sqlite3_int64 size) {
    Counted();
    return Real(f)->pMethods->xTruncate(Real(f), size);
}
int Sync(sqlite3_file* f, int flags) {
    Counted();
    return Real(f)->pMethods->xSync(Real(f), flags);
}
int FileSize(sqlite3_file* f, sqlite3_int64* size) {
    return Real(f)->pMethods->xFileSize(Real(f), size);
}
int Lock(sqlite3_file* f, int level) {
    return Real(f)->pMethods->xLock(Real(f), level);
}
int Unlock(sqlite3_file* f, int level) {
    return Real(f)->pMethods->xUnlock(Real(f), level);
}
int CheckReservedLock(sqlite3_file* f, int* result) {
    return Real(f)->pMethods->xCheckReservedLock(Real(f), result);
}
int FileControl(sqlite3_file* f, int op, void* arg) {
    return Real(f)->pMethods->xFileControl(Real(f), op, arg);
}
int SectorSize(sqlite3_file* f) {
    return Real(f)->pMethods->xSectorSize(Real(f));
}
int DeviceCharacteristics(sqlite3_file* f) {
    return Real(f)->pMethods->xDeviceCharacteristics(Real(f));
}

// Version 1: no shared memory and no memory mapping, which the rollback journal does not need.
const sqlite3_io_methods kFileMethods = {
    1,     Close, Read, Write, Truncate, Sync, FileSize, Lock, Unlock, CheckReservedLock, FileControl,
    SectorSize, DeviceCharacteristics,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

int Open(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
    if ((flags & SQLITE_OPEN_MAIN_JOURNAL) != 0) Counted();
    auto* wrapper = reinterpret_cast<File*>(file);
    wrapper->real = reinterpret_cast<sqlite3_file*>(wrapper + 1);
    const int rc = g_base->xOpen(g_base, name, wrapper->real, flags, outFlags);
    // SQLite closes a file only when its methods are set; a failed open leaves them unset.
    wrapper->base.pMethods = wrapper->real->pMethods != nullptr ? &kFileMethods : nullptr;
    return rc;
}
int Delete(sqlite3_vfs*, const char* name, int syncDirectory) {
    Counted();
    return g_base->xDelete(g_base, name, syncDirectory);
}

}  // namespace

void Install() {
    if (g_base != nullptr) return;
    g_base = sqlite3_vfs_find(nullptr);
    if (g_base == nullptr) {
        std::fprintf(stderr, "crash VFS: no default VFS to wrap\n");
        std::abort();
    }
    // The default VFS with its opening and deleting counted; its other methods serve the copy.
    g_vfs = *g_base;
    g_vfs.pNext = nullptr;
    g_vfs.zName = "crash-test";
    g_vfs.szOsFile = static_cast<int>(sizeof(File)) + g_base->szOsFile;
    g_vfs.xOpen = Open;
    g_vfs.xDelete = Delete;
    sqlite3_vfs_register(&g_vfs, 1);
}

void ArmAt(long n) {
    g_armed = true;
    g_killAt = n;
    g_count = 0;
}

long Count() {
    return g_count;
}

}  // namespace crashvfs

// The program's own calls of link and unlink (the runtime's file moves and deletions); SQLite's
// go through its VFS above.
extern "C" {
int __real_link(const char* from, const char* to);
int __real_unlink(const char* name);

int __wrap_link(const char* from, const char* to) {
    crashvfs::Counted();
    return __real_link(from, to);
}

int __wrap_unlink(const char* name) {
    crashvfs::Counted();
    return __real_unlink(name);
}
}

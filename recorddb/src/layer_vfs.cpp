#include "layer_vfs.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace recorddb_detail {
namespace {

// The longest suffix SQLite appends to a database name for a file of its own ("-journal").
constexpr std::size_t kJournalSuffix = 8;

sqlite3_vfs* g_base = nullptr;
sqlite3_vfs g_vfs{};

// True when the base VFS can take a database of this name, journal included.
bool FitsBase(std::size_t length) {
    return length + kJournalSuffix <= static_cast<std::size_t>(g_base->mxPathname);
}

// The name made absolute against the current directory, whatever its length; none when the
// current directory cannot be told.
std::optional<std::string> Absolute(const char* name) {
    if (name[0] == '/') return std::string(name);
    std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
    if (!cwd) return std::nullopt;
    std::string path = cwd.get();
    if (path.empty() || path.back() != '/') path += '/';
    return path + name;
}

// A handle of the directory, kept for the rest of the process; -1 when it cannot be opened. The
// handle of a directory that has since been replaced under the same name is not closed, because
// a connection opened through it names its journal by it.
int DirectoryHandle(const std::string& directory) {
    static std::mutex mutex;
    static std::map<std::string, std::vector<int>> handles;

    const int fd = ::open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat opened {};
    if (::fstat(fd, &opened) != 0) {
        ::close(fd);
        return -1;
    }
    const std::lock_guard<std::mutex> lock(mutex);
    std::vector<int>& known = handles[directory];
    for (int held : known) {
        struct stat info {};
        if (::fstat(held, &info) == 0 && info.st_dev == opened.st_dev && info.st_ino == opened.st_ino) {
            ::close(fd);
            return held;
        }
    }
    known.push_back(fd);
    return fd;
}

// The short name of a database with a long absolute path; none when there is none.
std::optional<std::string> ShortName(std::string path) {
    // The base VFS opens a database without following a symbolic link in its last element and
    // resolves such links in its own name handling; so the link is resolved here too.
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        std::unique_ptr<char, decltype(&std::free)> target(::realpath(path.c_str(), nullptr), &std::free);
        if (!target) return std::nullopt;
        path = target.get();
    }
    const std::size_t slash = path.rfind('/');
    const std::string file = path.substr(slash + 1);
    if (file.empty() || file == "." || file == "..") return std::nullopt;
    const int directory = DirectoryHandle(slash == 0 ? std::string("/") : path.substr(0, slash));
    if (directory < 0) return std::nullopt;
    return "/proc/self/fd/" + std::to_string(directory) + "/" + file;
}

int FullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
    std::optional<std::string> path = Absolute(name);
    // The short name could reach further than the system's calls on the path itself (the check
    // that a file exists, for one); the layer takes what they take.
    if (!path || path->size() >= PATH_MAX) return SQLITE_CANTOPEN;
    if (FitsBase(path->size())) {
        // Short enough: the base VFS names it, exactly as without this layer.
        const int rc = g_base->xFullPathname(g_base, path->c_str(), size, out);
        if ((rc & 0xFF) == SQLITE_OK) {
            if (FitsBase(std::strlen(out))) return rc;
            // A symbolic link led to a path too long for the base VFS: go on with where it led.
            path = std::string(out);
        }
        // Otherwise a link on the way may have had a target too long for the base VFS.
    }
    const std::optional<std::string> shortName = ShortName(*path);
    if (!shortName || shortName->size() >= static_cast<std::size_t>(size) || !FitsBase(shortName->size())) {
        return SQLITE_CANTOPEN;
    }
    std::memcpy(out, shortName->c_str(), shortName->size() + 1);
    return SQLITE_OK;
}

int Open(sqlite3_vfs* vfs, const char* name, sqlite3_file* file, int flags, int* outFlags) {
    struct stat info {};
    // Temporary files have no name. A missing one is created as a regular file.
    if (name != nullptr && ::stat(name, &info) == 0 && !S_ISREG(info.st_mode)) {
        file->pMethods = nullptr;  // nothing opened, nothing for SQLite to close
        return SQLITE_CANTOPEN;
    }
    return g_base->xOpen(vfs, name, file, flags, outFlags);
}

const char* Register() {
    g_base = sqlite3_vfs_find(nullptr);
    if (g_base == nullptr) return nullptr;
    // A copy of the base VFS with the name handling and the opening replaced. Its other methods
    // serve unchanged: they take what they need of a VFS (its app data, its limits) from the copy,
    // which carries the base's own, as SQLite's VFS variants share their methods the same way.
    g_vfs = *g_base;
    g_vfs.pNext = nullptr;
    g_vfs.zName = "recorddb";
    g_vfs.xFullPathname = FullPathname;
    g_vfs.xOpen = Open;
    if (sqlite3_vfs_register(&g_vfs, 0) != SQLITE_OK) return nullptr;
    return g_vfs.zName;
}

}  // namespace

const char* LayerVfsName() {
    static const char* const name = Register();
    return name;
}

}  // namespace recorddb_detail

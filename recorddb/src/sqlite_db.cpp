#include "recorddb/sqlite_db.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <optional>
#include <thread>

#include "layer_vfs.h"
#include "recorddb/sqlite_operation.h"
#include "runtime/text.h"

namespace {

// CreateTable composes each item of an array, the column list and the statement in areas of
// these sizes (NUL included); a single definition is the whole list. Definitions that do not fit
// are refused rather than cut.
constexpr std::size_t kItemArea = 200;
constexpr std::size_t kListArea = 2000;
constexpr std::size_t kStatementArea = 2000;

// True when path equals ":memory:" with ASCII letters compared without regard to case.
bool IsMemoryPath(const std::string& path) {
    static constexpr char kMemory[] = ":memory:";
    if (path.size() != sizeof kMemory - 1) return false;
    for (std::size_t i = 0; i < path.size(); ++i) {
        char c = path[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 0x20);
        if (c != kMemory[i]) return false;
    }
    return true;
}

// The column type word of a type code; none for code 0, whose item is the name alone.
std::optional<std::string> TypeWord(std::int32_t code, std::int32_t length) {
    switch (code) {
    case -1:
        return "INTEGER PRIMARY KEY";
    case 0:
        return std::nullopt;
    case 1:
    case 2:
    case 3:
    case 4:
    case 7:
        return "INTEGER";
    case 5:
    case 6:
        return "NUMERIC";
    case 8:
    case 10:
    case 12:
        return length > 0 ? "TEXT(" + std::to_string(length) + ")" : std::string("TEXT");
    case 11:
        return "BLOB";
    default:
        return "NONE";
    }
}

// The item of one named definition: "name" or "name type"; none when it does not fit the area.
std::optional<std::string> FormatItem(const SqliteFieldInfo& field, std::size_t area) {
    std::string item = field.name;
    if (auto word = TypeWord(field.type, field.length)) {
        item += ' ';
        item += *word;
    }
    if (item.size() >= area) return std::nullopt;
    return item;
}

// "CREATE TABLE table (list)"; none when it does not fit the statement's area.
std::optional<std::string> CreateStatement(std::string_view table, const std::string& list) {
    std::string sql = "CREATE TABLE ";
    sql.append(table);
    sql += " (";
    sql += list;
    sql += ')';
    if (sql.size() >= kStatementArea) return std::nullopt;
    return sql;
}

// True when the name is a regular file, or a symbolic link to one, that this process may read.
bool IsReadableRegularFile(const std::string& name) {
    struct stat info {};
    return ::stat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(name.c_str(), R_OK) == 0;
}

}  // namespace

SqliteDB::~SqliteDB() {
    Close();
}

bool SqliteDB::Open(const std::string& path, bool create) {
    Close();
    std::string name;
    if (path.empty() || IsMemoryPath(path)) {
        if (!create) return false;
        name = ":memory:";
    } else {
        // The path is GBK; the file system spells names its own way. A path it cannot spell is
        // refused rather than opened under another name.
        auto systemName = rt::SystemName(path);
        if (!systemName) return false;
        name = std::move(*systemName);
        // Without create the file must exist (SQLite would otherwise make an empty one) and be one
        // that can be read. The file system is asked, the file is not opened: opening a FIFO would
        // wait for a writer for good. Only a regular file (or a link to one) is a database file.
        if (!create && !IsReadableRegularFile(name)) return false;
    }
    sqlite3* connection = nullptr;
    // Read-write and created when missing, as sqlite3_open does; a file through the layer's VFS,
    // which can also name the files of a long path.
    const char* vfs = name == ":memory:" ? nullptr : recorddb_detail::LayerVfsName();
    if (sqlite3_open_v2(name.c_str(), &connection, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, vfs) == SQLITE_OK) {
        connection_ = connection;
        InstallBusyHandler();
        return true;
    }
    connection_ = connection;
    Close();
    return false;
}

void SqliteDB::SetBusyTimeout(int milliseconds) {
    busyTimeoutMs_ = milliseconds > 0 ? milliseconds : 0;
    if (connection_ != nullptr) InstallBusyHandler();
}

void SqliteDB::InstallBusyHandler() {
    if (busyTimeoutMs_ > 0) {
        sqlite3_busy_handler(connection_, &SqliteDB::OnBusy, this);
    } else {
        sqlite3_busy_handler(connection_, nullptr, nullptr);
    }
}

int SqliteDB::OnBusy(void* self, int attempt) {
    return static_cast<SqliteDB*>(self)->WaitForLock(attempt) ? 1 : 0;
}

bool SqliteDB::WaitForLock(int attempt) {
    using Clock = std::chrono::steady_clock;
    // Short sleeps first, as SQLite's own busy timeout takes them: most locks are held briefly.
    static constexpr int kDelaysMs[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50, 100};
    // Within an operation the waits of all its statements count together; outside one, each
    // statement's own waits do (attempt 0 is a statement's first wait for this lock).
    SqliteOperation* operation = SqliteOperation::Current();
    if (operation == nullptr && attempt == 0) statementWaited_ = {};
    Clock::duration& waited = operation != nullptr ? operation->waited_ : statementWaited_;
    const Clock::duration budget = std::chrono::milliseconds(busyTimeoutMs_);
    if (waited >= budget) return false;
    const int step = kDelaysMs[std::min<std::size_t>(static_cast<std::size_t>(attempt), std::size(kDelaysMs) - 1)];
    const Clock::duration delay = std::min<Clock::duration>(std::chrono::milliseconds(step), budget - waited);
    const Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(delay);
    waited += Clock::now() - start;
    return true;
}

bool SqliteDB::InTransaction() const {
    return connection_ != nullptr && sqlite3_get_autocommit(connection_) == 0;
}

bool SqliteDB::Close() {
    if (connection_ == nullptr) return true;
    const int rc = sqlite3_close(connection_);
    if (rc == SQLITE_BUSY) {
        // A statement is still unfinalized. The object forgets the connection all the same; SQLite
        // frees it once the last statement is finalized instead of leaking it.
        sqlite3_close_v2(connection_);
    }
    connection_ = nullptr;
    return rc != SQLITE_BUSY;
}

bool SqliteDB::Execute(const std::string& sql) {
    if (sql.empty() || connection_ == nullptr) return false;
    return sqlite3_exec(connection_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

SqliteDataset SqliteDB::Query(std::string_view sql) {
    if (connection_ == nullptr || sql.empty() || sql.size() > static_cast<std::size_t>(INT_MAX)) {
        return SqliteDataset();
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare(connection_, sql.data(), static_cast<int>(sql.size()), &statement, nullptr) != SQLITE_OK) {
        statement = nullptr;
    }
    return SqliteDataset(connection_, statement);
}

bool SqliteDB::CreateTable(std::string_view table, const SqliteFieldInfo& field) {
    if (connection_ == nullptr || table.empty() || field.name.empty()) return false;
    // The one item is the whole list: only the list's area bounds it, not an array item's.
    const auto item = FormatItem(field, kListArea);
    if (!item) return false;
    const auto sql = CreateStatement(table, *item);
    return sql && Execute(*sql);
}

bool SqliteDB::CreateTable(std::string_view table, std::span<const SqliteFieldInfo> fields) {
    if (connection_ == nullptr || table.empty() || fields.empty()) return false;
    std::string list;
    for (const SqliteFieldInfo& field : fields) {
        if (field.name.empty()) continue;
        auto item = FormatItem(field, kItemArea);
        if (!item) return false;
        list += *item;
        list += ", ";
        if (list.size() >= kListArea) return false;
    }
    if (list.size() >= 2 && list.compare(list.size() - 2, 2, ", ") == 0) list.resize(list.size() - 2);
    const auto sql = CreateStatement(table, list);
    return sql && Execute(*sql);
}

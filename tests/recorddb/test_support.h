#pragma once
// Shared helpers of the record database tests: a temporary directory and a recorder of the SQL
// texts a connection runs.

#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace recorddb_test {

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "recorddb-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Creates nested folders below base, named by repeating unit (UTF-8) and padded with 'x', so that
// the returned folder followed by "/" and fileName is exactly pathLength bytes long.
inline std::filesystem::path NestedFolder(const std::filesystem::path& base, const std::string& unit,
                                          std::size_t pathLength, const std::string& fileName) {
    std::string folder = base.string();
    while (folder.size() + 1 + fileName.size() < pathLength) {
        const std::size_t room = pathLength - (folder.size() + 1 + fileName.size()) - 1;
        std::size_t length = std::min<std::size_t>(room, 200);
        if (room - length == 1) --length;  // the next folder needs a slash and one byte at least
        std::string name;
        while (name.size() + unit.size() <= length) name += unit;
        name.append(length - name.size(), 'x');
        folder += "/" + name;
        std::filesystem::create_directory(folder);
    }
    return folder;
}

// Records the text of every statement that starts running on a connection, in order.
class SqlTrace {
public:
    explicit SqlTrace(sqlite3* connection) : connection_(connection) {
        sqlite3_trace_v2(connection_, SQLITE_TRACE_STMT, &SqlTrace::OnStatement, this);
    }
    ~SqlTrace() { sqlite3_trace_v2(connection_, 0, nullptr, nullptr); }
    SqlTrace(const SqlTrace&) = delete;
    SqlTrace& operator=(const SqlTrace&) = delete;

    const std::vector<std::string>& statements() const { return statements_; }
    void Clear() { statements_.clear(); }

private:
    static int OnStatement(unsigned, void* context, void*, void* sql) {
        static_cast<SqlTrace*>(context)->statements_.emplace_back(static_cast<const char*>(sql));
        return 0;
    }

    sqlite3* connection_;
    std::vector<std::string> statements_;
};

// The single value of a one-row, one-column query on a raw connection, as text ("<null>" for NULL,
// "<error>" when the query fails).
inline std::string QueryValue(sqlite3* connection, const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(connection, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) return "<error>";
    std::string value = "<error>";
    if (sqlite3_step(statement) == SQLITE_ROW) {
        const unsigned char* text = sqlite3_column_text(statement, 0);
        value = text != nullptr ? reinterpret_cast<const char*>(text) : "<null>";
    }
    sqlite3_finalize(statement);
    return value;
}

}  // namespace recorddb_test

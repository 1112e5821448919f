#pragma once
// Shared helpers of the record database tests: a temporary directory and a recorder of the SQL
// texts a connection runs.

#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "../nested_folder.h"

namespace recorddb_test {

using tomato_test::NestedFolder;

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

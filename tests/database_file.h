#pragma once
// The program's database file read from outside the program, as its next start would open it (a
// hot journal is rolled back here), for the tests that run the real program in processes of its
// own.

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tomato_test {

class DatabaseFile {
public:
    explicit DatabaseFile(const std::filesystem::path& file) {
        if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << "cannot open " << file << ": " << sqlite3_errmsg(db_);
            sqlite3_close(db_);
            db_ = nullptr;
        }
    }
    ~DatabaseFile() { sqlite3_close(db_); }
    DatabaseFile(const DatabaseFile&) = delete;
    DatabaseFile& operator=(const DatabaseFile&) = delete;

    // Every row of a query with one column, each the bytes as stored ("<NULL>" for NULL); nullopt
    // (and a failure) when the query fails.
    std::optional<std::vector<std::string>> Column(const std::string& sql) const {
        if (db_ == nullptr) return std::nullopt;
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << sqlite3_errmsg(db_) << " in " << sql;
            return std::nullopt;
        }
        std::vector<std::string> values;
        int rc;
        while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
            if (sqlite3_column_type(statement, 0) == SQLITE_NULL) {
                values.emplace_back("<NULL>");
                continue;
            }
            const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, 0));
            const auto size = static_cast<std::size_t>(sqlite3_column_bytes(statement, 0));
            values.emplace_back(bytes != nullptr ? bytes : "", size);
        }
        sqlite3_finalize(statement);
        if (rc != SQLITE_DONE) {
            ADD_FAILURE() << sqlite3_errmsg(db_) << " in " << sql;
            return std::nullopt;
        }
        return values;
    }

    // The value of the subject's first info row (GBK bytes); "<none>" when it has none.
    std::string Value(const std::string& subject) const {
        const auto values = Column("SELECT value FROM info WHERE subject='" + subject + "' ORDER BY id");
        return values && !values->empty() ? values->front() : "<none>";
    }

private:
    sqlite3* db_ = nullptr;
};

}  // namespace tomato_test

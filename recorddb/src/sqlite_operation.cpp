#include "recorddb/sqlite_operation.h"

namespace {

// Each thread uses its own connections (one connection, one thread), so each has its own chain.
thread_local SqliteOperation* t_current = nullptr;

}  // namespace

SqliteOperation::SqliteOperation() : outer_(t_current) {
    t_current = this;
}

SqliteOperation::~SqliteOperation() {
    t_current = outer_;
}

SqliteOperation* SqliteOperation::Current() {
    return t_current;
}

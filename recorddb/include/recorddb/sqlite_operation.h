#pragma once
// One operation that the user waits for as a whole (a start, a recording, a close): while it
// lasts, every wait of this thread's connections for a lock that another connection holds draws
// on one budget, the busy timeout of the connection that waits (SqliteDB::SetBusyTimeout), instead
// of each statement waiting the whole timeout anew. Once the budget is spent, a statement that
// meets a lock fails at once; one that meets none runs as always.
//
// Operations nest: one begun inside another (a handler run in the nested loop of the other's
// message box) has a budget of its own, and the outer one's goes on when it ends. Outside every
// operation each statement waits up to the busy timeout on its own.

#include <chrono>

class SqliteOperation {
public:
    SqliteOperation();
    ~SqliteOperation();
    SqliteOperation(const SqliteOperation&) = delete;
    SqliteOperation& operator=(const SqliteOperation&) = delete;

private:
    friend class SqliteDB;
    // The innermost operation of the calling thread; null outside every operation.
    static SqliteOperation* Current();

    SqliteOperation* outer_;
    // How long this operation's statements have waited for other connections' locks so far.
    std::chrono::steady_clock::duration waited_{};
};

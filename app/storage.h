#pragma once
// The database file, its schema, the info rows and the recording of tomatoes.
//
// The routines that can end the program (a database that cannot be opened or built, an info row
// that cannot be saved) call rt::EndProgram(0). That call does not return in the program, but it
// does under the runtime's end seam; so they report with false that the program has been ended,
// and their callers stop there instead of working on a database that is not there.

#include <string>
#include <string_view>

// Builds the database path, creates the file when it is missing or opens it, opens both cursors
// and reads the time of the last tomato. False when a failure has ended the program.
bool OpenDatabase();
// Builds a new file with its two tables and the six initial info rows under a building name of its
// own and then gives it the database's name, unless another copy of the program gave its file
// that name first (then that one is opened). A half-built file is deleted before the program
// ends. False when a failure has ended the program.
bool CreateDatabase();
// g_lastEnd = the created value of the tomato row with the highest id, 0 for an empty table.
void LoadLastRazezuZivu();
// Closes both cursors and the database; a new file still being built under its own name goes. A
// second call changes nothing.
void CloseDatabase();

// The stored value of an info subject. A missing subject is added with "0" and reads as the empty
// text; when that row cannot be saved the program is ended and *programEnded (if given) is set.
std::string ReadInfoValue(const std::string& subject, bool* programEnded = nullptr);
// Adds one info row. When it cannot be saved: the error box, the file deleted while it is still
// being built, the program ended with exit code 0, and false.
bool InsertInfoRow(const std::string& subject, const std::string& value);

// Record one tomato (row, counters, points, for a good one the category count) and set g_lastEnd,
// all in one transaction: when a step fails the others still run and the whole recording is rolled
// back; the error boxes of the failed steps follow, in their order, once the transaction has ended.
void RecordGoodTomato();
void RecordBadTomato();
// Adds one to the info row "count_" + category, adding the row with "1" when it is missing; part
// of the running recording, or one of its own when called alone. False when adding that row
// failed and the program has been ended.
bool IncrementCategoryCount(const std::string& category);

namespace app {

// The body of an SQL string literal for text: every apostrophe doubled (GBK trail bytes never take
// the apostrophe's value, so this works byte by byte).
std::string SqlStringBody(std::string_view text);

// The full path of the database file in a directory.
std::string DatabasePathIn(std::string_view directory);

// Test seam: the directory that takes the place of rt::ProgramDirectory() when OpenDatabase builds
// the database path; the empty text (the default) restores the program's own directory.
void SetDatabaseDirectoryForTest(std::string directory);
// Test seam: how long database operations wait for another connection's lock, in place of the
// program's 5 seconds; 0 restores them.
void SetBusyTimeoutForTest(int milliseconds);

}  // namespace app

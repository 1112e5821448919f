#pragma once
// The new database file while it is built. It is built under a name of its own beside the
// database ("db.new-" and six letters or digits) and takes the database's name only when it is
// complete, so that neither a copy of the program started at the same moment nor the next start
// after a crash finds a half-built file under that name. This run holds the file (rt::HeldFile)
// from its creation until it has the database's name or is deleted: a later start removes what a
// run that died while building left behind, and tells it from the file of a copy that is
// building at that very moment.

#include <string>
#include <string_view>

#include "runtime/files.h"

namespace app {

// Creates and holds this run's building file in the folder; false when none can be created there.
bool CreateBuildingFile(std::string_view folder);
// The path of this run's building file; empty when it builds none.
const std::string& BuildingPath();
// Deletes this run's building file and its journal, if there is one. No connection may have the
// file open (letting it go drops this process's SQLite locks on it).
void DeleteBuildingFile();
// Gives the finished building file the database's name, as rt::MoveToNewName does; Done also when
// the building name could not be removed (the next start removes it). When the name is taken or
// the move fails, the building file is deleted. No connection may have the file open.
rt::NewNameResult PublishBuildingFile(const std::string& databasePath);

// Removes what runs that died while building left in the folder: their building files and
// journals, and a building name that has become a second name of the database (as a name only).
// The file of a copy that is building now stays. To run before this process opens the database.
void RemoveLeftBuildingFiles(std::string_view folder, const std::string& databasePath);

}  // namespace app

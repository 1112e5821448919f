#include "building_file.h"

#include <random>
#include <vector>

#include "runtime/program.h"

namespace app {
namespace {

constexpr std::string_view kPrefix = "db.new-";
constexpr std::size_t kLetters = 6;
// SQLite names a database's rollback journal after the database.
constexpr std::string_view kJournalSuffix = "-journal";

rt::HeldFile g_held;
std::string g_path;

std::string JournalOf(std::string_view path) {
    return std::string(path) + std::string(kJournalSuffix);
}

// True for "db.new-" followed by six of the letters a building name is made of.
bool IsBuildingName(std::string_view name) {
    if (name.size() != kPrefix.size() + kLetters || !name.starts_with(kPrefix)) return false;
    for (char c : name.substr(kPrefix.size())) {
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
    }
    return true;
}

}  // namespace

bool CreateBuildingFile(std::string_view folder) {
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kAlphabet - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        // As long as the database's own name, so that a folder that can hold the one can hold the
        // other.
        std::string path = std::string(folder) + "/" + std::string(kPrefix);
        for (std::size_t i = 0; i < kLetters; ++i) path += kAlphabet[pick(random)];
        // A name whose journal a dead run left is not taken: that journal is removed as left over.
        if (rt::FileExists(JournalOf(path))) continue;
        switch (g_held.Create(path)) {
        case rt::NewNameResult::Done:
            g_path = std::move(path);
            return true;
        case rt::NewNameResult::Taken:
            continue;
        case rt::NewNameResult::Failed:
        case rt::NewNameResult::OldNameKept:
            return false;
        }
    }
    return false;
}

const std::string& BuildingPath() {
    return g_path;
}

void DeleteBuildingFile() {
    if (g_path.empty()) return;
    // Held until both are gone, so that no other start takes them for left files meanwhile.
    rt::DeleteFileCommand(JournalOf(g_path));
    rt::DeleteFileCommand(g_path);
    g_held.Release();
    g_path.clear();
}

rt::NewNameResult PublishBuildingFile(const std::string& databasePath) {
    rt::NewNameResult moved = rt::MoveToNewName(g_path, databasePath);
    switch (moved) {
    case rt::NewNameResult::OldNameKept:
        // The database is complete under its name; the building name left beside it is a second
        // name of it, which the next start removes.
        moved = rt::NewNameResult::Done;
        [[fallthrough]];
    case rt::NewNameResult::Done:
        g_held.Release();
        g_path.clear();
        break;
    case rt::NewNameResult::Taken:
    case rt::NewNameResult::Failed:
        DeleteBuildingFile();
        break;
    }
    return moved;
}

void RemoveLeftBuildingFiles(std::string_view folder, const std::string& databasePath) {
    const std::string base = std::string(folder) + "/";
    const std::vector<std::string> entries = rt::FolderEntries(folder);
    for (const std::string& name : entries) {
        if (!IsBuildingName(name)) continue;
        const std::string path = base + name;
        if (rt::IsSecondNameOf(path, databasePath)) {
            // Killed between giving the database its name and removing the building name: the
            // name goes, the file is the database. Not opened, so that no lock on it is touched.
            rt::DeleteFileCommand(path);
        } else {
            (void)rt::DeleteUnlessHeld(path);
        }
    }
    // Journals whose building file is gone (just now, or by a run that died deleting the two).
    for (const std::string& name : entries) {
        if (!name.ends_with(kJournalSuffix)) continue;
        const std::string_view building = std::string_view(name).substr(0, name.size() - kJournalSuffix.size());
        if (!IsBuildingName(building) || rt::FileExists(base + std::string(building))) continue;
        (void)rt::DeleteUnlessHeld(base + name);
    }
}

}  // namespace app

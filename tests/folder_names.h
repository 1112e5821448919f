#pragma once
// The names in a folder, for tests that check what a run left there.

#include <filesystem>
#include <set>
#include <string>

namespace tomato_test {

inline std::set<std::string> FolderNames(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

}  // namespace tomato_test

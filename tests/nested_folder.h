#pragma once
// Nested folders that make a path of an exact length, for the tests of long paths.

#include <algorithm>
#include <filesystem>
#include <string>

namespace tomato_test {

// Creates base and nested folders below it, named by repeating unit (UTF-8) and padded with 'x', so that
// the returned folder followed by "/" and fileName is exactly pathLength bytes long.
inline std::filesystem::path NestedFolder(const std::filesystem::path& base, const std::string& unit,
                                          std::size_t pathLength, const std::string& fileName) {
    std::filesystem::create_directories(base);
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

}  // namespace tomato_test

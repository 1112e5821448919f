#include "runtime/memfile.h"

#include <algorithm>
#include <limits>
#include <mutex>
#include <unordered_map>

namespace rt {
namespace {

struct MemoryFile {
    std::string data;  // bytes, not text: NULs and any other byte are held as they are
    std::size_t pos = 0;
};

// The table of all files. One lock serves every operation: the operations are short, and the
// update check's worker thread uses files while the UI thread may open others.
std::mutex g_mutex;
std::unordered_map<int, MemoryFile> g_files;
int g_lastNumber = 0;

// Runs op on the file under the table's lock, or returns fallback for an unknown number.
template <typename Result, typename Op>
Result WithFile(int file, Result fallback, Op op) {
    std::lock_guard lock(g_mutex);
    auto it = g_files.find(file);
    if (it == g_files.end()) return fallback;
    return op(it->second);
}

// Writes bytes at the position, overwriting what is there and growing the file past its end.
void Put(MemoryFile& f, const char* bytes, std::size_t n) {
    if (f.pos + n > f.data.size()) f.data.resize(f.pos + n);
    std::copy(bytes, bytes + n, f.data.begin() + static_cast<std::ptrdiff_t>(f.pos));
    f.pos += n;
}

std::size_t Remaining(const MemoryFile& f) { return f.pos < f.data.size() ? f.data.size() - f.pos : 0; }

}  // namespace

int OpenMemoryFile() {
    std::lock_guard lock(g_mutex);
    // Numbers are not reused until the counter wraps, so a stale number never reaches a new file.
    do {
        g_lastNumber = g_lastNumber == std::numeric_limits<int>::max() ? 1 : g_lastNumber + 1;
    } while (g_files.count(g_lastNumber) != 0);
    g_files.emplace(g_lastNumber, MemoryFile{});
    return g_lastNumber;
}

void CloseFile(int file) {
    std::lock_guard lock(g_mutex);
    g_files.erase(file);
}

bool WriteValues(int file, std::string_view text) {
    return WithFile(file, false, [&](MemoryFile& f) {
        Put(f, text.data(), text.size());
        Put(f, "", 1);
        return true;
    });
}

bool WriteValues(int file, const ByteSet& data) {
    if (data.size() > std::numeric_limits<std::uint32_t>::max()) return false;
    return WithFile(file, false, [&](MemoryFile& f) {
        const auto n = static_cast<std::uint32_t>(data.size());
        const char count[4] = {static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF),
                               static_cast<char>((n >> 16) & 0xFF), static_cast<char>((n >> 24) & 0xFF)};
        Put(f, count, 4);
        Put(f, reinterpret_cast<const char*>(data.data()), data.size());
        return true;
    });
}

bool ReadValues(int file, std::string& text) {
    text.clear();
    return WithFile(file, false, [&](MemoryFile& f) {
        if (Remaining(f) == 0) return false;
        const std::size_t nul = f.data.find('\0', f.pos);
        const std::size_t end = nul == std::string::npos ? f.data.size() : nul;
        text.assign(f.data, f.pos, end - f.pos);
        f.pos = nul == std::string::npos ? end : end + 1;
        return true;
    });
}

bool ReadValues(int file, ByteSet& data) {
    data.clear();
    return WithFile(file, false, [&](MemoryFile& f) {
        if (Remaining(f) < 4) {
            f.pos = std::max(f.pos, f.data.size());
            return false;
        }
        const auto* p = reinterpret_cast<const unsigned char*>(f.data.data() + f.pos);
        const std::uint32_t n = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
        if (Remaining(f) - 4 < n) {  // a count beyond the data: a corrupt value, not a short one
            f.pos = f.data.size();
            return false;
        }
        data.assign(p + 4, p + 4 + n);
        f.pos += 4 + n;
        return true;
    });
}

bool WriteText(int file, std::string_view text) {
    return WithFile(file, false, [&](MemoryFile& f) {
        Put(f, text.data(), text.size());
        return true;
    });
}

std::string ReadLine(int file) {
    return WithFile(file, std::string(), [&](MemoryFile& f) {
        std::string line;
        while (f.pos < f.data.size()) {
            const char c = f.data[f.pos];
            if (c == '\0' || c == '\x1A') break;  // a stop byte is left for the caller to see
            ++f.pos;
            if (c == '\n') {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                break;
            }
            line += c;
        }
        return line;
    });
}

bool AtEndOfFile(int file) {
    return WithFile(file, true, [](MemoryFile& f) { return f.pos >= f.data.size(); });
}

void SeekToStart(int file) {
    WithFile(file, 0, [](MemoryFile& f) {
        f.pos = 0;
        return 0;
    });
}

std::int64_t FileLength(int file) {
    return WithFile(file, std::int64_t{0}, [](MemoryFile& f) { return static_cast<std::int64_t>(f.data.size()); });
}

std::int64_t FilePosition(int file) {
    return WithFile(file, std::int64_t{0}, [](MemoryFile& f) { return static_cast<std::int64_t>(f.pos); });
}

bool DeleteFileData(int file, std::int64_t n) {
    if (n < 0) return false;
    return WithFile(file, false, [&](MemoryFile& f) {
        const auto k = std::min<std::uint64_t>(Remaining(f), static_cast<std::uint64_t>(n));
        if (k > 0) f.data.erase(f.pos, static_cast<std::size_t>(k));
        return true;
    });
}

ByteSet ReadByteSet(int file, std::int64_t n) {
    if (n <= 0) return {};
    return WithFile(file, ByteSet(), [&](MemoryFile& f) {
        const auto k = static_cast<std::size_t>(std::min<std::uint64_t>(Remaining(f), static_cast<std::uint64_t>(n)));
        const auto* p = reinterpret_cast<const unsigned char*>(f.data.data() + f.pos);
        ByteSet out(p, p + k);
        f.pos += k;
        return out;
    });
}

bool WriteByteSets(int file, const ByteSet& data) {
    return WithFile(file, false, [&](MemoryFile& f) {
        Put(f, reinterpret_cast<const char*>(data.data()), data.size());
        return true;
    });
}

}  // namespace rt

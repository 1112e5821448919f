#pragma once
// Names that are not regular files, for tests that put them where the program looks for a file: a
// bound Unix socket, and a watch on FIFOs.

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tomato_test {

// A Unix socket bound to a path while the object lives (the name stays after it); Bound() is false
// when the path is too long or the bind failed.
class UnixSocket {
public:
    explicit UnixSocket(const std::string& path) : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (fd_ < 0 || path.size() >= sizeof address.sun_path) return;
        path.copy(address.sun_path, path.size());
        bound_ = ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    ~UnixSocket() {
        if (fd_ >= 0) ::close(fd_);
    }
    UnixSocket(const UnixSocket&) = delete;
    UnixSocket& operator=(const UnixSocket&) = delete;
    bool Bound() const { return bound_; }

private:
    int fd_;
    bool bound_ = false;
};

// Whoever opens a FIFO for reading waits for a writer, so a test that meets such an open would hang
// instead of failing. While a FifoWatch lives it plays the writer to the FIFOs it is given: such an
// open then ends, and Stop() tells that it happened.
class FifoWatch {
public:
    explicit FifoWatch(std::vector<std::filesystem::path> fifos)
        : fifos_(std::move(fifos)), thread_([this] { Watch(); }) {}
    ~FifoWatch() { Stop(); }
    FifoWatch(const FifoWatch&) = delete;
    FifoWatch& operator=(const FifoWatch&) = delete;

    // Ends the watch; true when one of the FIFOs was opened for reading meanwhile.
    bool Stop() {
        done_ = true;
        if (thread_.joinable()) thread_.join();
        return opened_;
    }

private:
    void Watch() {
        while (!done_) {
            for (const std::filesystem::path& fifo : fifos_) {
                struct stat info {};
                if (::stat(fifo.c_str(), &info) != 0 || !S_ISFIFO(info.st_mode)) continue;
                // Opening to write without waiting succeeds only while someone has it open to read.
                const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (fd >= 0) {
                    opened_ = true;
                    ::close(fd);
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    const std::vector<std::filesystem::path> fifos_;
    std::atomic<bool> done_{false};
    std::atomic<bool> opened_{false};
    std::thread thread_;
};

}  // namespace tomato_test

#pragma once
// Event pumping and the wait for a worker thread, a time-out or a message.

#include <cstdint>
#include <functional>
#include <memory>

namespace rt {

// Dispatches the calling (UI) thread's pending events until none is left or the loop is quitting.
void ProcessPendingEvents();

// A thread started for one job, whose end the UI thread can wait for.
class WorkerThread {
public:
    // Starts body at once on a new thread; nullptr when no thread can be started.
    static std::unique_ptr<WorkerThread> Start(std::function<void()> body);
    // Joins a finished thread; a running one is detached and left to end by itself, so its body
    // must own everything it touches.
    ~WorkerThread();
    bool Finished() const;

    struct State;  // shared with the running body
    explicit WorkerThread(std::shared_ptr<State> state);
private:
    std::shared_ptr<State> state_;
    friend std::uint32_t MsgWaitForThread(WorkerThread& thread, std::uint32_t timeoutMs);
};

constexpr std::uint32_t kWaitObject0 = 0;        // the thread has ended
constexpr std::uint32_t kWaitMessage = 1;        // an event for the calling thread arrived
constexpr std::uint32_t kWaitTimeout = 0x102;    // the time elapsed without either
constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;

// Sleeps (never polls) until the thread ends, the time-out elapses or an event arrives for the
// calling thread; the events that woke it may be dispatched inside. Answers one of the values above.
std::uint32_t MsgWaitForThread(WorkerThread& thread, std::uint32_t timeoutMs);

}  // namespace rt

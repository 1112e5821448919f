// Pumping the UI thread's events, worker threads, and the wait for a thread, a time-out or an event.
#include "runtime/events.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <system_error>
#include <thread>

namespace rt {

struct WorkerThread::State {
    explicit State(int fd) : eventFd(fd) {}
    ~State() { ::close(eventFd); }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    std::thread thread;
    std::atomic<bool> finished{false};
    const int eventFd;  // becomes readable (and stays so) when the body has ended
};

namespace {

constexpr std::uint32_t kInfinite = 0xFFFFFFFF;

// The wait without an event loop (no application object): only the thread and the time-out count.
std::uint32_t WaitWithoutEvents(int eventFd, std::uint32_t timeoutMs)
{
    pollfd fd{eventFd, POLLIN, 0};
    const int timeout = timeoutMs == kInfinite ? -1 : static_cast<int>(std::min<std::uint32_t>(timeoutMs, INT_MAX));
    int ready;
    do {
        ready = ::poll(&fd, 1, timeout);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) {
        return kWaitFailed;
    }
    return ready == 0 ? kWaitTimeout : kWaitObject0;
}

}  // namespace

void ProcessPendingEvents()
{
    if (QCoreApplication::instance() == nullptr) {
        return;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

WorkerThread::WorkerThread(std::shared_ptr<State> state) : state_(std::move(state)) {}

std::unique_ptr<WorkerThread> WorkerThread::Start(std::function<void()> body)
{
    if (!body) {
        return nullptr;
    }
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) {
        return nullptr;
    }
    auto state = std::make_shared<State>(fd);
    try {
        state->thread = std::thread([state, body = std::move(body)]() mutable {
            try {
                body();
            } catch (...) {
                // Nothing may escape a thread; the body reports through what it owns.
            }
            body = nullptr;  // release the body's captures before the end is signalled
            state->finished.store(true, std::memory_order_release);
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = ::write(state->eventFd, &one, sizeof one);
        });
    } catch (const std::system_error&) {
        return nullptr;
    }
    return std::make_unique<WorkerThread>(std::move(state));
}

WorkerThread::~WorkerThread()
{
    if (!state_ || !state_->thread.joinable()) {
        return;
    }
    if (state_->finished.load(std::memory_order_acquire)) {
        state_->thread.join();
    } else {
        state_->thread.detach();  // the body owns what it touches and ends by itself
    }
}

bool WorkerThread::Finished() const { return state_ && state_->finished.load(std::memory_order_acquire); }

std::uint32_t MsgWaitForThread(WorkerThread& thread, std::uint32_t timeoutMs)
{
    WorkerThread::State& state = *thread.state_;
    if (state.finished.load(std::memory_order_acquire)) {
        return kWaitObject0;
    }
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(QThread::currentThread());
    if (dispatcher == nullptr || QCoreApplication::instance() == nullptr) {
        return WaitWithoutEvents(state.eventFd, timeoutMs);
    }

    bool timedOut = false;
    QSocketNotifier notifier(state.eventFd, QSocketNotifier::Read);
    // The descriptor stays readable once the thread has ended: one notification is enough, and a
    // nested loop inside a handler must not spin on it.
    QObject::connect(&notifier, &QSocketNotifier::activated, &notifier,
                     [&notifier] { notifier.setEnabled(false); });
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &timer, [&timedOut] { timedOut = true; });
    if (timeoutMs != kInfinite) {
        timer.start(static_cast<int>(std::min<std::uint32_t>(timeoutMs, INT_MAX)));
    }

    // One sleep of the event dispatcher: it returns after it has woken for the thread's end, the
    // time-out, or any other event, and has dispatched what woke it.
    dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);

    if (state.finished.load(std::memory_order_acquire)) {
        return kWaitObject0;
    }
    if (timedOut) {
        return kWaitTimeout;
    }
    return kWaitMessage;
}

}  // namespace rt

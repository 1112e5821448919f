// The end of the session: SIGTERM, SIGHUP and SIGINT turned into a call on the UI thread.
//
// The signal handler only writes the signal's number into a pipe (write is async-signal-safe); a
// socket notifier on the pipe's other end runs the program's handler from whatever event loop the
// UI thread is in, the message loop or one nested in a handler (a message box, a thread wait).
#include "runtime/program.h"

#include "internal.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <utility>

namespace rt {
namespace {

constexpr std::array<int, 3> kSessionSignals{SIGTERM, SIGHUP, SIGINT};

// What the signal handler reads: plain values, lock-free, set before any handler is installed.
std::atomic<int> g_writeEnd{-1};
std::atomic<pid_t> g_owner{0};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<pid_t>::is_always_lock_free);

struct SessionEndState {
    std::function<void()> handler;
    int readEnd = -1;
    QSocketNotifier* notifier = nullptr;
    bool running = false;
    // The signals whose disposition was taken over, and what it was before.
    std::array<bool, kSessionSignals.size()> watched{};
    std::array<struct sigaction, kSessionSignals.size()> previous{};
};

SessionEndState& State()
{
    static auto* state = new SessionEndState;
    return *state;
}

extern "C" void OnSessionSignal(int signal)
{
    const int savedErrno = errno;
    if (::getpid() != g_owner.load(std::memory_order_relaxed)) {
        // A child between fork and exec: what the signal would do to it without us.
        ::signal(signal, SIG_DFL);
        ::raise(signal);
    } else {
        const unsigned char number = static_cast<unsigned char>(signal);
        // A full pipe already holds an end that has not been read: nothing is lost.
        [[maybe_unused]] const ssize_t written = ::write(g_writeEnd.load(std::memory_order_relaxed), &number, 1);
    }
    errno = savedErrno;
}

void RestoreSignals(SessionEndState& state)
{
    for (std::size_t i = 0; i < kSessionSignals.size(); ++i) {
        if (state.watched[i]) {
            ::sigaction(kSessionSignals[i], &state.previous[i], nullptr);
            state.watched[i] = false;
        }
    }
}

void StopWatching(SessionEndState& state)
{
    RestoreSignals(state);
    // Taken away before it is closed, so that a late signal writes to no descriptor at all.
    const int writeEnd = g_writeEnd.exchange(-1);
    if (writeEnd >= 0) {
        ::close(writeEnd);
    }
    delete state.notifier;
    state.notifier = nullptr;
    if (state.readEnd >= 0) {
        ::close(state.readEnd);
        state.readEnd = -1;
    }
}

// Empties the pipe; every signal read now belongs to the same end.
void DrainPipe(int readEnd)
{
    std::array<unsigned char, 64> bytes{};
    ssize_t got;
    do {
        got = ::read(readEnd, bytes.data(), bytes.size());
    } while (got > 0 || (got < 0 && errno == EINTR));
}

void OnPipeReadable()
{
    SessionEndState& state = State();
    DrainPipe(state.readEnd);
    // Once the orderly end has begun, or while the handler works (inside its own message box), a
    // further signal asks for nothing new.
    if (state.running || detail::OrderlyEndBegun() || !state.handler) {
        return;
    }
    state.running = true;
    const auto handler = state.handler;  // the handler may replace itself
    handler();
    state.running = false;
}

bool StartWatching(SessionEndState& state)
{
    std::array<int, 2> ends{};
    if (::pipe2(ends.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    state.readEnd = ends[0];
    g_writeEnd.store(ends[1]);
    g_owner.store(::getpid());
    state.notifier = new QSocketNotifier(state.readEnd, QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(state.notifier, &QSocketNotifier::activated, state.notifier, [] { OnPipeReadable(); });

    struct sigaction action {};
    action.sa_handler = OnSessionSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSessionSignals.size(); ++i) {
        struct sigaction previous {};
        if (::sigaction(kSessionSignals[i], nullptr, &previous) != 0) {
            continue;
        }
        // A signal the program was started with ignored (nohup, a background job) stays ignored:
        // whoever started it chose that the signal should not end it.
        if (previous.sa_handler == SIG_IGN) {
            continue;
        }
        if (::sigaction(kSessionSignals[i], &action, &state.previous[i]) == 0) {
            state.watched[i] = true;
        }
    }
    return true;
}

}  // namespace

bool SetSessionEndHandler(std::function<void()> handler)
{
    SessionEndState& state = State();
    if (!handler) {
        StopWatching(state);
        state.handler = nullptr;
        return true;
    }
    if (state.notifier == nullptr) {
        if (QCoreApplication::instance() == nullptr || !StartWatching(state)) {
            StopWatching(state);
            return false;
        }
    }
    state.handler = std::move(handler);
    return true;
}

}  // namespace rt

#include "http_request.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "runtime/events.h"
#include "runtime/http.h"
#include "runtime/memfile.h"

namespace update {

const char* const kRequestTag = "TMCLK_HTTP_REQ";
const char* const kReplyTag = "TMCLK_HTTP_REQ_OK";

namespace {

constexpr int kDefaultTimeoutSeconds = 90;

// What the caller and its worker share. The file belongs to the worker from the start of the
// thread until the worker hands it back (finished) or, once the caller is gone, closes it.
struct Handover {
    explicit Handover(int f) : file(f), abort(std::make_shared<rt::net::AbortSignal>()) {}
    const int file;
    const std::shared_ptr<rt::net::AbortSignal> abort;
    std::mutex mutex;
    bool finished = false;    // the worker has ended its exchange and the file is the caller's again
    bool callerGone = false;  // the caller has given the worker up
};

// Every worker whose thread has not ended yet, so that the library's end can stop them; and the
// threads of workers that were given up, joined once they have ended.
struct WorkerRegistry {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::shared_ptr<Handover>> running;
    std::vector<std::unique_ptr<rt::WorkerThread>> abandoned;
};

// Created with the first request; released by the library's end once no worker is left, and kept
// otherwise, since a worker still running will leave it.
WorkerRegistry* g_registry = nullptr;

WorkerRegistry& Registry() {
    if (g_registry == nullptr) g_registry = new WorkerRegistry;  // before any worker starts
    return *g_registry;
}

// Notified under the lock: once the lock is released, the library's end may release the registry.
void Unregister(const std::shared_ptr<Handover>& handover) {
    WorkerRegistry& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.running.erase(std::remove(r.running.begin(), r.running.end(), handover), r.running.end());
    r.changed.notify_all();
}

// Keeps a given-up worker's thread until it has ended; joins (by destroying) those that have.
void Abandon(std::unique_ptr<rt::WorkerThread> thread) {
    WorkerRegistry& r = Registry();
    std::vector<std::unique_ptr<rt::WorkerThread>> ended;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        r.abandoned.push_back(std::move(thread));
        auto split = std::partition(r.abandoned.begin(), r.abandoned.end(),
                                    [](const std::unique_ptr<rt::WorkerThread>& t) { return !t->Finished(); });
        std::move(split, r.abandoned.end(), std::back_inserter(ended));
        r.abandoned.erase(split, r.abandoned.end());
    }
}

// The wait in milliseconds for a time-out in seconds (0 or below: the default).
std::uint32_t WaitMilliseconds(int timeoutSeconds) {
    if (timeoutSeconds <= 0) timeoutSeconds = kDefaultTimeoutSeconds;
    const double ms = static_cast<double>(timeoutSeconds) * 1000.0;
    // 0xFFFFFFFF would mean no time-out at all.
    return ms >= 4294967294.0 ? 0xFFFFFFFEu : static_cast<std::uint32_t>(ms);
}

}  // namespace

rt::ByteSet HttpRequestWithTimeout(std::string_view address, std::string_view verb, std::string_view proxy,
                                   std::string_view userName, std::string_view password,
                                   std::string_view extraHeaders, std::string_view postData, int timeoutSeconds,
                                   std::string* rawHeaders) {
    const int file = rt::OpenMemoryFile();
    rt::WriteValues(file, std::string_view(kRequestTag), address, verb, proxy, userName, password, extraHeaders,
                    postData);
    const std::uint32_t waitMs = WaitMilliseconds(timeoutSeconds);

    auto handover = std::make_shared<Handover>(file);
    {
        std::lock_guard<std::mutex> lock(Registry().mutex);
        Registry().running.push_back(handover);
    }
    std::unique_ptr<rt::WorkerThread> worker = rt::WorkerThread::Start([handover] {
        HttpWorkerThreadProc(handover->file, handover->abort);
        {
            std::lock_guard<std::mutex> lock(handover->mutex);
            if (handover->callerGone) rt::CloseFile(handover->file);
            else handover->finished = true;
        }
        Unregister(handover);
    });
    if (!worker) {
        Unregister(handover);
        rt::CloseFile(file);
        if (rawHeaders != nullptr) rawHeaders->clear();
        return {};
    }

    // Every wake for an event restarts the full time-out; the events are dispatched after every
    // wait, the last one included. Anything but a wake for an event ends the loop.
    std::uint32_t last;
    do {
        last = rt::MsgWaitForThread(*worker, waitMs);
        rt::ProcessPendingEvents();
    } while (last == rt::kWaitMessage);

    bool mine;
    {
        std::lock_guard<std::mutex> lock(handover->mutex);
        mine = handover->finished;
        if (!mine) handover->callerGone = true;
    }
    if (!mine) {
        // Given up: the worker stops its transfer, ends by itself and closes the file.
        handover->abort->Abort();
        Abandon(std::move(worker));
        if (rawHeaders != nullptr) rawHeaders->clear();
        return {};
    }
    // The exchange has ended; the thread is joined now, or later once its last steps are done.
    if (worker->Finished()) worker.reset();
    else Abandon(std::move(worker));

    std::string tag;
    std::string headers;
    rt::ByteSet body;
    rt::SeekToStart(file);
    rt::ReadValues(file, tag, headers, body);
    rt::CloseFile(file);
    if (tag != kReplyTag || last != rt::kWaitObject0) body.clear();
    if (rawHeaders != nullptr) *rawHeaders = headers;
    return body;
}

int HttpWorkerThreadProc(int file, std::shared_ptr<rt::net::AbortSignal> abort) {
    return HttpWorkerMain(file, std::move(abort));
}

bool StopHttpWorkers(std::chrono::milliseconds grace) {
    if (g_registry == nullptr) return true;
    WorkerRegistry& r = *g_registry;
    const auto deadline = std::chrono::steady_clock::now() + grace;
    std::unique_lock<std::mutex> lock(r.mutex);
    for (const auto& h : r.running) h->abort->Abort();
    r.changed.wait_until(lock, deadline, [&r] { return r.running.empty(); });
    // A thread signals its end just after its body has returned.
    while (std::any_of(r.abandoned.begin(), r.abandoned.end(),
                       [](const std::unique_ptr<rt::WorkerThread>& t) { return !t->Finished(); }) &&
           std::chrono::steady_clock::now() < deadline) {
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        lock.lock();
    }
    const bool none = r.running.empty() &&
                      std::none_of(r.abandoned.begin(), r.abandoned.end(),
                                   [](const std::unique_ptr<rt::WorkerThread>& t) { return !t->Finished(); });
    std::vector<std::unique_ptr<rt::WorkerThread>> threads;
    threads.swap(r.abandoned);
    lock.unlock();
    threads.clear();  // joins the ended ones, leaves the others to end by themselves
    if (none) {
        delete g_registry;
        g_registry = nullptr;
    }
    return none;
}

}  // namespace update

// The wait for the worker: the time-out, a caller that keeps waking, and a caller that sleeps.
#include <gtest/gtest.h>
#include <time.h>

#include <QTimer>
#include <chrono>
#include <thread>

#include "http_request.h"
#include "loopback_server.h"
#include "net_test_support.h"
#include "update_test_support.h"

namespace {

using loopback::Request;
using loopback::Response;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::string Text(const rt::ByteSet& body) { return rt::ToTextBytes(body); }

double ThreadCpuSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// True when the process is back to n threads within the time.
bool ThreadsBackTo(int n, std::chrono::milliseconds within) {
    const auto end = Clock::now() + within;
    while (updatetest::ThreadCount() > n) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

Response AnswerAfter(int ms, std::string body) {
    Response r = Response::Ok(body);
    r.delayMs = ms;
    return r;
}

class WaitTest : public nettest::DataHomeFixture {
protected:
    loopback::Server server_;
};

TEST_F(WaitTest, TimeOutGivesTheEmptyResultAndTheWorkerEnds) {
    server_.SetHandler([](const Request&) {
        Response r;
        r.never = true;
        return r;
    });
    const int threadsBefore = updatetest::ThreadCount();
    std::string raw = "previous";
    const auto start = Clock::now();
    const rt::ByteSet body = update::HttpRequestWithTimeout(server_.Url("/"), "", "", "", "", "", "", 1, &raw);
    const auto elapsed = Clock::now() - start;
    EXPECT_TRUE(body.empty());
    EXPECT_EQ(raw, "");
    EXPECT_GE(elapsed, 950ms);
    EXPECT_LT(elapsed, 1600ms);
    // The worker is told to stop: its connection goes and its thread ends soon after.
    EXPECT_TRUE(server_.WaitForNoConnections(1500ms));
    EXPECT_EQ(server_.DroppedByClient(), 1);
    EXPECT_TRUE(ThreadsBackTo(threadsBefore, 1500ms)) << updatetest::ThreadCount() << " threads, " << threadsBefore
                                                      << " before";
}

TEST_F(WaitTest, LateReplyIsDiscardedAndTheNextCallGetsItsOwn) {
    server_.SetHandler([](const Request& r) {
        return r.target == "/slow" ? AnswerAfter(1500, "late") : Response::Ok("fresh");
    });
    EXPECT_TRUE(update::HttpRequestWithTimeout(server_.Url("/slow"), "", "", "", "", "", "", 1).empty());
    EXPECT_EQ(Text(update::HttpRequestWithTimeout(server_.Url("/quick"))), "fresh");
    EXPECT_TRUE(server_.WaitForNoConnections(2s));
    // The slow answer never reaches anybody, also not after it would have come.
    std::this_thread::sleep_for(700ms);
    EXPECT_EQ(Text(update::HttpRequestWithTimeout(server_.Url("/quick"))), "fresh");
}

TEST_F(WaitTest, TimerWakesRestartTheTimeOut) {
    server_.SetHandler([](const Request&) { return AnswerAfter(2500, "worth the wait"); });
    int ticks = 0;
    QTimer timer;
    timer.setInterval(500);
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start();
    const auto start = Clock::now();
    const rt::ByteSet body = update::HttpRequestWithTimeout(server_.Url("/"), "", "", "", "", "", "", 1);
    const auto elapsed = Clock::now() - start;
    timer.stop();
    EXPECT_EQ(Text(body), "worth the wait");
    EXPECT_GE(elapsed, 2450ms);
    EXPECT_LT(elapsed, 4000ms);
    EXPECT_GE(ticks, 4);  // handled inside the wait
}

TEST_F(WaitTest, WaitingCallerUsesAlmostNoCpu) {
    server_.SetHandler([](const Request&) { return AnswerAfter(3000, "done"); });
    const double cpuBefore = ThreadCpuSeconds();
    const auto start = Clock::now();
    const rt::ByteSet body = update::HttpRequestWithTimeout(server_.Url("/"), "", "", "", "", "", "", 10);
    const double cpu = ThreadCpuSeconds() - cpuBefore;
    const auto elapsed = Clock::now() - start;
    EXPECT_EQ(Text(body), "done");
    EXPECT_GE(elapsed, 2950ms);
    EXPECT_LT(cpu, 0.1) << "caller's CPU time during the wait: " << cpu << " s";
    RecordProperty("caller_cpu_ms", static_cast<int>(cpu * 1000.0));
    std::printf("caller's CPU time during a %.1f s wait: %.2f ms\n",
                std::chrono::duration<double>(elapsed).count(), cpu * 1000.0);
}

}  // namespace

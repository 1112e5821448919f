// The wait for a worker thread, a time-out or an event: its answers, that it sleeps, and that the
// UI thread's timers keep firing while a caller waits in a loop.
#include "gui_test_util.h"
#include "runtime/events.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <future>
#include <thread>

namespace rt {
namespace {

using namespace std::chrono_literals;

double ThreadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double WallSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A body that runs until released; it holds only what it owns (the shared future).
std::function<void()> HeldBody(const std::shared_future<void>& release)
{
    return [release] { release.wait(); };
}

// What a caller's wait loop saw: the last answer, how often it woke, and its wall and CPU seconds.
struct LoopedWait {
    std::uint32_t answer = kWaitMessage;
    int wakes = 0;
    double wall = 0;
    double cpu = 0;
};

// Waits for worker with timeoutMs again after each kWaitMessage answer, at most 50 times, and
// measures the loop's wall time and this thread's CPU time.
LoopedWait WaitWhileMessagesArrive(WorkerThread& worker, std::uint32_t timeoutMs)
{
    LoopedWait result;
    const double cpu0 = ThreadCpuSeconds();
    const double wall0 = WallSeconds();
    while (result.answer == kWaitMessage && result.wakes < 50) {
        result.answer = MsgWaitForThread(worker, timeoutMs);
        ++result.wakes;
    }
    result.wall = WallSeconds() - wall0;
    result.cpu = ThreadCpuSeconds() - cpu0;
    return result;
}

class WaitTest : public test::GuiTest {
protected:
    void SetUp() override { QCoreApplication::processEvents(); }  // nothing stale wakes the wait
};

TEST_F(WaitTest, AnswersZeroWhenTheThreadEndsAndSleepsMeanwhile)
{
    auto worker = WorkerThread::Start([] { std::this_thread::sleep_for(800ms); });
    ASSERT_NE(worker, nullptr);
    const auto [answer, wakes, wall, cpu] = WaitWhileMessagesArrive(*worker, 5000);
    EXPECT_EQ(answer, kWaitObject0);
    EXPECT_TRUE(worker->Finished());
    EXPECT_GE(wall, 0.7);
    EXPECT_LT(wall, 3.0);
    EXPECT_LT(cpu, 0.05) << "the wait polled: " << cpu << " s of CPU in " << wall << " s";
    // An ended thread answers at once from then on.
    EXPECT_EQ(MsgWaitForThread(*worker, 5000), kWaitObject0);
}

TEST_F(WaitTest, AnswersTimeoutWhenNothingHappensAndSleepsMeanwhile)
{
    std::promise<void> release;
    auto worker = WorkerThread::Start(HeldBody(release.get_future().share()));
    ASSERT_NE(worker, nullptr);
    const auto [answer, wakes, wall, cpu] = WaitWhileMessagesArrive(*worker, 1000);
    EXPECT_EQ(answer, kWaitTimeout);
    EXPECT_EQ(wakes, 1);
    EXPECT_GE(wall, 0.95);
    EXPECT_LT(wall, 2.0);
    EXPECT_LT(cpu, 0.05) << "the wait polled: " << cpu << " s of CPU in " << wall << " s";
    EXPECT_FALSE(worker->Finished());
    release.set_value();
}

TEST_F(WaitTest, AnswersOneForAPostedEvent)
{
    std::promise<void> release;
    auto worker = WorkerThread::Start(HeldBody(release.get_future().share()));
    ASSERT_NE(worker, nullptr);

    struct Receiver : QObject {
        int events = 0;
        bool event(QEvent* e) override
        {
            if (e->type() == QEvent::User) {
                ++events;
                return true;
            }
            return QObject::event(e);
        }
    } receiver;
    std::thread poster([&receiver] {
        std::this_thread::sleep_for(200ms);
        QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
    });
    const double wall0 = WallSeconds();
    const std::uint32_t answer = MsgWaitForThread(*worker, 5000);
    const double wall = WallSeconds() - wall0;
    poster.join();
    ProcessPendingEvents();
    EXPECT_EQ(answer, kWaitMessage);
    EXPECT_GE(wall, 0.15);
    EXPECT_LT(wall, 2.0);
    EXPECT_EQ(receiver.events, 1);
    release.set_value();
}

TEST_F(WaitTest, TimerKeepsTickingWhileTheCallerWaitsInALoop)
{
    int ticks = 0;
    const std::string name = test::LoadTickerWindow("Waiting", 100, 50, 100, ticks);
    ASSERT_FALSE(name.empty());

    // As the update check waits: every wake dispatches what is pending and waits again with the
    // full time-out, so the 100 ms timer never lets the 5 s time-out run out.
    auto worker = WorkerThread::Start([] { std::this_thread::sleep_for(1s); });
    ASSERT_NE(worker, nullptr);
    const double cpu0 = ThreadCpuSeconds();
    std::uint32_t answer;
    int wakes = 0;
    do {
        answer = MsgWaitForThread(*worker, 5000);
        ProcessPendingEvents();
        ++wakes;
    } while (answer == kWaitMessage && wakes < 1000);
    const double cpu = ThreadCpuSeconds() - cpu0;
    EXPECT_EQ(answer, kWaitObject0);
    EXPECT_GE(ticks, 8);
    EXPECT_LE(wakes, 3 * ticks + 10);  // it wakes for the ticks, it does not spin
    EXPECT_LT(cpu, 0.1);
}

TEST(WorkerThreadTest, ARunningThreadIsLeftToEndByItself)
{
    auto ended = std::make_shared<std::atomic<bool>>(false);
    std::promise<void> release;
    {
        auto worker = WorkerThread::Start([ended, release = release.get_future().share()] {
            release.wait();
            ended->store(true);
        });
        ASSERT_NE(worker, nullptr);
        EXPECT_FALSE(worker->Finished());
    }  // destroyed while running: detached, not joined (this would block otherwise)
    release.set_value();
    for (int i = 0; i < 200 && !ended->load(); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(ended->load());
    EXPECT_EQ(WorkerThread::Start(nullptr), nullptr);
}

}  // namespace
}  // namespace rt

#include "threading/Timer.h"

#include "tests/support/LogCapture.h"
#include "tests/threading/Sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>

using threadingtest::Event;
using threadingtest::Eventually;

namespace {

size_t IndexOf(const std::vector<std::string>& texts, const std::string& text, size_t from = 0) {
    for (size_t i = from; i < texts.size(); ++i) {
        if (texts[i] == text) {
            return i;
        }
    }
    return texts.size();
}

}  // namespace

TEST(TimerTest, OneShotCallsOnceAfterTheIntervalAndStops) {
    testsupport::LogCapture capture;
    std::atomic<int> calls{0};
    Event called;
    std::chrono::steady_clock::duration elapsed{};
    auto timer = CreateTimer("OneShot", 1);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(timer->timer_start(
        [&]() {
            elapsed = std::chrono::steady_clock::now() - start;
            ++calls;
            called.Set();
        },
        100));
    EXPECT_TRUE(timer->is_running());
    ASSERT_TRUE(called.Wait());
    EXPECT_TRUE(Eventually([&]() { return !timer->is_running(); }));
    EXPECT_GE(elapsed, std::chrono::milliseconds(100));
    timer.reset();
    EXPECT_EQ(calls.load(), 1);
}

TEST(TimerTest, StopDuringTheWaitSkipsTheFunction) {
    testsupport::LogCapture capture;
    std::atomic<int> calls{0};
    {
        auto timer = CreateTimer("Waiting", 1);
        ASSERT_TRUE(timer->timer_start([&]() { ++calls; }, 10000));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(timer->timer_stop());
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_FALSE(timer->is_running());
        EXPECT_TRUE(timer->timer_stop());  // stopping a stopped timer is fine
    }
    EXPECT_EQ(calls.load(), 0);
    EXPECT_EQ(capture.Texts(),
              (std::vector<std::string>{"Created thread Waiting", "Stopped Waiting", "Deleted thread Waiting"}));
}

TEST(TimerTest, RestartStopsTheFirstCycleBeforeTheNext) {
    testsupport::LogCapture capture;
    Event second;
    std::atomic<int> firstCalls{0};
    auto timer = CreateTimer("Restart", 1);
    ASSERT_TRUE(timer->timer_start([&]() { ++firstCalls; }, 10000));
    ASSERT_TRUE(timer->timer_start([&]() { second.Set(); }, 1));
    ASSERT_TRUE(second.Wait());
    timer.reset();
    EXPECT_EQ(firstCalls.load(), 0);

    const auto texts = capture.Texts();
    const size_t created = IndexOf(texts, "Created thread Restart");
    const size_t stopped = IndexOf(texts, "Stopped Restart", created);
    const size_t deleted = IndexOf(texts, "Deleted thread Restart", stopped);
    const size_t recreated = IndexOf(texts, "Created thread Restart", deleted);
    EXPECT_LT(recreated, texts.size()) << capture.Dump();
}

TEST(TimerTest, FiniteTimerWithZeroCountIsRefused) {
    testsupport::LogCapture capture;
    auto timer = CreateTimer("Zero", 0);
    EXPECT_FALSE(timer->timer_start([]() {}, 1));
    EXPECT_FALSE(timer->is_running());
    EXPECT_TRUE(capture.Contains(testsupport::Level::kError, "Wrong count of executions for finite timer!"));
    EXPECT_EQ(capture.Texts(), (std::vector<std::string>{"Wrong count of executions for finite timer!"}));
}

TEST(TimerTest, FiniteTimerRunsExactlyItsCount) {
    std::atomic<int> calls{0};
    auto timer = CreateTimer("Three", 3);
    ASSERT_TRUE(timer->timer_start([&]() { ++calls; }, 1));
    EXPECT_TRUE(Eventually([&]() { return !timer->is_running(); }));
    timer.reset();
    EXPECT_EQ(calls.load(), 3);
}

TEST(TimerTest, PeriodicZeroIntervalRunsBackToBackAndNeverAfterStop) {
    std::atomic<int> calls{0};
    std::atomic<bool> stopReturned{false};
    std::atomic<bool> calledAfterStop{false};
    auto timer = CreateTimer("Spin");
    ASSERT_TRUE(timer->timer_start(
        [&]() {
            if (stopReturned) {
                calledAfterStop = true;
            }
            ++calls;
        },
        0));
    EXPECT_TRUE(Eventually([&]() { return calls >= 50; }));
    EXPECT_TRUE(timer->timer_stop());
    stopReturned = true;
    EXPECT_FALSE(timer->is_running());
    timer.reset();
    EXPECT_FALSE(calledAfterStop.load());
}

TEST(TimerTest, ThrowingFunctionIsLoggedAndTheTimerGoesOn) {
    testsupport::LogCapture capture;
    std::atomic<int> calls{0};
    {
        auto timer = CreateTimer("Thrower", 2);
        ASSERT_TRUE(timer->timer_start(
            [&]() {
                ++calls;
                throw std::runtime_error("timer boom");
            },
            1));
        EXPECT_TRUE(Eventually([&]() { return !timer->is_running(); }));
    }
    EXPECT_EQ(calls.load(), 2);
    EXPECT_EQ(capture.Count("Thrower -> Exception: timer boom"), 2u);
}

TEST(TimerTest, StopFromItsOwnFunctionNeitherHangsNorTerminates) {
    testsupport::LogCapture capture;
    std::atomic<int> calls{0};
    Event done;
    auto timer = CreateTimer("SelfStop");
    ASSERT_TRUE(timer->timer_start(
        [&]() {
            ++calls;
            EXPECT_TRUE(timer->timer_stop());
            EXPECT_FALSE(timer->is_running());
            done.Set();
        },
        1));
    ASSERT_TRUE(done.Wait());
    EXPECT_FALSE(timer->is_running());
    // A later stop from outside waits for the released thread's last cycle.
    EXPECT_TRUE(timer->timer_stop());
    timer.reset();
    EXPECT_EQ(calls.load(), 1);
    EXPECT_FALSE(capture.Contains("Exception")) << capture.Dump();
}

TEST(TimerTest, RestartFromItsOwnFunctionBeginsANewCycle) {
    testsupport::LogCapture capture;
    Event restarted;
    std::atomic<int> firstCalls{0};
    auto timer = CreateTimer("SelfRestart", 1);
    ASSERT_TRUE(timer->timer_start(
        [&]() {
            ++firstCalls;
            EXPECT_TRUE(timer->timer_start([&]() { restarted.Set(); }, 1));
        },
        1));
    ASSERT_TRUE(restarted.Wait());
    EXPECT_TRUE(Eventually([&]() { return !timer->is_running(); }));
    timer.reset();
    EXPECT_EQ(firstCalls.load(), 1);
    EXPECT_EQ(capture.Count("Created thread SelfRestart"), 2u);
    EXPECT_FALSE(capture.Contains("Exception")) << capture.Dump();
}

TEST(TimerTest, ReleasingTheLastReferenceInItsOwnFunctionIsSafe) {
    testsupport::LogCapture capture;
    auto holder = std::make_shared<std::shared_ptr<ITimer>>(CreateTimer("SelfRelease"));
    Event done;
    ASSERT_TRUE((*holder)->timer_start(
        [holder, &done]() {
            holder->reset();
            done.Set();
        },
        1));
    ASSERT_TRUE(done.Wait());
    EXPECT_TRUE(capture.Contains("Deleted thread SelfRelease"));
    EXPECT_FALSE(capture.Contains("Exception"));
}

TEST(TimerTest, SecondStopWaitsForTheFunctionInProgress) {
    Event entered;
    std::atomic<bool> inFunction{false};
    auto timer = CreateTimer("Busy");
    ASSERT_TRUE(timer->timer_start(
        [&]() {
            inFunction = true;
            entered.Set();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            inFunction = false;
        },
        0));
    ASSERT_TRUE(entered.Wait());
    std::atomic<bool> firstInFunction{true};
    std::atomic<bool> secondInFunction{true};
    std::thread first([&]() {
        timer->timer_stop();
        firstInFunction = inFunction.load();
    });
    std::thread second([&]() {
        timer->timer_stop();
        secondInFunction = inFunction.load();
    });
    first.join();
    second.join();
    EXPECT_FALSE(firstInFunction.load());
    EXPECT_FALSE(secondInFunction.load());
}

// Start, stop and is_running hammered from two controlling threads while the
// function itself queries the timer; must stay clean under ThreadSanitizer.
TEST(TimerTest, ConcurrentStartStopAndIsRunningStress) {
    for (uint32_t count : {0u, 1u}) {
        std::shared_ptr<ITimer> timer = count == 0 ? CreateTimer("Stress") : CreateTimer("Stress", count);
        std::atomic<bool> stopping{false};
        std::atomic<bool> calledAfterStop{false};
        auto function = [&]() {
            if (stopping) {
                calledAfterStop = true;
            }
            (void)timer->is_running();
        };
        auto control = [&](int seed) {
            for (int i = 0; i < 150; ++i) {
                switch ((i + seed) % 4) {
                    case 0:
                    case 1:
                        EXPECT_TRUE(timer->timer_start(function, static_cast<unsigned long>(i % 3)));
                        break;
                    case 2:
                        EXPECT_TRUE(timer->timer_stop());
                        break;
                    default:
                        (void)timer->is_running();
                        break;
                }
            }
        };
        std::thread a(control, 0);
        std::thread b(control, 1);
        a.join();
        b.join();
        // Still fully usable afterwards.
        Event alive;
        EXPECT_TRUE(timer->timer_start([&alive]() { alive.Set(); }, 0));
        EXPECT_TRUE(alive.Wait());
        EXPECT_TRUE(timer->timer_stop());
        stopping = true;
        EXPECT_FALSE(timer->is_running());
        timer.reset();
        EXPECT_FALSE(calledAfterStop.load());
    }
}

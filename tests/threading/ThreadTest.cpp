#include "threading/Thread.h"

#include "tests/support/LogCapture.h"
#include "tests/threading/Sync.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <atomic>
#include <csignal>
#include <memory>

using threadingtest::Event;

TEST(ThreadTest, CountsAndLogsLifetimeWithoutSuffix) {
    testsupport::LogCapture capture;
    const int64_t before = GetThreadCount();
    {
        Thread thread("Counted", []() {});
        EXPECT_EQ(GetThreadCount(), before + 1);
        thread.Join();
        EXPECT_EQ(GetThreadCount(), before + 1);
    }
    EXPECT_EQ(GetThreadCount(), before);
    EXPECT_EQ(capture.Texts(), (std::vector<std::string>{"Created thread Counted", "Deleted thread Counted"}));
}

TEST(ThreadTest, SecondJoinDoesNothingAndLogsNothing) {
    testsupport::LogCapture capture;
    Thread thread("Twice", []() {});
    thread.Join();
    capture.Clear();
    thread.Join();
    EXPECT_FALSE(thread.Joinable());
    EXPECT_TRUE(capture.Messages().empty()) << capture.Dump();
}

TEST(ThreadTest, MoveAndSwapCarryNameHandleAndCount) {
    testsupport::LogCapture capture;
    const int64_t before = GetThreadCount();
    {
        Thread first("First", []() {});
        Thread moved(std::move(first));
        EXPECT_EQ(moved.GetName(), "First");
        EXPECT_TRUE(moved.Joinable());
        EXPECT_FALSE(first.Joinable());

        Thread second("Second", []() {});
        swap(moved, second);
        EXPECT_EQ(moved.GetName(), "Second");
        EXPECT_EQ(second.GetName(), "First");
        EXPECT_EQ(GetThreadCount(), before + 2);

        // Taking over a thread releases the one held before.
        second.Join();
        second = std::move(moved);
        EXPECT_EQ(second.GetName(), "Second");
        EXPECT_EQ(GetThreadCount(), before + 1);
        second.Join();
    }
    EXPECT_EQ(GetThreadCount(), before);
    EXPECT_EQ(capture.Count("Deleted thread First"), 1u);
    EXPECT_EQ(capture.Count("Deleted thread Second"), 1u);
}

TEST(ThreadTest, DestroyingAnUnjoinedThreadDetachesInsteadOfTerminating) {
    auto release = std::make_shared<Event>();
    auto finished = std::make_shared<Event>();
    {
        Thread thread("Unjoined", [release, finished]() {
            release->Wait();
            finished->Set();
        });
    }
    release->Set();
    EXPECT_TRUE(finished->Wait());
}

TEST(SleepForMsTest, ZeroAndNegativeReturnAtOnce) {
    const auto start = std::chrono::steady_clock::now();
    SleepForMs(0);
    SleepForMs(-5);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

namespace {
std::atomic<int> signalsSeen{0};
void CountSignal(int) { signalsSeen.fetch_add(1); }
}  // namespace

TEST(SleepForMsTest, SignalDoesNotShortenTheSleep) {
    struct sigaction action {};
    action.sa_handler = CountSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: nanosleep sees EINTR
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

    Event sleeping;
    std::chrono::steady_clock::duration slept{};
    std::thread sleeper([&]() {
        sleeping.Set();
        const auto start = std::chrono::steady_clock::now();
        SleepForMs(300);
        slept = std::chrono::steady_clock::now() - start;
    });
    ASSERT_TRUE(sleeping.Wait());
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    pthread_kill(sleeper.native_handle(), SIGUSR1);
    sleeper.join();
    sigaction(SIGUSR1, &previous, nullptr);

    EXPECT_GE(signalsSeen.load(), 1);
    EXPECT_GE(slept, std::chrono::milliseconds(300));
}

TEST(NowMsTest, FollowsTheSystemClock) {
    const auto before =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    const uint64_t now = NowMs();
    const auto after =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    EXPECT_GE(now, static_cast<uint64_t>(before));
    EXPECT_LE(now, static_cast<uint64_t>(after));
}

// Delayed tasks of the worker are time-outs (the autonomous check supervises
// its UCM requests with them): a step of the wall clock, as a time sync makes
// it, must neither fire them early nor hold them back.
//
// The wall clock of this test binary can be stepped: clock_gettime is
// interposed, and CLOCK_REALTIME is shifted by an offset the test sets.
#include "threading/WorkerThread.h"

#include "tests/threading/Sync.h"

#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

namespace {

std::atomic<int64_t> g_wallClockOffsetSeconds{0};

// Steps the wall clock for the lifetime of the object.
class WallClockStep {
public:
    explicit WallClockStep(int64_t seconds) { g_wallClockOffsetSeconds = seconds; }
    ~WallClockStep() { g_wallClockOffsetSeconds = 0; }
    WallClockStep(const WallClockStep&) = delete;
    WallClockStep& operator=(const WallClockStep&) = delete;
};

}  // namespace

extern "C" int clock_gettime(clockid_t clock, struct timespec* time) noexcept {
    const long result = ::syscall(SYS_clock_gettime, clock, time);
    if (result == 0 && clock == CLOCK_REALTIME) {
        time->tv_sec += static_cast<time_t>(g_wallClockOffsetSeconds.load());
    }
    return static_cast<int>(result);
}

using threadingtest::Event;

TEST(WorkerThreadClockStepTest, DelayedTasksFollowElapsedTimeWhateverTheWallClockDoes) {
    {
        SCOPED_TRACE("wall clock stepped forward: the task is not due");
        auto worker = CreateWorkerThread("StepForward");
        std::atomic<bool> ran{false};
        ASSERT_NE(worker->InvokeDelayed([&ran]() { ran = true; }, 60 * 1000), 0u);
        WallClockStep step(3600);
        // Each task makes the worker look at its delayed queue once more.
        for (int i = 0; i < 2; ++i) {
            Event done;
            worker->Invoke([&done]() { done.Set(); });
            ASSERT_TRUE(done.Wait());
        }
        EXPECT_FALSE(ran.load());
    }
    {
        SCOPED_TRACE("wall clock stepped back: the task still runs when due");
        auto worker = CreateWorkerThread("StepBack");
        Event ran;
        WallClockStep step(-3600);
        ASSERT_NE(worker->InvokeDelayed([&ran]() { ran.Set(); }, 20), 0u);
        EXPECT_TRUE(ran.Wait());
    }
}

#include "threading/WorkerThread.h"

#include "tests/support/LogCapture.h"
#include "tests/threading/Sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <set>
#include <stdexcept>
#include <thread>

using threadingtest::Event;
using threadingtest::Eventually;
using threadingtest::Recorder;
using threadingtest::ReleaseMarker;

namespace {

// Occupies the worker until released, so tests can queue behind it.
uint64_t Block(IWorkerThread& worker, Event& started, Event& release) {
    return worker.Invoke([&started, &release]() {
        started.Set();
        release.Wait();
    });
}

// Delayed tasks follow the steady clock, counted in whole milliseconds.
uint64_t SteadyMs() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

// A delayed task that never comes due; shows when the worker drops its queues.
void QueueMarker(IWorkerThread& worker, Event& released) {
    auto marker = std::make_shared<ReleaseMarker>(released);
    ASSERT_NE(worker.InvokeDelayed([marker]() {}, 3600 * 1000), 0u);
}

}  // namespace

TEST(WorkerThreadTest, IdsStartAtOneAndCountNormalAndDelayedTasks) {
    Event started, release;
    auto worker = CreateWorkerThread("Ids");
    EXPECT_EQ(Block(*worker, started, release), 1u);
    EXPECT_EQ(worker->InvokeDelayed([]() {}, 3600 * 1000), 2u);
    EXPECT_EQ(worker->Invoke([]() {}), 3u);
    EXPECT_EQ(worker->InvokeDelayed(std::make_shared<FunctionTask>([]() {}), 0), 4u);
    release.Set();
}

TEST(WorkerThreadTest, NormalTasksRunInQueueOrder) {
    Recorder order;
    Event started, release;
    auto worker = CreateWorkerThread("Fifo");
    Block(*worker, started, release);
    ASSERT_TRUE(started.Wait());
    for (int i = 1; i <= 3; ++i) {
        worker->Invoke([&order, i]() { order.Add(i); });
    }
    release.Set();
    ASSERT_TRUE(order.WaitForCount(3));
    EXPECT_EQ(order.Values(), (std::vector<int>{1, 2, 3}));
}

TEST(WorkerThreadTest, WaitingNormalTaskRunsBeforeADueDelayedTask) {
    Recorder order;
    Event started, release;
    auto worker = CreateWorkerThread("Priority");
    Block(*worker, started, release);
    ASSERT_TRUE(started.Wait());
    worker->InvokeDelayed([&order]() { order.Add(2); }, 0);
    worker->Invoke([&order]() { order.Add(1); });
    release.Set();
    ASSERT_TRUE(order.WaitForCount(2));
    EXPECT_EQ(order.Values(), (std::vector<int>{1, 2}));
}

TEST(WorkerThreadTest, DelayedTasksRunInWakeOrderAndNeverEarly) {
    Recorder order;
    std::atomic<bool> early{false};
    auto worker = CreateWorkerThread("Delayed");
    for (uint64_t delay : {150u, 50u, 100u}) {
        const uint64_t due = SteadyMs() + delay;
        worker->InvokeDelayed(
            [&, delay, due]() {
                if (SteadyMs() < due) {
                    early = true;
                }
                order.Add(static_cast<int>(delay));
            },
            delay);
    }
    ASSERT_TRUE(order.WaitForCount(3));
    EXPECT_EQ(order.Values(), (std::vector<int>{50, 100, 150}));
    EXPECT_FALSE(early.load());
}

TEST(WorkerThreadTest, RemovedTasksNeverRun) {
    Recorder order;
    Event started, release;
    auto worker = CreateWorkerThread("Remove");
    Block(*worker, started, release);
    ASSERT_TRUE(started.Wait());

    const uint64_t normal = worker->Invoke([&order]() { order.Add(1); });
    const uint64_t delayed = worker->InvokeDelayed([&order]() { order.Add(2); }, 20);
    worker->InvokeDelayed([&order]() { order.Add(3); }, 60);
    EXPECT_TRUE(worker->RemoveTask(normal));
    EXPECT_TRUE(worker->RemoveTask(delayed));
    EXPECT_FALSE(worker->RemoveTask(delayed));
    EXPECT_FALSE(worker->RemoveTask(0));
    release.Set();

    // The later delayed task running proves the earlier ones had their chance.
    ASSERT_TRUE(order.WaitForCount(1));
    EXPECT_EQ(order.Values(), (std::vector<int>{3}));
}

TEST(WorkerThreadTest, TasksMayQueueAndRemoveTasksOfTheirOwn) {
    Recorder order;
    auto worker = CreateWorkerThread("Reentrant");
    worker->Invoke([&]() {
        const uint64_t doomed = worker->Invoke([&order]() { order.Add(99); });
        worker->Invoke([&order]() { order.Add(2); });
        EXPECT_TRUE(worker->RemoveTask(doomed));
        order.Add(1);
    });
    ASSERT_TRUE(order.WaitForCount(2));
    worker->Shutdown();
    EXPECT_EQ(order.Values(), (std::vector<int>{1, 2}));
}

TEST(WorkerThreadTest, FailingTasksAreLoggedAndTheLoopGoesOn) {
    testsupport::LogCapture capture;
    Recorder order;
    {
        auto worker = CreateWorkerThread("Faulty");
        worker->Invoke([]() { throw std::runtime_error("task boom"); });
        worker->Invoke([]() { throw 42; });
        worker->Invoke(std::shared_ptr<Task>());
        worker->Invoke(std::function<void()>());
        worker->Invoke([&order]() { order.Add(1); });
        ASSERT_TRUE(order.WaitForCount(1));
    }
    EXPECT_TRUE(capture.Contains(testsupport::Level::kError, "Faulty -> Exception: task boom"));
    EXPECT_TRUE(capture.Contains(testsupport::Level::kError, "Faulty -> Unknown Exception"));
    EXPECT_EQ(capture.Count("Faulty -> Exception: "), 3u) << capture.Dump();
}

TEST(WorkerThreadTest, ShutdownRefusesNewTasksAndLetsTheRunningOneFinish) {
    testsupport::LogCapture capture;
    Event started;
    std::atomic<bool> finished{false};
    std::atomic<bool> ran{false};
    auto worker = CreateWorkerThread("Stopper");
    worker->Invoke([&]() {
        started.Set();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        finished = true;
    });
    ASSERT_TRUE(started.Wait());
    EXPECT_TRUE(worker->Shutdown());
    EXPECT_TRUE(finished.load());

    EXPECT_EQ(worker->Invoke([&ran]() { ran = true; }), 0u);
    EXPECT_EQ(worker->InvokeDelayed([&ran]() { ran = true; }, 0), 0u);
    EXPECT_TRUE(worker->Shutdown());  // a second shutdown is harmless
    worker.reset();
    EXPECT_FALSE(ran.load());
    EXPECT_TRUE(capture.Contains("Created thread Stopper"));
    EXPECT_TRUE(capture.Contains("Deleted thread Stopper"));
    EXPECT_FALSE(capture.Contains("Exception"));
}

TEST(WorkerThreadTest, TasksQueuedWhenShutdownStartsAreDroppedUnrun) {
    Event started, release, dropped;
    std::atomic<bool> ran{false};
    auto worker = CreateWorkerThread("Dropper");
    Block(*worker, started, release);
    ASSERT_TRUE(started.Wait());
    auto marker = std::make_shared<ReleaseMarker>(dropped);
    worker->Invoke([marker, &ran]() { ran = true; });
    marker.reset();

    std::thread stopper([&]() { worker->Shutdown(); });
    ASSERT_TRUE(Eventually([&]() { return worker->Invoke([]() {}) == 0; }));
    release.Set();
    stopper.join();
    EXPECT_TRUE(dropped.Wait());
    EXPECT_FALSE(ran.load());
}

TEST(WorkerThreadTest, ShutdownFromItsOwnTaskEndsTheLoopWithoutJoinError) {
    testsupport::LogCapture capture;
    Event done;
    std::atomic<bool> nextRan{false};
    auto worker = CreateWorkerThread("InnerStop");
    worker->Invoke([&]() {
        EXPECT_TRUE(worker->Shutdown());
        done.Set();
    });
    worker->Invoke([&nextRan]() { nextRan = true; });
    ASSERT_TRUE(done.Wait());
    worker.reset();
    EXPECT_FALSE(nextRan.load());
    EXPECT_FALSE(capture.Contains("Exception")) << capture.Dump();
}

TEST(WorkerThreadTest, LastReferenceDroppedInsideItsOwnTaskDetaches) {
    testsupport::LogCapture capture;
    const int64_t before = GetThreadCount();
    Event go, done, queuesDropped;
    {
        auto holder = std::make_shared<std::shared_ptr<IWorkerThread>>(CreateWorkerThread("SelfDrop"));
        QueueMarker(**holder, queuesDropped);
        // The task waits until this thread no longer uses the worker.
        (*holder)->Invoke([holder, &go, &done]() {
            go.Wait();
            holder->reset();  // the worker is destroyed on its own thread here
            done.Set();
        });
    }
    go.Set();
    ASSERT_TRUE(done.Wait());
    // The detached loop ends and drops what was still queued.
    ASSERT_TRUE(queuesDropped.Wait());
    EXPECT_EQ(GetThreadCount(), before);
    EXPECT_TRUE(capture.Contains("Deleted thread SelfDrop"));
    EXPECT_FALSE(capture.Contains("Exception")) << capture.Dump();
}

TEST(WorkerThreadTest, LastReferenceHeldByAFinishedTaskDetaches) {
    testsupport::LogCapture capture;
    Event started, release, queuesDropped;
    auto worker = CreateWorkerThread("TaskOwned");
    QueueMarker(*worker, queuesDropped);
    worker->Invoke([keep = worker, &started, &release]() {
        started.Set();
        release.Wait();
    });
    ASSERT_TRUE(started.Wait());
    worker.reset();
    release.Set();
    ASSERT_TRUE(queuesDropped.Wait());
    EXPECT_TRUE(capture.Contains("Deleted thread TaskOwned"));
    EXPECT_FALSE(capture.Contains("Exception")) << capture.Dump();
}

TEST(WorkerThreadTest, ConcurrentProducersGetUniqueIdsAndAllTasksRun) {
    constexpr int kPerThread = 200;
    std::atomic<int> ran{0};
    auto worker = CreateWorkerThread("Producers");
    std::vector<std::vector<uint64_t>> ids(3);
    std::vector<std::thread> producers;
    for (size_t p = 0; p < ids.size(); ++p) {
        producers.emplace_back([&, p]() {
            for (int i = 0; i < kPerThread; ++i) {
                ids[p].push_back(i % 2 == 0 ? worker->Invoke([&ran]() { ++ran; })
                                            : worker->InvokeDelayed([&ran]() { ++ran; }, 0));
            }
        });
    }
    for (auto& producer : producers) {
        producer.join();
    }
    std::set<uint64_t> unique;
    for (const auto& list : ids) {
        unique.insert(list.begin(), list.end());
    }
    EXPECT_EQ(unique.size(), ids.size() * kPerThread);
    EXPECT_EQ(unique.count(0), 0u);
    EXPECT_TRUE(Eventually([&]() { return ran.load() == static_cast<int>(ids.size() * kPerThread); }));
}

TEST(SafeShutDownTest, EmptyPointerReturnsAtOnce) {
    std::shared_ptr<WorkerThread> none;
    SafeShutDown(none);
    EXPECT_EQ(none, nullptr);
}

TEST(SafeShutDownTest, DrainsQueuedTasksAndDropsPendingDelayedOnes) {
    testsupport::LogCapture capture;
    Recorder order;
    Event started, release, delayedDropped;
    std::atomic<bool> delayedRan{false};
    std::shared_ptr<WorkerThread> worker = CreateWorkerThread("Drain");
    auto marker = std::make_shared<ReleaseMarker>(delayedDropped);
    worker->InvokeDelayed([marker, &delayedRan]() { delayedRan = true; }, 3600 * 1000);
    marker.reset();
    worker->Invoke([&]() {
        started.Set();
        release.Wait();
    });
    for (int i = 1; i <= 3; ++i) {
        worker->Invoke([&order, i]() { order.Add(i); });
    }
    ASSERT_TRUE(started.Wait());
    std::thread releaser([&]() {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        release.Set();
    });
    SafeShutDown(worker);
    releaser.join();
    EXPECT_EQ(worker, nullptr);
    EXPECT_EQ(order.Values(), (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(delayedDropped.IsSet());
    EXPECT_FALSE(delayedRan.load());
    EXPECT_TRUE(capture.Contains("Deleted thread Drain"));
}

TEST(SafeShutDownTest, CopyThatIsNotTheLastOnlyDrainsAndLetsGo) {
    Recorder order;
    std::shared_ptr<IWorkerThread> owner = CreateWorkerThread("Shared");
    std::shared_ptr<IWorkerThread> copy = owner;
    copy->Invoke([&order]() { order.Add(1); });
    SafeShutDown(copy);
    EXPECT_EQ(copy, nullptr);
    EXPECT_EQ(order.Values(), (std::vector<int>{1}));

    // The owner's worker still runs.
    EXPECT_NE(owner->Invoke([&order]() { order.Add(2); }), 0u);
    ASSERT_TRUE(order.WaitForCount(2));
    SafeShutDown(owner);
    EXPECT_EQ(owner, nullptr);
}

TEST(SafeShutDownTest, ReturnsWhenItsTaskIsDroppedUnrun) {
    Event started, release;
    auto worker = CreateWorkerThread("Contested");
    Block(*worker, started, release);
    ASSERT_TRUE(started.Wait());

    std::shared_ptr<IWorkerThread> copy = worker;
    auto waiter = std::async(std::launch::async, [&copy]() { SafeShutDown(copy); });
    // Ids handed out here are consecutive until SafeShutDown's own task took one.
    uint64_t expected = 2;  // the blocking task took 1
    ASSERT_TRUE(Eventually([&]() {
        const uint64_t id = worker->Invoke([]() {});
        const bool skipped = id != expected;
        expected = id + 1;
        return skipped;
    }));
    // With its task queued, the worker is shut down underneath it.
    std::thread stopper([&]() { worker->Shutdown(); });
    ASSERT_TRUE(Eventually([&]() { return worker->Invoke([]() {}) == 0; }));
    release.Set();
    stopper.join();
    EXPECT_EQ(waiter.wait_for(threadingtest::kTimeout), std::future_status::ready);
}

TEST(SafeShutDownTest, OnTheWorkersOwnThreadDoesNotHang) {
    Recorder order;
    auto worker = CreateWorkerThread("OwnThread");
    worker->Invoke([&]() {
        std::shared_ptr<IWorkerThread> copy = worker;
        SafeShutDown(copy);
        EXPECT_EQ(copy, nullptr);
        order.Add(1);
    });
    worker->Invoke([&order]() { order.Add(2); });
    ASSERT_TRUE(order.WaitForCount(2));
    EXPECT_EQ(order.Values(), (std::vector<int>{1, 2}));
}

TEST(SafeShutDownTest, LastReferenceOnTheWorkersOwnThreadDetaches) {
    testsupport::LogCapture capture;
    Event go, done, queuesDropped;
    {
        auto holder = std::make_shared<std::shared_ptr<IWorkerThread>>(CreateWorkerThread("OwnLast"));
        QueueMarker(**holder, queuesDropped);
        (*holder)->Invoke([holder, &go, &done]() {
            go.Wait();
            SafeShutDown(*holder);
            done.Set();
        });
    }
    go.Set();
    ASSERT_TRUE(done.Wait());
    ASSERT_TRUE(queuesDropped.Wait());
    EXPECT_TRUE(capture.Contains("Deleted thread OwnLast"));
    EXPECT_FALSE(capture.Contains("Exception")) << capture.Dump();
}

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/com/Future.h"
#include "platform/zov/dm/genericuds/GenericUDSServiceErrors.h"

using jux::com::Broken_promise_exception;
using jux::com::Future;
using jux::com::Future_error;
using jux::com::Promise;
using UDSServiceFailed = zov::dm::genericuds::GenericUDSService::UDSServiceFailed;

TEST(FutureTest, ValueFromAnotherThreadReachesGet) {
    Promise<std::string> promise;
    Future<std::string> future = promise.get_future();
    EXPECT_FALSE(future.is_ready());
    EXPECT_EQ(future.wait_for(std::chrono::milliseconds(1)), jux::com::future_status::timeout);
    std::thread setter([&promise] { promise.set_value(std::string("answer")); });
    EXPECT_EQ(future.get(), "answer");
    setter.join();
    EXPECT_FALSE(future.valid());
    EXPECT_THROW(future.get(), Future_error);
}

TEST(FutureTest, ExceptionIsRethrownAsItsOwnType) {
    Promise<void> promise;
    auto future = promise.get_future();
    promise.set_exception(std::make_exception_ptr(UDSServiceFailed(0x31)));
    EXPECT_TRUE(future.is_ready());
    try {
        future.get();
        FAIL() << "no exception";
    } catch (const UDSServiceFailed& e) {
        EXPECT_EQ(e.GetCode(), 0x31);
    }
}

TEST(FutureTest, MisuseIsReported) {
    Promise<int> promise;
    auto future = promise.get_future();
    EXPECT_THROW(promise.get_future(), Future_error);
    promise.set_value(1);
    EXPECT_THROW(promise.set_value(2), Future_error);
    auto next = future.then([](Future<int> f) { return f.get(); });
    EXPECT_FALSE(future.valid());
    EXPECT_THROW(future.then([](Future<int>) {}), Future_error);
    EXPECT_EQ(next.get(), 1);
}

TEST(FutureTest, ContinuationOnReadyFutureRunsAtOnce) {
    auto future = jux::com::MakeReadyFuture(20);
    int calls = 0;
    auto next = future.then([&calls](Future<int> f) {
        ++calls;
        return std::to_string(f.get() + 1);
    });
    EXPECT_EQ(calls, 1);
    ASSERT_TRUE(next.is_ready());
    EXPECT_EQ(next.get(), "21");
}

TEST(FutureTest, ContinuationOnPendingFutureRunsOnceInCompletingThreadWithoutLock) {
    Promise<int> promise;
    auto future = promise.get_future();
    std::atomic<int> calls{0};
    std::thread::id continuationThread;
    auto next = future.then([&](Future<int> f) {
        ++calls;
        continuationThread = std::this_thread::get_id();
        // The state's lock is free again: taking the value must not block.
        return f.is_ready() ? f.get() * 2 : -1;
    });
    EXPECT_EQ(calls.load(), 0);
    std::thread::id setterThread;
    std::thread setter([&] {
        setterThread = std::this_thread::get_id();
        promise.set_value(21);
    });
    setter.join();
    EXPECT_EQ(next.get(), 42);
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(continuationThread, setterThread);
}

TEST(FutureTest, ContinuationExceptionCompletesReturnedFuture) {
    auto next = jux::com::MakeReadyFuture(1).then([](Future<int>) -> int { throw std::runtime_error("cont"); });
    EXPECT_THROW(next.get(), std::runtime_error);

    // An error of the first future passes through a continuation that calls get().
    auto passed =
        jux::com::MakeExceptionalFuture<int>(std::make_exception_ptr(UDSServiceFailed(7))).then([](Future<int> f) {
            return f.get();
        });
    EXPECT_THROW(passed.get(), UDSServiceFailed);
}

TEST(FutureTest, BrokenPromiseReachesFutureAndContinuation) {
    Future<int> direct;
    {
        Promise<int> promise;
        direct = promise.get_future();
    }
    EXPECT_THROW(direct.get(), Broken_promise_exception);

    auto promise = std::make_unique<Promise<void>>();
    bool broken = false;
    auto next = promise->get_future().then([&broken](Future<void> f) {
        try {
            f.get();
        } catch (const Broken_promise_exception&) {
            broken = true;
        }
    });
    promise.reset();
    EXPECT_TRUE(broken);
    EXPECT_NO_THROW(next.get());

    Promise<int> replaced;
    auto old = replaced.get_future();
    replaced = Promise<int>();
    EXPECT_THROW(old.get(), Broken_promise_exception);
}

TEST(FutureTest, DroppedFutureDoesNotBlockAndLateValueIsHarmless) {
    Promise<int> promise;
    { auto future = promise.get_future(); }
    promise.set_value(3);
}

TEST(FutureTest, RaceOfThenAndSetValueRunsContinuationExactlyOnce) {
    for (int round = 0; round < 200; ++round) {
        Promise<int> promise;
        auto future = promise.get_future();
        std::atomic<int> calls{0};
        std::thread setter([&promise, round] { promise.set_value(round); });
        auto next = future.then([&calls](Future<int> f) {
            ++calls;
            return f.get();
        });
        EXPECT_EQ(next.get(), round);
        setter.join();
        EXPECT_EQ(calls.load(), 1);
    }
}

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/testhook/UnexpectedException.h"
#include "platform/zov/dm/genericuds/GenericUDSServiceErrors.h"
#include "tests/platform/com/DemoService.h"

using comtest::ComTest;
using comtest::Counter;
using comtest::Gate;
using demo::DemoService;
using demo::proxy::DemoProxy;
using UDSServiceFailed = zov::dm::genericuds::GenericUDSService::UDSServiceFailed;

TEST_F(ComTest, CallCopiesArgumentsAndAnswersOnBindingThread) {
    DemoService service("m");
    std::thread::id methodThread;
    Gate answer;
    service.compute = [&](uint32_t v, const std::string& mode) {
        methodThread = std::this_thread::get_id();
        answer.Wait();  // until the caller's continuation is attached
        return jux::com::MakeReadyFuture(static_cast<uint32_t>(v + mode.size()));
    };
    service.OfferService();
    auto proxy = Connect("m");
    ASSERT_NE(proxy, nullptr);

    std::vector<uint8_t> data(4096, 0xAB);
    auto echo = proxy->Echo(data);
    data.assign(3, 0);
    EXPECT_EQ(echo.get().data, std::vector<uint8_t>(4096, 0xAB));

    std::thread::id continuationThread;
    auto next = proxy->Compute(40, "ab").then([&](jux::com::Future<uint32_t> f) {
        continuationThread = std::this_thread::get_id();
        return f.get();
    });
    answer.Open();
    EXPECT_EQ(next.get(), 42u);
    EXPECT_NE(continuationThread, methodThread);
    EXPECT_NE(continuationThread, std::this_thread::get_id());
    EXPECT_NE(methodThread, std::this_thread::get_id());
}

TEST_F(ComTest, EventModeRunsCallsConcurrently) {
    DemoService service("conc");
    constexpr int kCalls = 4;
    Counter running;
    Gate release;
    service.compute = [&](uint32_t v, const std::string&) {
        running.Add();
        release.Wait();
        return jux::com::MakeReadyFuture(v);
    };
    service.OfferService();
    auto proxy = Connect("conc");
    std::vector<jux::com::Future<uint32_t>> futures;
    for (int i = 0; i < kCalls; ++i) {
        futures.push_back(proxy->Compute(static_cast<uint32_t>(i), ""));
    }
    // All calls are inside the skeleton at once before any may leave.
    EXPECT_TRUE(running.WaitFor(kCalls));
    release.Open();
    for (int i = 0; i < kCalls; ++i) {
        EXPECT_EQ(futures[i].get(), static_cast<uint32_t>(i));
    }
}

TEST_F(ComTest, SingleThreadModeRunsOneCallAtATime) {
    DemoService service("single", ara::com::MethodCallProcessingMode::kEventSingleThread);
    std::atomic<int> inside{0};
    std::atomic<int> most{0};
    service.compute = [&](uint32_t v, const std::string&) {
        int now = ++inside;
        most = std::max(most.load(), now);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        --inside;
        return jux::com::MakeReadyFuture(v);
    };
    service.OfferService();
    auto proxy = Connect("single");
    std::vector<jux::com::Future<uint32_t>> futures;
    for (uint32_t i = 0; i < 6; ++i) {
        futures.push_back(proxy->Compute(i, ""));
    }
    for (auto& f : futures) {
        f.get();
    }
    EXPECT_EQ(most.load(), 1);
}

TEST_F(ComTest, ApplicationErrorArrivesAsItsOwnType) {
    DemoService service("err");
    auto held = std::make_shared<jux::com::Promise<uint32_t>>();
    service.compute = [&](uint32_t v, const std::string& mode) -> jux::com::Future<uint32_t> {
        if (mode == "throw") {
            throw UDSServiceFailed(static_cast<uint8_t>(v));
        }
        if (mode == "later") {
            return held->get_future();
        }
        return jux::com::MakeExceptionalFuture<uint32_t>(std::make_exception_ptr(UDSServiceFailed(0x22)));
    };
    service.OfferService();
    auto proxy = Connect("err");

    auto expectCode = [](jux::com::Future<uint32_t> f, uint8_t code) {
        try {
            f.get();
            ADD_FAILURE() << "no error";
        } catch (const UDSServiceFailed& e) {
            EXPECT_EQ(e.GetCode(), code);
            EXPECT_STREQ(e.what(), "GenericUDSService::UDSServiceFailed::2");
        }
    };
    expectCode(proxy->Compute(0x31, "throw"), 0x31);
    expectCode(proxy->Compute(0, "failed"), 0x22);

    auto later = proxy->Compute(0, "later");
    std::thread worker([held] { held->set_exception(std::make_exception_ptr(UDSServiceFailed(0x70))); });
    expectCode(std::move(later), 0x70);
    worker.join();
}

namespace {
std::atomic<int> g_unexpected{0};
void CountUnexpected(const char*, std::exception_ptr) { ++g_unexpected; }
}  // namespace

// A harness that treats a method's exception as a finding sees every one,
// while the caller still gets it as the call's error.
TEST_F(ComTest, MethodThatThrowsIsReportedToTheUnexpectedExceptionHook) {
    DemoService service("hooked");
    service.compute = [](uint32_t v, const std::string& mode) -> jux::com::Future<uint32_t> {
        if (mode == "throw") {
            throw std::runtime_error("handler fault");
        }
        return jux::com::MakeReadyFuture(v);
    };
    service.OfferService();
    auto proxy = Connect("hooked");
    g_unexpected = 0;
    platform::testhook::SetUnexpectedExceptionHook(&CountUnexpected);
    EXPECT_EQ(proxy->Compute(7, "").get(), 7u);
    EXPECT_THROW(proxy->Compute(7, "throw").get(), std::runtime_error);
    platform::testhook::SetUnexpectedExceptionHook(nullptr);
    EXPECT_EQ(g_unexpected.load(), 1);
}

TEST_F(ComTest, PendingCallFailsWhenSkeletonIsDestroyed) {
    auto service = std::make_unique<DemoService>("gone");
    auto held = std::make_shared<jux::com::Promise<uint32_t>>();
    Counter entered;
    service->compute = [&](uint32_t, const std::string&) {
        entered.Add();
        return held->get_future();
    };
    service->OfferService();
    auto proxy = Connect("gone");
    auto pending = proxy->Compute(1, "");
    ASSERT_TRUE(entered.WaitFor(1));
    EXPECT_FALSE(pending.is_ready());
    service.reset();
    EXPECT_THROW(pending.get(), jux::com::Broken_promise_exception);
    held->set_value(5);  // the late answer goes nowhere
    EXPECT_THROW(proxy->Compute(1, ""), zov::com::Service_not_available_exception);
}

TEST_F(ComTest, StoppingDispatcherWaitsForRunningCallAndFailsQueuedOnes) {
    DemoService service("stop", ara::com::MethodCallProcessingMode::kEventSingleThread);
    Counter entered;
    Gate release;
    std::atomic<bool> callFinished{false};
    service.compute = [&](uint32_t v, const std::string&) {
        entered.Add();
        release.Wait();
        callFinished = true;
        return jux::com::MakeReadyFuture(v);
    };
    service.OfferService();
    auto proxy = Connect("stop");
    auto running = proxy->Compute(1, "");
    auto queued = proxy->Compute(2, "");
    ASSERT_TRUE(entered.WaitFor(1));

    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        release.Open();
    });
    service.StopOfferService();
    service.StopMethodDispatcher();
    EXPECT_TRUE(callFinished.load());
    releaser.join();
    EXPECT_EQ(running.get(), 1u);
    EXPECT_THROW(queued.get(), jux::com::Broken_promise_exception);
    EXPECT_EQ(entered.Get(), 1);

    // Offered again, the skeleton answers again.
    service.OfferService();
    release.Open();
    EXPECT_EQ(proxy->Compute(3, "").get(), 3u);
}

TEST_F(ComTest, MethodMayCallItsOwnServiceAndWait) {
    DemoService service("self");
    service.compute = [&](uint32_t v, const std::string& mode) {
        if (mode == "outer") {
            DemoProxy inner(DemoProxy::FindService("self").front());
            return jux::com::MakeReadyFuture(inner.Compute(v, "inner").get() * 10);
        }
        return jux::com::MakeReadyFuture(v + 1);
    };
    service.OfferService();
    auto proxy = Connect("self");
    std::vector<jux::com::Future<uint32_t>> futures;
    for (uint32_t i = 0; i < 4; ++i) {
        futures.push_back(proxy->Compute(i, "outer"));
    }
    for (uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(futures[i].get(), (i + 1) * 10);
    }
}

namespace {
class WrongProxy : public ara::com::internal::proxy::ProxyBase<WrongProxy> {
public:
    static constexpr const char* kServiceName = demo::kServiceName;
    explicit WrongProxy(const HandleType& h) : ProxyBase(h), Compute(*this, "Compute"), Missing(*this, "Gone") {}
    ara::com::internal::proxy::Method<uint32_t(uint32_t)> Compute;
    ara::com::internal::proxy::Method<void()> Missing;
};
}  // namespace

TEST_F(ComTest, SignatureMismatchIsReported) {
    DemoService service("sig");
    service.OfferService();
    WrongProxy proxy(WrongProxy::FindService("sig").front());
    EXPECT_THROW(proxy.Compute(1), std::logic_error);
    EXPECT_THROW(proxy.Missing(), std::logic_error);
    EXPECT_THROW(DemoProxy(zov::com::HandleType("other::Service", "sig")), std::invalid_argument);
}

TEST_F(ComTest, ConcurrentCallersAllGetTheirOwnAnswers) {
    DemoService service("many");
    service.OfferService();
    auto proxy = Connect("many");
    std::vector<std::thread> callers;
    std::atomic<int> wrong{0};
    for (uint32_t t = 0; t < 8; ++t) {
        callers.emplace_back([&, t] {
            for (uint32_t i = 0; i < 200; ++i) {
                const uint32_t v = t * 1000 + i;
                if (proxy->Compute(v, "").get() != v + 1) {
                    ++wrong;
                }
            }
        });
    }
    for (auto& c : callers) {
        c.join();
    }
    EXPECT_EQ(wrong.load(), 0);
}

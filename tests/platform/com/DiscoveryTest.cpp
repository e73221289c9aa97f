#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

#include "tests/platform/com/DemoService.h"

using comtest::ComTest;
using demo::DemoService;
using demo::proxy::DemoProxy;

namespace {

// Records every list a find-service handler receives.
class FindRecorder {
public:
    zov::com::FindServiceHandler<zov::com::HandleType> Handler() {
        return [this](zov::com::ServiceHandleContainer<zov::com::HandleType> handles, zov::com::FindServiceHandle) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_sizes.push_back(handles.size());
                m_threads.push_back(std::this_thread::get_id());
            }
            m_calls.Add();
        };
    }
    bool WaitFor(int calls) { return m_calls.WaitFor(calls); }
    std::vector<size_t> Sizes() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_sizes;
    }
    std::vector<std::thread::id> Threads() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_threads;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<size_t> m_sizes;
    std::vector<std::thread::id> m_threads;
    comtest::Counter m_calls;
};

}  // namespace

TEST_F(ComTest, OfferFindWithdrawAndReofferSynchronously) {
    EXPECT_TRUE(DemoProxy::FindService("inst/1").empty());
    auto service = std::make_unique<DemoService>("inst/1");
    service->OfferService();
    auto handles = DemoProxy::FindService("inst/1");
    ASSERT_EQ(handles.size(), 1u);
    EXPECT_EQ(handles.front().GetInstanceId(), "inst/1");
    EXPECT_TRUE(DemoProxy::FindService("inst/2").empty());
    EXPECT_TRUE(zov::com::FindService("other::Service", "inst/1").empty());

    DemoProxy proxy(handles.front());
    EXPECT_EQ(proxy.Compute(1, "x").get(), 2u);

    service->StopOfferService();
    EXPECT_TRUE(DemoProxy::FindService("inst/1").empty());
    EXPECT_THROW(proxy.Compute(1, "x"), zov::com::Service_not_available_exception);

    // A new skeleton under the same instance is reached through the old proxy.
    service.reset();
    DemoService again("inst/1");
    again.compute = [](uint32_t v, const std::string&) { return jux::com::MakeReadyFuture(v + 100); };
    again.OfferService();
    EXPECT_EQ(proxy.Compute(1, "x").get(), 101u);
}

TEST_F(ComTest, SecondLiveOfferOfSameInstanceIsRefused) {
    DemoService first("inst");
    DemoService second("inst");
    DemoService other("inst-b");
    first.OfferService();
    EXPECT_NO_THROW(first.OfferService());
    EXPECT_THROW(second.OfferService(), zov::com::Service_already_offered_exception);
    EXPECT_NO_THROW(other.OfferService());
    second.StopOfferService();  // not the offering one: changes nothing
    EXPECT_EQ(DemoProxy::FindService("inst").size(), 1u);
    first.StopOfferService();
    EXPECT_NO_THROW(second.OfferService());
    EXPECT_EQ(DemoProxy::FindService("inst").size(), 1u);
}

TEST_F(ComTest, FieldWithoutValueOrGetHandlerBlocksOffer) {
    class Bare : public demo::skeleton::DemoSkeleton {
    public:
        Bare() : DemoSkeleton("bare", ara::com::MethodCallProcessingMode::kEvent) {}
        jux::com::Future<demo::EchoOutput> Echo(std::vector<uint8_t>) override { return {}; }
        jux::com::Future<uint32_t> Compute(uint32_t, const std::string&) override { return {}; }
    } bare;
    EXPECT_THROW(bare.OfferService(), std::logic_error);
    bare.Status.Update(demo::StatusType{});
    bare.Counter.RegisterGetHandler([] { return jux::com::MakeReadyFuture(uint32_t{5}); });
    EXPECT_NO_THROW(bare.OfferService());
    bare.StopOfferService();
}

TEST_F(ComTest, PollingModeIsRefused) {
    EXPECT_THROW(DemoService("poll", ara::com::MethodCallProcessingMode::kPoll), std::invalid_argument);
}

TEST_F(ComTest, AsynchronousSearchReportsCurrentListAndEveryChangeInOrder) {
    FindRecorder recorder;
    auto handle = DemoProxy::StartFindService(recorder.Handler(), "async");
    EXPECT_NE(handle.GetId(), 0u);
    ASSERT_TRUE(recorder.WaitFor(1));
    {
        DemoService service("async");
        service.OfferService();
        ASSERT_TRUE(recorder.WaitFor(2));
        service.StopOfferService();
        ASSERT_TRUE(recorder.WaitFor(3));
        service.OfferService();
        ASSERT_TRUE(recorder.WaitFor(4));
    }  // destruction withdraws the offer
    ASSERT_TRUE(recorder.WaitFor(5));
    DemoProxy::StopFindService(handle);
    DemoService late("async");
    late.OfferService();
    ASSERT_TRUE(zov::com::testing::WaitForBindingIdle());
    EXPECT_EQ(recorder.Sizes(), (std::vector<size_t>{0, 1, 0, 1, 0}));
    for (auto id : recorder.Threads()) {
        EXPECT_NE(id, std::this_thread::get_id());
    }
}

TEST_F(ComTest, SearchHandlerMayCallBackIntoBindingAndStopItsOwnSearch) {
    DemoService service("nested");
    service.OfferService();
    comtest::Counter done;
    uint32_t answer = 0;
    zov::com::FindServiceHandle own;
    std::mutex ownMutex;
    std::unique_lock<std::mutex> hold(ownMutex);
    own = DemoProxy::StartFindService(
        [&](zov::com::ServiceHandleContainer<zov::com::HandleType> handles, zov::com::FindServiceHandle handle) {
            std::lock_guard<std::mutex> lock(ownMutex);
            EXPECT_EQ(handle, own);
            ASSERT_EQ(handles.size(), 1u);
            DemoProxy proxy(handles.front());
            answer = proxy.Compute(41, "x").get();
            DemoProxy::StopFindService(handle);
            done.Add();
        },
        "nested");
    hold.unlock();
    ASSERT_TRUE(done.WaitFor(1));
    service.StopOfferService();
    ASSERT_TRUE(zov::com::testing::WaitForBindingIdle());
    EXPECT_EQ(done.Get(), 1);
    std::lock_guard<std::mutex> lock(ownMutex);
    EXPECT_EQ(answer, 42u);
}

TEST_F(ComTest, StopFindServiceWaitsForRunningHandler) {
    comtest::Gate entered;
    comtest::Gate release;
    std::atomic<bool> finished{false};
    auto handle = DemoProxy::StartFindService(
        [&](zov::com::ServiceHandleContainer<zov::com::HandleType>, zov::com::FindServiceHandle) {
            entered.Open();
            release.Wait();
            finished = true;
        },
        "wait");
    ASSERT_TRUE(entered.Wait());
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        release.Open();
    });
    DemoProxy::StopFindService(handle);
    EXPECT_TRUE(finished.load());
    releaser.join();
}

TEST_F(ComTest, ComponentSingletonIsUniqueAndDrainsBindingThreads) {
    {
        zov::com::runtime::Component_singleton runtime(false, "");
        EXPECT_THROW(zov::com::runtime::Component_singleton(false, "second"), std::logic_error);
        DemoService service("rt");
        service.OfferService();
        auto proxy = Connect("rt");
        ASSERT_NE(proxy, nullptr);
        EXPECT_EQ(proxy->Compute(1, "").get(), 2u);
    }
    zov::com::runtime::Component_singleton again(false, "again");
    EXPECT_EQ(again.GetName(), "again");
}

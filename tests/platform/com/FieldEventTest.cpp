#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/platform/com/DemoService.h"

using comtest::ComTest;
using comtest::Counter;
using comtest::Gate;
using demo::DemoService;
using demo::StatusType;

namespace {

// Collects the values a receive handler takes from a field or event.
template <typename T>
class Collector {
public:
    void Take(ara::com::SamplePtr<const T> sample) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_values.push_back(*sample);
        }
        m_count.Add();
    }
    bool WaitFor(int n) { return m_count.WaitFor(n); }
    std::vector<T> Values() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_values;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<T> m_values;
    Counter m_count;
};

}  // namespace

TEST_F(ComTest, FieldSubscriptionDeliversCurrentValueThenUpdatesInOrder) {
    DemoService service("field");
    service.Counter.Update(1);
    service.OfferService();
    Collector<uint32_t> seen;
    std::mutex threadMutex;
    std::thread::id receiveThread;
    auto proxy = Connect("field");
    proxy->Counter.SetReceiveHandler([&] {
        {
            std::lock_guard<std::mutex> lock(threadMutex);
            receiveThread = std::this_thread::get_id();
        }
        proxy->Counter.GetNewSamples([&](ara::com::SamplePtr<const uint32_t> s) { seen.Take(std::move(s)); });
    });
    proxy->Counter.Subscribe(100);
    ASSERT_TRUE(seen.WaitFor(1));
    for (uint32_t v = 2; v <= 50; ++v) {
        service.Counter.Update(v);
    }
    ASSERT_TRUE(seen.WaitFor(50));
    std::vector<uint32_t> expected;
    for (uint32_t v = 1; v <= 50; ++v) {
        expected.push_back(v);
    }
    EXPECT_EQ(seen.Values(), expected);
    std::lock_guard<std::mutex> lock(threadMutex);
    EXPECT_NE(receiveThread, std::this_thread::get_id());
    EXPECT_TRUE(proxy->Counter.IsSubscribed());
}

TEST_F(ComTest, GetFromInsideNotificationHandler) {
    DemoService service("get");
    service.OfferService();
    Counter done;
    std::mutex mutex;
    std::vector<std::string> sessions;
    // Like a conversation client: the handler holds its own lock while it
    // reads the field and waits for the answer.
    auto proxy = Connect("get");
    proxy->Status.SetReceiveHandler([&] {
        std::lock_guard<std::mutex> lock(mutex);
        proxy->Status.GetNewSamples([](ara::com::SamplePtr<const StatusType>) {});
        sessions.push_back(proxy->Status.Get().get().session);
        done.Add();
    });
    proxy->Status.Subscribe(1);
    ASSERT_TRUE(done.WaitFor(1));
    service.Status.Update(StatusType{0, "2"});
    ASSERT_TRUE(done.WaitFor(2));
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(sessions.front(), "1");
    EXPECT_EQ(sessions.back(), "2");
}

TEST_F(ComTest, GetHandlerAnswersOnMethodThread) {
    DemoService service("getter");
    std::thread::id getterThread;
    service.Counter.RegisterGetHandler([&] {
        getterThread = std::this_thread::get_id();
        return jux::com::MakeReadyFuture(uint32_t{77});
    });
    service.OfferService();
    auto proxy = Connect("getter");
    EXPECT_EQ(proxy->Counter.Get().get(), 77u);
    EXPECT_NE(getterThread, std::this_thread::get_id());
    service.StopOfferService();
    EXPECT_THROW(proxy->Counter.Get(), zov::com::Service_not_available_exception);
}

TEST_F(ComTest, QueueKeepsLastSamplesAndUnsubscribeDropsThem) {
    DemoService service("queue");
    service.OfferService();
    auto proxy = Connect("queue");
    service.Message.Send("before subscription");
    proxy->Message.Subscribe(2);
    for (const char* text : {"a", "b", "c"}) {
        service.Message.Send(text);
    }
    std::vector<std::string> got;
    EXPECT_EQ(proxy->Message.GetNewSamples([&](ara::com::SamplePtr<const std::string> s) { got.push_back(*s); }), 2u);
    EXPECT_EQ(got, (std::vector<std::string>{"b", "c"}));

    service.Message.Send("d");
    proxy->Message.Unsubscribe();
    service.Message.Send("e");
    EXPECT_EQ(proxy->Message.GetNewSamples([](ara::com::SamplePtr<const std::string>) {}), 0u);

    proxy->Message.Subscribe(5);
    service.StopOfferService();
    service.Message.Send("not offered");
    EXPECT_EQ(proxy->Message.GetNewSamples([](ara::com::SamplePtr<const std::string>) {}), 0u);
}

TEST_F(ComTest, ReofferedFieldReachesExistingSubscription) {
    DemoService service("re");
    service.OfferService();
    Collector<uint32_t> seen;
    auto proxy = Connect("re");
    proxy->Counter.SetReceiveHandler(
        [&] { proxy->Counter.GetNewSamples([&](ara::com::SamplePtr<const uint32_t> s) { seen.Take(std::move(s)); }); });
    proxy->Counter.Subscribe(10);
    ASSERT_TRUE(seen.WaitFor(1));
    service.StopOfferService();
    service.Counter.Update(9);
    service.OfferService();
    ASSERT_TRUE(seen.WaitFor(2));
    EXPECT_EQ(seen.Values().back(), 9u);
}

TEST_F(ComTest, UnsubscribeInsideHandlerDoesNotWaitForOtherRunningHandler) {
    DemoService service("unsub");
    service.OfferService();
    std::mutex conversation;
    Counter counterHandled;
    Gate counterEntered;
    Counter statusDone;
    auto proxy = Connect("unsub");
    // The counter handler is blocked on the lock the status handler holds
    // while it withdraws both subscriptions.
    proxy->Counter.SetReceiveHandler([&] {
        counterEntered.Open();
        std::lock_guard<std::mutex> lock(conversation);
        proxy->Counter.GetNewSamples([](ara::com::SamplePtr<const uint32_t>) {});
        counterHandled.Add();
    });
    proxy->Status.SetReceiveHandler([&] {
        std::lock_guard<std::mutex> lock(conversation);
        proxy->Status.GetNewSamples([](ara::com::SamplePtr<const StatusType>) {});
        if (!counterEntered.Wait()) {
            return;
        }
        proxy->Status.Unsubscribe();
        proxy->Counter.Unsubscribe();
        statusDone.Add();
    });
    std::unique_lock<std::mutex> hold(conversation);
    proxy->Counter.Subscribe(1);
    ASSERT_TRUE(counterEntered.Wait());
    proxy->Status.Subscribe(1);
    hold.unlock();
    ASSERT_TRUE(statusDone.WaitFor(1));
    ASSERT_TRUE(counterHandled.WaitFor(1));
    EXPECT_FALSE(proxy->Status.IsSubscribed());
    EXPECT_FALSE(proxy->Counter.IsSubscribed());
}

TEST_F(ComTest, ProxyMayBeReleasedFromInsideItsReceiveHandler) {
    DemoService service("release");
    service.OfferService();
    auto proxy = Connect("release");
    Counter released;
    std::mutex mutex;
    proxy->Counter.SetReceiveHandler([&] {
        std::lock_guard<std::mutex> lock(mutex);
        proxy.reset();
        released.Add();
    });
    {
        std::lock_guard<std::mutex> lock(mutex);
        proxy->Counter.Subscribe(1);
    }
    ASSERT_TRUE(released.WaitFor(1));
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(proxy, nullptr);
}

TEST_F(ComTest, UnsetReceiveHandlerWaitsForRunningHandler) {
    DemoService service("unset");
    service.OfferService();
    Gate entered;
    Gate release;
    std::atomic<bool> finished{false};
    auto proxy = Connect("unset");
    proxy->Counter.SetReceiveHandler([&] {
        entered.Open();
        release.Wait();
        finished = true;
    });
    proxy->Counter.Subscribe(1);
    ASSERT_TRUE(entered.Wait());
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        release.Open();
    });
    proxy->Counter.UnsetReceiveHandler();
    EXPECT_TRUE(finished.load());
    releaser.join();
}

// A proxy that subscribes while the service is being offered meets both the
// offer's and the subscription's hand-out of the current value: it queues the
// value once.
TEST_F(ComTest, SubscriptionDuringTheOfferReceivesTheCurrentValueOnce) {
    for (int round = 0; round < 200; ++round) {
        DemoService service("racing-offer");
        service.Counter.Update(static_cast<uint32_t>(round));
        std::unique_ptr<demo::proxy::DemoProxy> proxy;
        Counter subscribed;
        auto search = demo::proxy::DemoProxy::StartFindService(
            [&](zov::com::ServiceHandleContainer<zov::com::HandleType> handles, zov::com::FindServiceHandle) {
                if (handles.empty() || proxy) {
                    return;
                }
                proxy = std::make_unique<demo::proxy::DemoProxy>(handles.front());
                proxy->Counter.Subscribe(10);
                subscribed.Add();
            },
            "racing-offer");
        service.OfferService();
        ASSERT_TRUE(subscribed.WaitFor(1));
        ASSERT_TRUE(zov::com::testing::WaitForBindingIdle());
        std::size_t samples = proxy->Counter.GetNewSamples([](ara::com::SamplePtr<const uint32_t>) {});
        ASSERT_EQ(samples, 1u) << "round " << round;
        demo::proxy::DemoProxy::StopFindService(search);
        proxy.reset();
    }
}

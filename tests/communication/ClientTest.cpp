#include "communication/Client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/Runtime.h"
#include "platform/services/zov/dm/diagnosticconversation/DiagnosticConversation_proxy.h"
#include "tests/communication/ConversationSkeleton.h"
#include "tests/support/LogCapture.h"

namespace {

using testsupport::ConversationSkeleton;
using testsupport::Level;
using StatusType = zov::dm::types::DiagnosticConversationStatusType;
using BaseProxy = zov::dm::diagnosticconversation::proxy::DiagnosticConversationProxy;

const std::string kInstance = "77";

class TrackedProxy;

// Which handlers live on which proxy; a proxy that goes while a handler of
// its own still lives counts as a violation.
struct Tracker {
    std::mutex mutex;
    std::map<const TrackedProxy*, int> liveHandlers;
    int violations = 0;
    std::vector<std::string> sessionsSeen;

    int Live() {
        std::lock_guard<std::mutex> lock(mutex);
        int total = 0;
        for (const auto& entry : liveHandlers) {
            total += entry.second;
        }
        return total;
    }
    int LiveOn(const TrackedProxy* proxy) {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = liveHandlers.find(proxy);
        return it == liveHandlers.end() ? 0 : it->second;
    }
    int Seen(const std::string& session) {
        std::lock_guard<std::mutex> lock(mutex);
        int count = 0;
        for (const auto& s : sessionsSeen) {
            count += s == session ? 1 : 0;
        }
        return count;
    }
};

Tracker* g_tracker = nullptr;

class TrackedProxy : public BaseProxy {
public:
    explicit TrackedProxy(const HandleType& handle) : BaseProxy(handle) {}
    ~TrackedProxy() override {
        std::lock_guard<std::mutex> lock(g_tracker->mutex);
        if (g_tracker->liveHandlers[this] != 0) {
            ++g_tracker->violations;
        }
        g_tracker->liveHandlers.erase(this);
    }
};

// Like the system's field handlers: a non-owning pointer into its proxy.
class StatusHandler : public Handler {
public:
    explicit StatusHandler(TrackedProxy* proxy) : m_proxy(proxy) {
        {
            std::lock_guard<std::mutex> lock(g_tracker->mutex);
            ++g_tracker->liveHandlers[m_proxy];
        }
        m_proxy->Status.SetReceiveHandler([this] {
            m_proxy->Status.GetNewSamples([](ara::com::SamplePtr<const StatusType> sample) {
                std::lock_guard<std::mutex> lock(g_tracker->mutex);
                g_tracker->sessionsSeen.push_back(sample->diagnosticSession);
            });
        });
    }
    ~StatusHandler() override {
        m_proxy->Status.Unsubscribe();
        m_proxy->Status.UnsetReceiveHandler();
        std::lock_guard<std::mutex> lock(g_tracker->mutex);
        --g_tracker->liveHandlers[m_proxy];
    }
    void Subscribe() override { m_proxy->Status.Subscribe(1); }
    void Unsubscribe() override { m_proxy->Status.Unsubscribe(); }

private:
    TrackedProxy* m_proxy;
};

class StatusClient : public Client<TrackedProxy> {
public:
    StatusClient() : Client<TrackedProxy>(kInstance) {}
    ~StatusClient() override { Shutdown(); }

    using Client<TrackedProxy>::HandlerCount;

protected:
    void Initialize() override {
        auto proxy = GetProxy();
        if (!proxy) {
            throw std::runtime_error("no proxy");
        }
        AddHandler(std::make_shared<StatusHandler>(proxy.get()));
    }
};

// A client that connects with one look-up and never waits for the service.
class OneAttemptClient : public Client<BaseProxy> {
public:
    OneAttemptClient() : Client<BaseProxy>(kInstance) {}
    ~OneAttemptClient() override { Shutdown(); }

protected:
    void Create() override {
        AttemptConnection(
            GetDescription(), [this] { return FindOnce(); }, [this] { return IsConnected(); });
    }
};

class ClientTest : public ::testing::Test {
protected:
    ClientTest() { g_tracker = &tracker; }
    ~ClientTest() override {
        zov::com::testing::ResetRegistry();
        g_tracker = nullptr;
    }

    static std::unique_ptr<ConversationSkeleton> Offer(const std::string& session = "1") {
        auto skeleton = std::make_unique<ConversationSkeleton>(kInstance, StatusType{0, session, "0"});
        skeleton->OfferService();
        return skeleton;
    }

    bool WaitUntil(const std::function<bool()>& condition) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    testsupport::LogCapture capture;
    Tracker tracker;
};

TEST_F(ClientTest, LaunchConnectsSynchronouslyAndShutdownReleasesEverything) {
    auto skeleton = Offer();
    auto client = std::make_unique<StatusClient>();
    ASSERT_TRUE(client->Launch());
    EXPECT_TRUE(client->IsConnected());
    EXPECT_EQ(client->GetDescription(),
              "Client 'zov::dm::diagnosticconversation::DiagnosticConversation', Instance '77', Version '1': ");
    EXPECT_TRUE(capture.Contains(Level::kInfo, "Connection attempt succeeded. Created proxy for service '77'"));
    EXPECT_EQ(tracker.Live(), 1);

    skeleton->Status.Update(StatusType{0, "3", "0"});
    EXPECT_TRUE(WaitUntil([&] { return tracker.Seen("3") == 1; }));

    EXPECT_TRUE(client->Shutdown());
    EXPECT_FALSE(client->IsConnected());
    EXPECT_EQ(tracker.Live(), 0);
    EXPECT_EQ(tracker.violations, 0);
}

TEST_F(ClientTest, LaunchWaitsForAServiceThatAppearsLater) {
    std::unique_ptr<ConversationSkeleton> skeleton;
    std::thread offerer([&] {
        // Offered once the client has looked in vain twice.
        if (WaitUntil([&] { return capture.Count("Connection attempt failed") >= 2u; })) {
            skeleton = Offer();
        }
    });
    StatusClient client;
    client.SetConnectRetryInterval(std::chrono::milliseconds(5));
    EXPECT_TRUE(client.Launch());
    offerer.join();
    EXPECT_TRUE(capture.Contains(Level::kDebug, "Try to connect without timeout, repetition interval is 0.005"));
    EXPECT_TRUE(client.IsConnected());
    EXPECT_TRUE(client.Shutdown());
}

// The Create step of a Launch blocks until the service appears; a Shutdown
// meanwhile ends the Launch (which then undoes itself) instead of waiting for
// the service.
TEST_F(ClientTest, ShutdownDuringALaunchThatWaitsForTheServiceReturns) {
    StatusClient client;  // retries every second: the Shutdown must not wait that out
    std::promise<bool> launched;
    std::thread launcher([&] { launched.set_value(client.Launch()); });
    ASSERT_TRUE(capture.WaitFor("Connection attempt failed", std::chrono::seconds(10)));
    auto shutdown = std::async(std::launch::async, [&] { return client.Shutdown(); });
    const bool returned = shutdown.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    std::unique_ptr<ConversationSkeleton> skeleton;
    if (!returned) {
        skeleton = Offer();  // lets the Launch end, so the case fails instead of hanging
    }
    launcher.join();
    ASSERT_TRUE(returned) << "Shutdown waited for the launch";
    EXPECT_TRUE(shutdown.get());
    EXPECT_FALSE(launched.get_future().get());
    EXPECT_TRUE(capture.Contains(Level::kError, "TryCreate -> Exception: Shutdown requested while connecting"));
    EXPECT_FALSE(client.IsConnected());
}

TEST_F(ClientTest, AsynchronousConnectStartsTheClientWhenTheServiceAppears) {
    StatusClient client;
    client.ConnectAsynchronously();
    EXPECT_TRUE(capture.Contains(Level::kInfo, "Async connect starts for handle '"));
    ASSERT_TRUE(zov::com::testing::WaitForBindingIdle());
    EXPECT_FALSE(client.IsConnected());  // the empty first notification changes nothing

    auto skeleton = Offer("2");
    ASSERT_TRUE(capture.WaitFor("Started "));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "Async connect success for instance id '77'"));
    EXPECT_TRUE(client.IsConnected());
    EXPECT_TRUE(WaitUntil([&] { return tracker.Seen("2") == 1; }));  // current value on subscription
    EXPECT_EQ(tracker.Live(), 1);
}

TEST_F(ClientTest, ServiceComingBackLeavesExactlyOneHandlerOnTheNewProxy) {
    StatusClient client;
    client.ConnectAsynchronously();
    auto skeleton = Offer();
    ASSERT_TRUE(capture.WaitFor("Started "));
    auto firstProxy = client.GetProxy().get();

    skeleton.reset();  // withdrawn: the notification with no handle changes nothing
    ASSERT_TRUE(zov::com::testing::WaitForBindingIdle());
    EXPECT_EQ(client.GetProxy().get(), firstProxy);
    EXPECT_EQ(tracker.Live(), 1);

    skeleton = Offer();
    ASSERT_TRUE(WaitUntil([&] { return capture.Count("Started ") == 2; }));
    auto proxy = client.GetProxy();
    EXPECT_NE(proxy.get(), firstProxy);
    EXPECT_EQ(tracker.Live(), 1);
    EXPECT_EQ(tracker.LiveOn(proxy.get()), 1);
    EXPECT_EQ(client.HandlerCount(), 1u);
    EXPECT_EQ(tracker.violations, 0);
    EXPECT_TRUE(capture.Contains(Level::kInfo, "TryStop"));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "TryUninitialize"));

    skeleton->Status.Update(StatusType{0, "5", "0"});
    ASSERT_TRUE(WaitUntil([&] { return tracker.Seen("5") >= 1; }));
    ASSERT_TRUE(zov::com::testing::WaitForBindingIdle());
    EXPECT_EQ(tracker.Seen("5"), 1);
}

TEST_F(ClientTest, ShutdownWhileTheServiceFlapsLeavesNoHandler) {
    for (int round = 0; round < 5; ++round) {
        auto client = std::make_unique<StatusClient>();
        client->ConnectAsynchronously();
        std::atomic<bool> stop{false};
        std::thread flapper([&] {
            while (!stop.load()) {
                auto skeleton = Offer();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        ASSERT_TRUE(WaitUntil([&] { return capture.Count("Started ") >= 3u; }));
        client->Shutdown();
        const int liveAfterShutdown = tracker.Live();
        stop = true;
        flapper.join();
        EXPECT_EQ(liveAfterShutdown, 0);
        EXPECT_FALSE(client->IsConnected());
        client.reset();
        capture.Clear();
    }
    EXPECT_EQ(tracker.violations, 0);
}

TEST_F(ClientTest, ShutdownOfAClientThatNeverFoundItsServiceSucceeds) {
    StatusClient client;
    client.ConnectAsynchronously();
    EXPECT_TRUE(client.Shutdown());
    EXPECT_TRUE(capture.Contains(Level::kInfo, "Async connect stops for handle '"));
}

TEST_F(ClientTest, OneLookUpConnectsOnlyWhenTheServiceIsOffered) {
    {
        OneAttemptClient client;
        EXPECT_TRUE(client.Launch());
        EXPECT_FALSE(client.IsConnected());
        EXPECT_TRUE(capture.Contains(Level::kWarn, "Connection attempt failed"));
    }
    auto skeleton = Offer();
    OneAttemptClient client;
    EXPECT_TRUE(client.Launch());
    EXPECT_TRUE(client.IsConnected());
    EXPECT_TRUE(client.Shutdown());
    EXPECT_FALSE(client.IsConnected());
}

}  // namespace

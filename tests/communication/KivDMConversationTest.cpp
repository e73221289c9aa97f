#include "KivLibrary/GlobalLibrary/KivDMConversation.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/Runtime.h"
#include "tests/communication/ConversationSkeleton.h"
#include "tests/support/LogCapture.h"

namespace {

using testsupport::ConversationSkeleton;
using testsupport::Level;
using StatusType = zov::dm::types::DiagnosticConversationStatusType;

class CountingConversation : public KivDMConversation {
public:
    void NotifyDiagStatusChanged() override {
        ++notifications;
        KivDMConversation::NotifyDiagStatusChanged();
    }
    std::atomic<int> notifications{0};
};

zov::dm::types::MetaInfoType Meta(const std::string& protocolId) { return {{"ProtocolId", protocolId}}; }

class KivDMConversationTest : public ::testing::Test {
protected:
    void TearDown() override {
        // A handler still at work keeps the conversation alive beyond reset();
        // let it finish while this case's log capture is installed.
        if (auto proxy = conversation->GetProxy()) {
            proxy->Status.UnsetReceiveHandler();
            proxy->Identifier.UnsetReceiveHandler();
        }
        conversation.reset();
        skeleton.reset();
        zov::com::testing::ResetRegistry();
    }

    void Offer(const std::string& instance, StatusType initial) {
        skeleton = std::make_unique<ConversationSkeleton>(instance, initial);
        skeleton->OfferService();
    }

    // Publishes a status and waits until the conversation has processed it;
    // every step uses a security level text of its own to tell them apart.
    void Publish(StatusType status) {
        skeleton->Status.Update(status);
        WaitForLevel(status.diagnosticSecurityLevel);
    }

    void WaitForLevel(const std::string& level) {
        const std::string fragment = "," + level + ") [";
        ASSERT_TRUE(capture.WaitFor(fragment, std::chrono::seconds(10))) << capture.Dump();
    }

    testsupport::LogCapture capture;
    std::unique_ptr<ConversationSkeleton> skeleton;
    std::shared_ptr<CountingConversation> conversation = std::make_shared<CountingConversation>();
};

TEST_F(KivDMConversationTest, ConcurrentFirstRequestsRegisterOnce) {
    Offer("4711", StatusType{0, "1", "0"});
    std::vector<std::thread> requests;
    std::atomic<bool> go{false};
    for (int i = 0; i < 8; ++i) {
        requests.emplace_back([&] {
            while (!go.load()) {
                std::this_thread::yield();
            }
            conversation->registerConversation(Meta("4711"));
        });
    }
    go = true;
    for (auto& request : requests) {
        request.join();
    }
    EXPECT_EQ(capture.Count("registering diagnosticconversation with DM"), 1u);
    EXPECT_EQ(capture.Count("Already registered diagnosticconversation with DM"), 7u);
    EXPECT_EQ(capture.Count("Proxy created for instance ID [4711]"), 1u);
    EXPECT_TRUE(capture.Contains(Level::kInfo, "Subscribing to DiagnosticConversation instance id: 4711"));
    EXPECT_EQ(conversation->GetConversationState().diagnosticSession, "1");
}

TEST_F(KivDMConversationTest, RequestWithoutProtocolIdStaysUnregistered) {
    Offer("4711", StatusType{0, "1", "0"});
    conversation->registerConversation({{"Other", "x"}});
    EXPECT_TRUE(capture.Contains(Level::kInfo, "Subscribing to DiagnosticConversation instance id: invalid"));
    EXPECT_TRUE(capture.Contains(Level::kError, " error while processing the service handle forinstance ID [invalid]"));

    conversation->registerConversation(Meta("4711"));
    EXPECT_EQ(capture.Count("registering diagnosticconversation with DM"), 2u);
    EXPECT_TRUE(capture.Contains("KivDMConversation 4711 updated: "));
}

TEST_F(KivDMConversationTest, OnlyLeavingTheProgrammingSessionNotifies) {
    Offer("4711", StatusType{0, "1", "a"});
    conversation->registerConversation(Meta("4711"));
    WaitForLevel("a");
    Publish(StatusType{0, "2", "b"});
    Publish(StatusType{0, "2", "c"});
    EXPECT_EQ(conversation->notifications.load(), 0);
    Publish(StatusType{0, "3", "d"});
    EXPECT_EQ(conversation->notifications.load(), 1);
    EXPECT_TRUE(capture.Contains(Level::kInfo,
                                 "KivDMConversation 4711 updated: activityStatus(true,true) "
                                 "diagnosticSession(2,3) diagnosticSecurityLevel(c,d) "));

    // Leaving the session does not end the registration.
    conversation->registerConversation(Meta("4711"));
    EXPECT_EQ(capture.Count("Already registered diagnosticconversation with DM"), 1u);
}

TEST_F(KivDMConversationTest, InactiveFirstStatusKeepsTheRegistration) {
    Offer("4711", StatusType{1, "1", "0"});
    conversation->registerConversation(Meta("4711"));
    EXPECT_TRUE(capture.Contains("activityStatus(false,false) diagnosticSession(-,1) diagnosticSecurityLevel(-,0) "));
    EXPECT_FALSE(capture.Contains("unregister diagnosticconversation with DM"));
    EXPECT_EQ(conversation->notifications.load(), 0);
    conversation->registerConversation(Meta("4711"));
    EXPECT_TRUE(capture.Contains("Already registered diagnosticconversation with DM"));
}

TEST_F(KivDMConversationTest, EndedConversationUnregistersNotifiesAndRegistersAnew) {
    Offer("4711", StatusType{0, "2", "a"});
    conversation->registerConversation(Meta("4711"));
    WaitForLevel("a");
    Publish(StatusType{1, "1", "b"});
    EXPECT_TRUE(capture.Contains(Level::kInfo, "unregister diagnosticconversation with DM"));
    EXPECT_GE(conversation->notifications.load(), 1);

    // The next request registers again, here with the manager's next conversation.
    skeleton.reset();
    Offer("4712", StatusType{0, "1", "c"});
    conversation->registerConversation(Meta("4712"));
    EXPECT_EQ(capture.Count("registering diagnosticconversation with DM"), 2u);
    WaitForLevel("c");
    EXPECT_TRUE(capture.Contains("KivDMConversation 4712 updated: "));
    Publish(StatusType{0, "2", "e"});
    EXPECT_EQ(conversation->GetConversationState().diagnosticSession, "2");
}

TEST_F(KivDMConversationTest, SecurityLevelComparesTheParsedLevel) {
    Offer("4711", StatusType{0, "2", "9"});
    conversation->registerConversation(Meta("4711"));
    EXPECT_TRUE(conversation->checkSecurityLevel(9));
    EXPECT_FALSE(conversation->checkSecurityLevel(8));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "KivDMConversation::checkSecurityLevel, current security level: 9"));

    Publish(StatusType{0, "2", " 9a"});
    EXPECT_TRUE(conversation->checkSecurityLevel(9));
    for (const char* unreadable : {"", "a9", "99999999999"}) {
        capture.Clear();
        skeleton->Status.Update(StatusType{0, "2", unreadable});
        ASSERT_TRUE(capture.WaitFor(std::string(",") + unreadable + ") ["));
        EXPECT_FALSE(conversation->checkSecurityLevel(9)) << unreadable;
        EXPECT_TRUE(capture.Contains(Level::kError, "KivDMConversation::checkSecurityLevel could be determined"));
    }
}

TEST_F(KivDMConversationTest, StateReadersRunBesideStatusUpdates) {
    Offer("4711", StatusType{0, "2", "0"});
    conversation->registerConversation(Meta("4711"));
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop.load()) {
            conversation->checkSecurityLevel(9);
            conversation->GetConversationState();
            conversation->registerConversation(Meta("4711"));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // keeps the captured log small
        }
    });
    for (int level = 1; level <= 20; ++level) {
        Publish(StatusType{0, "2", std::to_string(level)});
    }
    stop = true;
    reader.join();
    EXPECT_EQ(conversation->GetConversationState().diagnosticSecurityLevel, "20");
}

TEST_F(KivDMConversationTest, CancelWithoutProxyOnlyLogs) {
    conversation->cancel();
    EXPECT_TRUE(capture.Contains(Level::kError, "KivDMConversation::cancel: proxy invalid!"));
}

TEST_F(KivDMConversationTest, CancelErrorAnswerIsLoggedAndNotThrown) {
    Offer("4711", StatusType{0, "2", "0"});
    conversation->registerConversation(Meta("4711"));
    skeleton->failCancel = true;
    std::thread diagnosticStatus([&] { conversation->cancel(); });
    diagnosticStatus.join();
    EXPECT_EQ(skeleton->cancelCalls.load(), 1);
    EXPECT_TRUE(capture.Contains(Level::kError, "KivDMConversation::cancel: Cancel failed: conversation busy"));

    skeleton.reset();  // gone: the call itself is refused
    EXPECT_NO_THROW(conversation->cancel());
    EXPECT_TRUE(capture.Contains(Level::kError, "Service not available exception"));
}

// The runtime's diagnostic-status thread: wait under DiagStatusMutex, release
// it, then cancel.
TEST_F(KivDMConversationTest, DiagnosticStatusThreadCancelsAfterTheProgrammingSessionEnds) {
    Offer("4711", StatusType{0, "2", "a"});
    skeleton->endOnCancel = true;
    conversation->registerConversation(Meta("4711"));
    WaitForLevel("a");

    bool waiting = false;
    std::thread diagnosticStatus([&] {
        std::unique_lock<std::mutex> lock(DiagStatusMutex);
        waiting = true;
        DiagStatusConditionVariable.wait(lock);
        lock.unlock();
        conversation->cancel();
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(DiagStatusMutex);
            if (waiting) {
                break;  // it holds no mutex now: it is inside the wait
            }
        }
        ASSERT_LT(std::chrono::steady_clock::now(), deadline);
        std::this_thread::yield();
    }

    skeleton->Status.Update(StatusType{0, "3", "b"});
    diagnosticStatus.join();
    EXPECT_EQ(skeleton->cancelCalls.load(), 1);
    EXPECT_TRUE(capture.WaitFor("unregister diagnosticconversation with DM", std::chrono::seconds(10)));
}

}  // namespace

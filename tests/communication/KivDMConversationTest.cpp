#include "KivLibrary/GlobalLibrary/KivDMConversation.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <future>
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

// Holds the status handler that ends the conversation inside its run: once
// before and once after the registration is dropped.
class GatedConversation : public CountingConversation {
public:
    void OnStatusUpdate() override {
        const bool gated = GetConversationState().diagnosticSecurityLevel == "end" && !used.exchange(true);
        if (gated) {
            Pass(beforeReached, beforeRelease);
        }
        CountingConversation::OnStatusUpdate();
        if (gated) {
            Pass(afterReached, afterRelease);
        }
    }

    std::atomic<bool> used{false};
    std::promise<void> beforeReached, beforeRelease, afterReached, afterRelease;

private:
    static void Pass(std::promise<void>& reached, std::promise<void>& release) {
        reached.set_value();
        release.get_future().wait();
    }
};

// Holds the status handler that ends the conversation when it looks up the
// proxy to withdraw the subscriptions.
class ProxyGatedConversation : public KivDMConversation {
public:
    void OnStatusUpdate() override {
        // Armed by the test: before the first status answer the stored state
        // reads inactive, and an early identifier notification must not take
        // the gate.
        const bool ending = armed.load() && GetConversationState().activityStatus != 0 && !used.exchange(true);
        inEndingUpdate = ending;
        KivDMConversation::OnStatusUpdate();
        inEndingUpdate = false;
    }

    std::shared_ptr<Proxy> GetProxy() const override {
        if (inEndingUpdate) {
            inEndingUpdate = false;
            reached.set_value();
            release.get_future().wait();
        }
        return KivDMConversation::GetProxy();
    }

    std::atomic<bool> armed{false};
    std::atomic<bool> used{false};
    mutable std::promise<void> reached, release;
    static thread_local bool inEndingUpdate;
};
thread_local bool ProxyGatedConversation::inEndingUpdate = false;

// Also holds the request that registers the next conversation once it has
// registered, before its status read: its look at the proxy then finds it
// subscribed, unlike the look before the subscription.
class RegistrationGatedConversation : public GatedConversation {
public:
    bool IsValid(const std::shared_ptr<Proxy>& proxy) const override {
        if (registering && proxy && proxy->Status.IsSubscribed()) {
            registering = false;
            readReached.set_value();
            readRelease.get_future().wait();
        }
        return GatedConversation::IsValid(proxy);
    }

    mutable std::promise<void> readReached, readRelease;
    static thread_local bool registering;
};
thread_local bool RegistrationGatedConversation::registering = false;

zov::dm::types::MetaInfoType Meta(const std::string& protocolId) { return {{"ProtocolId", protocolId}}; }

// A handler still at work keeps the conversation alive beyond reset(); let it
// finish while the case's log capture is installed.
void StopHandlers(const KivDMConversation& conversation) {
    if (auto proxy = conversation.GetProxy()) {
        proxy->Status.UnsetReceiveHandler();
        proxy->Identifier.UnsetReceiveHandler();
    }
}

class KivDMConversationTest : public ::testing::Test {
protected:
    void TearDown() override {
        StopHandlers(*conversation);
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
    // The identifier handler may report first, before the status was read.
    EXPECT_TRUE(capture.Contains("activityStatus(false,false) diagnosticSession(-,"));
    EXPECT_TRUE(capture.Contains("activityStatus(false,false) diagnosticSession(") &&
                capture.Contains(",1) diagnosticSecurityLevel("));
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

// The manager changes the status before it forwards the next request; its
// notification may come later or, here, not at all (the handlers are gone).
// The request itself must see what the manager had set when it forwarded it.
TEST_F(KivDMConversationTest, ARequestSeesTheStatusItWasSentInWithoutItsNotification) {
    struct Case {
        const char* name;
        std::vector<StatusType> before;  // the manager's changes since the last request
        bool cancelFirst;                // Velmora cancelled the conversation before them
        const char* session;
        const char* level;
        int notifications;
        std::size_t registrations;  // in total
    };
    const Case cases[] = {
        {"unlocked", {{0, "2", "9"}}, false, "2", "9", 0, 1},
        {"the programming session left and entered again",
         {{1, "1", "0"}, {0, "1", "0"}, {0, "2", "0"}},
         false,
         "2",
         "0",
         1,
         2},
        {"a request right after a cancel", {{0, "1", "0"}}, true, "1", "0", 1, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Offer("4711", StatusType{0, "2", "0"});
        skeleton->endOnCancel = true;
        conversation = std::make_shared<CountingConversation>();
        capture.Clear();
        conversation->registerConversation(Meta("4711"));
        StopHandlers(*conversation);
        if (c.cancelFirst) {
            conversation->cancel();
        }
        for (const StatusType& status : c.before) {
            skeleton->Status.Update(status);
        }

        conversation->registerConversation(Meta("4711"));
        const ConversationState state = conversation->GetConversationState();
        EXPECT_EQ(state.activityStatus, 0);
        EXPECT_EQ(state.diagnosticSession, c.session);
        EXPECT_EQ(state.diagnosticSecurityLevel, c.level);
        EXPECT_EQ(conversation->notifications.load(), c.notifications);
        EXPECT_EQ(capture.Count("registering diagnosticconversation with DM"), c.registrations);
        if (c.registrations == 2) {
            // Registered anew and subscribed: the next change arrives by itself.
            Publish(StatusType{0, "2", "next"});
        }

        StopHandlers(*conversation);
        conversation.reset();
        skeleton.reset();
        zov::com::testing::ResetRegistry();
    }
    conversation = std::make_shared<CountingConversation>();
}

// While the runtime's diagnostic-status thread acts on a notification (it
// aborts the download of the ended session), a request waits for it.
TEST_F(KivDMConversationTest, ARequestWaitsUntilTheStatusChangeIsHandled) {
    Offer("4711", StatusType{0, "2", "a"});
    conversation->registerConversation(Meta("4711"));
    WaitForLevel("a");

    std::promise<void> taken;
    std::promise<void> release;
    std::thread diagnosticStatus([&] {
        const DiagStatusHandlerScope scope;
        {
            std::unique_lock<std::mutex> lock(DiagStatusMutex);
            if (DiagStatusConditionVariable.wait_for(lock, std::chrono::seconds(10),
                                                     [] { return DiagStatusChangesPending != 0; })) {
                DiagStatusHandlerScope::TakeChangesLocked();
            } else {
                ADD_FAILURE() << "the status change was not notified within 10 s";
            }
        }
        taken.set_value();
        if (release.get_future().wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << "not released within 10 s";
        }
        DiagStatusHandlerScope::ChangesHandled();
    });
    skeleton->Status.Update(StatusType{0, "3", "b"});
    // Not an ASSERT: the thread must reach its join below.
    EXPECT_EQ(taken.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);

    auto request = std::async(std::launch::async, [&] { conversation->registerConversation(Meta("4711")); });
    EXPECT_EQ(request.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    release.set_value();
    EXPECT_EQ(request.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    diagnosticStatus.join();
    EXPECT_TRUE(capture.Contains("waiting until the diagnostic status change is handled"));

    // Without a thread that acts on them, nothing is waited for.
    skeleton->Status.Update(StatusType{0, "2", "c"});
    skeleton->Status.Update(StatusType{0, "3", "d"});
    conversation->SetAnswerTimeout(std::chrono::seconds(60));
    auto alone = std::async(std::launch::async, [&] { conversation->registerConversation(Meta("4711")); });
    EXPECT_EQ(alone.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    std::lock_guard<std::mutex> lock(DiagStatusMutex);
    DiagStatusChangesPending = 0;
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

// A manager that stops answering: each wait ends after the answer time-out
// like an error answer, and no handler waits while holding the
// conversation's mutex, so a cancel beside a waiting handler completes.
TEST_F(KivDMConversationTest, ManagerThatStopsAnsweringDelaysButNeverFreezes) {
    Offer("4711", StatusType{0, "2", "a"});
    conversation->registerConversation(Meta("4711"));
    WaitForLevel("a");
    struct Release {
        ConversationSkeleton& skeleton;
        ~Release() { skeleton.StopHolding(StatusType{0, "2", "late"}); }  // unblocks whatever still waits
    } release{*skeleton};
    skeleton->HoldAnswers();

    conversation->SetAnswerTimeout(std::chrono::milliseconds(20));
    auto cancel = std::async(std::launch::async, [&] { conversation->cancel(); });
    ASSERT_EQ(cancel.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(capture.Contains(Level::kError,
                                 "KivDMConversation::cancel: Cancel failed: no answer from the diagnostic manager "
                                 "within 20 ms"));
    skeleton->Status.Update(StatusType{0, "3", "b"});
    // The notification carries the value; only the read after it goes unanswered.
    EXPECT_TRUE(capture.WaitFor(",b) [", std::chrono::seconds(10)));
    EXPECT_TRUE(capture.WaitFor("KivDMConversation::status_changed: no answer from the diagnostic manager within 20 ms",
                                std::chrono::seconds(10)));
    EXPECT_EQ(conversation->GetConversationState().diagnosticSession, "3");

    // A status handler now waits long for its read; a cancel answered
    // meanwhile completes beside it, since the handler holds no mutex while
    // it waits. The read held is the one after the sample: a handler of the
    // registration or of "b" may still be about to read, and the "no answer"
    // above may have been its predecessor's.
    skeleton->AnswerStatusReadsUntil(StatusType{0, "3", "b"}, [this] { return capture.Contains(",c) ["); });
    conversation->SetAnswerTimeout(std::chrono::seconds(60));
    skeleton->Status.Update(StatusType{0, "3", "c"});
    ASSERT_TRUE(capture.WaitFor(",c) [", std::chrono::seconds(10)));  // the sample is taken; the read follows
    auto answered = std::async(std::launch::async, [&] { conversation->cancel(); });
    // Both cancels of this case held, the one given up on above included.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (skeleton->HeldCancels() < 2) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // Counted, not cleared: the held read keeps waiting only while the
    // sample's log stays.
    const std::size_t updates = capture.Count(",c) [");
    const std::size_t failures = capture.Count("Cancel failed");
    skeleton->ReleaseHeldCancels();
    ASSERT_EQ(answered.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_GT(capture.Count(",c) ["), updates) << capture.Dump();  // the cancel's status update
    EXPECT_EQ(capture.Count("Cancel failed"), failures);
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

// A handler that ends the conversation may hold the last reference to the
// replaced proxy; that proxy goes only after the handler has let go of the
// conversation's mutex, since its destruction waits for the proxy's other
// handler, which waits for that mutex.
TEST(KivDMConversationRace, ProxyReplacedDuringAStatusHandlerIsReleasedOutsideTheMutex) {
    testsupport::LogCapture capture;
    auto skeleton = std::make_unique<ConversationSkeleton>("4711", StatusType{0, "2", "a"});
    skeleton->OfferService();
    auto conversation = std::make_shared<GatedConversation>();
    conversation->registerConversation(Meta("4711"));
    ASSERT_TRUE(capture.WaitFor(",a) [", std::chrono::seconds(10)));

    skeleton->Status.Update(StatusType{1, "1", "end"});
    ASSERT_EQ(conversation->beforeReached.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    // The identifier handler of the same proxy now waits for the mutex.
    skeleton->Identifier.Update(zov::dm::types::DiagnosticConversationIdentifierType{0x0E80, 0x1234, 2});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    conversation->beforeRelease.set_value();
    ASSERT_EQ(conversation->afterReached.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);

    // The next request registers while the handler still runs: the old proxy
    // is then referenced by that handler only.
    std::promise<void> registered;
    std::thread request([&] {
        conversation->registerConversation(Meta("4711"));
        registered.set_value();
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (capture.Count("Proxy created for instance ID [4711]") < 2u) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    conversation->afterRelease.set_value();

    if (registered.get_future().wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        std::fprintf(stderr, "conversation handlers deadlocked\n");
        std::abort();
    }
    request.join();
    EXPECT_EQ(conversation->GetConversationState().activityStatus, 1);

    StopHandlers(*conversation);
    conversation.reset();
    skeleton.reset();
    zov::com::testing::ResetRegistry();
}

// A request that registers the next conversation while the ended one is
// still being withdrawn keeps its own subscriptions.
TEST(KivDMConversationRace, RegistrationBesideAnEndingConversationKeepsItsSubscriptions) {
    testsupport::LogCapture capture;
    auto skeleton = std::make_unique<ConversationSkeleton>("4711", StatusType{0, "2", "a"});
    skeleton->OfferService();
    auto conversation = std::make_shared<ProxyGatedConversation>();
    conversation->registerConversation(Meta("4711"));
    ASSERT_TRUE(capture.WaitFor(",a) [", std::chrono::seconds(10)));

    const void* const ending = conversation->GetProxy().get();
    conversation->armed = true;
    skeleton->Status.Update(StatusType{1, "1", "b"});
    ASSERT_EQ(conversation->reached.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    std::thread request([&] { conversation->registerConversation(Meta("4711")); });
    // The request catches up with the status first, so it follows the ending
    // handler and then registers anew.
    conversation->release.set_value();
    request.join();
    const auto next = conversation->GetProxy();
    EXPECT_NE(next.get(), ending);
    EXPECT_TRUE(next->Status.IsSubscribed() && next->Identifier.IsSubscribed());
    ASSERT_TRUE(capture.WaitFor("unregister diagnosticconversation with DM", std::chrono::seconds(10)));
    conversation->registerConversation(Meta("4711"));  // registers now unless the request above did

    // Two changes: a handler that was already under way may pick up one.
    for (const char* level : {"c", "d"}) {
        skeleton->Status.Update(StatusType{0, "2", level});
        EXPECT_TRUE(capture.WaitFor(std::string(",") + level + ") [", std::chrono::seconds(10))) << level;
    }

    StopHandlers(*conversation);
    conversation.reset();
    skeleton.reset();
    zov::com::testing::ResetRegistry();
}

// A request whose catch-up ends the conversation runs in the next one only
// after that one's registration has read its status, also when another
// request registered it meanwhile.
TEST(KivDMConversationRace, ARequestWhoseCatchUpEndedTheConversationWaitsForTheNextRegistration) {
    testsupport::LogCapture capture;
    auto skeleton = std::make_unique<ConversationSkeleton>("4711", StatusType{0, "2", "a"});
    skeleton->OfferService();
    auto conversation = std::make_shared<RegistrationGatedConversation>();
    conversation->registerConversation(Meta("4711"));
    StopHandlers(*conversation);  // the end reaches the request's catch-up only
    skeleton->Status.Update(StatusType{1, "1", "end"});
    conversation->beforeRelease.set_value();

    auto ending = std::async(std::launch::async, [&] { conversation->registerConversation(Meta("4711")); });
    ASSERT_EQ(conversation->afterReached.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    std::thread next([&] {
        RegistrationGatedConversation::registering = true;
        conversation->registerConversation(Meta("4711"));
    });
    ASSERT_EQ(conversation->readReached.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    conversation->afterRelease.set_value();
    EXPECT_EQ(ending.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    conversation->readRelease.set_value();
    next.join();
    ending.get();
    EXPECT_EQ(capture.Count("registering diagnosticconversation with DM"), 2u);
    EXPECT_EQ(capture.Count("Already registered diagnosticconversation with DM"), 1u);

    StopHandlers(*conversation);
    conversation.reset();
    skeleton.reset();
    zov::com::testing::ResetRegistry();
}

}  // namespace

// The DTC services over the real in-process binding, observed from the
// diagnostic manager's side.
#include "KivLibrary/Functional/DTCService.h"

#include "platform/com/Runtime.h"
#include "platform/services/zov/dm/dem/DiagnosticMonitor_skeleton.h"
#include "sim/DiagnosticMonitorRecorder.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using testsupport::Level;
using Action = zov::dm::dem::MonitorActionType;
using Reason = zov::dm::dem::InitMonitorReasonType;

constexpr const char* kMajor = "1472";

class DTCServiceTest : public ::testing::Test {
protected:
    void TearDown() override {
        recorder.reset();
        zov::com::testing::ResetRegistry();
    }

    std::shared_ptr<DTCService> Make(std::function<void()> callback = nullptr) {
        auto dtc = CreateDTCService(kMajor, std::move(callback));
        EXPECT_TRUE(dtc);
        return dtc;
    }

    testsupport::LogCapture capture;
    std::unique_ptr<sim::DiagnosticMonitorRecorder> recorder =
        std::make_unique<sim::DiagnosticMonitorRecorder>(std::vector<std::string>{kMajor});
};

TEST_F(DTCServiceTest, SendsOnlyChangesOrForcedStatesAndForgetsTheLastStateOnRestart) {
    auto dtc = Make();
    ASSERT_TRUE(dtc->Startup());
    ASSERT_TRUE(recorder->WaitForConnected(kMajor));

    struct Step {
        int state;
        unsigned force;
        bool restartFirst;
        bool sent;
        Action action;
    };
    const Step steps[] = {
        {0, 0, false, true, Action::kPassed},       // first report after a start
        {0, 0, false, false, Action::kPassed},      // unchanged
        {0, 1, false, true, Action::kPassed},       // forced
        {0, 0x100, false, false, Action::kPassed},  // only the low byte of forceSet counts
        {1, 0, false, true, Action::kFailed},       // changed
        {1, 0, true, true, Action::kFailed},        // first after a restart, although unchanged
        {7, 0, false, true, Action::kFailed},       // any non-zero state is a failure
    };
    std::size_t expectedCount = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE("state " + std::to_string(step.state) + " force " + std::to_string(step.force));
        if (step.restartFirst) {
            ASSERT_TRUE(dtc->Shutdown());
            uint8_t state = 0xAA;
            EXPECT_FALSE(dtc->GetDTCState(state));
            ASSERT_TRUE(dtc->Startup());
        }
        capture.Clear();
        EXPECT_TRUE(dtc->SetDTCState(step.state, step.force));
        expectedCount += step.sent ? 1 : 0;
        ASSERT_TRUE(recorder->WaitForActionCount(kMajor, expectedCount));
        EXPECT_EQ(recorder->ActionCount(kMajor), expectedCount);
        EXPECT_EQ(recorder->LastAction(kMajor), step.action);
        if (!step.sent) {
            EXPECT_TRUE(capture.Contains(Level::kInfo, "+++++ DTCServiceImpl::SetDTCState DTC_PASSED not sent "));
        }
        uint8_t state = 0xAA;
        EXPECT_TRUE(dtc->GetDTCState(state));
        EXPECT_EQ(state, static_cast<uint8_t>(step.state));
    }
    EXPECT_TRUE(capture.Contains(Level::kInfo,
                                 "+++++ DTCServiceImpl::SetDTCState DTC_STATE_UNKNOWN(7) "
                                 "MonitorActionType = kFailed is sent to DM "));
    ASSERT_TRUE(dtc->Shutdown());
}

TEST_F(DTCServiceTest, LifecycleGuards) {
    auto dtc = Make();
    // Stopped: refused and not remembered.
    EXPECT_FALSE(dtc->SetDTCState(1, 0));
    uint8_t state = 0;
    EXPECT_FALSE(dtc->GetDTCState(state));
    EXPECT_TRUE(capture.Contains(Level::kError,
                                 "+++++ DTCServiceImpl::SetDTCState DTC_FAILED not sent, because "
                                 "Service is not started "));
    EXPECT_TRUE(dtc->Shutdown());
    EXPECT_TRUE(capture.Contains("+++++ DTCServiceImpl::Shutdown() not executed, already stopped "));

    ASSERT_TRUE(dtc->Startup());
    EXPECT_TRUE(dtc->Startup());
    EXPECT_TRUE(capture.Contains("+++++ DTCServiceImpl::Startup() not executed, already started "));
    EXPECT_EQ(capture.Count("+++++ DiagnosticMonitorService::Initialize done ..."), 1u);

    // Dropped while started: the destructor shuts the offer down.
    dtc.reset();
    EXPECT_TRUE(capture.Contains(Level::kError, "+++++ DTCServiceImpl not deactivated ... "));
    EXPECT_TRUE(capture.Contains("Result of shutdown for DTCService: true"));
    EXPECT_TRUE(zov::com::FindService(zov::dm::dem::DiagnosticMonitor::kServiceName, kMajor).empty());
}

// Someone else offers the instance: the start fails, the service counts as
// started, and a state is refused instead of being sent through nothing.
TEST_F(DTCServiceTest, FailedOfferRefusesStatesWithoutCrashing) {
    class Squatter : public zov::dm::dem::skeleton::DiagnosticMonitorSkeleton {
    public:
        Squatter() : DiagnosticMonitorSkeleton(kMajor) { OfferService(); }
        ~Squatter() override {
            StopOfferService();
            StopMethodDispatcher();
        }
        jux::com::Future<void> InitMonitor(Reason) override { return jux::com::MakeReadyFuture(); }
    };
    auto squatter = std::make_unique<Squatter>();
    auto dtc = Make();
    EXPECT_FALSE(dtc->Startup());
    EXPECT_FALSE(dtc->SetDTCState(1, 1));
    uint8_t state = 0;
    EXPECT_FALSE(dtc->GetDTCState(state));
    EXPECT_TRUE(capture.Contains(Level::kError, "because Service is not offered"));
    EXPECT_TRUE(dtc->Startup());  // "already started"
    EXPECT_TRUE(dtc->Shutdown());
}

TEST_F(DTCServiceTest, InitMonitorCallsTheCallbackOnlyForClearAndRestart) {
    std::atomic<int> calls{0};
    auto dtc = Make([&calls] { ++calls; });
    ASSERT_TRUE(dtc->Startup());
    ASSERT_TRUE(recorder->WaitForConnected(kMajor));
    EXPECT_TRUE(
        capture.Contains(Level::kError, "+++++ DMSkeletonAdapter::Set updateDTCcb for 1472 valid Callback is set"));

    const struct {
        uint8_t reason;
        int calls;
        const char* text;
    } cases[] = {
        {2, 0, "+++++ DMSkeletonAdapter::InitMonitor( 2 = kReenabled) is called for 1472"},
        {0, 1, "+++++ DMSkeletonAdapter::InitMonitor( 0 = kClear) is called for 1472"},
        {1, 2, "+++++ DMSkeletonAdapter::InitMonitor( 1 = kRestart) is called for 1472"},
        {3, 2, "+++++ DMSkeletonAdapter::InitMonitor( 3 = kStorageReenabled) is called for 1472"},
        {9, 2, "+++++ DMSkeletonAdapter::InitMonitor( 9 = InitMonitor reason unknown) is called for 1472"},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(recorder->InitMonitor(kMajor, static_cast<Reason>(c.reason)));
        EXPECT_EQ(calls.load(), c.calls) << c.text;
        EXPECT_TRUE(capture.Contains(Level::kError, c.text));
    }
    EXPECT_EQ(capture.Count("+++++ DMSkeletonAdapter::InitMonitor calls updateDTCcb for 1472"), 2u);
    ASSERT_TRUE(dtc->Shutdown());
}

// A callback that reports a state while a Shutdown waits for the running
// InitMonitor must not deadlock.
TEST_F(DTCServiceTest, ConcurrentReportsLifecycleAndCallbacks) {
    std::shared_ptr<DTCService> dtc;
    dtc = Make([&dtc] { dtc->SetDTCState(1, 1); });
    ASSERT_TRUE(dtc->Startup());
    ASSERT_TRUE(recorder->WaitForConnected(kMajor));
    std::atomic<bool> stop{false};
    std::vector<std::thread> reporters;
    for (int t = 0; t < 3; ++t) {
        reporters.emplace_back([&, t] {
            for (int i = 0; !stop; ++i) {
                dtc->SetDTCState((i + t) % 2, 0);
                uint8_t state = 0;
                dtc->GetDTCState(state);
            }
        });
    }
    std::thread initCaller([&] {
        for (int i = 0; i < 50 && !stop; ++i) {
            recorder->InitMonitor(kMajor, Reason::kRestart, std::chrono::milliseconds(200));
        }
    });
    for (int i = 0; i < 20; ++i) {
        dtc->Shutdown();
        dtc->Startup();
    }
    stop = true;
    initCaller.join();
    for (auto& thread : reporters) {
        thread.join();
    }
    EXPECT_TRUE(dtc->Shutdown());
}

}  // namespace

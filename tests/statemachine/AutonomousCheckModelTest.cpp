// The engine driven by the tables of the autonomous integrity check, the one
// model the system runs: decisions, local transitions and the fetch cycle.
#include "tests/statemachine/ModelBuilder.h"

#include <gtest/gtest.h>

#include <deque>

namespace smtest {
namespace {

using sm::kCompletionTrigger;
using sm::kKindExternal;
using sm::kKindJunction;
using sm::kNoState;

class AutonomousCheckModelTest : public ::testing::Test {
protected:
    enum : uint32_t {
        kRequestFinished = 0,
        kRetrievedIvd = 1,
        kRetryRequest = 2,
        kPauseFinished = 3,
        kInitDone = 4,
        kStartFetching = 5
    };
    enum : uint16_t {
        kMain = 0,
        kAutonomousCheck,
        kStartingTimer,
        kIdle,
        kFetchingFromUcm,
        kFetchingForLb,
        kRequesting,
        kHandling,
        kPausing,
        kInit
    };

    AutonomousCheckModelTest() {
        model.Add("Main", kNoState);
        model.Add("AutonomousCheck", kMain);
        model.Add("StartingIVDTimer", kAutonomousCheck);
        model.Add("Idle", kAutonomousCheck);
        model.Add("FetchingIVDFromUCM", kAutonomousCheck);
        model.Add("FetchingIVDForLB", kFetchingFromUcm);
        model.Add("RequestingIVDForLBFromUCM", kFetchingForLb);
        model.Add("HandlingIVDDataForLB", kFetchingForLb);
        model.Add("PausingIVD", kFetchingFromUcm);
        model.Add("AutoCheckInit", kAutonomousCheck);
        model.Initial(kMain, kAutonomousCheck);
        model.Initial(kAutonomousCheck, kInit);
        model.Initial(kFetchingFromUcm, kFetchingForLb);
        model.Initial(kFetchingForLb, kRequesting);

        const auto guard = [this] {
            ++guardCalls;
            if (guardAnswers.empty()) {
                return false;
            }
            const bool answer = guardAnswers.front();
            guardAnswers.pop_front();
            return answer;
        };
        model.On(kAutonomousCheck, kKindJunction, kCompletionTrigger, kMain);
        model.On(kStartingTimer, kKindExternal, kCompletionTrigger, kIdle);
        model.On(kIdle, kKindExternal, kStartFetching, kFetchingFromUcm);
        model.On(kFetchingFromUcm, kKindExternal, kCompletionTrigger, kIdle);
        model.On(kFetchingForLb, kKindJunction, kCompletionTrigger, kFetchingFromUcm, {}, guard);
        model.On(kFetchingForLb, kKindExternal, kCompletionTrigger, kPausing, {}, guard);
        model.On(kRequesting, kKindExternal, kRetrievedIvd, kHandling);
        model.On(kRequesting, kKindExternal, kRetryRequest, kRequesting);
        model.On(kRequesting, kKindJunction, kRequestFinished, kFetchingForLb);
        model.On(kHandling, kKindJunction, kCompletionTrigger, kFetchingForLb);
        model.On(kPausing, kKindExternal, kPauseFinished, kFetchingForLb);
        model.On(kInit, kKindExternal, kInitDone, kStartingTimer);
    }

    // Started, then brought into RequestingIVDForLBFromUCM.
    void StartFetching() {
        machine = model.Build(&logger);
        machine->Start();
        machine->Trigger(kInitDone);
        machine->Trigger(kStartFetching);
        ASSERT_EQ(machine->GetCurrentState(), kRequesting);
        model.Take();
        guardCalls = 0;
    }

    Model model;
    RecordingLogger logger;
    std::unique_ptr<sm::StateMachineImpl> machine;
    std::deque<bool> guardAnswers;
    int guardCalls = 0;
};

TEST_F(AutonomousCheckModelTest, StartRestsInInitAndTheFirstEventsLeadToARequest) {
    machine = model.Build(&logger);
    machine->Start();
    EXPECT_EQ(model.Take(), "+AutonomousCheck +AutoCheckInit");
    EXPECT_EQ(machine->GetCurrentState(), kInit);

    machine->Trigger(kStartFetching);  // not handled outside Idle
    EXPECT_EQ(model.Take(), "");
    machine->Trigger(kInitDone);
    EXPECT_EQ(model.Take(), "-AutoCheckInit +StartingIVDTimer -StartingIVDTimer +Idle");
    machine->Trigger(kInitDone);  // not handled outside AutoCheckInit
    EXPECT_EQ(model.Take(), "");
    machine->Trigger(kStartFetching);
    EXPECT_EQ(model.Take(), "-Idle +FetchingIVDFromUCM +FetchingIVDForLB +RequestingIVDForLBFromUCM");
    EXPECT_TRUE(logger.AtLevel(0).empty());
}

TEST_F(AutonomousCheckModelTest, RetryEventChangesNothing) {
    StartFetching();
    machine->Trigger(kRetryRequest);
    EXPECT_EQ(model.Take(), "");
    EXPECT_EQ(machine->GetCurrentState(), kRequesting);
}

TEST_F(AutonomousCheckModelTest, AnswerWithMoreToFetchRequestsTheNextBlockAtOnce) {
    StartFetching();
    guardAnswers = {false, false};
    machine->Trigger(kRetrievedIvd);
    EXPECT_EQ(model.Take(),
              "-RequestingIVDForLBFromUCM +HandlingIVDDataForLB -HandlingIVDDataForLB +RequestingIVDForLBFromUCM");
    EXPECT_EQ(guardCalls, 2);
    EXPECT_EQ(machine->GetCurrentState(), kRequesting);
}

TEST_F(AutonomousCheckModelTest, SecondGuardCallPausesAndThePauseEndLeadsToANewRequest) {
    StartFetching();
    guardAnswers = {false, true};
    machine->Trigger(kRetrievedIvd);
    EXPECT_EQ(model.Take(),
              "-RequestingIVDForLBFromUCM +HandlingIVDDataForLB -HandlingIVDDataForLB -FetchingIVDForLB +PausingIVD");
    EXPECT_EQ(machine->GetCurrentState(), kPausing);

    machine->Trigger(kPauseFinished);
    EXPECT_EQ(model.Take(), "-PausingIVD +FetchingIVDForLB +RequestingIVDForLBFromUCM");
}

TEST_F(AutonomousCheckModelTest, FinishedFetchingLeavesFetchingOnceAndRestsInIdle) {
    StartFetching();
    guardAnswers = {true};
    machine->Trigger(kRequestFinished);
    EXPECT_EQ(model.Take(), "-RequestingIVDForLBFromUCM -FetchingIVDForLB -FetchingIVDFromUCM +Idle");
    EXPECT_EQ(guardCalls, 1);
    EXPECT_EQ(machine->GetCurrentState(), kIdle);
    EXPECT_TRUE(logger.AtLevel(0).empty());
}

// The request action may report "nothing left" by triggering straight from its entry.
TEST_F(AutonomousCheckModelTest, FinishEventSentFromTheRequestEntryEndsInIdle) {
    bool finishSent = false;
    model.OnEntry(kRequesting, [this, &finishSent] {
        if (!finishSent) {
            finishSent = true;
            guardAnswers = {true};
            machine->Trigger(kRequestFinished);
        }
    });
    machine = model.Build(&logger);
    machine->Start();
    machine->Trigger(kInitDone);
    model.Take();
    machine->Trigger(kStartFetching);
    EXPECT_EQ(model.Take(),
              "-Idle +FetchingIVDFromUCM +FetchingIVDForLB +RequestingIVDForLBFromUCM -RequestingIVDForLBFromUCM "
              "-FetchingIVDForLB -FetchingIVDFromUCM +Idle");
    EXPECT_EQ(machine->GetCurrentState(), kIdle);
}

}  // namespace
}  // namespace smtest

// The autonomous-check machine as the runtime builds it, driven through the
// adapter by a scripted check: which operation each event reaches, how often
// the guard is asked, and what happens while the runtime's slot is empty.
#include "KivLibrary/KivLibrary/AutonomousCheck.h"
#include "KivLibrary/KivLibrary/AutonomousCheckModel.h"
#include "KivLibrary/KivLibrary/StateMachineAdapter.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace {

class QuietLogger : public stelvo::small_sm::Logger {
public:
    void log(int level, const std::string&) override { errors += level == 0 ? 1 : 0; }
    int errors = 0;
};

// Records the machine operations; the guard answers from a script (false when empty).
class ScriptedCheck : public AutonomousCheck {
public:
    bool Stop() override { return true; }
    bool Start() override { return true; }
    bool IsRunning() override { return true; }
    bool AllIvdDataFetched() override {
        ++guardCalls;
        const bool answer = !guard.empty() && guard.front();
        if (!guard.empty()) {
            guard.pop_front();
        }
        return answer;
    }
    void StartIvdTimer() override { calls.push_back("StartIvdTimer"); }
    void FetchingIVDFromUCMFinished() override { calls.push_back("Finished"); }
    void RequestIVDForLB() override { calls.push_back("Request"); }
    void HandleIVDDataForLB() override { calls.push_back("Handle"); }
    void PauseIVD() override { calls.push_back("Pause"); }
    std::function<void()> GetSendEventCallback(unsigned) override { return {}; }
    void SendEventToStateMachine(unsigned) override {}
    bool InvokeTask(std::function<void()>) override { return false; }
    bool StartDelayStartTimer(std::function<void()>, unsigned long) override { return false; }
    bool StartStartTimer(std::function<void()>, unsigned long) override { return false; }
    void CancelAC() override {}
    void CancelACTask() override {}
    void StoreIVDForCluster(SwClusterIntegrity, Clock::time_point) override {}
    void StoreIVDForClusterTask(SwClusterIntegrity, Clock::time_point) override {}
    void CancelCluster(CancelStatusType, std::string) override {}
    void CancelClusterTask(CancelStatusType, std::string) override {}
    void PauseForFastShutdown() override {}
    void ResumeAfterFastShutdown() override {}

    std::deque<bool> guard;
    int guardCalls = 0;
    std::vector<std::string> calls;
};

struct Step {
    uint32_t event;
    std::deque<bool> guard;
    std::vector<std::string> calls;
    uint16_t state;
    int guardCalls;
};

class AutonomousCheckModelWalkTest : public ::testing::Test {
protected:
    void Build() {
        machine = CreateAutonomousCheckModel(&logger, adapter, adapter);
        machine->Start();
    }

    QuietLogger logger;
    std::shared_ptr<AutonomousCheck> slot;
    std::shared_ptr<StateMachineAdapter> adapter = std::make_shared<StateMachineAdapter>(&slot);
    std::shared_ptr<stelvo::small_sm::StateMachine> machine;
};

TEST_F(AutonomousCheckModelWalkTest, WithoutCheckInTheSlotTheMachineStillReachesIdle) {
    Build();
    EXPECT_EQ(machine->GetCurrentState(), ST_AUTO_CHECK_INIT);
    machine->Trigger(EV_AUTOCHECK_INIT_DONE);
    EXPECT_EQ(machine->GetCurrentState(), ST_IDLE);
    // The guard answers false without a check: the fetch cycle requests again.
    machine->Trigger(EV_START_IVD_FETCHING);
    machine->Trigger(EV_RETRIEVED_IVD_FOR_LB);
    EXPECT_EQ(machine->GetCurrentState(), ST_REQUESTING_IVD_FOR_LB_FROM_UCM);
    EXPECT_EQ(logger.errors, 0);
}

TEST_F(AutonomousCheckModelWalkTest, EachEventReachesTheOperationsOfItsStateOnly) {
    auto check = std::make_shared<ScriptedCheck>();
    slot = check;
    Build();
    const std::vector<Step> walk = {
        {EV_START_IVD_FETCHING, {}, {}, ST_AUTO_CHECK_INIT, 0},  // outside Idle
        {EV_AUTOCHECK_INIT_DONE, {}, {"StartIvdTimer"}, ST_IDLE, 0},
        {EV_AUTOCHECK_INIT_DONE, {}, {}, ST_IDLE, 0},  // outside AutoCheckInit
        {EV_RETRIEVED_IVD_FOR_LB, {}, {}, ST_IDLE, 0},
        {EV_START_IVD_FETCHING, {}, {"Request"}, ST_REQUESTING_IVD_FOR_LB_FROM_UCM, 0},
        {EV_RETRY_IVD_REQUEST, {}, {}, ST_REQUESTING_IVD_FOR_LB_FROM_UCM, 0},  // entry not repeated
        {EV_START_IVD_FETCHING, {}, {}, ST_REQUESTING_IVD_FOR_LB_FROM_UCM, 0},
        {EV_IVD_PAUSE_FINISHED, {}, {}, ST_REQUESTING_IVD_FOR_LB_FROM_UCM, 0},
        {EV_RETRIEVED_IVD_FOR_LB, {false, false}, {"Handle", "Request"}, ST_REQUESTING_IVD_FOR_LB_FROM_UCM, 2},
        {EV_RETRIEVED_IVD_FOR_LB, {false, true}, {"Handle", "Pause"}, ST_PAUSING_IVD, 2},
        {EV_RETRIEVED_IVD_FOR_LB, {}, {}, ST_PAUSING_IVD, 0},
        {EV_IVD_PAUSE_FINISHED, {}, {"Request"}, ST_REQUESTING_IVD_FOR_LB_FROM_UCM, 0},
        {EV_IVD_REQUEST_FINISHED, {true}, {"Finished"}, ST_IDLE, 1},
        {EV_IVD_REQUEST_FINISHED, {}, {}, ST_IDLE, 0},
        {EV_START_IVD_FETCHING, {}, {"Request"}, ST_REQUESTING_IVD_FOR_LB_FROM_UCM, 0},
        {EV_RETRIEVED_IVD_FOR_LB, {true}, {"Handle", "Finished"}, ST_IDLE, 1},
    };
    for (size_t i = 0; i < walk.size(); ++i) {
        SCOPED_TRACE("step " + std::to_string(i));
        check->guard = walk[i].guard;
        check->guardCalls = 0;
        check->calls.clear();
        machine->Trigger(walk[i].event);
        EXPECT_EQ(check->calls, walk[i].calls);
        EXPECT_EQ(machine->GetCurrentState(), walk[i].state);
        EXPECT_EQ(check->guardCalls, walk[i].guardCalls);
    }
    EXPECT_EQ(logger.errors, 0);
}

}  // namespace

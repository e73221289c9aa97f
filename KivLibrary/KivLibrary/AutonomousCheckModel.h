// The "Main" state machine that drives the autonomous integrity check and is
// shared with routine 0x029A: its states, events and the two interfaces through
// which the tables reach their guard and entry/exit actions.
//
// Threading: the machine takes no lock. Every trigger must come from the
// worker thread "VLMR_WorkerThread"; other threads post their events through
// AutonomousCheck::SendEventToStateMachine. Guards and actions run on the
// triggering thread.
#ifndef KIVLIBRARY_KIVLIBRARY_AUTONOMOUSCHECKMODEL_H
#define KIVLIBRARY_KIVLIBRARY_AUTONOMOUSCHECKMODEL_H

#include "statemachine/Logger.h"
#include "statemachine/StateMachine.h"

#include <cstdint>
#include <memory>

namespace stelvo::small_sm {

class MainConditions {
public:
    virtual ~MainConditions() = default;
    virtual bool COND_ALL_IVD_DATA_FETCHED() = 0;
};

class MainActions {
public:
    virtual ~MainActions() = default;
    virtual void executeStartingIVDTimerEnter() = 0;
    virtual void executeFetchingIVDFromUCMExit() = 0;
    virtual void executeRequestingIVDForLBFromUCMEnter() = 0;
    virtual void executeHandlingIVDDataForLBEnter() = 0;
    virtual void executePausingIVDEnter() = 0;
};

}  // namespace stelvo::small_sm

// State ids as the engine reports them (GetCurrentState).
enum AutonomousCheckState : uint16_t {
    ST_MAIN = 0,
    ST_AUTONOMOUS_CHECK = 1,
    ST_STARTING_IVD_TIMER = 2,
    ST_IDLE = 3,
    ST_FETCHING_IVD_FROM_UCM = 4,
    ST_FETCHING_IVD_FOR_LB = 5,
    ST_REQUESTING_IVD_FOR_LB_FROM_UCM = 6,
    ST_HANDLING_IVD_DATA_FOR_LB = 7,
    ST_PAUSING_IVD = 8,
    ST_AUTO_CHECK_INIT = 9,
};

enum AutonomousCheckEvent : uint32_t {
    EV_IVD_REQUEST_FINISHED = 0,
    EV_RETRIEVED_IVD_FOR_LB = 1,
    EV_RETRY_IVD_REQUEST = 2,
    EV_IVD_PAUSE_FINISHED = 3,
    EV_AUTOCHECK_INIT_DONE = 4,
    EV_START_IVD_FETCHING = 5,
};

// Builds the machine (not started). The logger is not owned and must outlive
// the machine; conditions and actions are kept alive by it.
std::shared_ptr<stelvo::small_sm::StateMachine> CreateAutonomousCheckModel(
    stelvo::small_sm::Logger* logger, std::shared_ptr<stelvo::small_sm::MainConditions> conditions,
    std::shared_ptr<stelvo::small_sm::MainActions> actions);

#endif

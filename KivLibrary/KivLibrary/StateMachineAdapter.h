// Connects the tables of the autonomous-check state machine to the autonomous
// check. The machine is created before the check, so the adapter reads the
// runtime's slot of the check at each call; while the slot is empty an action
// does nothing and the guard answers false.
//
// Threading: called on the thread that triggers the machine (the worker). When
// the owner of the slot writes it while the machine may run, it passes the
// mutex that guards the slot and the adapter reads the slot under it.
#ifndef KIVLIBRARY_KIVLIBRARY_STATEMACHINEADAPTER_H
#define KIVLIBRARY_KIVLIBRARY_STATEMACHINEADAPTER_H

#include "KivLibrary/KivLibrary/AutonomousCheckModel.h"

#include <memory>
#include <mutex>

class AutonomousCheck;

class StateMachineAdapter : public stelvo::small_sm::MainConditions, public stelvo::small_sm::MainActions {
public:
    explicit StateMachineAdapter(std::shared_ptr<AutonomousCheck>* autonomousCheck, std::mutex* slotMutex = nullptr);

    bool COND_ALL_IVD_DATA_FETCHED() override;
    void executeStartingIVDTimerEnter() override;
    void executeFetchingIVDFromUCMExit() override;
    void executeRequestingIVDForLBFromUCMEnter() override;
    void executeHandlingIVDDataForLBEnter() override;
    void executePausingIVDEnter() override;

private:
    std::shared_ptr<AutonomousCheck> Check() const;
    void CallAction(void (AutonomousCheck::*action)());
    bool CallCondition(bool (AutonomousCheck::*condition)());

    std::shared_ptr<AutonomousCheck>* m_autonomousCheck;
    std::mutex* m_slotMutex;
};

#endif

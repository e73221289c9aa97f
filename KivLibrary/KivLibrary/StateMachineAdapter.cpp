#include "KivLibrary/KivLibrary/StateMachineAdapter.h"

#include "KivLibrary/KivLibrary/AutonomousCheck.h"
#include "KivLibrary/Logger/Logging.h"

StateMachineAdapter::StateMachineAdapter(std::shared_ptr<AutonomousCheck>* autonomousCheck, std::mutex* slotMutex)
    : m_autonomousCheck(autonomousCheck), m_slotMutex(slotMutex) {}

std::shared_ptr<AutonomousCheck> StateMachineAdapter::Check() const {
    if (m_autonomousCheck == nullptr) {
        return nullptr;
    }
    if (m_slotMutex == nullptr) {
        return *m_autonomousCheck;
    }
    std::lock_guard<std::mutex> lock(*m_slotMutex);
    return *m_autonomousCheck;
}

void StateMachineAdapter::CallAction(void (AutonomousCheck::*action)()) {
    const std::shared_ptr<AutonomousCheck> check = Check();
    if (!check) {
        return;
    }
    LogInfo() << "StateMachineAdapter: call action function of AutonomousCheck" << VLMR_FILE_LINE;
    ((*check).*action)();
}

bool StateMachineAdapter::CallCondition(bool (AutonomousCheck::*condition)()) {
    const std::shared_ptr<AutonomousCheck> check = Check();
    if (!check) {
        return false;
    }
    LogInfo() << "StateMachineAdapter: call condition function of AutonomousCheck" << VLMR_FILE_LINE;
    return ((*check).*condition)();
}

bool StateMachineAdapter::COND_ALL_IVD_DATA_FETCHED() { return CallCondition(&AutonomousCheck::AllIvdDataFetched); }
void StateMachineAdapter::executeStartingIVDTimerEnter() { CallAction(&AutonomousCheck::StartIvdTimer); }
void StateMachineAdapter::executeFetchingIVDFromUCMExit() { CallAction(&AutonomousCheck::FetchingIVDFromUCMFinished); }
void StateMachineAdapter::executeRequestingIVDForLBFromUCMEnter() { CallAction(&AutonomousCheck::RequestIVDForLB); }
void StateMachineAdapter::executeHandlingIVDDataForLBEnter() { CallAction(&AutonomousCheck::HandleIVDDataForLB); }
void StateMachineAdapter::executePausingIVDEnter() { CallAction(&AutonomousCheck::PauseIVD); }

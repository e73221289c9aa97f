#include "KivLibrary/KivLibrary/RoutineServicesImpl.h"

#include "KivLibrary/KivLibrary/ServiceKeeper.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/Routines/ProgrammingPreconditionRoutines.h"
#include "KivLibrary/Routines/Routine_Check_update_0xC00E_Impl.h"
#include "KivLibrary/Routines/Routine_Start_update_0xC010_Impl.h"
#include "KivLibrary/Routines/Routine_calculateIntegrityValidationData_0x0253_Impl.h"
#include "KivLibrary/Routines/Routine_checkMemory_0x0202_Impl.h"
#include "KivLibrary/Routines/Routine_checkProgrammingDependencies_0xFF01_Impl.h"

#include <stdexcept>

namespace {

template <typename Routine>
void Offer(Routine& routine) {
    routine.OfferService();
}

template <typename Routine>
void Withdraw(const std::shared_ptr<Routine>& routine, const char* name) {
    routine->StopOfferService();
    if (!routine->StopMethodDispatcher()) {
        KeepWhileProcessLives(routine, name);
    }
}

}  // namespace

RoutineServicesImpl::RoutineServicesImpl(uint8_t mode, const RoutineDependencies& dependencies,
                                         StateMachineSlot& stateMachine, const AutonomousCheckSlot* autonomousCheck,
                                         Routine029ASettings settings029A)
    : m_routineServiceMapping(dependencies.configuration ? dependencies.configuration->routineServiceMapping
                                                         : std::map<std::string, std::string>()),
      m_stateMachine(stateMachine) {
    const auto& mapping = m_routineServiceMapping;
    m_routine0202 = std::make_shared<RoutineService_0202_Impl>(mapping.at("0x0202"), mode, dependencies);
    m_routine0203 = std::make_shared<RoutineService_0203_Impl>(mapping.at("0x0203"), mode, dependencies);
    m_routineC00E = std::make_shared<Routine_c00e_Impl>(mapping.at("0xC00E"), mode, dependencies);
    m_routineC010 = std::make_shared<Routine_c010_Impl>(mapping.at("0xC010"), mode, dependencies);
    m_routineFF00 = std::make_shared<RoutineService_ff00_Impl>(mapping.at("0xFF00"), mode, dependencies);
    m_routineFF01 = std::make_shared<RoutineService_ff01_Impl>(mapping.at("0xFF01"), mode, dependencies);
    m_workerRoutines.push_back(std::make_shared<RoutineService_0253_Impl>(mapping.at("0x0253"), mode, dependencies,
                                                                          Routine0253Hooks::Default()));
    m_workerRoutines.push_back(std::make_shared<RoutineService_029A_Impl>(
        mapping.at("0x029A"), mode, dependencies, m_stateMachine, autonomousCheck, settings029A));
}

// A routine must not be destroyed while a call of it still runs: whatever the
// runtime did not withdraw is withdrawn here, waiting for running calls.
RoutineServicesImpl::~RoutineServicesImpl() {
    if (m_withdrawn) {
        return;  // a second withdrawal would wait for a call given up on once more
    }
    try {
        WithdrawAll();
    } catch (const std::exception& error) {
        LogError() << "RoutineServicesImpl: withdrawing on destruction failed: " << error.what() << VLMR_FILE_LINE;
    }
}

void RoutineServicesImpl::OfferServices() {
    LogInfo() << "RoutineServicesImpl: OfferServices started" << VLMR_FILE_LINE;
    m_withdrawn = false;
    Offer(*m_routine0202);
    Offer(*m_routine0203);
    Offer(*m_routineC00E);
    Offer(*m_routineC010);
    Offer(*m_routineFF00);
    Offer(*m_routineFF01);
    for (const auto& routine : m_workerRoutines) {
        routine->OfferService();
    }
    LogDebug() << "RoutineServicesImpl: OfferServices finished!" << VLMR_FILE_LINE;
}

void RoutineServicesImpl::StopOfferServices() {
    LogInfo() << "RoutineServicesImpl: StopOfferServices started" << VLMR_FILE_LINE;
    WithdrawAll();
    LogDebug() << "RoutineServicesImpl: StopOfferServices finished!" << VLMR_FILE_LINE;
}

void RoutineServicesImpl::WithdrawAll() {
    m_withdrawn = true;
    Withdraw(m_routine0202, "Routine 0x0202");
    Withdraw(m_routine0203, "Routine 0x0203");
    Withdraw(m_routineC00E, "Routine 0xC00E");
    Withdraw(m_routineC010, "Routine 0xC010");
    Withdraw(m_routineFF00, "Routine 0xFF00");
    Withdraw(m_routineFF01, "Routine 0xFF01");
    for (const auto& routine : m_workerRoutines) {
        routine->StopOfferService();
    }
}

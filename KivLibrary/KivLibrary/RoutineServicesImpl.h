// Owner of every routine-control service of the programming session: builds
// each routine under its configured service instance, offers and withdraws
// them in a fixed order. Built, offered and withdrawn by the runtime thread;
// the routines themselves answer in the binding's method threads.
#ifndef KIVLIBRARY_KIVLIBRARY_ROUTINESERVICESIMPL_H
#define KIVLIBRARY_KIVLIBRARY_ROUTINESERVICESIMPL_H

#include "KivLibrary/Routines/RoutineDependencies.h"
#include "KivLibrary/Routines/RoutineService.h"
#include "KivLibrary/Routines/Routine_calculateModuleHashValue_0x029A_Impl.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class RoutineService_0202_Impl;
class RoutineService_0203_Impl;
class Routine_c00e_Impl;
class Routine_c010_Impl;
class RoutineService_ff00_Impl;
class RoutineService_ff01_Impl;
class AutonomousCheck;

namespace stelvo::small_sm {
class StateMachine;
}

class RoutineServicesImpl {
public:
    using StateMachineSlot = std::shared_ptr<stelvo::small_sm::StateMachine>;

    using AutonomousCheckSlot = std::shared_ptr<AutonomousCheck>;

    // A routine id missing from the configured mapping throws
    // std::out_of_range; nothing is offered then. autonomousCheck: the
    // runtime's slot of the check, read by routine 0x029A at each Start.
    RoutineServicesImpl(uint8_t mode, const RoutineDependencies& dependencies, StateMachineSlot& stateMachine,
                        const AutonomousCheckSlot* autonomousCheck = nullptr,
                        Routine029ASettings settings029A = Routine029ASettings());
    ~RoutineServicesImpl();
    RoutineServicesImpl(const RoutineServicesImpl&) = delete;
    RoutineServicesImpl& operator=(const RoutineServicesImpl&) = delete;

    void OfferServices();
    void StopOfferServices();

private:
    void WithdrawAll();

    std::map<std::string, std::string> m_routineServiceMapping;
    StateMachineSlot& m_stateMachine;
    std::shared_ptr<RoutineService_0202_Impl> m_routine0202;
    std::shared_ptr<RoutineService_0203_Impl> m_routine0203;
    std::shared_ptr<Routine_c00e_Impl> m_routineC00E;
    std::shared_ptr<Routine_c010_Impl> m_routineC010;
    std::shared_ptr<RoutineService_ff00_Impl> m_routineFF00;
    std::shared_ptr<RoutineService_ff01_Impl> m_routineFF01;
    // The worker-thread routines, 0x0253 first, 0x029A second.
    std::vector<std::shared_ptr<RoutineService>> m_workerRoutines;
    // Set by a withdrawal, cleared by an offer.
    bool m_withdrawn = false;
};

#endif

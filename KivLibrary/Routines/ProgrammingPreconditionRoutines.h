// Routine 0x0203 CheckProgrammingPreconditions, routine 0xFF00 EraseMemory and
// the ProgrammingPreCondition service: whether a software download may start
// now (asked by the tester and by platform components), and an erase that UCM
// makes unnecessary. All answer in the calling method thread and only read
// shared state; they take no lock.
#ifndef KIVLIBRARY_ROUTINES_PROGRAMMINGPRECONDITIONROUTINES_H
#define KIVLIBRARY_ROUTINES_PROGRAMMINGPRECONDITIONROUTINES_H

#include "KivLibrary/Routines/PlainRoutine.h"
#include "platform/services/jux/swl/ProgrammingPreCondition_skeleton.h"
#include "platform/services/zenqo/services/diag/r_0203/RoutineService_CheckProgrammingPreconditions_skeleton.h"
#include "platform/services/zenqo/services/diag/r_ff00/RoutineService_EraseMemory_skeleton.h"

class SessionData;
class PersistentDataStorage;

namespace PreconditionsInterface = zenqo::services::diag::r_0203::RoutineService_CheckProgrammingPreconditions;

class RoutineService_0203_Impl
    : public PlainRoutine<
          zenqo::services::diag::r_0203::skeleton::RoutineService_CheckProgrammingPreconditionsSkeleton> {
public:
    RoutineService_0203_Impl(const std::string& instance, uint8_t mode, const RoutineDependencies& dependencies);
    ~RoutineService_0203_Impl() override = default;

    jux::com::Future<PreconditionsInterface::Start::Output> Start(const MetaInfo& metaInfo) override;

private:
    std::shared_ptr<SessionData> m_sessionData;
    std::shared_ptr<UCM::UCMAdaptorInterface> m_ucmAdaptor;
    std::shared_ptr<PersistentDataStorage> m_storage;
};

namespace EraseMemoryInterface = zenqo::services::diag::r_ff00::RoutineService_EraseMemory;

class RoutineService_ff00_Impl
    : public PlainRoutine<zenqo::services::diag::r_ff00::skeleton::RoutineService_EraseMemorySkeleton> {
public:
    RoutineService_ff00_Impl(const std::string& instance, uint8_t mode, const RoutineDependencies& dependencies);
    ~RoutineService_ff00_Impl() override = default;

    jux::com::Future<EraseMemoryInterface::Start::Output> Start(const MetaInfo& metaInfo, uint8_t first,
                                                                uint8_t second) override;

private:
    std::shared_ptr<SessionData> m_sessionData;
    std::shared_ptr<UCM::UCMAdaptorInterface> m_ucmAdaptor;
    std::shared_ptr<PersistentDataStorage> m_storage;
};

namespace PreConditionInterface = jux::swl::ProgrammingPreCondition;

class Routine_ProgrammingPreCondition_Impl : public jux::swl::skeleton::ProgrammingPreConditionSkeleton {
public:
    Routine_ProgrammingPreCondition_Impl(const std::string& instance, uint8_t mode,
                                         std::shared_ptr<SessionData> sessionData);
    ~Routine_ProgrammingPreCondition_Impl() override = default;

    // Allowed only while the RT side allows programming, the update state is
    // IDLE and no fast shutdown is being prepared.
    jux::com::Future<PreConditionInterface::GetPreCondition::Output> GetPreCondition() override;

private:
    std::shared_ptr<SessionData> m_sessionData;
};

#endif

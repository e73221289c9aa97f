#include "KivLibrary/Routines/ProgrammingPreconditionRoutines.h"

#include "KivLibrary/GlobalLibrary/SWupdateStatus.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/GlobalLibrary/SharedMemoryInterface.h"
#include "KivLibrary/Routines/RoutineNrc.h"

using PreconditionsOutput = PreconditionsInterface::Start::Output;

RoutineService_0203_Impl::RoutineService_0203_Impl(const std::string& instance, uint8_t mode,
                                                   const RoutineDependencies& dependencies)
    : PlainRoutine(instance, mode, dependencies, "checkProgrammingPreConditions"),
      m_sessionData(dependencies.sessionData),
      m_ucmAdaptor(dependencies.ucmAdaptor),
      m_storage(dependencies.storage) {}

jux::com::Future<PreconditionsOutput> RoutineService_0203_Impl::Start(const MetaInfo& metaInfo) {
    return Guard<PreconditionsOutput>(
        "Start",
        [&] {
            LogInfo() << "Start checkProgrammingPreConditions" << VLMR_FILE_LINE;
            RegisterConversation(metaInfo);
            const SWupdateState state = m_sessionData ? m_sessionData->GetSWupdateState() : SWupdateState::INVALID;
            if (state != SWupdateState::IDLE) {
                LogInfo() << "checkProgrammingPreConditions not fulfilled: currSWUpdateState = " << toString(state)
                          << VLMR_FILE_LINE;
                return Refuse<PreconditionsOutput>(RoutineNrc::k0203ConditionsNotCorrect);
            }
            if (m_sessionData->Rid029ARunning.load()) {
                LogInfo() << "checkProgrammingPreConditions not fulfilled: CalcModuleHash_029A is running "
                          << VLMR_FILE_LINE;
                return Refuse<PreconditionsOutput>(RoutineNrc::k0203ConditionsNotCorrect);
            }
            // A forwarded integrity request reads the blocks a download would replace.
            if (m_sessionData->Rid0253Running.load()) {
                LogInfo() << "checkProgrammingPreConditions not fulfilled: CalcIntegrityValidationData_0253 is running "
                          << VLMR_FILE_LINE;
                return Refuse<PreconditionsOutput>(RoutineNrc::k0203ConditionsNotCorrect);
            }
            LogDebug() << "Start checkProgrammingPreConditions completed" << VLMR_FILE_LINE;
            return Answer(PreconditionsOutput{});
        },
        [] { return Refuse<PreconditionsOutput>(RoutineNrc::k0203ConditionsNotCorrect); });
}

using EraseOutput = EraseMemoryInterface::Start::Output;

RoutineService_ff00_Impl::RoutineService_ff00_Impl(const std::string& instance, uint8_t mode,
                                                   const RoutineDependencies& dependencies)
    : PlainRoutine(instance, mode, dependencies, "eraseMemory"),
      m_sessionData(dependencies.sessionData),
      m_ucmAdaptor(dependencies.ucmAdaptor),
      m_storage(dependencies.storage) {}

jux::com::Future<EraseOutput> RoutineService_ff00_Impl::Start(const MetaInfo& metaInfo, uint8_t /*first*/,
                                                              uint8_t /*second*/) {
    // UCM manages the memory: there is nothing to erase, and nothing to refuse.
    return Guard<EraseOutput>(
        "Start",
        [&] {
            LogInfo() << "Start eraseMemory" << VLMR_FILE_LINE;
            RegisterConversation(metaInfo);
            EraseOutput output;
            output.routineStatus = 0;
            LogDebug() << "Start eraseMemory completed with routineStatus: "
                       << static_cast<uint32_t>(output.routineStatus) << VLMR_FILE_LINE;
            return Answer(output);
        },
        [] { return Answer(EraseOutput{}); });
}

using PreConditionOutput = PreConditionInterface::GetPreCondition::Output;

Routine_ProgrammingPreCondition_Impl::Routine_ProgrammingPreCondition_Impl(const std::string& instance, uint8_t mode,
                                                                           std::shared_ptr<SessionData> sessionData)
    : ProgrammingPreConditionSkeleton(instance, static_cast<ara::com::MethodCallProcessingMode>(mode)),
      m_sessionData(std::move(sessionData)) {}

jux::com::Future<PreConditionOutput> Routine_ProgrammingPreCondition_Impl::GetPreCondition() {
    LogInfo() << "Check ProgrammingPreCondition" << VLMR_FILE_LINE;
    PreConditionOutput output;
    output.preCondition = PreConditionInterface::GetPreCondition::kNotAllowed;
    try {
        // A missing update-state holder cannot vouch for IDLE: not allowed.
        const std::shared_ptr<SWupdateStatus> status = m_sessionData ? m_sessionData->GetSWupdateStatus() : nullptr;
        const bool allowed =
            SharedMemoryInterface::Instance().ReadSwUpdateFlag(SharedMemoryInterface::kRcarStatusPath) ==
                SharedMemoryInterface::kSwUpdateFlagAllowed &&
            status && status->IsProgrammingAllowed();
        if (allowed) {
            output.preCondition = PreConditionInterface::GetPreCondition::kAllowed;
        }
    } catch (const std::exception& error) {
        LogError() << "Check ProgrammingPreCondition failed: " << error.what() << VLMR_FILE_LINE;
    }
    LogInfo() << (output.preCondition == PreConditionInterface::GetPreCondition::kAllowed
                      ? "ProgrammingPreCondition Allowed"
                      : "ProgrammingPreCondition NotAllowed")
              << VLMR_FILE_LINE;
    LogInfo() << "Check ProgrammingPreCondition completed" << VLMR_FILE_LINE;
    return jux::com::MakeReadyFuture(output);
}

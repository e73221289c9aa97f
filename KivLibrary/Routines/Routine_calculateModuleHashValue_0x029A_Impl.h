// Routine 0x029A calculateModuleHashValue: has the integrity validation data
// of every software cluster fetched afresh by the autonomous check (through
// its state machine) and reports progress and the resulting programming hash.
// It never talks to UCM itself; Stop and Cancel wait (bounded) until the
// check's UCM request and cancel have ended.
//
// Threading: Start, Stop, Cancel and RequestResults (method threads) only post
// tasks to the worker thread "VLMR_WorkerThread", shared with the autonomous
// check, where every decision is taken and the machine is triggered. The
// poll timer's expiry only posts. Members marked "worker" are touched there
// only; the machine and check slots are read there at the moment of use.
#ifndef KIVLIBRARY_ROUTINES_ROUTINE_CALCULATEMODULEHASHVALUE_0X029A_IMPL_H
#define KIVLIBRARY_ROUTINES_ROUTINE_CALCULATEMODULEHASHVALUE_0X029A_IMPL_H

#include "KivLibrary/Routines/RoutineDependencies.h"
#include "KivLibrary/Routines/RoutineService.h"
#include "platform/services/zenqo/services/diag/r_029a/RoutineService_CalculateModuleHashValue_skeleton.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class AutonomousCheck;
namespace stelvo::small_sm {
class StateMachine;
}

// How Stop and Cancel wait for the autonomous check's UCM requests to end.
struct Routine029ASettings {
    std::chrono::milliseconds pollInterval{500};
    uint32_t maxRestarts = 99;  // the wait ends once the counter is above this
};

class RoutineService_029A_Impl
    : public RoutineService,
      public zenqo::services::diag::r_029a::skeleton::RoutineService_CalculateModuleHashValueSkeleton,
      public std::enable_shared_from_this<RoutineService_029A_Impl> {
public:
    using Interface = zenqo::services::diag::r_029a::RoutineService_CalculateModuleHashValue::Start;
    using StartOutput = zenqo::services::diag::r_029a::RoutineService_CalculateModuleHashValue::Start::Output;
    using ResultsOutput =
        zenqo::services::diag::r_029a::RoutineService_CalculateModuleHashValue::RequestResults::Output;
    using MetaInfo = zov::dm::types::MetaInfoType;
    using StateMachineSlot = std::shared_ptr<stelvo::small_sm::StateMachine>;
    using AutonomousCheckSlot = std::shared_ptr<AutonomousCheck>;
    using Clock = std::chrono::steady_clock;

    // autonomousCheck: the runtime's slot of the check; without one (or while
    // it is empty) a Start cannot finish and is answered "not possible".
    RoutineService_029A_Impl(const std::string& instance, uint8_t mode, const RoutineDependencies& dependencies,
                             StateMachineSlot& stateMachine, const AutonomousCheckSlot* autonomousCheck = nullptr,
                             Routine029ASettings settings = Routine029ASettings());
    ~RoutineService_029A_Impl() override;

    void OfferService() override;
    void StopOfferService() override;

    jux::com::Future<void> Cancel(const MetaInfo& metaInfo) override;
    jux::com::Future<void> Stop(const MetaInfo& metaInfo) override;
    jux::com::Future<ResultsOutput> RequestResults(const MetaInfo& metaInfo) override;
    jux::com::Future<StartOutput> Start(const MetaInfo& metaInfo, uint8_t HashType, uint8_t CalculationType) override;

    // One Stop or Cancel waiting for UCM.
    struct StopWait;

private:
    void StartTask(const std::shared_ptr<jux::com::Promise<StartOutput>>& promise, const MetaInfo& metaInfo,
                   uint8_t hashType, uint8_t calculationType);
    bool CheckStartPreconditions(uint8_t hashType, uint8_t calculationType);
    void ResetIvdCaches();
    void StopOrCancelTask(const std::shared_ptr<StopWait>& wait);
    void SendIvdStopEvents(const char* name);
    void RestartStep(const std::shared_ptr<StopWait>& wait);
    void WaitTimeout(const std::shared_ptr<StopWait>& wait);
    void WaitTimeoutTask(const std::shared_ptr<StopWait>& wait);
    void FinishUCMCancel();
    void RequestResultsTask(const std::shared_ptr<jux::com::Promise<ResultsOutput>>& promise);

    // Task id; 0 when not posted.
    uint64_t Post(std::function<void(RoutineService_029A_Impl&)> body);
    void Trigger(uint32_t event);

    RoutineDependencies m_dependencies;
    std::shared_ptr<IWorkerThread> m_workerThread;
    StateMachineSlot& m_stateMachine;
    const AutonomousCheckSlot* m_autonomousCheck;
    const Routine029ASettings m_settings;
    std::shared_ptr<ITimer> m_cancelTimer;

    // Worker.
    std::shared_ptr<StopWait> m_stopWait;
};

#endif

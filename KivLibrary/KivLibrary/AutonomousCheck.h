// The autonomous integrity check: fetches, in the background, the integrity
// validation data of every software cluster from the update manager, one
// logical block at a time, stores it, raises the LogicalBlockCorruption DTCs
// and computes the programming hash. Its guard and actions are those of the
// autonomous-check state machine.
//
// Threading: every decision runs on the worker thread "VLMR_WorkerThread".
// Timer expiries, update-manager answers and calls from other threads
// (CancelAC, SendEventToStateMachine, the fast-shutdown hooks) only post tasks
// there. The machine operations (AllIvdDataFetched ... PauseIVD) and the *Task
// operations must only be called on the worker.
#ifndef KIVLIBRARY_KIVLIBRARY_AUTONOMOUSCHECK_H
#define KIVLIBRARY_KIVLIBRARY_AUTONOMOUSCHECK_H

#include "KivLibrary/Ucm/UcmTypes.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class DTCService;
class ITimer;
class IWorkerThread;
class LoggingBackend;
class PersistentDataStorage;
class SessionData;
class SessionDataAccess;
namespace stelvo::small_sm {
class StateMachine;
}
namespace UCM {
class UCMAdaptorInterface;
}

class AutonomousCheck {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~AutonomousCheck() = default;

    virtual bool Stop() = 0;
    virtual bool Start() = 0;
    virtual bool IsRunning() = 0;
    virtual bool AllIvdDataFetched() = 0;
    virtual void StartIvdTimer() = 0;
    virtual void FetchingIVDFromUCMFinished() = 0;
    virtual void RequestIVDForLB() = 0;
    virtual void HandleIVDDataForLB() = 0;
    virtual void PauseIVD() = 0;
    virtual std::function<void()> GetSendEventCallback(unsigned event) = 0;
    virtual void SendEventToStateMachine(unsigned event) = 0;
    virtual bool InvokeTask(std::function<void()> function) = 0;
    virtual bool StartDelayStartTimer(std::function<void()> function, unsigned long intervalMs) = 0;
    virtual bool StartStartTimer(std::function<void()> function, unsigned long intervalMs) = 0;
    // A software download starts: ends a running integrity request at UCM.
    virtual void CancelAC() = 0;
    virtual void CancelACTask() = 0;
    virtual void StoreIVDForCluster(SwClusterIntegrity integrity, Clock::time_point startTime) = 0;
    virtual void StoreIVDForClusterTask(SwClusterIntegrity integrity, Clock::time_point startTime) = 0;
    virtual void CancelCluster(CancelStatusType status, std::string clusterName) = 0;
    virtual void CancelClusterTask(CancelStatusType status, std::string clusterName) = 0;

    // Fast shutdown announced: the start timer stops and a running pause ends
    // (event 3), so the check comes to rest in Idle. Any thread.
    virtual void PauseForFastShutdown() = 0;
    // Fast shutdown revoked: re-arms the idle start timer with event 5 after
    // the resume time-out. Any thread.
    virtual void ResumeAfterFastShutdown() = 0;
};

// Copied into the check at construction; all shared.
struct AutonomousCheckDependencies {
    std::shared_ptr<ITimer> startTimer;  // "AutonomousCheckStartTimer", one-shot
    std::shared_ptr<ITimer> pauseTimer;  // "AutonomousCheckPauseTimer", one-shot
    std::shared_ptr<DTCService> majorDtc;
    std::shared_ptr<DTCService> minorDtc;
    std::shared_ptr<LoggingBackend> logger;
    std::shared_ptr<IWorkerThread> workerThread;
    std::shared_ptr<stelvo::small_sm::StateMachine> stateMachine;
    std::shared_ptr<PersistentDataStorage> storage;
    std::shared_ptr<UCM::UCMAdaptorInterface> ucm;
    std::shared_ptr<SessionData> sessionData;
};

// Time values that are not in the configuration. The update manager's
// adaptor has no time-out of its own: a request or cancel without an answer
// within its supervision time counts as answered without data.
struct AutonomousCheckSettings {
    std::chrono::milliseconds requestSupervision{10000};
    std::chrono::milliseconds cancelSupervision{5000};
    // A block whose requests were tried more often is given up (once more
    // requested, its IVD cleared).
    uint8_t retriesBeforeGivingUp = 2;
};

std::shared_ptr<AutonomousCheck> MakeAutonomousCheck(const AutonomousCheckDependencies& dependencies,
                                                     const AutonomousCheckSettings& settings = {});

// The wait of the first RequestDownload of a logical block for running
// integrity requests and cancels at UCM to end.
struct IvdRequestWaitSettings {
    std::chrono::milliseconds maxWait{80000};
    std::chrono::milliseconds pollInterval{50};
};

// Returns as soon as no integrity request and no cancel is running, after
// maxWait, or when the process is asked to terminate. Result: the seconds
// waited, rounded up (0 when nothing was running).
uint32_t WaitForIvdRequestsToEnd(SessionDataAccess& session, const IvdRequestWaitSettings& settings = {});

#endif

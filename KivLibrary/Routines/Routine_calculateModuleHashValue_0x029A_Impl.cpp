#include "KivLibrary/Routines/Routine_calculateModuleHashValue_0x029A_Impl.h"

#include "KivLibrary/GlobalLibrary/FastShutDown.h"
#include "KivLibrary/GlobalLibrary/KivDMConversation.h"
#include "KivLibrary/GlobalLibrary/SWupdateState.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Helper/ByteFormat.h"
#include "KivLibrary/KivLibrary/AutonomousCheckModel.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/Routines/RoutineLog.h"
#include "KivLibrary/Routines/RoutineNrc.h"
#include "threading/Timer.h"
#include "threading/WorkerThread.h"

#include <atomic>
#include <exception>
#include <utility>

using routinelog::LogDuration;
using Failed029A = RoutineNrc::Failed029A;

namespace {

constexpr uint8_t kAccepted = 1;
constexpr uint8_t kNotPossible = 2;

template <typename T>
void Settle(const std::shared_ptr<jux::com::Promise<T>>& promise, const std::function<void()>& set) {
    try {
        set();
    } catch (const std::exception& error) {
        LogMhvError() << "answering the promise failed: " << error.what();
    }
    (void)promise;
}

template <typename T>
void Fail(const std::shared_ptr<jux::com::Promise<T>>& promise, const Failed029A& error) {
    Settle(promise, [&] { promise->set_exception(std::make_exception_ptr(error)); });
}

RoutineService_029A_Impl::StartOutput StartAnswer(uint8_t status) {
    RoutineService_029A_Impl::StartOutput output;
    output.Resp_Status = status;
    output.CalculationType = 1;
    output.HashType = 1;
    return output;
}

bool WithoutIvd(const LogicalBlockCache& record) { return !record.IVD_Retrieved; }

}  // namespace

struct RoutineService_029A_Impl::StopWait {
    bool isCancel = false;
    jux::com::Promise<void> promise;
    std::atomic<bool> answered{false};
    Clock::time_point start = Clock::now();
    uint32_t restarts = 0;  // worker

    const char* Name() const { return isCancel ? "Cancel" : "Stop"; }
    void Answer() {
        if (answered.exchange(true)) {
            return;
        }
        try {
            promise.set_value();
        } catch (const std::exception& error) {
            LogMhvError() << "answering the promise failed: " << error.what();
        }
    }
    void Fail(const Failed029A& error) {
        if (answered.exchange(true)) {
            return;
        }
        try {
            promise.set_exception(std::make_exception_ptr(error));
        } catch (const std::exception& failure) {
            LogMhvError() << "answering the promise failed: " << failure.what();
        }
    }
};

RoutineService_029A_Impl::RoutineService_029A_Impl(const std::string& instance, uint8_t mode,
                                                   const RoutineDependencies& dependencies,
                                                   StateMachineSlot& stateMachine,
                                                   const AutonomousCheckSlot* autonomousCheck,
                                                   Routine029ASettings settings)
    : RoutineService_CalculateModuleHashValueSkeleton(instance, static_cast<ara::com::MethodCallProcessingMode>(mode)),
      m_dependencies(dependencies),
      m_workerThread(dependencies.workerThread),
      m_stateMachine(stateMachine),
      m_autonomousCheck(autonomousCheck),
      m_settings(settings),
      m_cancelTimer(dependencies.timer ? dependencies.timer : CreateTimer("Routine029ACancelTimer", 1)) {
    LogMhvInfo() << "Create RoutineService_029A_Impl ...";
    if (!m_workerThread) {
        LogMhvError() << "Create RoutineService_029A_Impl: no WorkerThread available\n";
    }
    LogMhvInfo() << "Created RoutineService_029A_Impl done";
}

RoutineService_029A_Impl::~RoutineService_029A_Impl() {
    LogMhvInfo() << "Delete RoutineService_029A_Impl ...";
    try {
        m_cancelTimer->timer_stop();
    } catch (const std::exception& error) {
        LogMhvError() << "RoutineService_029A_Impl timer_stop failed: " << error.what();
    }
    if (m_workerThread) {
        SafeShutDown(m_workerThread);
    }
    if (m_stopWait) {
        m_stopWait->Answer();
    }
    LogMhvInfo() << "Delete RoutineService_029A_Impl done";
}

void RoutineService_029A_Impl::OfferService() { RoutineService_CalculateModuleHashValueSkeleton::OfferService(); }

void RoutineService_029A_Impl::StopOfferService() {
    RoutineService_CalculateModuleHashValueSkeleton::StopOfferService();
    StopMethodDispatcher();
}

uint64_t RoutineService_029A_Impl::Post(std::function<void(RoutineService_029A_Impl&)> body) {
    const std::shared_ptr<IWorkerThread> worker = m_workerThread;
    if (!worker) {
        return 0;
    }
    std::weak_ptr<RoutineService_029A_Impl> weak = weak_from_this();
    return worker->Invoke([weak, body = std::move(body)] {
        const std::shared_ptr<RoutineService_029A_Impl> self = weak.lock();
        if (!self) {
            return;
        }
        try {
            body(*self);
        } catch (const std::exception& error) {
            LogMhvError() << "RoutineService_029A_Impl task failed: " << error.what();
        } catch (...) {
            LogMhvError() << "RoutineService_029A_Impl task failed: unknown exception";
        }
    });
}

void RoutineService_029A_Impl::Trigger(uint32_t event) {
    if (const StateMachineSlot machine = m_stateMachine) {
        machine->Trigger(event);
    }
}

// ---- methods -----------------------------------------------------------------

jux::com::Future<RoutineService_029A_Impl::StartOutput> RoutineService_029A_Impl::Start(const MetaInfo& metaInfo,
                                                                                        uint8_t HashType,
                                                                                        uint8_t CalculationType) {
    auto promise = std::make_shared<jux::com::Promise<StartOutput>>();
    jux::com::Future<StartOutput> future = promise->get_future();
    try {
        LogMhvInfo() << "Start calculateModuleHashValue: CalculationType = " << static_cast<uint32_t>(CalculationType)
                     << " HashType = " << static_cast<uint32_t>(HashType);
        const uint64_t id = Post([promise, metaInfo, HashType, CalculationType](RoutineService_029A_Impl& self) {
            self.StartTask(promise, metaInfo, HashType, CalculationType);
        });
        if (id != 0) {
            LogMhvInfo() << "Start calculateModuleHashValue Invoke task " << id << " to execute Start";
        } else {
            LogMhvError() << "Could not invoke calculateModuleHashValue start-task!";
            Fail(promise, RoutineNrc::k029AStartGeneralReject);
        }
    } catch (const std::exception& error) {
        LogMhvError() << "Start calculateModuleHashValue failed: " << error.what();
        Fail(promise, RoutineNrc::k029AStartGeneralReject);
    }
    LogMhvInfo() << "Start calculateModuleHashValue completed";
    return future;
}

jux::com::Future<void> RoutineService_029A_Impl::Stop(const MetaInfo& /*metaInfo*/) {
    auto wait = std::make_shared<StopWait>();
    jux::com::Future<void> future = wait->promise.get_future();
    try {
        LogMhvInfo() << "Stop calculateModuleHashValue...";
        const uint64_t id = Post([wait](RoutineService_029A_Impl& self) { self.StopOrCancelTask(wait); });
        if (id != 0) {
            LogMhvInfo() << "Stop calculateModuleHashValue Invoke task " << id << " to execute Stop";
        } else {
            LogMhvError() << "Could not invoke calculateModuleHashValue stop-task!";
            wait->Fail(RoutineNrc::k029AStopConditionsNotCorrect);
        }
    } catch (const std::exception& error) {
        LogMhvError() << "Stop calculateModuleHashValue failed: " << error.what();
        wait->Fail(RoutineNrc::k029AStopConditionsNotCorrect);
    }
    LogMhvInfo() << "Stop calculateModuleHashValue succeeded";
    return future;
}

jux::com::Future<void> RoutineService_029A_Impl::Cancel(const MetaInfo& /*metaInfo*/) {
    auto wait = std::make_shared<StopWait>();
    wait->isCancel = true;
    jux::com::Future<void> future = wait->promise.get_future();
    try {
        LogMhvInfo() << "Cancel calculateModuleHashValue...";
        const uint64_t id = Post([wait](RoutineService_029A_Impl& self) { self.StopOrCancelTask(wait); });
        if (id != 0) {
            LogMhvInfo() << "Cancel calculateModuleHashValue Invoke task " << id << " to execute Cancel";
        } else {
            LogMhvError() << "Could not invoke calculateModuleHashValue cancel-task!";
            wait->Fail(RoutineNrc::k029ACancelConditionsNotCorrect);
        }
    } catch (const std::exception& error) {
        LogMhvError() << "Cancel calculateModuleHashValue failed: " << error.what();
        wait->Fail(RoutineNrc::k029ACancelConditionsNotCorrect);
    }
    LogMhvInfo() << "Cancel calculateModuleHashValue succeeded";
    return future;
}

jux::com::Future<RoutineService_029A_Impl::ResultsOutput> RoutineService_029A_Impl::RequestResults(
    const MetaInfo& /*metaInfo*/) {
    auto promise = std::make_shared<jux::com::Promise<ResultsOutput>>();
    jux::com::Future<ResultsOutput> future = promise->get_future();
    try {
        LogMhvInfo() << "RequestResults calculateModuleHashValue...";
        const uint64_t id = Post([promise](RoutineService_029A_Impl& self) { self.RequestResultsTask(promise); });
        if (id != 0) {
            LogMhvInfo() << "RequestResults calculateModuleHashValue Invoke task " << id
                         << " to execute RequestResults";
        } else {
            LogMhvError() << "Could not invoke calculateModuleHashValue RequestResults-task!";
            Fail(promise, RoutineNrc::k029AResultsConditionsNotCorrect);
        }
    } catch (const std::exception& error) {
        LogMhvError() << "RequestResults calculateModuleHashValue failed: " << error.what();
        Fail(promise, RoutineNrc::k029AResultsConditionsNotCorrect);
    }
    LogMhvInfo() << "RequestResults calculateModuleHashValue succeeded";
    return future;
}

// ---- Start -------------------------------------------------------------------

void RoutineService_029A_Impl::StartTask(const std::shared_ptr<jux::com::Promise<StartOutput>>& promise,
                                         const MetaInfo& metaInfo, uint8_t hashType, uint8_t calculationType) {
    if (m_dependencies.conversation) {
        m_dependencies.conversation->registerConversation(metaInfo);
    } else {
        LogMhvInfo() << "RoutineService:: kivDMConversation NOT FOUND";
    }
    if (calculationType != 1 || hashType != 1) {
        LogMhvError() << "NRC RequestOutOfRange : Start calculateModuleHashValue ERROR CalculationType = "
                      << static_cast<uint32_t>(calculationType)
                      << " (!=1 ?) HashType = " << static_cast<uint32_t>(hashType) << " (!=1 ?)";
        return Fail(promise, RoutineNrc::k029AStartRequestOutOfRange);
    }
    if (!CheckStartPreconditions(hashType, calculationType)) {
        return Fail(promise, RoutineNrc::k029AStartConditionsNotCorrect);
    }
    const auto answer = [&promise](uint8_t status) {
        Settle(promise, [&] { promise->set_value(StartAnswer(status)); });
    };
    if (!m_dependencies.configuration || !m_dependencies.configuration->GetSysfsValidFlag()) {
        LogMhvError() << "Start calculateModuleHashValue programming hash - invalid sysfs";
        return answer(kNotPossible);
    }
    SessionData& session = *m_dependencies.sessionData;
    if (session.Rid029ARunning) {
        LogMhvInfo() << "Start calculateModuleHashValue is already running; nothing to do; continue...";
        return answer(kAccepted);
    }
    // Without the machine or the check nothing would ever finish the run,
    // and the running flag would hold programming off: refuse before any
    // state changes.
    if (!m_stateMachine) {
        LogMhvInfo() << "Start calculateModuleHashValue no State Machine";
        return answer(kNotPossible);
    }
    if (m_autonomousCheck == nullptr || !std::atomic_load(m_autonomousCheck)) {
        LogMhvInfo() << "Start calculateModuleHashValue no Autonomous Check";
        return answer(kNotPossible);
    }
    session.Rid029ARunning = true;
    session.Rid029AResultsReady = false;
    session.Rid029ACancelInProgress = false;
    session.ResetMirrorUpdateFlag(false);
    ResetIvdCaches();
    Trigger(EV_START_IVD_FETCHING);
    answer(kAccepted);
}

bool RoutineService_029A_Impl::CheckStartPreconditions(uint8_t /*hashType*/, uint8_t /*calculationType*/) {
    SessionData& session = *m_dependencies.sessionData;
    if (FastShutDown::IsSet()) {
        LogMhvError() << "NRC ConditionsNotCorrect : Start calculateModuleHashValue ERROR: Prepare FastShutDown "
                         "ongoing";
        return false;
    }
    if (session.Rid0253Running) {
        LogMhvError() << "NRC ConditionsNotCorrect : Start calculateModuleHashValue ERROR "
                         "calculateIntegrityValueData-0253 is running";
        return false;
    }
    if (!session.IsStatusAllowingIVDCheck()) {
        LogMhvError() << "NRC ConditionsNotCorrect : Start calculateModuleHashValue ERROR: SWupdateStatus"
                      << toString(session.GetSWupdateState()) << " is wrong";
        return false;
    }
    if (session.IsUcmCopyInProgress()) {
        LogMhvError() << "NRC ConditionsNotCorrect : Start calculateModuleHashValue ERROR: still in VLMR Startup "
                         "phase";
        return false;
    }
    // The wait of a Stop or Cancel would end this run again once UCM answered.
    if (m_stopWait) {
        LogMhvError() << "NRC ConditionsNotCorrect : Start calculateModuleHashValue ERROR: " << m_stopWait->Name()
                      << " still waits for UCM";
        return false;
    }
    return true;
}

void RoutineService_029A_Impl::ResetIvdCaches() {
    SessionData& session = *m_dependencies.sessionData;
    for (const bool active : {true, false}) {
        bool empty = false;
        session.ReplaceLogistics(active, [&empty](LogicalBlockCacheData& cache) {
            empty = cache.blocks.empty();
            for (LogicalBlockCache& record : cache.blocks) {
                record.IVD_Retrieved = false;
                record.IVD_Retries = 0;
                record.IVD_ACIsValid = false;
                record.IVD_ACIsCorrupt = true;
            }
        });
        if (empty) {
            LogMhvInfo() << (active ? "Start calculateModuleHashValue no Installed LBs"
                                    : "Start calculateModuleHashValue no Mirror LBs");
        }
    }
}

// ---- Stop and Cancel -----------------------------------------------------------

void RoutineService_029A_Impl::StopOrCancelTask(const std::shared_ptr<StopWait>& wait) {
    const std::string name = wait->Name();
    LogMhvInfo() << "Executing RoutineService_029A_Impl::" << name << "Task task in worker thread.";
    if (!m_dependencies.sessionData->Rid029ARunning) {
        LogMhvInfo() << "Executing RoutineService_029A_Impl::" << name
                     << "Task is executed, but no calculateModuleHashValue is running";
        wait->Answer();
        return;
    }
    SendIvdStopEvents(wait->Name());
    wait->start = Clock::now();
    wait->restarts = 0;
    m_stopWait = wait;
    RestartStep(wait);
    LogMhvInfo() << "RoutineService_029A_Impl::" << name
                 << (wait->isCancel ? "Task task in worker thread setup done" : "Task task in worker thread done");
}

void RoutineService_029A_Impl::SendIvdStopEvents(const char* /*name*/) {
    SessionData& session = *m_dependencies.sessionData;
    session.Rid029AResultsReady = false;
    session.Rid029ARunning = false;
    if (!session.GetIvdCancelCluster().empty()) {
        return;  // the check's UCM cancel is already on its way
    }
    LogMhvInfo() << "RID_029A_Cancel/StopTask: Cancel RID 029A MHV is executed";
    session.Rid029AStopRequested = true;
    const StateMachineSlot machine = m_stateMachine;
    const uint16_t state = machine ? machine->GetCurrentState() : 0;
    if (machine && state == ST_REQUESTING_IVD_FOR_LB_FROM_UCM) {
        LogMhvInfo() << "--- RID_029A_Cancel/StopTask: SEND EV_RETRIEVED_IVD_FOR_LB";
        machine->Trigger(EV_RETRIEVED_IVD_FOR_LB);
    } else if (machine && state == ST_PAUSING_IVD) {
        LogMhvInfo() << "--- RID_029A_Cancel/StopTask: SEND EV_IVD_PAUSE_FINISHED";
        machine->Trigger(EV_IVD_PAUSE_FINISHED);
    } else {
        session.Rid029AStopRequested = false;
    }
}

void RoutineService_029A_Impl::RestartStep(const std::shared_ptr<StopWait>& wait) {
    SessionData& session = *m_dependencies.sessionData;
    const bool finished = (session.GetIvdCancelCluster().empty() && session.GetIvdRequestCluster().empty()) ||
                          wait->restarts > m_settings.maxRestarts;
    if (finished) {
        LogDuration(LogMhvInfo(),
                    std::string("RoutineService_029A_Impl::") + wait->Name() +
                        "TimeoutTask Cancel UCM requests for IVD data : ",
                    wait->start);
        m_stopWait.reset();
        FinishUCMCancel();
        wait->Answer();
        return;
    }
    ++wait->restarts;
    std::weak_ptr<RoutineService_029A_Impl> weak = weak_from_this();
    const uint64_t intervalMs = static_cast<uint64_t>(m_settings.pollInterval.count());
    const bool started = m_cancelTimer->timer_start(
        [weak, wait] {
            if (const auto self = weak.lock()) {
                self->WaitTimeout(wait);
            }
        },
        intervalMs);
    if (started) {
        LogMhvInfo() << "calcMHV " << wait->Name() << " supervision timer " << intervalMs << " msec is started";
        return;
    }
    m_stopWait.reset();
    FinishUCMCancel();
    LogMhvInfo() << "calcMHV " << wait->Name() << " timer couldn't be started";
    wait->Answer();
}

void RoutineService_029A_Impl::WaitTimeout(const std::shared_ptr<StopWait>& wait) {
    try {
        const std::string name = wait->Name();
        LogMhvInfo() << "+RoutineService_029A_Impl::" << name << "Timeout";
        const uint64_t id = Post([wait](RoutineService_029A_Impl& self) { self.WaitTimeoutTask(wait); });
        if (id != 0) {
            LogMhvInfo() << name << " calcMHV Invoke task " << id << " to wait on CancelTimeout from UCM";
        } else {
            // No worker any more: the machine cannot be reached either.
            m_dependencies.sessionData->Rid029ARunning = false;
            m_dependencies.sessionData->Rid029ACancelInProgress = false;
            LogMhvError() << "RoutineService_029A_Impl : Could not invoke " << name << "Timeout-task!";
            wait->Fail(wait->isCancel ? RoutineNrc::k029ACancelConditionsNotCorrect
                                      : RoutineNrc::k029AStopConditionsNotCorrect);
        }
        LogMhvInfo() << "-RoutineService_029A_Impl::" << name << "Timeout";
    } catch (const std::exception& error) {
        LogMhvError() << "RoutineService_029A_Impl timer expiry failed: " << error.what();
    }
}

void RoutineService_029A_Impl::WaitTimeoutTask(const std::shared_ptr<StopWait>& wait) {
    if (wait != m_stopWait) {
        LogMhvInfo() << "RoutineService_029A_Impl::" << wait->Name() << "TimeoutTask: wait already ended";
        return;
    }
    RestartStep(wait);
}

void RoutineService_029A_Impl::FinishUCMCancel() {
    SessionData& session = *m_dependencies.sessionData;
    session.Rid029ARunning = false;
    session.Rid029ACancelInProgress = false;
    LogMhvInfo() << "Routine_029A: FinishUCMCancel; Check UCMCancel= " << session.GetIvdCancelCluster()
                 << "; Check UCMRetrieve= " << session.GetIvdRequestCluster();
    if (!session.AutonomousCheckDone) {
        Trigger(EV_AUTOCHECK_INIT_DONE);
    }
}

// ---- RequestResults ------------------------------------------------------------

void RoutineService_029A_Impl::RequestResultsTask(const std::shared_ptr<jux::com::Promise<ResultsOutput>>& promise) {
    SessionData& session = *m_dependencies.sessionData;
    ResultsOutput output;
    output.Resp_Status = 0x01;
    output.Progress = 0x5A;
    output.CalculationType = 0x01;
    output.HashType = 0x01;
    output.IVD_Result = 0x04;
    if (!session.IsStatusAllowingIVDCheck()) {
        LogMhvInfo() << "RequestResults calculateModuleHashValue ERROR: wrong SWupdateStatus"
                     << toString(session.GetSWupdateState());
        session.Rid029AResultsReady = false;
    }
    if (session.Rid029ARunning) {
        uint32_t total = 0;
        uint32_t withoutIvd = 0;
        session.FindCluster(WithoutIvd, true, total, withoutIvd);
        output.Progress =
            (total == 0 || total < withoutIvd) ? 90 : static_cast<uint8_t>((total - withoutIvd) * 90 / total);
        LogMhvInfo() << "RequestResults-29A : ACTIVE Number of all Clusters= " << total
                     << " Remaining NoIVD Clusters= " << withoutIvd
                     << " Progress = " << static_cast<uint32_t>(output.Progress);
        return Settle(promise, [&] { promise->set_value(output); });
    }
    if (session.Rid029AResultsReady) {
        const auto installed = session.CalculateLogicalBlockProgrammingHash(m_dependencies.configuration)
                                   ? session.GetInstalledLogistics()
                                   : nullptr;
        if (installed && installed->programmingHash.size() == 32) {
            LogMhvInfo() << "RequestResults calculateModuleHashValue fill programming hash data";
            output.ProgHashValue = installed->programmingHash;
            output.Resp_Status = 0x24;
            output.Progress = 100;
            output.IVD_Result = 0;
        } else {
            output.Resp_Status = 2;
            output.Progress = 100;
            output.IVD_Result = 1;
        }
        LogMhvInfo() << "calculateModuleHashValue SW_UPDATE_STATE: " << toString(session.GetSWupdateState())
                     << " RequestResults ProgHash IVD_Result= " << static_cast<uint32_t>(output.IVD_Result) << ";"
                     << " Resp_Status = " << static_cast<uint32_t>(output.Resp_Status) << ";"
                     << " Progress = " << static_cast<uint32_t>(output.Progress) << ";"
                     << " ProgHashValue =" << ToHexString(output.ProgHashValue) << ";";
        return Settle(promise, [&] { promise->set_value(output); });
    }
    LogMhvError() << "NRC RequestSequenceError : RequestResults calculateModuleHashValue ERROR: either never "
                     "started or aborted or wrong state";
    Fail(promise, RoutineNrc::k029AResultsSequenceError);
}

#include "KivLibrary/KivLibrary/KivRuntime.h"

#include "KivLibrary/GlobalLibrary/FastShutDown.h"
#include "KivLibrary/GlobalLibrary/KivDMConversation.h"
#include "KivLibrary/GlobalLibrary/SWupdateStatus.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Helper/TerminationFlag.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/Persistency/ObjectLogger.h"
#include "KivLibrary/Persistency/PersistentDataStorage.h"
#include "signature/SignatureVerifier.h"
#include "statemachine/StateMachine.h"
#include "threading/Thread.h"
#include "threading/Timer.h"
#include "threading/WorkerThread.h"

#include <chrono>
#include <utility>

namespace {

std::mutex& GlobalConfigurationMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<KivConfiguration>& GlobalConfigurationSlot() {
    static std::shared_ptr<KivConfiguration> configuration;
    return configuration;
}

int64_t ElapsedMs(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count();
}

// Stores a CurrentStatus notification; reaches the session only through a
// weak reference because the adaptor may outlive the runtime's members.
void StoreCurrentStatus(const std::weak_ptr<SessionData>& weakSession, CurrentStatusType status) {
    if (const std::shared_ptr<SessionData> session = weakSession.lock()) {
        session->SetProgrammingState(status);
        LogInfo() << "CurrentStatusCallback: CurrentStatus event " << session->GetProgrammingStateText()
                  << VLMR_FILE_LINE;
    }
}

}  // namespace

void SetGlobalConfiguration(std::shared_ptr<KivConfiguration> configuration) {
    std::lock_guard<std::mutex> lock(GlobalConfigurationMutex());
    GlobalConfigurationSlot() = std::move(configuration);
}

std::shared_ptr<KivConfiguration> GetGlobalConfiguration() {
    std::lock_guard<std::mutex> lock(GlobalConfigurationMutex());
    return GlobalConfigurationSlot();
}

void VLMR_Logger::log(int level, const std::string& text) {
    if (level == 0) {
        LogError() << text << VLMR_FILE_LINE;
    } else {
        LogInfo() << text << VLMR_FILE_LINE;
    }
}

// The alive and diagnostic-status threads of one run: whatever way run()
// leaves, they are told to stop and joined, so no joinable thread is ever
// destroyed.
class KivRuntime::ThreadGuard {
public:
    explicit ThreadGuard(KivRuntime& runtime) : m_runtime(runtime) {}
    ~ThreadGuard() {
        m_runtime.RequestThreadStop();
        JoinDiagStatus();
        JoinAlive();
    }
    ThreadGuard(const ThreadGuard&) = delete;
    ThreadGuard& operator=(const ThreadGuard&) = delete;

    void StartAlive() {
        m_alive = std::make_unique<Thread>(
            "VLMR_AliveThread", [this] { TryExecute("KivRuntime::alive_loop", [this] { m_runtime.m_aliveLoop(); }); });
    }
    void StartDiagStatus() {
        m_diagStatus = std::make_unique<Thread>("VLMR_DiagStatusThread", [this] {
            TryExecute("KivRuntime::diag_status_changed_proc", [this] { m_runtime.diag_status_changed_proc(); });
        });
    }
    void JoinDiagStatus() {
        if (m_diagStatus) {
            m_diagStatus->Join();
        }
    }
    void JoinAlive() {
        if (m_alive) {
            m_alive->Join();
        }
    }

private:
    KivRuntime& m_runtime;
    std::unique_ptr<Thread> m_alive;
    std::unique_ptr<Thread> m_diagStatus;
};

KivRuntime::KivRuntime(std::shared_ptr<KivConfiguration> configuration, std::shared_ptr<PersistentDataStorage> storage)
    : KivRuntime(std::move(configuration), std::move(storage), ProductionRuntimeDependencies()) {}

KivRuntime::KivRuntime(std::shared_ptr<KivConfiguration> configuration, std::shared_ptr<PersistentDataStorage> storage,
                       KivRuntimeDependencies dependencies)
    : m_dependencies(std::move(dependencies)), m_storage(std::move(storage)) {
    m_context.configuration = configuration;
    m_context.storage = m_storage;
    m_context.autonomousCheckSlot = &m_autonomousCheck;
    m_context.stateMachineSlot = &m_stateMachine;
    m_context.startTimerSlot = &m_startTimer;
    m_context.pauseTimerSlot = &m_pauseTimer;
    m_context.slotMutex = &m_slotMutex;
    m_context.stateMachineLogger = &m_stateMachineLogger;

    m_sessionData = std::make_shared<SessionData>(configuration, m_storage, std::make_shared<SignatureVerifier>());
    m_sessionData->SetTransferLockTimeout(
        m_dependencies.transferLockTimeout
            ? *m_dependencies.transferLockTimeout
            : TransferLockTimeoutFromConfiguration(configuration ? *configuration : KivConfiguration()));
    m_context.sessionData = m_sessionData;

    if (m_dependencies.createUcmAdaptor) {
        const std::string instance = configuration ? configuration->ucmServiceInstanceId : std::string();
        std::weak_ptr<SessionData> session = m_sessionData;
        m_ucmAdaptor = m_dependencies.createUcmAdaptor(
            instance, [session](CurrentStatusType status) { StoreCurrentStatus(session, status); },
            configuration ? *configuration : KivConfiguration());
    } else {
        LogWarn() << "KivRuntime: no UCM adaptor in this build; running without the update manager" << VLMR_FILE_LINE;
    }
    m_context.ucmAdaptor = m_ucmAdaptor;

    m_conversation =
        m_dependencies.createConversation ? m_dependencies.createConversation() : std::make_shared<KivDMConversation>();
    m_context.conversation = m_conversation;

    if (m_dependencies.createWorkerThread) {
        m_workerThread = m_dependencies.createWorkerThread("VLMR_WorkerThread");
    }
    m_context.workerThread = m_workerThread;

    m_routineServices = MakeService("RoutineServices", m_dependencies.createRoutineServices);

    if (m_dependencies.createSelfRepair) {
        m_selfRepair = m_dependencies.createSelfRepair(m_context);
    } else {
        LogWarn() << "KivRuntime: no UCM session self-repair in this build" << VLMR_FILE_LINE;
    }
    m_context.selfRepair = m_selfRepair;

    m_securityAccess = MakeService("SecurityAccess", m_dependencies.createSecurityAccess);
    m_preConditionService = MakeService("ProgrammingPreCondition", m_dependencies.createPreConditionService);

    if (m_dependencies.createEmergencyUpdate) {
        m_emergencyUpdate = m_dependencies.createEmergencyUpdate(m_context);
    } else {
        LogWarn() << "KivRuntime: no emergency update in this build" << VLMR_FILE_LINE;
    }
    m_context.emergencyUpdate = m_emergencyUpdate;

    // The thread bodies run only on threads that run() joins before it returns.
    m_aliveLoop = [this] { alive_loop(); };

    m_majorDtc = MakeDtc("MAJOR", "1472");
    m_minorDtc = MakeDtc("MINOR", "1473");
    m_cleanupErrorDtc = MakeDtc("CLEANUP ERROR", "1456");
    m_context.majorDtc = m_majorDtc;
    m_context.minorDtc = m_minorDtc;
    m_context.cleanupErrorDtc = m_cleanupErrorDtc;

    m_genericUdsService = MakeService("GenericUDSService", m_dependencies.createGenericUdsService);

    m_sessionData->SetSWupdateStatus(std::make_shared<SWupdateStatus>(m_storage));
    SetGlobalConfiguration(configuration);

    if (m_majorDtc) {
        LogInfo() << "CREATED MAJOR DTC = 1472" << VLMR_FILE_LINE;
    }
    if (m_minorDtc) {
        LogInfo() << "CREATED MINOR DTC = 1473" << VLMR_FILE_LINE;
    }
    if (m_cleanupErrorDtc) {
        LogInfo() << "CREATED CLEANUP ERROR DTC = 1456" << VLMR_FILE_LINE;
    }
}

KivRuntime::~KivRuntime() {
    LogDebug() << "SHUTTING DOWN KIV RUNTIME" << VLMR_FILE_LINE;
    // run() withdraws the services on every path; this covers a runtime that
    // was offered by hand and never run.
    if (m_offered) {
        stop_offer_services();
    }
    release_collaborators();
}

void KivRuntime::release_collaborators() {
    if (m_sessionData) {
        m_sessionData->SetSWupdateStatus(nullptr);
    }
    // Timers post to the worker: they stop first, here and not on their own
    // threads.
    for (std::shared_ptr<ITimer>* timer : {&m_startTimer, &m_pauseTimer}) {
        if (*timer) {
            TryExecute("KivRuntime::release_collaborators timer_stop", [timer] { (*timer)->timer_stop(); });
        }
    }
    if (m_workerThread) {
        m_context.workerThread.reset();
        const std::shared_ptr<IWorkerThread> worker = m_workerThread;
        SafeShutDown(m_workerThread);
        // The autonomous check holds the worker too, and a task that comes
        // later (a UCM answer, a supervision time-out) would drive the state
        // machine with this runtime's logger after the runtime is gone.
        worker->Shutdown();
    }
}

OfferedService KivRuntime::MakeService(const char* name, const KivRuntimeDependencies::ServiceFactory& factory) {
    if (!factory) {
        LogWarn() << "KivRuntime: no " << name << " in this build; not offered" << VLMR_FILE_LINE;
        return OfferedService();
    }
    OfferedService service = factory(m_context);
    if (service.name.empty()) {
        service.name = name;
    }
    return service;
}

std::shared_ptr<DTCService> KivRuntime::MakeDtc(const char* label, const std::string& instance) {
    std::shared_ptr<DTCService> dtc;
    if (!m_dependencies.createDtcService) {
        LogWarn() << "KivRuntime: no DTC services in this build; " << label << " DTC not created" << VLMR_FILE_LINE;
        return dtc;
    }
    TryExecute("DTCService::CreateDTCService()",
               [this, &dtc, &instance] { dtc = m_dependencies.createDtcService(instance, std::function<void()>()); });
    return dtc;
}

std::shared_ptr<AutonomousCheck> KivRuntime::AutonomousCheckInSlot() {
    std::lock_guard<std::mutex> lock(m_slotMutex);
    return m_autonomousCheck;
}

bool KivRuntime::StopRequested() const { return m_stopThreads.load() || IsTerminationRequested(); }

void KivRuntime::RequestThreadStop() {
    m_stopThreads.store(true);
    {
        // Under the mutex: a thread between its check and its wait still
        // receives the wake-up.
        std::lock_guard<std::mutex> lock(DiagStatusMutex);
        DiagStatusConditionVariable.notify_all();
    }
    std::lock_guard<std::mutex> lock(m_aliveMutex);
    m_aliveWakeUp.notify_all();
}

bool KivRuntime::run(std::shared_ptr<ApplicationStateReporter> reporter) {
    LogInfo() << "Starting kiv runtime" << VLMR_FILE_LINE;
    // Checked first: without a reporter nothing may be offered.
    if (!reporter) {
        LogError() << "No reporter given" << VLMR_FILE_LINE;
        return false;
    }
    m_stopThreads.store(false);

    // Withdraws the services on every way out of run().
    struct OfferGuard {
        KivRuntime& runtime;
        ~OfferGuard() {
            if (runtime.m_offered) {
                runtime.stop_offer_services();
            }
        }
    } offerGuard{*this};

    if (!init_runtime()) {
        return false;
    }

    std::shared_ptr<ara::stm::ComponentClient> componentClient;
    if (m_dependencies.createComponentClient) {
        std::weak_ptr<KivRuntime> weakSelf = weak_from_this();
        componentClient = m_dependencies.createComponentClient(
            kComponentName,
            [weakSelf](const ara::stm::ComponentClient& client, unsigned int seqNr, const std::string& state) {
                if (const std::shared_ptr<KivRuntime> self = weakSelf.lock()) {
                    self->sn_CallBack(client, seqNr, state);
                }
            });
    }

    const bool running = reporter->ReportRunning();
    LogInfo() << "ApplicationStateReporter running: state " << static_cast<int32_t>(running ? 1 : 0) << VLMR_FILE_LINE;

    ThreadGuard threads(*this);
    threads.StartAlive();
    threads.StartDiagStatus();

    LogInfo() << "CurrentStatus event " << m_sessionData->GetProgrammingStateText() << VLMR_FILE_LINE;
    PrintPersistedLogicalBlocks(m_storage);
    start_ivd_autonomous_check();

    while (!IsTerminationRequested()) {
        SleepForMs(m_dependencies.terminationPollInterval.count());
    }

    const auto stopStart = std::chrono::steady_clock::now();
    RequestThreadStop();
    LogInfo() << "KIV MAIN EXIT" << VLMR_FILE_LINE;
    threads.JoinDiagStatus();

    const bool terminating = reporter->ReportTerminating();
    LogInfo() << "ApplicationStateReporter terminating: state " << static_cast<int32_t>(terminating ? 1 : 0)
              << VLMR_FILE_LINE;
    stop_offer_services();
    threads.JoinAlive();
    componentClient.reset();
    LogDebug() << "KivRuntime: shutdown took " << ElapsedMs(stopStart) << " ms" << VLMR_FILE_LINE;
    LogInfo() << "KivRuntime: run succeeded!" << VLMR_FILE_LINE;
    return true;
}

void KivRuntime::start_offer_services() {
    LogInfo() << "Runtime start offer services" << VLMR_FILE_LINE;
    m_offered = true;
    start_state_machine();
    const auto offer = [](OfferedService& service) {
        if (!service) {
            return;
        }
        const auto started = std::chrono::steady_clock::now();
        const bool ok = TryExecuteBool("Offer " + service.name, service.offer);
        LogInfo() << "Runtime offered " << service.name << (ok ? "" : " (failed)") << " in " << ElapsedMs(started)
                  << " ms" << VLMR_FILE_LINE;
    };
    offer(m_genericUdsService);
    offer(m_securityAccess);
    offer(m_routineServices);
    offer(m_preConditionService);
    const auto startDtc = [](const std::shared_ptr<DTCService>& dtc, const char* label, const char* instance) {
        if (dtc && !TryExecuteBool(std::string("Startup ") + label + " DTC", [&dtc] { return dtc->Startup(); })) {
            LogError() << "CAN NOT START " << label << " DTC = " << instance << VLMR_FILE_LINE;
        }
    };
    startDtc(m_majorDtc, "MAJOR", "1472");
    startDtc(m_minorDtc, "MINOR", "1473");
    startDtc(m_cleanupErrorDtc, "CLEANUP ERROR", "1456");
    offer(m_diagnosticInfoService);
}

void KivRuntime::stop_offer_services() {
    LogInfo() << "Runtime stop offer services" << VLMR_FILE_LINE;
    m_offered = false;
    // Each stop waits for the service's running method calls, so no call is
    // still inside a service when its members are released.
    const auto stop = [](OfferedService& service) {
        if (!service) {
            return;
        }
        const auto started = std::chrono::steady_clock::now();
        TryExecute("Stop offer " + service.name, service.stopOffer);
        LogInfo() << "Runtime withdrew " << service.name << " in " << ElapsedMs(started) << " ms" << VLMR_FILE_LINE;
    };
    stop(m_genericUdsService);
    stop(m_securityAccess);
    stop(m_routineServices);
    stop(m_preConditionService);
    for (const std::shared_ptr<DTCService>& dtc : {m_majorDtc, m_minorDtc, m_cleanupErrorDtc}) {
        if (dtc) {
            TryExecute("DTCService::Shutdown", [&dtc] { dtc->Shutdown(); });
        }
    }
    stop(m_diagnosticInfoService);
}

void KivRuntime::start_state_machine() {
    LogInfo() << "Start state machine" << VLMR_FILE_LINE;
    if (!m_stateMachine) {
        if (!m_dependencies.createStateMachine) {
            LogInfo() << "KivRuntime: no autonomous-check state machine in this build" << VLMR_FILE_LINE;
            return;
        }
        StateMachineParts parts = m_dependencies.createStateMachine(m_context);
        m_stateMachineAdapter = std::move(parts.adapter);
        m_stateMachine = std::move(parts.machine);
    }
    if (m_stateMachine) {
        LogInfo() << "Provide State Machine Services" << VLMR_FILE_LINE;
        m_stateMachine->Start();
    }
}

void KivRuntime::alive_loop() {
    if (!m_dependencies.createAliveReporter) {
        LogWarn() << "KivRuntime: no alive supervision in this build" << VLMR_FILE_LINE;
        return;
    }
    const std::shared_ptr<ApplicationAliveReporter> reporter = m_dependencies.createAliveReporter(kAliveInstance);
    while (!StopRequested()) {
        {
            std::unique_lock<std::mutex> lock(m_aliveMutex);
            if (m_aliveWakeUp.wait_for(lock, m_dependencies.alivePeriod, [this] { return m_stopThreads.load(); })) {
                break;
            }
        }
        if (reporter) {
            reporter->ReportApplicationIsAlive(kAliveSupervisionId, kAliveCheckpoint);
        }
    }
}

void KivRuntime::diag_status_changed_proc() {
    const DiagStatusHandlerScope handler;
    while (!StopRequested()) {
        LogInfo() << "diag_status_changed_proc WAIT for state change" << VLMR_FILE_LINE;
        {
            std::unique_lock<std::mutex> lock(DiagStatusMutex);
            // Bounded so that a termination flag nobody notified is still seen.
            while (DiagStatusChangesPending == 0 && !StopRequested()) {
                DiagStatusConditionVariable.wait_for(lock, m_dependencies.terminationPollInterval);
            }
            if (StopRequested()) {
                break;
            }
            // One cancel serves every notification received so far.
            DiagStatusHandlerScope::TakeChangesLocked();
        }
        // Outside DiagStatusMutex: the conversation takes it while holding
        // its own locks, and the cancel calls into the conversation.
        LogInfo() << "diag_status_changed_proc state change = true" << VLMR_FILE_LINE;
        cancel_sw_download();
        DiagStatusHandlerScope::ChangesHandled();
    }
    LogInfo() << "diag_status_changed_proc EXIT" << VLMR_FILE_LINE;
}

void KivRuntime::cancel_sw_download() {
    // One piece: a RequestDownload waits until the reset is done, so that the
    // reset never overwrites the state of the transfer it opens. Taken by
    // the two calls as well, which go on without it after the bound.
    SessionData::TransferLock transfer = m_sessionData->LockTransfer(m_sessionData->TransferLockTimeout());
    // A download of either kind ends with the conversation, also a dpt
    // transfer in IDLE that UCM never saw.
    m_sessionData->AbortLocalTransfer();
    const std::shared_ptr<SWupdateStatus> status = m_sessionData->GetSWupdateStatus();
    const SWupdateState state = status ? status->GetStatus() : SWupdateState::INVALID;
    LogInfo() << "KivRuntime::cancel_sw_download: SWupdateStatus=" << toString(state) << VLMR_FILE_LINE;
    if (state != SWupdateState::TRANSFER_IN_PROGRESS && state != SWupdateState::INSTALL_IN_PROGRESS) {
        return;
    }
    LogInfo() << "KivRuntime::cancel_sw_download: call GlobalData::ResetProgramming()" << VLMR_FILE_LINE;
    m_sessionData->ResetProgramming(m_ucmAdaptor, m_storage, m_conversation, m_cleanupErrorDtc);
    if (transfer.owns_lock()) {
        transfer.unlock();
    }
    const std::shared_ptr<AutonomousCheck> check = AutonomousCheckInSlot();
    if (m_sessionData->IsStatusAllowingIVDCheck() && !m_sessionData->AutonomousCheckDone && check) {
        LogInfo() << "SessionData::ResetProgramming: do retrigger of AutonomousCheck" << VLMR_FILE_LINE;
        if (m_dependencies.retriggerAutonomousCheck) {
            m_dependencies.retriggerAutonomousCheck(check);
        }
    }
}

void KivRuntime::CurrentStatusCallback(CurrentStatusType status) { StoreCurrentStatus(m_sessionData, status); }

void KivRuntime::sn_CallBack(const ara::stm::ComponentClient& client, unsigned int seqNr, const std::string& state) {
    const bool prepare = state == "kPrepSD";
    if (!prepare && state != "kOn") {
        TryExecute("KivRuntime::sn_CallBack", [&client, seqNr, &state] {
            LogWarn() << "Unknown state_notification ComponentState: \" + " << state
                      << "\", confirm with kInvalid and leave fastshutdown-state untouched!" << VLMR_FILE_LINE;
            client.confirmComponentState(seqNr, state, ara::stm::ComponentClientReturnType::kInvalid);
        });
        return;
    }
    TryExecute("KivRuntime::sn_CallBack", [this, prepare] {
        std::shared_ptr<AutonomousCheck> check;
        std::shared_ptr<ITimer> startTimer;
        {
            std::lock_guard<std::mutex> lock(m_slotMutex);
            check = m_autonomousCheck;
            startTimer = m_startTimer;
        }
        const std::shared_ptr<SWupdateStatus> status = m_sessionData->GetSWupdateStatus();
        if (prepare) {
            // While the storage still accepts writes: the next start must
            // find 10 to roll back an update whose partition did not become
            // active.
            if (status && status->GetStatus() == SWupdateState::INSTALL_COMPLETE) {
                UpdateSwStatus(status, SWupdateState::INSTALL_COMPLETE_PREPARED4SD, "sn_CallBack");
                m_storage->SyncToStorage();
            }
            FastShutDown::Set(true);
            // The check decides on its worker whether a pause has to end;
            // the machine is never triggered from this thread.
            if (check) {
                check->PauseForFastShutdown();
            } else if (startTimer && startTimer->is_running()) {
                startTimer->timer_stop();
            }
            if (m_sessionData->Rid0253Running) {
                LogError() << "Routine calculateIVD (0x0253) is running, when Prepare FastShutDown was received!"
                           << VLMR_FILE_LINE;
            }
            if (m_sessionData->Rid029ARunning) {
                LogError()
                    << "Routine calculateModuleHashValue (0x029A) is running, when Prepare FastShutDown was received!"
                    << VLMR_FILE_LINE;
            }
        } else {
            FastShutDown::Set(false);
            if (status && status->GetStatus() == SWupdateState::INSTALL_COMPLETE_PREPARED4SD) {
                UpdateSwStatus(status, SWupdateState::INSTALL_COMPLETE, "sn_CallBack");
                m_storage->SyncToStorage();
            }
            if (check) {
                check->ResumeAfterFastShutdown();
            }
        }
    });
    // Confirmed even when a step above failed: state management must not
    // wait for an answer.
    TryExecute("KivRuntime::sn_CallBack confirm", [&client, seqNr, &state] {
        client.confirmComponentState(seqNr, state, ara::stm::ComponentClientReturnType::kSuccess);
        LogInfo() << "KIV : callback FastShutDown called; SD= " << (FastShutDown::IsSet() ? "true" : "false")
                  << " seqNr= " << seqNr << VLMR_FILE_LINE;
    });
}

std::shared_ptr<KivRuntime> MakeKivRuntime(std::shared_ptr<KivConfiguration> configuration,
                                           std::shared_ptr<PersistentDataStorage> storage) {
    return std::make_shared<KivRuntime>(std::move(configuration), std::move(storage));
}

std::shared_ptr<KivRuntime> MakeKivRuntime(std::shared_ptr<KivConfiguration> configuration,
                                           std::shared_ptr<PersistentDataStorage> storage,
                                           KivRuntimeDependencies dependencies) {
    return std::make_shared<KivRuntime>(std::move(configuration), std::move(storage), std::move(dependencies));
}

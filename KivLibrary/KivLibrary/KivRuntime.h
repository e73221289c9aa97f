// The root of the process's object graph. The constructor builds every
// service and client; run() performs the start-up, reports the process to the
// platform, runs the alive and diagnostic-status threads and the run loop
// until the termination flag is set, then stops everything in a fixed order.
//
// Threads: the constructor runs on main's thread; run() and the start-up on
// the runtime thread; alive_loop and diag_status_changed_proc on threads that
// run() starts and joins on every exit path; CurrentStatusCallback on a UCM
// binding thread (it only writes SessionData's atomic status byte);
// sn_CallBack on the state-management thread. The autonomous-check and timer
// slots are written on the runtime thread and read by the state-management
// and diagnostic-status threads: all of them under m_slotMutex. Live in a std::shared_ptr
// (MakeKivRuntime): callbacks handed to the platform hold weak references.
#ifndef KIVLIBRARY_KIVLIBRARY_KIVRUNTIME_H
#define KIVLIBRARY_KIVLIBRARY_KIVRUNTIME_H

#include "KivLibrary/GlobalLibrary/SWupdateState.h"
#include "KivLibrary/KivLibrary/ApplicationStateReporter.h"
#include "KivLibrary/KivLibrary/KivRuntimeDependencies.h"
#include "KivLibrary/Persistency/DatabaseTypes.h"
#include "statemachine/Logger.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class LogisticFileHandler;
struct LogicalBlockCacheData;

// The state machine's messages: level 0 as errors, every other as info.
class VLMR_Logger : public stelvo::small_sm::Logger {
public:
    void log(int level, const std::string& text) override;
};

class KivRuntime : public std::enable_shared_from_this<KivRuntime> {
public:
    static constexpr const char* kComponentName = "sn_Velmora";
    static constexpr const char* kAliveInstance = "velmora-container";
    static constexpr uint16_t kAliveSupervisionId = 30001;
    static constexpr uint16_t kAliveCheckpoint = 1;

    // With the production dependencies.
    KivRuntime(std::shared_ptr<KivConfiguration> configuration, std::shared_ptr<PersistentDataStorage> storage);
    KivRuntime(std::shared_ptr<KivConfiguration> configuration, std::shared_ptr<PersistentDataStorage> storage,
               KivRuntimeDependencies dependencies);
    ~KivRuntime();
    KivRuntime(const KivRuntime&) = delete;
    KivRuntime& operator=(const KivRuntime&) = delete;

    // False when no reporter was given or the start-up failed (then nothing
    // was reported and no thread started); true after an orderly shutdown.
    // Exceptions pass to the caller, after the threads were joined and the
    // services withdrawn.
    bool run(std::shared_ptr<ApplicationStateReporter> reporter);

    void start_offer_services();
    void stop_offer_services();
    void start_state_machine();
    void alive_loop();
    void diag_status_changed_proc();
    void cancel_sw_download();
    void CurrentStatusCallback(CurrentStatusType status);
    void sn_CallBack(const ara::stm::ComponentClient& client, unsigned int seqNr, const std::string& state);

    bool init_runtime();
    void run_startup();
    void check_InstallationStatus();
    void init_autonomous_check();
    void evaluate_dtcs();
    void start_ivd_autonomous_check();
    void write_rfs_to_shared_memory();

    // ---- completion of an interrupted update (once per start) -------------
    // Each UCM step is preceded by a synced "in progress" state, so a power
    // cut is finished by the next start; a failed step leaves that state.
    bool finish_update(SWupdateState before);
    bool finish_update_power_failure(SWupdateState state, uint32_t sessionId, bool& ok);
    bool finish_update_update_or_rollback(uint32_t sessionId, const std::string& partition);
    void finish_update_no_update(uint32_t sessionId);
    bool DoCommit(uint32_t sessionId, bool ignoreError);
    bool DoClose(uint32_t sessionId, bool ignoreInvalidSession);
    bool DoRollback(uint32_t sessionId, bool ignoreInvalidSession);
    void update_sw_status(SWupdateState state, const std::string& step);
    // The record copies: each checks every read and leaves its target
    // untouched when a read fails, so an in-progress state can be repeated.
    bool replace_installed_blocks();
    bool remove_updated_data();
    static void replace_rfs_min_version(const std::shared_ptr<LogicalBlockCacheData>& record, LogicalBlocks& blocks);
    bool UpdateProgrammingAttemptsCounter();

    // What the runtime has built (for the components and for tests).
    const KivRuntimeContext& Context() const { return m_context; }

private:
    class ThreadGuard;

    bool continue_interrupted_finish(SWupdateState state, uint32_t sessionId, bool& ok);
    bool continue_commit(SWupdateState state, uint32_t sessionId, bool& ok);
    bool continue_close(SWupdateState state, uint32_t sessionId, bool& ok);
    bool continue_rollback(SWupdateState state, uint32_t sessionId, bool& ok);
    SWupdateState CurrentSwState();
    void import_active_logistics();
    // Applies an emergency installation found at start; false when there was
    // none or it was refused.
    bool start_emergency_update();

    bool StopRequested() const;
    std::shared_ptr<AutonomousCheck> AutonomousCheckInSlot();
    // Makes the alive and diagnostic-status threads leave their loops.
    void RequestThreadStop();
    void release_collaborators();
    OfferedService MakeService(const char* name, const KivRuntimeDependencies::ServiceFactory& factory);
    std::shared_ptr<DTCService> MakeDtc(const char* label, const std::string& instance);

    KivRuntimeDependencies m_dependencies;
    std::shared_ptr<PersistentDataStorage> m_storage;
    std::shared_ptr<AutonomousCheck> m_autonomousCheck;
    std::shared_ptr<SessionData> m_sessionData;
    std::shared_ptr<UCM::UCMAdaptorInterface> m_ucmAdaptor;
    std::shared_ptr<KivDMConversation> m_conversation;
    std::shared_ptr<IWorkerThread> m_workerThread;
    std::shared_ptr<void> m_stateMachineAdapter;
    std::shared_ptr<stelvo::small_sm::StateMachine> m_stateMachine;
    OfferedService m_routineServices;
    std::shared_ptr<UCMSessionSelfRepairInterface> m_selfRepair;
    OfferedService m_securityAccess;
    OfferedService m_preConditionService;
    std::shared_ptr<EmergencyUpdateImpl> m_emergencyUpdate;
    std::function<void()> m_aliveLoop;
    std::shared_ptr<DTCService> m_majorDtc;
    std::shared_ptr<DTCService> m_minorDtc;
    std::shared_ptr<DTCService> m_cleanupErrorDtc;
    VLMR_Logger m_stateMachineLogger;
    std::shared_ptr<ITimer> m_startTimer;
    std::shared_ptr<ITimer> m_pauseTimer;
    std::mutex m_slotMutex;
    OfferedService m_genericUdsService;
    OfferedService m_diagnosticInfoService;
    // The reader of the logistics files, kept from the ACTIVE to the INACTIVE read.
    std::shared_ptr<LogisticFileHandler> m_logistics;

    KivRuntimeContext m_context;
    std::atomic<bool> m_offered{false};
    // Set when run() ends its threads; the diagnostic-status thread reads it
    // under DiagStatusMutex, the alive thread under m_aliveMutex.
    std::atomic<bool> m_stopThreads{false};
    std::mutex m_aliveMutex;
    std::condition_variable m_aliveWakeUp;
};

std::shared_ptr<KivRuntime> MakeKivRuntime(std::shared_ptr<KivConfiguration> configuration,
                                           std::shared_ptr<PersistentDataStorage> storage);
std::shared_ptr<KivRuntime> MakeKivRuntime(std::shared_ptr<KivConfiguration> configuration,
                                           std::shared_ptr<PersistentDataStorage> storage,
                                           KivRuntimeDependencies dependencies);

// The configuration of the running process, for callbacks that reach no
// runtime object. Thread-safe.
void SetGlobalConfiguration(std::shared_ptr<KivConfiguration> configuration);
std::shared_ptr<KivConfiguration> GetGlobalConfiguration();

#endif

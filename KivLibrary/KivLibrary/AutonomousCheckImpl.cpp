#include "KivLibrary/KivLibrary/AutonomousCheckImpl.h"

#include "KivLibrary/Functional/DTCService.h"
#include "KivLibrary/GlobalLibrary/FastShutDown.h"
#include "KivLibrary/GlobalLibrary/LogicalBlockProgrammingHash.h"
#include "KivLibrary/GlobalLibrary/SWupdateState.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Helper/TerminationFlag.h"
#include "KivLibrary/KivLibrary/AutonomousCheckModel.h"
#include "KivLibrary/PartitionHandler/PartitionEnum.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/Persistency/ObjectLogger.h"
#include "KivLibrary/Persistency/PersistentDataStorage.h"
#include "KivLibrary/Ucm/UCMAdaptorInterface.h"
#include "statemachine/StateMachine.h"
#include "threading/Timer.h"
#include "threading/WorkerThread.h"

#include <algorithm>
#include <iterator>
#include <sstream>
#include <thread>
#include <utility>

namespace {

constexpr CancelStatusType kCancelOk = 2;

const char* PartitionName(bool active) { return active ? "ACTIVE" : "MIRROR"; }
const char* TrueFalse(bool value) { return value ? "true" : "false"; }
const char* DoneText(bool done) { return done ? "ACDone" : "ACNotDone"; }

bool WithoutIvd(const LogicalBlockCache& record) { return !record.IVD_Retrieved; }

// A record given up after its retries carries zeros, not an IVD: it must
// not replace what the database holds.
bool ReceivedData(const LogicalBlockCache& record) {
    return record.IVD_Retrieved && (record.IVD_IsValid || record.IVD_IsCorrupt);
}

void GiveUp(LogicalBlockCache& record) {
    record.IVD_Retrieved = true;
    record.IVD_IsValid = false;
    record.IVD_IsCorrupt = false;
    record.IVD.fill(0);
    record.IVD_ACIsValid = false;
    record.IVD_ACIsCorrupt = false;
}

uint64_t OrDefault(uint64_t configured, uint64_t fallback) { return configured != 0 ? configured : fallback; }

std::string ThreadText() {
    std::ostringstream text;
    text << std::this_thread::get_id();
    return text.str();
}

int64_t ElapsedMs(AutonomousCheck::Clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(AutonomousCheck::Clock::now() - since).count();
}

}  // namespace

// Entry and exit trace of the machine operations and tasks.
class ScopeTrace {
public:
    ScopeTrace(LoggingBackend& backend, const char* name) : m_backend(backend), m_name(name) { Write('+'); }
    ~ScopeTrace() { Write('-'); }
    ScopeTrace(const ScopeTrace&) = delete;
    ScopeTrace& operator=(const ScopeTrace&) = delete;

private:
    void Write(char sign) {
        m_backend.Verbose() << std::string(1, sign) + m_name;
        m_backend.Flush();
    }
    LoggingBackend& m_backend;
    const char* m_name;
};

AutonomousCheckImpl::AutonomousCheckImpl(const AutonomousCheckDependencies& dependencies,
                                         const AutonomousCheckSettings& settings)
    : m_deps(dependencies),
      m_settings(settings),
      m_configuration(dependencies.sessionData ? dependencies.sessionData->GetConfiguration() : nullptr) {}

// ---- helpers ----------------------------------------------------------------

LoggingBackend& AutonomousCheckImpl::Backend() const {
    if (m_deps.logger) {
        return *m_deps.logger;
    }
    static MutedLoggingBackend muted;
    return muted;
}

LoggingStream AutonomousCheckImpl::Info() const {
    LoggingStream stream = Backend().Info();
    stream << ThreadText() << " ";
    return stream;
}

LoggingStream AutonomousCheckImpl::Error() const {
    LoggingStream stream = Backend().Error();
    stream << ThreadText() << " ";
    return stream;
}

uint64_t AutonomousCheckImpl::StartTimeoutMs() const {
    return OrDefault(m_configuration ? m_configuration->IVD_AutoCheck_StartTimeout_msec : 0,
                     KivConfiguration::kDefaultAutoCheckStartTimeoutMsec);
}

uint64_t AutonomousCheckImpl::ResumeTimeoutMs() const {
    return OrDefault(m_configuration ? m_configuration->IVD_AutoCheck_ResumeTimeout_msec : 0,
                     KivConfiguration::kDefaultAutoCheckResumeTimeoutMsec);
}

uint64_t AutonomousCheckImpl::DelayTimeoutMs() const {
    return OrDefault(m_configuration ? m_configuration->IVD_AutoCheck_DelayTimeout_msec : 0,
                     KivConfiguration::kDefaultAutoCheckDelayTimeoutMsec);
}

uint16_t AutonomousCheckImpl::CurrentState() const {
    return m_deps.stateMachine ? m_deps.stateMachine->GetCurrentState() : stelvo::small_sm::kNoState;
}

std::string AutonomousCheckImpl::StatusName() const {
    return m_deps.sessionData ? toString(m_deps.sessionData->GetSWupdateState()) : toString(SWupdateState::INVALID);
}

bool AutonomousCheckImpl::IsIdle() const {
    return m_deps.sessionData && m_deps.sessionData->GetSWupdateState() == SWupdateState::IDLE;
}

void AutonomousCheckImpl::TriggerNow(unsigned event) {
    if (m_deps.stateMachine) {
        m_deps.stateMachine->Trigger(event);
    }
}

void AutonomousCheckImpl::StopTimer(const std::shared_ptr<ITimer>& timer) {
    if (timer && timer->is_running()) {
        timer->timer_stop();
    }
}

std::vector<LogicalBlockCache> AutonomousCheckImpl::Snapshot(bool active) const {
    std::vector<LogicalBlockCache> records;
    // The predicate only copies: it runs under the session's logistics lock.
    m_deps.sessionData->FindCluster(
        [&records](const LogicalBlockCache& record) {
            records.push_back(record);
            return false;
        },
        active);
    return records;
}

bool AutonomousCheckImpl::HasEntryWithoutIvd(bool active) const {
    return m_deps.sessionData->FindCluster(WithoutIvd, active);
}

std::function<void()> AutonomousCheckImpl::Guarded(const char* name, std::function<void(AutonomousCheckImpl&)> body) {
    std::weak_ptr<AutonomousCheckImpl> weak = weak_from_this();
    return [weak, name, body = std::move(body)] {
        if (const std::shared_ptr<AutonomousCheckImpl> self = weak.lock()) {
            TryExecute(name, [&] { body(*self); });
        }
    };
}

bool AutonomousCheckImpl::PostDelayed(std::function<void()> function, uint64_t delayMs) {
    if (!m_deps.workerThread || m_deps.workerThread->InvokeDelayed(std::move(function), delayMs) == 0) {
        Error() << "UCM_IVD_Retrieval : Could not invoke task to worker thread!" << VLMR_FILE_LINE;
        return false;
    }
    return true;
}

// ---- lifecycle ----------------------------------------------------------------

bool AutonomousCheckImpl::Stop() {
    ScopeTrace trace(Backend(), "stop");
    Info() << (IsRunning() ? "AutonomousCheck: SM is still running" : "AutonomousCheck: SM is not running")
           << VLMR_FILE_LINE;
    return true;
}

bool AutonomousCheckImpl::Start() {
    ScopeTrace trace(Backend(), "start");
    if (!m_deps.sessionData) {
        Error() << "AutonomousCheckImpl no sessionData available" << VLMR_FILE_LINE;
        return false;
    }
    if (IsRunning()) {
        Info() << "AutonomousCheck: SM is already running" << VLMR_FILE_LINE;
        return true;
    }
    Info() << "AutonomousCheck: SM is started by AC" << VLMR_FILE_LINE;
    // The machine belongs to the worker thread; it is started there too.
    const std::shared_ptr<stelvo::small_sm::StateMachine> machine = m_deps.stateMachine;
    return machine && InvokeTask([machine] {
               if (!machine->IsRunning()) {
                   machine->Start();
               }
           });
}

bool AutonomousCheckImpl::IsRunning() {
    ScopeTrace trace(Backend(), "IsRunning");
    return m_deps.stateMachine && m_deps.stateMachine->IsRunning();
}

// ---- events, tasks and timers -------------------------------------------------

std::function<void()> AutonomousCheckImpl::GetSendEventCallback(unsigned event) {
    std::weak_ptr<AutonomousCheckImpl> weak = weak_from_this();
    return [weak, event] {
        if (const std::shared_ptr<AutonomousCheckImpl> self = weak.lock()) {
            self->SendEventToStateMachine(event);
        }
    };
}

void AutonomousCheckImpl::SendEventToStateMachine(unsigned event) {
    Info() << "UCM_IVD_Retrieval : SEND EVENT = " << static_cast<uint32_t>(event) << VLMR_FILE_LINE;
    std::weak_ptr<AutonomousCheckImpl> weak = weak_from_this();
    InvokeTask([weak, event] {
        if (const std::shared_ptr<AutonomousCheckImpl> self = weak.lock()) {
            self->TriggerNow(event);
        }
    });
}

bool AutonomousCheckImpl::InvokeTask(std::function<void()> function) {
    if (!m_deps.workerThread) {
        Error() << "UCM_IVD_Retrieval : Could not invoke task, because no worker thread available!" << VLMR_FILE_LINE;
        return false;
    }
    const uint64_t id =
        m_deps.workerThread->Invoke([function = std::move(function)] { TryExecute("AutonomousCheck task", function); });
    if (id == 0) {
        Error() << "UCM_IVD_Retrieval : Could not invoke task to worker thread!" << VLMR_FILE_LINE;
        return false;
    }
    Info() << "UCM_IVD_Retrieval : Invoked task " << id << " to worker thread" << VLMR_FILE_LINE;
    return true;
}

bool AutonomousCheckImpl::StartDelayStartTimer(std::function<void()> function, unsigned long intervalMs) {
    const uint64_t interval = intervalMs;
    if (m_deps.pauseTimer && m_deps.pauseTimer->timer_start(std::move(function), intervalMs)) {
        Info() << "UCM_IVD_Retrieval : Started AC Delay Start timer for " << interval << "msec" << VLMR_FILE_LINE;
        return true;
    }
    Error() << "UCM_IVD_Retrieval : Could not start AC Delay Start timer for " << interval << "msec!" << VLMR_FILE_LINE;
    return false;
}

bool AutonomousCheckImpl::StartStartTimer(std::function<void()> function, unsigned long intervalMs) {
    const uint64_t interval = intervalMs;
    if (m_deps.startTimer && m_deps.startTimer->timer_start(std::move(function), intervalMs)) {
        Info() << "UCM_IVD_Retrieval : Started AC Start timer for " << interval << "msec" << VLMR_FILE_LINE;
        return true;
    }
    Error() << "UCM_IVD_Retrieval : Could not start AC Start timer for " << interval << "msec!" << VLMR_FILE_LINE;
    return false;
}

void AutonomousCheckImpl::PauseForFastShutdown() {
    Info() << "AutonomousCheck : pause for fast shutdown" << VLMR_FILE_LINE;
    StopTimer(m_deps.startTimer);
    // Whether a pause is running is decided on the worker, where the pause
    // is entered: ending it here could race with a pause just being armed.
    InvokeTask(Guarded("AutonomousCheck fast-shutdown pause", [](AutonomousCheckImpl& self) {
        if (self.CurrentState() == ST_PAUSING_IVD && self.m_deps.pauseTimer && self.m_deps.pauseTimer->is_running()) {
            self.m_deps.pauseTimer->timer_stop();
            self.TriggerNow(EV_IVD_PAUSE_FINISHED);
        }
    }));
}

void AutonomousCheckImpl::ResumeAfterFastShutdown() {
    if (m_deps.startTimer && !m_deps.startTimer->is_running()) {
        StartStartTimer(GetSendEventCallback(EV_START_IVD_FETCHING), ResumeTimeoutMs());
    }
}

// ---- state-machine operations ---------------------------------------------------

void AutonomousCheckImpl::StartIvdTimer() {
    ScopeTrace trace(Backend(), "StartIvdTimer");
    const uint64_t interval = m_firstStart.exchange(false) ? StartTimeoutMs() : ResumeTimeoutMs();
    StartStartTimer(GetSendEventCallback(EV_START_IVD_FETCHING), interval);
}

void AutonomousCheckImpl::PauseIVD() {
    ScopeTrace trace(Backend(), "PauseIVD");
    Info() << "UCM_IVD_Retrieval : PauseIVD " << VLMR_FILE_LINE;
    StartDelayStartTimer(GetSendEventCallback(EV_IVD_PAUSE_FINISHED), DelayTimeoutMs());
}

void AutonomousCheckImpl::HandleIVDDataForLB() { ScopeTrace trace(Backend(), "HandleIVDDataForLB"); }

void AutonomousCheckImpl::RequestIVDForLB() {
    ScopeTrace trace(Backend(), "RequestIVDForLB");
    if (!m_deps.sessionData) {
        return;
    }
    SessionData& session = *m_deps.sessionData;
    StopTimer(m_deps.pauseTimer);

    if (session.AutonomousCheckCancelRequested && !session.AutonomousCheckDone && !session.Rid029ARunning) {
        Info() << "SW download has been started; Cancel AC; Running Request for Cluster="
               << session.GetIvdRequestCluster() << VLMR_FILE_LINE;
        StopTimer(m_deps.startTimer);
        triggerCancelClusterRetrieval("SW download started, Cancel AC ");
        SendEventToStateMachine(EV_IVD_REQUEST_FINISHED);
        return;
    }
    if (session.Rid029ARunning && !session.AutonomousCheckDone) {
        Info() << "Routine 029A started, Cancel AC " << VLMR_FILE_LINE;
        StopTimer(m_deps.startTimer);
    }
    if (session.Rid029AStopRequested && !session.Rid029ARunning && !session.Rid029AResultsReady) {
        triggerCancelClusterRetrieval("Cancel 29A");
        session.Rid029AStopRequested = false;
        session.Rid029ACancelInProgress = true;
        SendEventToStateMachine(EV_IVD_REQUEST_FINISHED);
        return;
    }

    const bool fastShutdown = FastShutDown::IsSet();
    Info() << "UCM_IVD_Retrieval : RequestIVDForLB " << DoneText(session.AutonomousCheckDone)
           << " FastShutdown = " << TrueFalse(fastShutdown)
           << " 29AStatus=" << (session.Rid029ARunning ? "29ARunning" : "29ANotRunning")
           << " SWupdateStatus=" << StatusName() << VLMR_FILE_LINE;
    const bool allowed = session.IsStatusAllowingIVDCheck();
    if (session.Rid029ARunning && (fastShutdown || !allowed)) {
        Info() << "UCM_IVD_Retrieval : RequestIVDForLB : RID 29A is terminated due to FSD or wrong state"
               << VLMR_FILE_LINE;
        session.Rid029ARunning = false;
        session.Rid029AResultsReady = false;
    }

    if ((!session.AutonomousCheckDone || session.Rid029ARunning) && !fastShutdown && allowed) {
        if (!session.MirrorUpdateComplete) {
            if (FindAndRequestIVDForLBFromPartition(true)) {
                return;
            }
            session.UpdateMirrorIVDInfo();
        }
        if (IsIdle() && FindAndRequestIVDForLBFromPartition(false)) {
            return;
        }
        session.ResetAutonomousCheckFlag(true);
        SendEventToStateMachine(EV_IVD_REQUEST_FINISHED);
        return;
    }
    Info() << "UCM_IVD_Retrieval : No RequestIVDForLB " << VLMR_FILE_LINE;
    // Without this event the machine would wait here for an answer that
    // never comes, and a later start of the fetching would be ignored.
    SendEventToStateMachine(EV_IVD_REQUEST_FINISHED);
}

bool AutonomousCheckImpl::FindAndRequestIVDForLBFromPartition(bool active) {
    SessionData& session = *m_deps.sessionData;
    uint32_t total = 0;
    uint32_t withoutIvd = 0;
    if (!session.FindCluster(WithoutIvd, active, total, withoutIvd)) {
        return false;
    }

    bool found = false;
    bool givenUp = false;
    bool runStarts = false;
    LogicalBlockCache entry;
    const uint8_t retryLimit = m_settings.retriesBeforeGivingUp;
    session.ReplaceLogistics(active, [&](LogicalBlockCacheData& cache) {
        const auto it = std::find_if(cache.blocks.begin(), cache.blocks.end(), WithoutIvd);
        if (it == cache.blocks.end()) {
            return;
        }
        found = true;
        runStarts = std::none_of(cache.blocks.begin(), cache.blocks.end(),
                                 [](const LogicalBlockCache& record) { return record.IVD_Retries != 0; });
        if (it->IVD_Retries > retryLimit) {
            GiveUp(*it);
            givenUp = true;
            m_unanswered.insert({active, it->id});
        }
        if (it->IVD_Retries < 0xFF) {
            ++it->IVD_Retries;
        }
        entry = *it;
    });
    if (!found) {
        return false;
    }
    if (runStarts) {
        // No attempt counted yet: the partition's records were reset (a new
        // run, new logistics). Blocks given up before belong to the earlier
        // run; kept, they would hold the DTC for good.
        for (auto mark = m_unanswered.begin(); mark != m_unanswered.end();) {
            mark = mark->first == active ? m_unanswered.erase(mark) : std::next(mark);
        }
    }

    Info() << "FindAndRequestIVDForLBFromPartition: LB = " << entry.id << VLMR_FILE_LINE;
    const PartitionEnum blockPartition =
        m_configuration ? m_configuration->GetActivePartition(entry.id) : PartitionEnum::UNKNOWN;
    // The partition names of the configuration are compared case-insensitively.
    const bool fallover = m_configuration && m_configuration->GetSysfsValidFlag() &&
                          blockPartition != GetPartition(*m_configuration, m_configuration->activePartitionName);
    Info() << "UCM_IVD_Retrieval : " << PartitionName(active) << " Request IVD data for " << entry.name << "["
           << entry.id << "] fallover=" << TrueFalse(fallover) << " Number of all Clusters= " << total
           << " Remaining NoIVD Clusters= " << withoutIvd << VLMR_FILE_LINE;
    const Clock::time_point startTime = Clock::now();
    DumpLogicalBlockEntries(PartitionName(active), entry);

    // The partition to be read: the block's own active one, or the other.
    const bool readPartitionB = (!active) != (blockPartition == PartitionEnum::B);
    const uint64_t token = ++m_lastToken;
    std::weak_ptr<AutonomousCheckImpl> weak = weak_from_this();
    const bool accepted = TryExecuteBool("GetSwClusterIntegrity", [&] {
        return m_deps.ucm && m_deps.ucm->GetSwClusterIntegrity(
                                 entry.name, readPartitionB, [weak, token, startTime](SwClusterIntegrity integrity) {
                                     if (const auto self = weak.lock()) {
                                         self->OnIntegrityAnswer(token, std::move(integrity), startTime);
                                     }
                                 });
    });

    m_request = Pending{token, entry.name, active, givenUp, entry.id};
    if (accepted) {
        session.SetIvdRequestCluster(entry.name);
        session.SetIvdCancelCluster("");
        PostDelayed(Guarded("AutonomousCheck request supervision",
                            [token](AutonomousCheckImpl& self) { self.SuperviseRequest(token); }),
                    static_cast<uint64_t>(m_settings.requestSupervision.count()));
    } else {
        Error() << "UCM_IVD_Retrieval : Unable to " << PartitionName(active) << " request cluster integrity data for "
                << entry.name << VLMR_FILE_LINE;
        if (entry.IVD_Retries > retryLimit) {
            session.ReplaceLogistics(active, [&entry](LogicalBlockCacheData& cache) {
                for (LogicalBlockCache& record : cache.blocks) {
                    if (record.id == entry.id && !record.IVD_Retrieved) {
                        GiveUp(record);
                        break;
                    }
                }
            });
            m_unanswered.insert({active, entry.id});
        }
        SendEventToStateMachine(EV_RETRY_IVD_REQUEST);
        // A refusal is answered like a request without data once the pause
        // has passed, so that the check moves on instead of waiting for ever.
        PostDelayed(Guarded("AutonomousCheck refused request",
                            [token](AutonomousCheckImpl& self) { self.SuperviseRequest(token); }),
                    DelayTimeoutMs());
    }
    Info() << "UCM_IVD_Retrieval : " << PartitionName(active) << " bSide=" << TrueFalse(readPartitionB)
           << "; Request IVD data for ID =" << entry.id << " cluster=" << entry.name << VLMR_FILE_LINE;
    return true;
}

// ---- answers ----------------------------------------------------------------------

void AutonomousCheckImpl::StoreIVDForCluster(SwClusterIntegrity integrity, Clock::time_point startTime) {
    Info() << "UCM_IVD_Retrieval : callback StoreIVDForCluster = " << integrity.clusterName << " is called"
           << VLMR_FILE_LINE;
    InvokeTask(Guarded("StoreIVDForClusterTask", [integrity, startTime](AutonomousCheckImpl& self) {
        self.StoreIVDForClusterTask(integrity, startTime);
    }));
}

void AutonomousCheckImpl::OnIntegrityAnswer(uint64_t token, SwClusterIntegrity integrity, Clock::time_point startTime) {
    Info() << "UCM_IVD_Retrieval : callback StoreIVDForCluster = " << integrity.clusterName << " is called"
           << VLMR_FILE_LINE;
    InvokeTask(Guarded("StoreIVDForClusterTask", [token, integrity, startTime](AutonomousCheckImpl& self) {
        if (self.m_request.token != token) {
            self.Info() << "UCM_IVD_Retrieval : StoreIVDForCluster : late answer ignored, Name= "
                        << integrity.clusterName << VLMR_FILE_LINE;
            return;
        }
        const Pending request = std::exchange(self.m_request, Pending{});
        self.StoreAnswer(integrity, startTime, &request);
    }));
}

void AutonomousCheckImpl::StoreIVDForClusterTask(SwClusterIntegrity integrity, Clock::time_point startTime) {
    StoreAnswer(integrity, startTime, nullptr);
}

void AutonomousCheckImpl::StoreAnswer(const SwClusterIntegrity& integrity, Clock::time_point startTime,
                                      const Pending* request) {
    ScopeTrace trace(Backend(), "StoreIVDForClusterTask");
    SessionData& session = *m_deps.sessionData;
    Info() << "UCM_IVD_Retrieval : StoreIVDForCluster : Received IVD Name= " << integrity.clusterName
           << " Expected= " << session.GetIvdRequestCluster() << " Status=" << integrity.status
           << " elapsedTime= " << ElapsedMs(startTime) << " msec" << VLMR_FILE_LINE;
    session.SetIvdRequestCluster("");

    std::string label;
    if (request != nullptr) {
        // The answer belongs to the partition that was asked for; a block
        // given up before this last request takes the answer all the same.
        if (session.FindClusterAndUpdateInPartition(integrity, request->active, request->givenUp)) {
            label = request->active ? "Installed" : "Updated";
            m_unanswered.erase({request->active, request->id});
        }
    } else if (!session.MirrorUpdateComplete && session.FindClusterAndUpdateInPartition(integrity, true, false)) {
        label = "Installed";
    } else if (session.FindClusterAndUpdateInPartition(integrity, false, false)) {
        label = "Updated";
    }
    if (label.empty()) {
        Error() << "NOT FOUND :: UCM_IVD_Retrieval StoreIVDForCluster: Received IVD Name= " << integrity.clusterName
                << " Status=" << integrity.status << VLMR_FILE_LINE;
        label = "Unknown";
    }

    const uint16_t state = CurrentState();
    if (state == ST_REQUESTING_IVD_FOR_LB_FROM_UCM) {
        Info() << label << " StoreIVDForClusterTask SEND EV_RETRIEVED_IVD_FOR_LB in State: " << state << VLMR_FILE_LINE;
        TriggerNow(EV_RETRIEVED_IVD_FOR_LB);
    } else {
        Info() << label << " StoreIVDForClusterTask no EVENT SEND in State: " << state << VLMR_FILE_LINE;
    }
}

void AutonomousCheckImpl::SuperviseRequest(uint64_t token) {
    if (m_request.token != token) {
        return;
    }
    const Pending request = std::exchange(m_request, Pending{});
    if (!request.cluster.empty()) {
        Error() << "UCM_IVD_Retrieval : no answer for cluster " << request.cluster << " within "
                << static_cast<uint64_t>(m_settings.requestSupervision.count()) << " msec" << VLMR_FILE_LINE;
    }
    // Handled like an answer without data: the block stays without IVD and
    // its raised attempt counter decides when it is given up.
    m_deps.sessionData->SetIvdRequestCluster("");
    const uint16_t state = CurrentState();
    if (state == ST_REQUESTING_IVD_FOR_LB_FROM_UCM) {
        Info() << "UCM_IVD_Retrieval : request without answer, SEND EV_RETRIEVED_IVD_FOR_LB in State: " << state
               << VLMR_FILE_LINE;
        TriggerNow(EV_RETRIEVED_IVD_FOR_LB);
    }
}

// ---- cancels --------------------------------------------------------------------

void AutonomousCheckImpl::triggerCancelClusterRetrieval(const std::string& reason) {
    SessionData& session = *m_deps.sessionData;
    const std::string requestCluster = session.GetIvdRequestCluster();
    const std::string cancelCluster = session.GetIvdCancelCluster();
    Info() << "triggerCancelClusterRetrieval Running Request for Cluster= " << requestCluster << VLMR_FILE_LINE;
    Info() << "triggerCancelClusterRetrieval Running Cancel for Cluster= " << cancelCluster << VLMR_FILE_LINE;
    if (requestCluster.empty() || !cancelCluster.empty()) {
        return;
    }
    const uint64_t token = ++m_lastToken;
    std::weak_ptr<AutonomousCheckImpl> weak = weak_from_this();
    const bool accepted = TryExecuteBool("CancelSwClusterIntegrity", [&] {
        return m_deps.ucm && m_deps.ucm->CancelSwClusterIntegrity(
                                 requestCluster, [weak, token, requestCluster](CancelStatusType status) {
                                     if (const auto self = weak.lock()) {
                                         self->OnCancelAnswer(token, status, requestCluster);
                                     }
                                 });
    });
    if (!accepted) {
        // The request stays supervised: its answer or its time-out clears it.
        Error() << "triggerCancelClusterRetrieval : " << reason << " Unable to cancel cluster integrity data for "
                << requestCluster << VLMR_FILE_LINE;
        return;
    }
    Info() << "triggerCancelClusterRetrieval : " << reason
           << " Cancel GetIVD is sent to UCM; Running Request for Cluster=" << requestCluster << VLMR_FILE_LINE;
    // The cancel name is set first so that a waiting download never sees
    // both names empty while UCM still works on the cluster.
    session.SetIvdCancelCluster(requestCluster);
    session.SetIvdRequestCluster("");
    m_request = Pending{};
    m_cancel = Pending{token, requestCluster, true, false};
    PostDelayed(Guarded("AutonomousCheck cancel supervision",
                        [token](AutonomousCheckImpl& self) { self.SuperviseCancel(token); }),
                static_cast<uint64_t>(m_settings.cancelSupervision.count()));
}

void AutonomousCheckImpl::CancelCluster(CancelStatusType status, std::string clusterName) {
    Info() << "UCM_IVD_Retrieval : callback CancelCluster = " << clusterName << " is called" << VLMR_FILE_LINE;
    InvokeTask(Guarded("CancelClusterTask", [status, clusterName](AutonomousCheckImpl& self) {
        self.CancelClusterTask(status, clusterName);
    }));
}

void AutonomousCheckImpl::OnCancelAnswer(uint64_t token, CancelStatusType status, std::string clusterName) {
    Info() << "UCM_IVD_Retrieval : callback CancelCluster = " << clusterName << " is called" << VLMR_FILE_LINE;
    InvokeTask(Guarded("CancelClusterTask", [token, status, clusterName](AutonomousCheckImpl& self) {
        if (self.m_cancel.token != token) {
            self.Info() << "UCM_IVD_Retrieval : Cancel cluster : late answer ignored, Name= " << clusterName
                        << VLMR_FILE_LINE;
            return;
        }
        self.m_cancel = Pending{};
        self.CancelClusterTask(status, clusterName);
    }));
}

void AutonomousCheckImpl::CancelClusterTask(CancelStatusType status, std::string clusterName) {
    ScopeTrace trace(Backend(), "CancelClusterTask");
    SessionData& session = *m_deps.sessionData;
    Info() << "UCM_IVD_Retrieval : Cancel cluster Name= " << clusterName << "Expect=" << session.GetIvdCancelCluster()
           << " Status=" << status << (status == kCancelOk ? " =OK" : " =FAIL") << VLMR_FILE_LINE;
    session.SetIvdCancelCluster("");
}

void AutonomousCheckImpl::SuperviseCancel(uint64_t token) {
    if (m_cancel.token != token) {
        return;
    }
    const Pending cancel = std::exchange(m_cancel, Pending{});
    Error() << "UCM_IVD_Retrieval : no answer to the cancel of cluster " << cancel.cluster << " within "
            << static_cast<uint64_t>(m_settings.cancelSupervision.count()) << " msec" << VLMR_FILE_LINE;
    m_deps.sessionData->SetIvdCancelCluster("");
}

void AutonomousCheckImpl::CancelAC() {
    Info() << "AutonomousCheck : CancelAC" << VLMR_FILE_LINE;
    InvokeTask(Guarded("CancelACTask", [](AutonomousCheckImpl& self) { self.CancelACTask(); }));
}

void AutonomousCheckImpl::CancelACTask() {
    ScopeTrace trace(Backend(), "CancelACTask");
    SessionData& session = *m_deps.sessionData;
    const std::string requestCluster = session.GetIvdRequestCluster();
    const std::string cancelCluster = session.GetIvdCancelCluster();
    if (requestCluster.empty()) {
        Info() << "+++++ CancelACTask: No IVD request ongoing" << VLMR_FILE_LINE;
    } else {
        Info() << "+???+ CancelACTask: Request IVD ongoing: " << requestCluster << VLMR_FILE_LINE;
    }
    if (cancelCluster.empty()) {
        Info() << "+++++ CancelACTask: No Cancel IVD ongoing" << VLMR_FILE_LINE;
    } else {
        Info() << "+???+ CancelACTask: Cancel IVD ongoing: " << cancelCluster << VLMR_FILE_LINE;
    }
    if (session.AutonomousCheckDone || !cancelCluster.empty()) {
        return;
    }
    Info() << "CancelACTask: Cancel AutonomousCheck is executed" << VLMR_FILE_LINE;
    session.AutonomousCheckCancelRequested = true;
    const uint16_t state = CurrentState();
    if (state == ST_REQUESTING_IVD_FOR_LB_FROM_UCM) {
        Info() << "--- CancelACTask: SEND EV_RETRIEVED_IVD_FOR_LB" << VLMR_FILE_LINE;
        TriggerNow(EV_RETRIEVED_IVD_FOR_LB);
    } else if (state == ST_PAUSING_IVD) {
        Info() << "--- CancelACTask: SEND EV_IVD_PAUSE_FINISHED" << VLMR_FILE_LINE;
        StopTimer(m_deps.pauseTimer);
        TriggerNow(EV_IVD_PAUSE_FINISHED);
    } else {
        Info() << "--- CancelACTask: stop AC start timer, if running. State= " << state << VLMR_FILE_LINE;
        StopTimer(m_deps.startTimer);
        session.AutonomousCheckCancelRequested = false;
    }
}

// ---- decision and completion ----------------------------------------------------

bool AutonomousCheckImpl::AllIvdDataFetched() {
    ScopeTrace trace(Backend(), "AllIvdDataFetched");
    if (!m_deps.sessionData) {
        return true;
    }
    SessionData& session = *m_deps.sessionData;
    bool fastShutdown = FastShutDown::IsSet();
    if (session.AutonomousCheckCancelRequested && !session.AutonomousCheckDone && !session.Rid029ARunning) {
        session.AutonomousCheckCancelRequested = false;
        Info() << "RETURN from UCM_IVD_Retrieval:STOP-AC : AllIvdDataFetched " << DoneText(session.AutonomousCheckDone)
               << " FastShutdown = " << TrueFalse(fastShutdown) << "SWupdateStatus=" << StatusName()
               << "Canceled cluster= " << session.GetIvdRequestCluster() << VLMR_FILE_LINE;
        triggerCancelClusterRetrieval("AllIvdDataFetched; SW download started, Cancel AC ");
        return true;
    }
    session.AutonomousCheckCancelRequested = false;
    if (session.Rid029AStopRequested && !session.Rid029ARunning) {
        session.Rid029AStopRequested = false;
        session.Rid029ACancelInProgress = true;
        Info() << "RETURN from UCM_IVD_Retrieval:STOP-29A : AllIvdDataFetched  FastShutdown = "
               << TrueFalse(fastShutdown) << "SWupdateStatus=" << StatusName()
               << "Canceled cluster= " << session.GetIvdRequestCluster() << VLMR_FILE_LINE;
        triggerCancelClusterRetrieval("AllIvdDataFetched; Stop/Cancel MHV 29A; Cancel 29A ");
        return true;
    }

    const bool done =
        !HasEntryWithoutIvd(true) && session.MirrorUpdateComplete && (!IsIdle() || !HasEntryWithoutIvd(false));
    if (done) {
        session.ResetAutonomousCheckFlag(true);
        if (session.Rid029ARunning) {
            session.Rid029ARunning = false;
            session.Rid029AResultsReady = true;
        }
    }
    fastShutdown = FastShutDown::IsSet();
    const bool allowed = session.IsStatusAllowingIVDCheck();
    if (session.Rid029ARunning && (fastShutdown || !allowed)) {
        Info() << "UCM_IVD_Retrieval : RequestIVDForLB : RID 29A is terminated due to FSD or wrong state"
               << VLMR_FILE_LINE;
        session.Rid029ARunning = false;
        session.Rid029AResultsReady = false;
    }
    const bool goOn = (!session.AutonomousCheckDone || session.Rid029ARunning) && !fastShutdown && allowed;
    Info() << (goOn ? "CONTINUE UCM_IVD_Retrieval : AllIvdDataFetched "
                    : "RETURN from UCM_IVD_Retrieval : AllIvdDataFetched ")
           << DoneText(session.AutonomousCheckDone) << " FastShutdown = " << TrueFalse(fastShutdown)
           << "SWupdateStatus=" << StatusName() << VLMR_FILE_LINE;
    return !goOn;
}

void AutonomousCheckImpl::FetchingIVDFromUCMFinished() {
    ScopeTrace trace(Backend(), "FetchingIVDFromUCMFinished");
    if (!m_deps.sessionData || !m_deps.sessionData->AutonomousCheckDone ||
        m_deps.sessionData->Rid029ACancelInProgress) {
        return;
    }
    evaluateDTCofIVD();
    storeIVDOnPersistentDb();
    Info() << "UCM_IVD_Retrieval : ProgHashCalc only TEST ++++++++++++ will be removed "
              "++++++++++++++++++++++++++++++++++++++++++++++++start"
           << VLMR_FILE_LINE;
    const Clock::time_point start = Clock::now();
    m_deps.sessionData->CalculateLogicalBlockProgrammingHash(m_configuration);
    Info() << "UCM_IVD_Retrieval : ProgHashCalc only TEST ++++++++++++ will be removed "
              "++++++++++++++++++++++++++++++++++++++++++++++++end; Hash duration= "
           << ElapsedMs(start) << " msec" << VLMR_FILE_LINE;
}

void AutonomousCheckImpl::evaluateDTCofIVD() {
    SessionData& session = *m_deps.sessionData;
    if (!session.IsStatusAllowingIVDCheck()) {
        Info() << "UCM_IVD_Retrieval : evaluateDTCofIVD : wrong status for setting DTC. Status=" << StatusName()
               << VLMR_FILE_LINE;
        return;
    }
    const auto report = [this, &session](bool active, const std::shared_ptr<DTCService>& dtc, const char* okText,
                                         const char* errorText) {
        const bool corrupt =
            session.FindCluster([](const LogicalBlockCache& record) { return record.IVD_IsCorrupt; }, active);
        const bool unanswered =
            std::any_of(m_unanswered.begin(), m_unanswered.end(),
                        [active](const std::pair<bool, uint16_t>& block) { return block.first == active; });
        if (!corrupt && unanswered) {
            // A block UCM never answered for may still be corrupt: passing
            // the DTC would clear a corruption nobody has disproved.
            Info() << "UCM_IVD_Retrieval : " << (active ? "Major" : "Minor")
                   << " LogicalBlockCorruption DTC left as it was: no answer from UCM for a " << PartitionName(active)
                   << " cluster" << VLMR_FILE_LINE;
            return;
        }
        const char* stateText = corrupt ? "DTC_FAILED" : "DTC_PASSED";
        if (dtc && dtc->SetDTCState(corrupt ? DTC_FAILED : DTC_PASSED, 1U)) {
            Info() << okText << stateText << VLMR_FILE_LINE;
        } else {
            Error() << errorText << stateText << VLMR_FILE_LINE;
        }
    };
    report(true, m_deps.majorDtc, "UCM_IVD_Retrieval : Major LogicalBlockCorruption DTC is set to ",
           "UCM_IVD_Retrieval : ERROR: Unable to raise major LogicalBlockCorruption DTC = ");
    if (IsIdle()) {
        report(false, m_deps.minorDtc, "UCM_IVD_Retrieval : Minor LogicalBlockCorruption DTC is set to ",
               "UCM_IVD_Retrieval : ERROR: Unable to raise minor LogicalBlockCorruption DTC = ");
    } else {
        Info() << "UCM_IVD_Retrieval : evaluateDTCofIVD : wrong status for setting minor DTC for MIRROR partition. "
                  "Status="
               << StatusName() << VLMR_FILE_LINE;
    }
}

void AutonomousCheckImpl::storeIVDOnPersistentDb() {
    SessionData& session = *m_deps.sessionData;
    if (!session.IsStatusAllowingIVDCheck()) {
        Info() << "storeIVDOnPersistentDb : wrong status for writing to persistedDB. Status=" << StatusName()
               << VLMR_FILE_LINE;
        return;
    }
    const std::shared_ptr<PersistentDataStorage>& storage = m_deps.storage;
    if (!storage) {
        Error() << "storeIVDOnPersistentDb : no database" << VLMR_FILE_LINE;
        return;
    }
    const auto withData = [this](bool active) {
        std::vector<LogicalBlockCache> records = Snapshot(active);
        records.erase(std::remove_if(records.begin(), records.end(),
                                     [](const LogicalBlockCache& record) { return !ReceivedData(record); }),
                      records.end());
        return records;
    };
    const auto merge = [&](bool installedBlocks, bool activeCache) {
        LogicalBlocks blocks;
        const bool read =
            installedBlocks ? storage->ReadInstalledLogicalBlocks(blocks) : storage->ReadUpdatedLogicalBlocks(blocks);
        if (!read) {
            // Merging into an empty list would write every stored block away.
            Error() << "storeIVDOnPersistentDb : could not read the " << (installedBlocks ? "installed" : "updated")
                    << " logical blocks; they are left as they are" << VLMR_FILE_LINE;
            return;
        }
        session.storePartitionIVDOnPersistentDb(blocks, withData(activeCache));
        const bool written =
            installedBlocks ? storage->WriteInstalledLogicalBlocks(blocks) : storage->WriteUpdatedLogicalBlocks(blocks);
        if (!written) {
            Error() << "storeIVDOnPersistentDb : could not write the " << (installedBlocks ? "installed" : "updated")
                    << " logical blocks" << VLMR_FILE_LINE;
        }
    };

    session.ClearPendingClusters();
    const SWupdateState state = session.GetSWupdateState();
    if (state == SWupdateState::IDLE || state == SWupdateState::ROLLBACK_IN_PROGRESS) {
        Info() << "storeIVDOnPersistentDb : Status-Idle or -RollbackInProgress store InstalledCacheLBs to "
                  "InstalledDBLBs"
               << VLMR_FILE_LINE;
        merge(true, true);
    }
    if (state == SWupdateState::IDLE) {
        Info() << "storeIVDOnPersistentDb : Status-Idle MirrorCacheLBs to UpdatedDBLBs" << VLMR_FILE_LINE;
        merge(false, false);
    }
    if (state == SWupdateState::UPDATE_IN_PROGRESS_COMMIT || state == SWupdateState::UPDATE_IN_PROGRESS_CLOSE) {
        Info() << "storeIVDOnPersistentDb : Status-UpdateInProgress store InstalledCacheLBs to UpdatedDBLBs"
               << VLMR_FILE_LINE;
        merge(false, true);
    }
    storage->SyncToStorage();
    PrintPersistedLogicalBlocks(storage);
}

// ---- factory ----------------------------------------------

std::shared_ptr<AutonomousCheck> MakeAutonomousCheck(const AutonomousCheckDependencies& dependencies,
                                                     const AutonomousCheckSettings& settings) {
    return std::make_shared<AutonomousCheckImpl>(dependencies, settings);
}

#include "KivLibrary/Routines/Routine_calculateIntegrityValidationData_0x0253_Impl.h"

#include "KivLibrary/GlobalLibrary/FastShutDown.h"
#include "KivLibrary/GlobalLibrary/KivDMConversation.h"
#include "KivLibrary/GlobalLibrary/SWupdateState.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Helper/ByteFormat.h"
#include "KivLibrary/Helper/DisplayFormat.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/Routines/RID_0253_ClientProxyImpl.h"
#include "KivLibrary/Routines/RoutineLog.h"
#include "KivLibrary/Routines/RoutineNrc.h"
#include "threading/Timer.h"
#include "threading/WorkerThread.h"

#include <atomic>
#include <exception>
#include <future>
#include <utility>

using routinelog::LogDuration;

namespace {

constexpr uint8_t kNoErrorYet = 0x25;
constexpr auto kDrainBound = std::chrono::seconds(5);

template <typename T>
void AnswerOnce(std::atomic<bool>& answered, jux::com::Promise<T>& promise, const std::function<void()>& set) {
    if (answered.exchange(true)) {
        return;
    }
    try {
        set();
    } catch (const std::exception& error) {
        LogIvdError() << "answering the promise failed: " << error.what();
    }
    (void)promise;
}

}  // namespace

struct RoutineService_0253_Impl::StartRequest {
    jux::com::Promise<StartOutput> promise;
    std::atomic<bool> answered{false};
    Clock::time_point t0 = Clock::now();
    Clock::time_point t1 = t0;

    void Answer(const StartOutput& value) {
        AnswerOnce(answered, promise, [&] { promise.set_value(value); });
    }
    void Fail(const UDSServiceFailed0253& error) {
        AnswerOnce(answered, promise, [&] { promise.set_exception(std::make_exception_ptr(error)); });
    }
};

struct RoutineService_0253_Impl::CancelRequest {
    jux::com::Promise<void> promise;
    std::atomic<bool> answered{false};
    Clock::time_point t2 = Clock::now();
    // The Start that was waiting when this Cancel began; worker only.
    std::shared_ptr<StartRequest> target;

    void Answer() {
        AnswerOnce(answered, promise, [&] { promise.set_value(); });
    }
    void Fail(const UDSServiceFailed0253& error) {
        AnswerOnce(answered, promise, [&] { promise.set_exception(std::make_exception_ptr(error)); });
    }
};

bool CallAndCatchUdsError(const std::string& name, bool& udsErrorCaught, UDSServiceFailed0253& error,
                          const std::function<void()>& fn) {
    try {
        fn();
        return true;
    } catch (const UDSServiceFailed0253& failed) {
        error = failed;
        udsErrorCaught = true;
        LogIvdError() << name << " UDSServiceFailed exception got : " << failed.what();
    } catch (const std::exception& other) {
        LogIvdError() << name << " -> Exception: " << other.what();
    } catch (...) {
        LogIvdError() << name << " -> Unknown Exception";
    }
    return false;
}

Routine0253Hooks Routine0253Hooks::Default() {
    Routine0253Hooks hooks;
    hooks.m_clientFactory = &RID_0253_ClientProxyImpl::Create;
    hooks.m_exceptionGuard = &CallAndCatchUdsError;
    return hooks;
}

RoutineService_0253_Impl::RoutineService_0253_Impl(const std::string& instance, uint8_t mode,
                                                   const RoutineDependencies& dependencies, Routine0253Hooks hooks)
    : RoutineService_CalculateIntegrityValidationDataSkeleton(instance,
                                                              static_cast<ara::com::MethodCallProcessingMode>(mode)),
      m_dependencies(dependencies),
      m_workerThread(dependencies.workerThread),
      m_hooks(std::move(hooks)) {
    const Routine0253Hooks defaults = Routine0253Hooks::Default();
    if (!m_hooks.m_clientFactory) {
        m_hooks.m_clientFactory = defaults.m_clientFactory;
    }
    if (!m_hooks.m_exceptionGuard) {
        m_hooks.m_exceptionGuard = defaults.m_exceptionGuard;
    }
    m_startTimer = m_hooks.m_startTimer ? m_hooks.m_startTimer : CreateTimer("Routine0253StartTimer", 1);
    m_cancelTimer = m_hooks.m_cancelTimer ? m_hooks.m_cancelTimer : CreateTimer("Routine0253CancelTimer", 1);
    LogIvdInfo() << "Create RoutineService_0253_Impl ...\n";
    if (!m_workerThread) {
        LogIvdError() << "Create RoutineService_0253_Impl: no WorkerThread available\n";
    }
    if (const auto& configuration = m_dependencies.configuration) {
        if (!configuration->IVD_RID_0253_AlienKIVId.empty()) {
            m_alienKivId = configuration->IVD_RID_0253_AlienKIVId;
        }
        if (configuration->IVD_RID_0253_StartTimeout_msec != 0) {
            m_startTimeoutMs = configuration->IVD_RID_0253_StartTimeout_msec;
        }
        if (configuration->IVD_RID_0253_CancelTimeout_msec != 0) {
            m_cancelTimeoutMs = configuration->IVD_RID_0253_CancelTimeout_msec;
        }
    }
    LogIvdInfo() << "Created RoutineService_0253_Impl alienKIVId = " << m_alienKivId
                 << " Start timeout (msec)= " << m_startTimeoutMs << " Cancel timeout (msec)= " << m_cancelTimeoutMs;
}

// Timers first (their callbacks post to the worker), then the worker drains,
// then everything is released.
RoutineService_0253_Impl::~RoutineService_0253_Impl() {
    LogIvdInfo() << "Delete RoutineService_0253_Impl ...\n";
    StopTimer(m_startTimer);
    StopTimer(m_cancelTimer);
    if (m_workerThread) {
        SafeShutDown(m_workerThread);
    }
    // A request still waiting is answered rather than left broken.
    if (m_currentStart) {
        m_currentStart->Fail(RoutineNrc::k0253ConditionsNotCorrect);
    }
    if (m_currentCancel) {
        m_currentCancel->Answer();
    }
    m_startTimer.reset();
    m_cancelTimer.reset();
    LogIvdInfo() << "Delete RoutineService_0253_Impl timer is stopped ...\n";
}

// ---- offering ----------------------------------------------------------------

void RoutineService_0253_Impl::OfferService() {
    StartClient();
    RoutineService_CalculateIntegrityValidationDataSkeleton::OfferService();
}

void RoutineService_0253_Impl::StopOfferService() {
    RoutineService_CalculateIntegrityValidationDataSkeleton::StopOfferService();
    StopMethodDispatcher();
    std::shared_ptr<RC0253Interface> client;
    {
        std::lock_guard<std::mutex> lock(m_clientMutex);
        client = std::move(m_client);
    }
    if (client) {
        client->Stop();
        client.reset();
    }
    // Nothing queued for this routine may outlive the withdrawal by much: the
    // owner releases the routine next, and never from a worker task.
    StopTimer(m_startTimer);
    StopTimer(m_cancelTimer);
    DrainWorker();
}

void RoutineService_0253_Impl::StartClient() {
    if (Client()) {
        return;
    }
    std::shared_ptr<RC0253Interface> client = m_hooks.m_clientFactory(m_alienKivId);
    if (!client) {
        return;
    }
    if (client->Start()) {
        LogIvdInfo() << "StartClient to Alien KIV instance = " << m_alienKivId
                     << " done. IsConnected = " << (client->IsConnected() ? "1" : "0");
    }
    if (!client->IsConnected()) {
        LogIvdError() << "Alien KIV not found. id= " << m_alienKivId;
        return;
    }
    std::lock_guard<std::mutex> lock(m_clientMutex);
    if (!m_client) {
        m_client = std::move(client);
    }
}

std::shared_ptr<RC0253Interface> RoutineService_0253_Impl::Client() const {
    std::lock_guard<std::mutex> lock(m_clientMutex);
    return m_client;
}

void RoutineService_0253_Impl::DropClient() {
    std::shared_ptr<RC0253Interface> old;
    std::lock_guard<std::mutex> lock(m_clientMutex);
    old = std::move(m_client);
}

bool RoutineService_0253_Impl::ClientConnected() {
    const std::shared_ptr<RC0253Interface> client = Client();
    return client && client->IsConnected();
}

// ---- helpers -----------------------------------------------------------------

uint64_t RoutineService_0253_Impl::Post(std::function<void(RoutineService_0253_Impl&)> body) {
    const std::shared_ptr<IWorkerThread> worker = m_workerThread;
    if (!worker) {
        return 0;
    }
    std::weak_ptr<RoutineService_0253_Impl> weak = weak_from_this();
    const uint64_t id = worker->Invoke([weak, body = std::move(body)] {
        const std::shared_ptr<RoutineService_0253_Impl> self = weak.lock();
        if (!self) {
            return;
        }
        try {
            body(*self);
        } catch (const std::exception& error) {
            LogIvdError() << "RoutineService_0253_Impl task failed: " << error.what();
        } catch (...) {
            LogIvdError() << "RoutineService_0253_Impl task failed: unknown exception";
        }
    });
    return id;
}

void RoutineService_0253_Impl::StopTimer(const std::shared_ptr<ITimer>& timer) const {
    if (!timer) {
        return;
    }
    try {
        timer->timer_stop();
    } catch (const std::exception& error) {
        LogIvdError() << "RoutineService_0253_Impl timer_stop failed: " << error.what();
    }
}

void RoutineService_0253_Impl::DrainWorker() const {
    const std::shared_ptr<IWorkerThread> worker = m_workerThread;
    if (!worker) {
        return;
    }
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> drained = done->get_future();
    if (worker->Invoke([done] { done->set_value(); }) != 0 &&
        drained.wait_for(kDrainBound) != std::future_status::ready) {
        LogIvdError() << "RoutineService_0253_Impl: worker did not drain within the bound";
    }
}

// ---- methods -----------------------------------------------------------------

jux::com::Future<RoutineService_0253_Impl::StartOutput> RoutineService_0253_Impl::Start(const MetaInfo& metaInfo,
                                                                                        uint8_t CalculationType,
                                                                                        uint8_t HashType) {
    auto request = std::make_shared<StartRequest>();
    jux::com::Future<StartOutput> future = request->promise.get_future();
    try {
        LogIvdInfo() << "Start calculateIntegrityValidationData: CalculationType = "
                     << static_cast<uint32_t>(CalculationType) << " HashType = " << static_cast<uint32_t>(HashType);
        const uint64_t posted = Post([request, metaInfo, CalculationType, HashType](RoutineService_0253_Impl& self) {
            self.StartTask(request, metaInfo, CalculationType, HashType);
        });
        if (posted != 0) {
            LogIvdInfo() << "Start calculateIntegrityValidationData Invoke task " << posted << " to execute Start";
        } else {
            LogIvdError() << "Could not invoke start-task!";
            request->Fail(RoutineNrc::k0253GeneralReject);
        }
    } catch (const std::exception& error) {
        LogIvdError() << "Start calculateIntegrityValidationData failed: " << error.what();
        request->Fail(RoutineNrc::k0253GeneralReject);
    }
    LogIvdInfo() << "Start calculateIntegrityValidationData completed";
    return future;
}

jux::com::Future<void> RoutineService_0253_Impl::Cancel(const MetaInfo& metaInfo) {
    auto request = std::make_shared<CancelRequest>();
    jux::com::Future<void> future = request->promise.get_future();
    try {
        LogIvdInfo() << "Cancel calculateIntegrityValidationData";
        const bool posted =
            Post([request, metaInfo](RoutineService_0253_Impl& self) { self.CancelTask(request, metaInfo); });
        if (posted != 0) {
            LogIvdInfo() << "Cancel calculateIntegrityValidationData Invoke task " << posted << " to execute Cancel";
        } else {
            LogIvdError() << "Could not invoke cancel-task!";
            request->Fail(RoutineNrc::k0253GeneralReject);
        }
    } catch (const std::exception& error) {
        LogIvdError() << "Cancel calculateIntegrityValidationData failed: " << error.what();
        request->Fail(RoutineNrc::k0253GeneralReject);
    }
    LogIvdInfo() << "Cancel calculateIntegrityValidationData succeeded";
    return future;
}

// ---- Start -------------------------------------------------------------------

void RoutineService_0253_Impl::StartTask(const std::shared_ptr<StartRequest>& request, const MetaInfo& metaInfo,
                                         uint8_t calculationType, uint8_t hashType) {
    request->t0 = Clock::now();
    if (m_dependencies.conversation) {
        m_dependencies.conversation->registerConversation(metaInfo);
    } else {
        LogIvdInfo() << "RoutineService:: kivDMConversation NOT FOUND";
    }
    SessionData& session = *m_dependencies.sessionData;
    const auto refuse = [&](const UDSServiceFailed0253& nrc, const char* durationText) {
        request->Fail(nrc);
        if (durationText != nullptr) {
            LogDuration(LogIvdInfo(), durationText, request->t0);
        }
    };
    if (calculationType > 1 || hashType != 1) {
        LogIvdError() << "NRC RequestOutOfRange : Start calculateIntegrityValidationData ERROR CalculationType = "
                      << static_cast<uint32_t>(calculationType)
                      << " (>1 ?) HashType = " << static_cast<uint32_t>(hashType) << " (!=1 ?)";
        return refuse(RoutineNrc::k0253RequestOutOfRange,
                      "NRC RequestOutOfRange case : Hash calculation took total duration of");
    }
    const char* const kNotCorrectDuration = "NRC ConditionsNotCorrect case : Hash calculation took total duration of";
    if (FastShutDown::IsSet()) {
        LogIvdError() << "NRC ConditionsNotCorrect : Start calculateIntegrityValidationData ERROR: Prepare "
                         "FastShutDown ongoing";
        return refuse(RoutineNrc::k0253ConditionsNotCorrect, kNotCorrectDuration);
    }
    if (session.Rid0253Running) {
        LogIvdError() << "NRC RequestSequenceError : Start calculateIntegrityValidationData ERROR already running";
        return refuse(RoutineNrc::k0253ConditionsNotCorrect, kNotCorrectDuration);
    }
    if (session.Rid029ARunning) {
        LogIvdError() << "NRC RequestSequenceError : Start calculateIntegrityValidationData ERROR RID 0x029A is "
                         "running";
        return refuse(RoutineNrc::k0253ConditionsNotCorrect, kNotCorrectDuration);
    }
    if (!session.IsStatusAllowingIVDCheck()) {
        LogIvdError() << "NRC ConditionsNotCorrect : Start calculateIntegrityValidationData ERROR: SWupdateStatus"
                      << toString(session.GetSWupdateState()) << " is wrong";
        return refuse(RoutineNrc::k0253ConditionsNotCorrect, nullptr);
    }
    if (session.IsUcmCopyInProgress()) {
        LogIvdError() << "NRC ConditionsNotCorrect : Start calculateIntegrityValidationData ERROR: still in VLMR "
                         "Startup phase";
        return refuse(RoutineNrc::k0253ConditionsNotCorrect, nullptr);
    }
    session.Rid0253Running = true;
    if (calculationType == 1) {
        CalculateLocally(request);
    } else {
        ForwardStart(request, metaInfo, hashType);
    }
}

void RoutineService_0253_Impl::CalculateLocally(const std::shared_ptr<StartRequest>& request) {
    SessionData& session = *m_dependencies.sessionData;
    StartOutput output = DefaultStartOutput0253();
    const auto& configuration = m_dependencies.configuration;
    if (!configuration || !configuration->GetSysfsValidFlag()) {
        session.Rid0253Running = false;
        request->Answer(output);
        LogIvdError() << "calculateIntegrityValidationData programming hash - invalid sysfs";
        return;
    }
    if (session.CalculateLogicalBlockProgrammingHash(configuration)) {
        const auto installed = session.GetInstalledLogistics();
        if (installed && installed->programmingHash.size() == 32) {
            LogInfo() << "Start calculateIntegrityValidationData fill programming hash data";
            output.ProgHashValue = installed->programmingHash;
            output.IVD_Result = 0;
        }
    }
    LogIvdInfo() << "calculateIntegrityValidationData SW_UPDATE_STATE: " << toString(session.GetSWupdateState())
                 << " Start ProgHash IVD_Result= " << ByteToDecHexString(output.IVD_Result) << ";"
                 << "ProgHashValue =" << ToHexString(output.ProgHashValue) << ";";
    session.Rid0253Running = false;
    request->Answer(output);
    LogDuration(LogIvdInfo(), "Programming hash calculation took total duration of", request->t0);
}

void RoutineService_0253_Impl::ForwardStart(const std::shared_ptr<StartRequest>& request, const MetaInfo& metaInfo,
                                            uint8_t hashType) {
    SessionData& session = *m_dependencies.sessionData;
    if (!ClientConnected()) {
        LogIvdInfo() << "calculateIntegrityValidationData connection loss to Alien KIV instance = " << m_alienKivId;
        DropClient();
        StartClient();
        if (!ClientConnected()) {
            LogIvdInfo() << "calculateIntegrityValidationData connection NO Alien KIV instance = " << m_alienKivId
                         << " available";
            session.Rid0253Running = false;
            request->Fail(RoutineNrc::k0253ConditionsNotCorrect);
            LogDuration(LogIvdInfo(), "NO Alien KIV case : Hash calculation took total duration of", request->t0);
            return;
        }
    }
    request->t1 = Clock::now();
    std::weak_ptr<RoutineService_0253_Impl> weak = weak_from_this();
    const bool timerStarted = m_startTimer->timer_start(
        [weak, request] {
            if (const auto self = weak.lock()) {
                self->StartTimeout(request);
            }
        },
        m_startTimeoutMs);
    if (!timerStarted) {
        session.Rid0253Running = false;
        request->Answer(DefaultStartOutput0253());
        LogIvdInfo() << "calculateIntegrityValidationData Start timer couldn't be started";
        LogDuration(LogIvdInfo(), "Start timer failure case : Hash calculation took total duration of", request->t0);
        return;
    }
    LogIvdInfo() << "calculateIntegrityValidationData Start supervision timer " << m_startTimeoutMs
                 << " msec is started";
    m_currentStart = request;
    jux::com::Future<StartOutput> reply = GetIntegrityHashDataFromAlienKIV(metaInfo, 0, hashType);
    m_pendingStartFuture = reply.then([weak, request](jux::com::Future<StartOutput> done) {
        if (const auto self = weak.lock()) {
            self->StartResponse(std::move(done), request);
        }
    });
    LogDuration(LogIvdInfo(), "Configuration hash calculation took total duration of", request->t0);
}

jux::com::Future<RoutineService_0253_Impl::StartOutput> RoutineService_0253_Impl::GetIntegrityHashDataFromAlienKIV(
    const MetaInfo& metaInfo, uint8_t calculationType, uint8_t hashType) {
    const std::shared_ptr<RC0253Interface> client = Client();
    if (client && client->IsConnected()) {
        try {
            LogIvdInfo() << "Alien KIV connection success. Start... ";
            return client->StartFunction(metaInfo, calculationType, hashType);
        } catch (const UDSServiceFailed0253& error) {
            LogIvdError() << "Alien KIV NRC error: " << error.what();
        } catch (const std::exception& error) {
            LogIvdError() << "Alien KIV std error: " << error.what();
        } catch (...) {
            LogIvdError() << "Alien KIV any error, connection lost ";
        }
    }
    LogIvdInfo() << "GetIntegrityHashDataFromAlienKIV connection to Alien KIV not available. Return "
                    "result=1=Incorrect! ";
    DropClient();
    return jux::com::MakeReadyFuture(DefaultStartOutput0253());
}

void RoutineService_0253_Impl::StartResponse(jux::com::Future<StartOutput> reply,
                                             const std::shared_ptr<StartRequest>& request) {
    try {
        bool caught = false;
        UDSServiceFailed0253 error(kNoErrorYet);
        StartOutput value;
        const bool hasValue =
            m_hooks.m_exceptionGuard("StartResponse get future ", caught, error, [&] { value = reply.get(); });
        if (hasValue) {
            LogIvdInfo() << "+RoutineService_0253_Impl::StartResponse";
        }
        const uint64_t posted = Post([request, hasValue, value, caught, error](RoutineService_0253_Impl& self) {
            self.StartResponseTask(request, hasValue, value, caught, error);
        });
        if (posted != 0) {
            LogIvdInfo() << "Start calculateIntegrityValidationData Invoke task " << posted
                         << " to wait on StartResponse from Alien KIV";
        } else {
            // No worker any more: nothing else can answer this request.
            StopTimer(m_startTimer);
            LogIvdError() << "Could not invoke StartResponse-task!";
            m_dependencies.sessionData->Rid0253Running = false;
            request->Fail(RoutineNrc::k0253GeneralReject);
        }
        if (hasValue) {
            LogIvdInfo() << "-RoutineService_0253_Impl::StartResponse";
        }
    } catch (const std::exception& failure) {
        LogIvdError() << "RoutineService_0253_Impl::StartResponse failed: " << failure.what();
    }
}

void RoutineService_0253_Impl::StartResponseTask(const std::shared_ptr<StartRequest>& request, bool hasValue,
                                                 const StartOutput& value, bool udsErrorCaught,
                                                 const UDSServiceFailed0253& error) {
    if (request != m_currentStart) {
        // Already answered (time-out or cancel): a late reply changes nothing.
        LogDuration(LogIvdWarn(), "Start calculateIntegrityValidationData is back OUT OF TIME from Zenq KIV",
                    request->t1);
        return;
    }
    FinishStart(request);
    if (!hasValue) {
        LogIvdInfo() << "calculateIntegrityValidationData Start supervision timer stopped due to exception : "
                     << static_cast<uint32_t>(error.GetCode());
        if (udsErrorCaught) {
            request->Fail(error);
        } else {
            request->Answer(DefaultStartOutput0253());
        }
        return;
    }
    request->Answer(value);
    LogDuration(LogIvdInfo(), "Start calculateIntegrityValidationData is back from Zenq KIV", request->t1);
    LogIvdInfo() << "calculateIntegrityValidationData "
                 << " Start ConfHash IVD_Result= " << ByteToDecHexString(value.IVD_Result) << ";"
                 << "ProgHashValue =" << ToHexString(value.ProgHashValue) << ";";
}

void RoutineService_0253_Impl::StartTimeout(const std::shared_ptr<StartRequest>& request) {
    try {
        LogIvdInfo() << "+RoutineService_0253_Impl::StartTimeout";
        LogIvdInfo() << "RoutineService_0253_Impl::StartTimeout isRoutineRunning="
                     << (m_dependencies.sessionData->Rid0253Running ? "1" : "0");
        const uint64_t posted = Post([request](RoutineService_0253_Impl& self) { self.StartTimeoutTask(request); });
        if (posted != 0) {
            LogIvdInfo() << "Start calculateIntegrityValidationData Invoke task " << posted
                         << " to wait on StartTimeout from Alien KIV";
        } else {
            LogIvdError() << "Could not invoke StartTimeout-task!";
            request->Fail(RoutineNrc::k0253GeneralReject);
            m_dependencies.sessionData->Rid0253Running = false;
        }
        LogIvdInfo() << "-RoutineService_0253_Impl::StartTimeout";
    } catch (const std::exception& failure) {
        LogIvdError() << "RoutineService_0253_Impl::StartTimeout failed: " << failure.what();
    }
}

void RoutineService_0253_Impl::StartTimeoutTask(const std::shared_ptr<StartRequest>& request) {
    if (request != m_currentStart) {
        LogIvdInfo() << "-RoutineService_0253_Impl::StartTimeout Routine already finished";
        return;
    }
    LogDuration(LogIvdInfo(), "StartTimeout Start calculateIntegrityValidationData is back from Zenq KIV", request->t1);
    FinishStart(request);
    request->Fail(RoutineNrc::k0253ConditionsNotCorrect);
}

void RoutineService_0253_Impl::FinishStart(const std::shared_ptr<StartRequest>& request) {
    if (request != m_currentStart) {
        return;
    }
    StopTimer(m_startTimer);
    m_currentStart.reset();
    m_dependencies.sessionData->Rid0253Running = false;
}

// ---- Cancel ------------------------------------------------------------------

void RoutineService_0253_Impl::CancelTask(const std::shared_ptr<CancelRequest>& request, const MetaInfo& metaInfo) {
    LogIvdInfo() << "Executing RoutineService_0253_Impl::CancelTask task in worker thread.";
    if (!m_dependencies.sessionData->Rid0253Running) {
        LogIvdInfo() << "Executing RoutineService_0253_Impl::CancelTask is executed, but no Start is running";
    }
    if (m_currentCancel) {
        // A newer Cancel takes over the supervision; the older one is done.
        LogIvdWarn() << "Cancel calculateIntegrityValidationData superseded by a newer Cancel";
        StopTimer(m_cancelTimer);
        m_currentCancel->Answer();
        m_currentCancel.reset();
    }
    request->target = m_currentStart;
    if (!ClientConnected()) {
        LogIvdInfo() << "CancelTask calculateIntegrityValidationData connection loss to Alien KIV instance = "
                     << m_alienKivId;
        DropClient();
        StartClient();
        if (!ClientConnected()) {
            LogIvdInfo() << "CancelTask calculateIntegrityValidationData connection NO Alien KIV instance = "
                         << m_alienKivId << " available";
            EndCancel(request);
            request->Answer();
            return;
        }
    }
    request->t2 = Clock::now();
    std::weak_ptr<RoutineService_0253_Impl> weak = weak_from_this();
    const bool timerStarted = m_cancelTimer->timer_start(
        [weak, request] {
            if (const auto self = weak.lock()) {
                self->CancelTimeout(request);
            }
        },
        m_cancelTimeoutMs);
    if (!timerStarted) {
        EndCancel(request);
        LogIvdInfo() << "calculateIntegrityValidationData Cancel timer couldn't be started";
        request->Answer();
        return;
    }
    LogIvdInfo() << "calculateIntegrityValidationData Cancel supervision timer " << m_cancelTimeoutMs
                 << " msec is started";
    m_currentCancel = request;
    jux::com::Future<void> reply = CancelIntegrityHashDataFromAlienKIV(metaInfo);
    m_pendingCancelFuture = reply.then([weak, request](jux::com::Future<void> done) {
        if (const auto self = weak.lock()) {
            self->CancelResponse(std::move(done), request);
        }
    });
    LogIvdInfo() << "Executed RoutineService_0253_Impl::CancelTask task in worker thread done";
    LogDuration(LogIvdInfo(), "RoutineService_0253_Impl::CancelTask task took total duration of", request->t2);
}

jux::com::Future<void> RoutineService_0253_Impl::CancelIntegrityHashDataFromAlienKIV(const MetaInfo& metaInfo) {
    const std::shared_ptr<RC0253Interface> client = Client();
    if (client && client->IsConnected()) {
        try {
            LogIvdInfo() << "Alien KIV connection success. Cancel... ";
            return client->CancelFunction(metaInfo);
        } catch (const UDSServiceFailed0253& error) {
            LogIvdError() << "Cancel - Alien KIV NRC error: " << error.what();
        } catch (const std::exception& error) {
            LogIvdError() << "Cancel - Alien KIV std error: " << error.what();
        } catch (...) {
            LogIvdError() << "Cancel - Alien KIV any error, connection lost ";
        }
    }
    LogIvdInfo() << "CancelIntegrityHashDataFromAlienKIV connection to Alien KIV not available. Return "
                    "result=1=Incorrect! ";
    DropClient();
    return jux::com::MakeReadyFuture();
}

void RoutineService_0253_Impl::CancelResponse(jux::com::Future<void> reply,
                                              const std::shared_ptr<CancelRequest>& request) {
    try {
        bool caught = false;
        UDSServiceFailed0253 error(kNoErrorYet);
        const bool taken = m_hooks.m_exceptionGuard("CancelResponse get future ", caught, error, [&] { reply.get(); });
        if (taken) {
            LogIvdInfo() << "+RoutineService_0253_Impl::CancelResponse";
        }
        const uint64_t posted = Post([request, caught, error](RoutineService_0253_Impl& self) {
            self.CancelResponseTask(request, caught, error);
        });
        if (posted != 0) {
            LogIvdInfo() << "Cancel calculateIntegrityValidationData Invoke task " << posted
                         << " to wait on CancelResponse from Alien KIV";
        } else {
            StopTimer(m_cancelTimer);
            StopTimer(m_startTimer);
            m_dependencies.sessionData->Rid0253Running = false;
            LogIvdError() << "Could not invoke CancelResponse-task!";
            request->Fail(RoutineNrc::k0253GeneralReject);
        }
        if (taken) {
            LogIvdInfo() << "-RoutineService_0253_Impl::CancelResponse";
        }
    } catch (const std::exception& failure) {
        LogIvdError() << "RoutineService_0253_Impl::CancelResponse failed: " << failure.what();
    }
}

void RoutineService_0253_Impl::CancelResponseTask(const std::shared_ptr<CancelRequest>& request, bool udsErrorCaught,
                                                  const UDSServiceFailed0253& error) {
    if (request != m_currentCancel) {
        LogIvdWarn() << "Cancel calculateIntegrityValidationData is back OUT OF TIME from Zenq KIV = "
                     << routinelog::ElapsedMs(request->t2) << " msec";
        return;
    }
    StopTimer(m_cancelTimer);
    m_currentCancel.reset();
    EndCancel(request);
    if (udsErrorCaught) {
        request->Fail(error);
    } else {
        request->Answer();
    }
    LogDuration(LogIvdInfo(), "Cancel calculateIntegrityValidationData is back from Zenq KIV", request->t2);
}

void RoutineService_0253_Impl::CancelTimeout(const std::shared_ptr<CancelRequest>& request) {
    try {
        LogIvdInfo() << "+RoutineService_0253_Impl::CancelTimeout";
        const uint64_t posted = Post([request](RoutineService_0253_Impl& self) { self.CancelTimeoutTask(request); });
        if (posted != 0) {
            LogIvdInfo() << "Cancel calculateIntegrityValidationData Invoke task " << posted
                         << " to wait on CancelTimeout from Alien KIV";
        } else {
            LogIvdError() << "Could not invoke CancelTimeout-task!";
            StopTimer(m_startTimer);
            m_dependencies.sessionData->Rid0253Running = false;
            request->Fail(RoutineNrc::k0253GeneralReject);
        }
        LogIvdInfo() << "-RoutineService_0253_Impl::CancelTimeout";
    } catch (const std::exception& failure) {
        LogIvdError() << "RoutineService_0253_Impl::CancelTimeout failed: " << failure.what();
    }
}

void RoutineService_0253_Impl::CancelTimeoutTask(const std::shared_ptr<CancelRequest>& request) {
    if (request != m_currentCancel) {
        LogIvdInfo() << "RoutineService_0253_Impl::CancelTimeout Cancel already finished";
        return;
    }
    LogDuration(LogIvdInfo(), "CancelTimeout Cancel calculateIntegrityValidationData is back from Zenq KIV",
                request->t2);
    m_currentCancel.reset();
    EndCancel(request);
    request->Answer();  // a cancel time-out is no error
}

void RoutineService_0253_Impl::EndCancel(const std::shared_ptr<CancelRequest>& request) {
    const std::shared_ptr<StartRequest> target = std::move(request->target);
    if (target && target == m_currentStart) {
        LogIvdInfo() << "calculateIntegrityValidationData waiting Start ended by Cancel";
        FinishStart(target);
        target->Fail(RoutineNrc::k0253ConditionsNotCorrect);
    }
}

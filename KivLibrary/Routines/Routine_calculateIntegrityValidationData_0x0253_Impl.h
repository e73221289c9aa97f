// Routine 0x0253 calculateIntegrityValidationData: the programming hash of
// this ECU (CalculationType 1), or the configuration hash of the other
// application instance (CalculationType 0), forwarded under a start and a
// cancel supervision timer.
//
// Threading: Start and Cancel (method threads) only post tasks to the worker
// thread "VLMR_WorkerThread", where every decision is taken and every answer
// given. Timer expiries (timer threads) and the other instance's replies
// (binding threads) only post further tasks; they answer directly only when
// the post fails. Each forwarded request is an object of its own, captured by
// its timer callback, continuation and tasks: only the current request's
// reply or time-out answers, anything later is only logged. The members
// marked "worker" are touched on the worker thread only; the client is
// guarded by its own mutex (the runtime thread offers and withdraws).
#ifndef KIVLIBRARY_ROUTINES_ROUTINE_CALCULATEINTEGRITYVALIDATIONDATA_0X0253_IMPL_H
#define KIVLIBRARY_ROUTINES_ROUTINE_CALCULATEINTEGRITYVALIDATIONDATA_0X0253_IMPL_H

#include "KivLibrary/Routines/RC0253Interface.h"
#include "KivLibrary/Routines/RoutineDependencies.h"
#include "KivLibrary/Routines/RoutineService.h"
#include "platform/services/zenqo/services/diag/r_0253/RoutineService_CalculateIntegrityValidationData_skeleton.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

using UDSServiceFailed0253 =
    zenqo::services::diag::r_0253::RoutineService_CalculateIntegrityValidationData::UDSServiceFailed;

// Runs fn; a UDSServiceFailed it throws is copied into error (caught := true).
// False when anything was thrown; every exception is logged under name.
bool CallAndCatchUdsError(const std::string& name, bool& udsErrorCaught, UDSServiceFailed0253& error,
                          const std::function<void()>& fn);

struct Routine0253Hooks {
    std::function<std::shared_ptr<RC0253Interface>(const std::string&)> m_clientFactory;
    std::shared_ptr<ITimer> m_startTimer;   // empty: "Routine0253StartTimer", one-shot
    std::shared_ptr<ITimer> m_cancelTimer;  // empty: "Routine0253CancelTimer", one-shot
    std::function<bool(const std::string&, bool&, UDSServiceFailed0253&, const std::function<void()>&)>
        m_exceptionGuard;

    // The process-wide defaults: the real client and CallAndCatchUdsError.
    static Routine0253Hooks Default();
};

class RoutineService_0253_Impl
    : public RoutineService,
      public zenqo::services::diag::r_0253::skeleton::RoutineService_CalculateIntegrityValidationDataSkeleton,
      public std::enable_shared_from_this<RoutineService_0253_Impl> {
public:
    using StartOutput = RC0253Interface::StartOutput;
    using MetaInfo = RC0253Interface::MetaInfo;
    using Clock = std::chrono::steady_clock;

    RoutineService_0253_Impl(const std::string& instance, uint8_t mode, const RoutineDependencies& dependencies,
                             Routine0253Hooks hooks);
    ~RoutineService_0253_Impl() override;

    void OfferService() override;
    void StopOfferService() override;

    jux::com::Future<StartOutput> Start(const MetaInfo& metaInfo, uint8_t CalculationType, uint8_t HashType) override;
    jux::com::Future<void> Cancel(const MetaInfo& metaInfo) override;

    uint64_t StartTimeoutMs() const { return m_startTimeoutMs; }
    uint64_t CancelTimeoutMs() const { return m_cancelTimeoutMs; }
    const std::string& AlienKivId() const { return m_alienKivId; }

    // One forwarded request; its promise is answered at most once.
    struct StartRequest;
    struct CancelRequest;

private:
    void StartTask(const std::shared_ptr<StartRequest>& request, const MetaInfo& metaInfo, uint8_t calculationType,
                   uint8_t hashType);
    void CalculateLocally(const std::shared_ptr<StartRequest>& request);
    void ForwardStart(const std::shared_ptr<StartRequest>& request, const MetaInfo& metaInfo, uint8_t hashType);
    void CancelTask(const std::shared_ptr<CancelRequest>& request, const MetaInfo& metaInfo);

    // Continuations and timer expiries: post only.
    void StartResponse(jux::com::Future<StartOutput> reply, const std::shared_ptr<StartRequest>& request);
    void StartTimeout(const std::shared_ptr<StartRequest>& request);
    void CancelResponse(jux::com::Future<void> reply, const std::shared_ptr<CancelRequest>& request);
    void CancelTimeout(const std::shared_ptr<CancelRequest>& request);

    // Worker tasks: they decide, for the current request only.
    void StartResponseTask(const std::shared_ptr<StartRequest>& request, bool hasValue, const StartOutput& value,
                           bool udsErrorCaught, const UDSServiceFailed0253& error);
    void StartTimeoutTask(const std::shared_ptr<StartRequest>& request);
    void CancelResponseTask(const std::shared_ptr<CancelRequest>& request, bool udsErrorCaught,
                            const UDSServiceFailed0253& error);
    void CancelTimeoutTask(const std::shared_ptr<CancelRequest>& request);

    jux::com::Future<StartOutput> GetIntegrityHashDataFromAlienKIV(const MetaInfo& metaInfo, uint8_t calculationType,
                                                                   uint8_t hashType);
    jux::com::Future<void> CancelIntegrityHashDataFromAlienKIV(const MetaInfo& metaInfo);

    // Ends the current Start (its timer stopped, the running flag cleared).
    void FinishStart(const std::shared_ptr<StartRequest>& request);
    // The cancel that targeted the waiting Start ends: that Start is answered
    // 0x22, as a time-out would be.
    void EndCancel(const std::shared_ptr<CancelRequest>& request);

    void StartClient();
    std::shared_ptr<RC0253Interface> Client() const;
    void DropClient();
    bool ClientConnected();
    // The task id; 0 when not posted.
    uint64_t Post(std::function<void(RoutineService_0253_Impl&)> body);
    void StopTimer(const std::shared_ptr<ITimer>& timer) const;
    void DrainWorker() const;

    RoutineDependencies m_dependencies;
    std::shared_ptr<IWorkerThread> m_workerThread;
    Routine0253Hooks m_hooks;
    std::shared_ptr<ITimer> m_startTimer;
    std::shared_ptr<ITimer> m_cancelTimer;
    uint64_t m_startTimeoutMs = 10000;
    uint64_t m_cancelTimeoutMs = 1000;
    std::string m_alienKivId = "1";

    mutable std::mutex m_clientMutex;
    std::shared_ptr<RC0253Interface> m_client;

    // Worker.
    std::shared_ptr<StartRequest> m_currentStart;
    std::shared_ptr<CancelRequest> m_currentCancel;
    jux::com::Future<void> m_pendingStartFuture;
    jux::com::Future<void> m_pendingCancelFuture;
};

#endif

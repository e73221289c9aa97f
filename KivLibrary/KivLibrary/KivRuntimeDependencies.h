// Everything KivRuntime takes from the platform and from components built
// elsewhere, in one object with production defaults, so that tests swap any
// of them and shrink every time value.
//
// A component that is not part of the build yet has an empty factory; the
// runtime then runs without it and logs so. Each joins with one assignment in
// ProductionRuntimeDependencies(), for example
//   deps.createSecurityAccess = [](const KivRuntimeContext& c) {
//       return OfferEndpoint("SecurityAccess", std::make_shared<SecurityAccessImpl>(...c...)); };
// Factories run on the thread that constructs the runtime (or, for the
// DiagnosticInfo service and the autonomous check, on the runtime thread).
#ifndef KIVLIBRARY_KIVLIBRARY_KIVRUNTIMEDEPENDENCIES_H
#define KIVLIBRARY_KIVLIBRARY_KIVRUNTIMEDEPENDENCIES_H

#include "KivLibrary/Functional/DTCService.h"
#include "KivLibrary/KivLibrary/ApplicationAliveReporter.h"
#include "KivLibrary/KivLibrary/AutonomousCheck.h"
#include "KivLibrary/KivLibrary/ServiceKeeper.h"
#include "KivLibrary/Ucm/UcmTypes.h"
#include "platform/ara/stm/component_client.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class EmergencyUpdateImpl;
class IWorkerThread;
class ITimer;
class KivConfiguration;
class KivDMConversation;
class PersistentDataStorage;
class SessionData;
class UCMSessionSelfRepairInterface;
namespace UCM {
class UCMAdaptorInterface;
}
namespace stelvo::small_sm {
class Logger;
class StateMachine;
}  // namespace stelvo::small_sm

// What the runtime has built so far, handed to the factories of later
// components. The slots are the runtime's own members: a component that keeps
// the slot's address sees what is put there later. The autonomous-check and
// timer slots are written on the runtime thread while other threads read
// them: both sides hold slotMutex (never while calling into the check).
struct KivRuntimeContext {
    std::shared_ptr<KivConfiguration> configuration;
    std::shared_ptr<PersistentDataStorage> storage;
    std::shared_ptr<SessionData> sessionData;
    std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor;
    std::shared_ptr<KivDMConversation> conversation;
    std::shared_ptr<IWorkerThread> workerThread;
    std::shared_ptr<UCMSessionSelfRepairInterface> selfRepair;
    std::shared_ptr<EmergencyUpdateImpl> emergencyUpdate;
    std::shared_ptr<DTCService> majorDtc;
    std::shared_ptr<DTCService> minorDtc;
    std::shared_ptr<DTCService> cleanupErrorDtc;
    std::shared_ptr<AutonomousCheck>* autonomousCheckSlot = nullptr;
    std::shared_ptr<stelvo::small_sm::StateMachine>* stateMachineSlot = nullptr;
    std::shared_ptr<ITimer>* startTimerSlot = nullptr;
    std::shared_ptr<ITimer>* pauseTimerSlot = nullptr;
    std::mutex* slotMutex = nullptr;
    stelvo::small_sm::Logger* stateMachineLogger = nullptr;
};

// One service (or group of service instances) the runtime offers. Offered in
// the runtime's offer order and withdrawn in the same order; stopOffer must
// wait for method calls that are still running.
struct OfferedService {
    std::string name;
    std::function<bool()> offer;
    std::function<void()> stopOffer;
    std::shared_ptr<void> object;  // keeps the service alive while the runtime holds it

    explicit operator bool() const { return object != nullptr; }
};

// A generated skeleton: offer; withdraw, then stop the dispatcher (which
// waits for running calls; one it gives up on keeps the skeleton alive).
template <typename Skeleton>
OfferedService OfferSkeleton(std::string name, std::shared_ptr<Skeleton> skeleton) {
    Skeleton* raw = skeleton.get();  // lives as long as `object`
    std::weak_ptr<Skeleton> weak = skeleton;
    OfferedService service;
    service.name = std::move(name);
    service.offer = [raw] {
        raw->OfferService();
        return true;
    };
    service.stopOffer = [raw, weak, name = service.name] {
        raw->StopOfferService();
        if (!raw->StopMethodDispatcher()) {
            KeepWhileProcessLives(weak.lock(), name);
        }
    };
    service.object = std::move(skeleton);
    return service;
}

// An object that offers its own skeletons (OfferServices / StopOfferServices).
template <typename Endpoint>
OfferedService OfferEndpoint(std::string name, std::shared_ptr<Endpoint> endpoint) {
    Endpoint* raw = endpoint.get();
    OfferedService service;
    service.name = std::move(name);
    service.offer = [raw] {
        raw->OfferServices();
        return true;
    };
    service.stopOffer = [raw] { raw->StopOfferServices(); };
    service.object = std::move(endpoint);
    return service;
}

// The state machine of the autonomous check with the object that provides its
// guards and actions (kept alive with it).
struct StateMachineParts {
    std::shared_ptr<void> adapter;
    std::shared_ptr<stelvo::small_sm::StateMachine> machine;
};

struct KivRuntimeDependencies {
    using ServiceFactory = std::function<OfferedService(const KivRuntimeContext&)>;

    // ---- platform -----------------------------------------------------------
    std::function<std::shared_ptr<ara::stm::ComponentClient>(const std::string&,
                                                             ara::stm::ComponentClient::StateCallback)>
        createComponentClient;
    std::function<std::shared_ptr<ApplicationAliveReporter>(const std::string&)> createAliveReporter;
    std::function<std::shared_ptr<IWorkerThread>(const std::string&)> createWorkerThread;
    std::function<std::shared_ptr<KivDMConversation>()> createConversation;

    // ---- components built elsewhere (empty until they join) ------------------
    // The UCM adaptor, from the configured UCM instance and the CurrentStatus
    // callback; the configuration carries its response time-out.
    std::function<std::shared_ptr<UCM::UCMAdaptorInterface>(const std::string&, std::function<void(CurrentStatusType)>,
                                                            const KivConfiguration&)>
        createUcmAdaptor;
    // CreateDTCService(instance, update callback).
    std::function<std::shared_ptr<DTCService>(const std::string&, std::function<void()>)> createDtcService;
    ServiceFactory createRoutineServices;
    std::function<std::shared_ptr<UCMSessionSelfRepairInterface>(const KivRuntimeContext&)> createSelfRepair;
    ServiceFactory createSecurityAccess;
    ServiceFactory createPreConditionService;
    std::function<std::shared_ptr<EmergencyUpdateImpl>(const KivRuntimeContext&)> createEmergencyUpdate;
    ServiceFactory createGenericUdsService;
    // Called by the start-up; may answer an empty service (not on this VM).
    ServiceFactory createDiagnosticInfoService;
    std::function<StateMachineParts(const KivRuntimeContext&)> createStateMachine;
    // Starts the autonomous integrity check once the runtime is running; fills
    // the context's autonomous-check and timer slots under its slot mutex.
    std::function<void(const KivRuntimeContext&, const AutonomousCheckSettings&)> startAutonomousCheck;
    // Restarts the check after a cancelled download (its IVD timer).
    std::function<void(const std::shared_ptr<AutonomousCheck>&)> retriggerAutonomousCheck;

    // ---- times --------------------------------------------------------------
    std::chrono::milliseconds alivePeriod{1000};
    std::chrono::milliseconds terminationPollInterval{100};
    // The supervision of the check's update-manager requests; empty: derived
    // from the configured UCM response time-out.
    std::optional<AutonomousCheckSettings> autonomousCheckSettings;
    // The bound of every wait for the session's transfer lock; empty:
    // derived from the configured UCM response time-out.
    std::optional<std::chrono::milliseconds> transferLockTimeout;
};

// The platform clients of the process and every component that is built.
KivRuntimeDependencies ProductionRuntimeDependencies();

// The production parts of the autonomous check, also for tests that replace
// other dependencies.
StateMachineParts CreateAutonomousCheckStateMachine(const KivRuntimeContext& context);
void StartIvdAutonomousCheck(const KivRuntimeContext& context, const AutonomousCheckSettings& settings);
// Each request is supervised for the adaptor's response time-out; a cancel
// for at most that long.
AutonomousCheckSettings AutonomousCheckSettingsFromConfiguration(const KivConfiguration& configuration);
// Long enough for the lock's holders' UCM calls at the adaptor's response time-out.
std::chrono::milliseconds TransferLockTimeoutFromConfiguration(const KivConfiguration& configuration);

#endif

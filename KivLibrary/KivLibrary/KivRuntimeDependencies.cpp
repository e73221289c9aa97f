#include "KivLibrary/KivLibrary/KivRuntimeDependencies.h"

#include "KivLibrary/EmergencyUpdate/EmergencyUpdate.h"
#include "KivLibrary/Functional/DiagnosticInfoServiceImpl.h"
#include "KivLibrary/GlobalLibrary/KivDMConversation.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/KivLibrary/AutonomousCheckModel.h"
#include "KivLibrary/KivLibrary/GenericUdsServiceImpl.h"
#include "KivLibrary/KivLibrary/PHMClient.h"
#include "KivLibrary/KivLibrary/RoutineServicesImpl.h"
#include "KivLibrary/KivLibrary/StateMachineAdapter.h"
#include "KivLibrary/KivLibrary/UCMSessionSelfRepair.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/Persistency/PersistentDataStorage.h"
#include "KivLibrary/Routines/ProgrammingPreconditionRoutines.h"
#include "KivLibrary/SecurityAccess/SecurityAccessImpl.h"
#include "KivLibrary/Ucm/UCMAdaptorImpl.h"
#include "statemachine/StateMachine.h"
#include "threading/Timer.h"
#include "threading/WorkerThread.h"

#include <algorithm>
#include <atomic>

namespace {
// Every skeleton of the process dispatches its method calls concurrently.
constexpr uint8_t kProcessingMode = 1;
constexpr auto kSkeletonMode = static_cast<ara::com::MethodCallProcessingMode>(kProcessingMode);
}  // namespace

KivRuntimeDependencies ProductionRuntimeDependencies() {
    KivRuntimeDependencies deps;
    deps.createComponentClient = &ara::stm::createComponentClient;
    deps.createAliveReporter = &CreateAliveReporter;
    deps.createWorkerThread = [](const std::string& name) { return CreateWorkerThread(name); };
    deps.createConversation = [] { return std::make_shared<KivDMConversation>(); };
    deps.createUcmAdaptor = [](const std::string& instance, std::function<void(CurrentStatusType)> callback,
                               const KivConfiguration& configuration) {
        return std::make_shared<UCM::UCMAdaptorImpl>(instance, std::move(callback),
                                                     UCM::UCMAdaptorSettings::FromConfiguration(configuration));
    };
    deps.createDtcService = &CreateDTCService;
    deps.createRoutineServices = [](const KivRuntimeContext& c) {
        RoutineDependencies routineDependencies{c.sessionData,  c.ucmAdaptor,    c.storage, c.conversation,
                                                c.workerThread, c.configuration, nullptr};
        return OfferEndpoint("RoutineServices",
                             std::make_shared<RoutineServicesImpl>(kProcessingMode, routineDependencies,
                                                                   *c.stateMachineSlot, c.autonomousCheckSlot));
    };
    deps.createSelfRepair = [](const KivRuntimeContext& c) {
        const std::chrono::milliseconds responseTimeout =
            c.configuration ? UCM::UCMAdaptorSettings::FromConfiguration(*c.configuration).responseTimeout
                            : UCM::UCMAdaptorSettings::kDefaultResponseTimeout;
        return CreateUCMSessionSelfRepair(c.ucmAdaptor, c.sessionData, c.storage, 2 * responseTimeout);
    };
    deps.createSecurityAccess = [](const KivRuntimeContext& c) {
        return OfferEndpoint("SecurityAccess",
                             std::make_shared<SecurityAccessImpl>(kSkeletonMode, c.sessionData, c.ucmAdaptor,
                                                                  c.configuration, c.conversation));
    };
    deps.createPreConditionService = [](const KivRuntimeContext& c) {
        return OfferSkeleton("ProgrammingPreCondition", std::make_shared<Routine_ProgrammingPreCondition_Impl>(
                                                            "test", kProcessingMode, c.sessionData));
    };
    deps.createEmergencyUpdate = [](const KivRuntimeContext& c) {
        return CreateEmergencyUpdate(c.configuration, c.sessionData, c.storage);
    };
    deps.createGenericUdsService = [](const KivRuntimeContext& c) {
        return OfferSkeleton(
            "GenericUDSService",
            std::make_shared<GenericUdsServiceImpl>(kSkeletonMode, c.sessionData, c.ucmAdaptor, c.storage, c.selfRepair,
                                                    c.cleanupErrorDtc, c.conversation, *c.autonomousCheckSlot));
    };
    deps.createDiagnosticInfoService = [](const KivRuntimeContext& c) {
        OfferedService service;
        const std::shared_ptr<DiagnosticInfoServiceImpl> endpoint = InitDiagnosticInfoService(c.sessionData);
        if (!endpoint) {
            return service;  // not on this VM
        }
        DiagnosticInfoServiceImpl* raw = endpoint.get();
        service.name = "DiagnosticInfo";
        service.offer = [raw] { return raw->Launch(); };
        service.stopOffer = [raw] { (void)raw->Shutdown(); };
        service.object = endpoint;
        return service;
    };
    deps.createStateMachine = &CreateAutonomousCheckStateMachine;
    deps.startAutonomousCheck = &StartIvdAutonomousCheck;
    deps.retriggerAutonomousCheck = [](const std::shared_ptr<AutonomousCheck>& check) {
        if (!check) {
            return;
        }
        // The IVD timer is a machine operation: it runs on the worker.
        std::weak_ptr<AutonomousCheck> weak = check;
        check->InvokeTask([weak] {
            if (const std::shared_ptr<AutonomousCheck> self = weak.lock()) {
                self->StartIvdTimer();
            }
        });
    };
    return deps;
}

StateMachineParts CreateAutonomousCheckStateMachine(const KivRuntimeContext& c) {
    auto adapter = std::make_shared<StateMachineAdapter>(c.autonomousCheckSlot, c.slotMutex);
    StateMachineParts parts;
    parts.machine = CreateAutonomousCheckModel(c.stateMachineLogger, adapter, adapter);
    parts.adapter = std::move(adapter);
    return parts;
}

AutonomousCheckSettings AutonomousCheckSettingsFromConfiguration(const KivConfiguration& configuration) {
    AutonomousCheckSettings settings;
    settings.requestSupervision = UCM::UCMAdaptorSettings::FromConfiguration(configuration).responseTimeout;
    settings.cancelSupervision = std::min(settings.cancelSupervision, settings.requestSupervision);
    return settings;
}

std::chrono::milliseconds TransferLockTimeoutFromConfiguration(const KivConfiguration& configuration) {
    std::chrono::milliseconds responseTimeout =
        UCM::UCMAdaptorSettings::FromConfiguration(configuration).responseTimeout;
    // A value the adaptor cannot take leaves it at its default.
    if (responseTimeout <= std::chrono::milliseconds::zero()) {
        responseTimeout = UCM::UCMAdaptorSettings::kDefaultResponseTimeout;
    }
    // The first logical block's RequestDownload also waits for running
    // integrity requests while it holds the lock. Saturated as the bound
    // itself is: a sum wrapped negative would give up every wait at once.
    const std::chrono::milliseconds bound = SessionData::TransferLockTimeoutFor(responseTimeout);
    const std::chrono::milliseconds ivdWait = IvdRequestWaitSettings{}.maxWait;
    return bound > std::chrono::milliseconds::max() - ivdWait ? std::chrono::milliseconds::max() : bound + ivdWait;
}

void StartIvdAutonomousCheck(const KivRuntimeContext& c, const AutonomousCheckSettings& settings) {
    if (!c.configuration || !c.configuration->IVD_AutoCheck_Enabled) {
        LogInfo() << "No Start of IVD Autonomous Check, because not configured" << VLMR_FILE_LINE;
        return;
    }
    const std::shared_ptr<LogicalBlockCacheData> active = c.sessionData->GetInstalledLogistics();
    if (!c.storage || !c.storage->HasInstalledLogicalBlocks() || c.configuration->flashBlocks.empty() || !active ||
        active->blocks.empty()) {
        LogInfo() << "No Start of IVD Autonomous Check needed; No logical blocks available" << VLMR_FILE_LINE;
        return;
    }
    LogInfo() << "Start IVD Autonomous Check" << VLMR_FILE_LINE;
    if (!c.sessionData->IsStatusAllowingIVDCheck()) {
        LogInfo() << "KivRuntime::init_autonomous_check finishes incomplete due to SWupdateStatus="
                  << toString(c.sessionData->GetSWupdateState()) << VLMR_FILE_LINE;
        return;
    }

    std::shared_ptr<AutonomousCheck> check;
    {
        std::unique_lock<std::mutex> lock;
        if (c.slotMutex != nullptr) {
            lock = std::unique_lock<std::mutex>(*c.slotMutex);
        }
        check = *c.autonomousCheckSlot;
        // A check keeps the timers it was made with: new timers only come
        // with a new check, so the slots always name the check's own.
        if (!check) {
            const std::shared_ptr<ITimer> startTimer = CreateTimer("AutonomousCheckStartTimer", 1);
            const std::shared_ptr<ITimer> pauseTimer = CreateTimer("AutonomousCheckPauseTimer", 1);
            AutonomousCheckDependencies dependencies{
                startTimer,     pauseTimer,          c.majorDtc, c.minorDtc,   GetLoggingBackend(),
                c.workerThread, *c.stateMachineSlot, c.storage,  c.ucmAdaptor, c.sessionData};
            check = MakeAutonomousCheck(dependencies, settings);
            *c.startTimerSlot = startTimer;
            *c.pauseTimerSlot = pauseTimer;
            // Published atomically: the UDS handlers and routines read the
            // slot without the slot mutex.
            std::atomic_store(c.autonomousCheckSlot, check);
        }
    }
    // Outside the slot mutex: the machine's actions read the slot under it.
    check->Start();
    // The machine belongs to the worker: the event is posted there.
    check->SendEventToStateMachine(EV_AUTOCHECK_INIT_DONE);
}

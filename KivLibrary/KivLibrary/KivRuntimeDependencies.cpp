#include "KivLibrary/KivLibrary/KivRuntimeDependencies.h"

#include "KivLibrary/EmergencyUpdate/EmergencyUpdate.h"
#include "KivLibrary/GlobalLibrary/KivDMConversation.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/KivLibrary/GenericUdsServiceImpl.h"
#include "KivLibrary/KivLibrary/PHMClient.h"
#include "KivLibrary/KivLibrary/RoutineServicesImpl.h"
#include "KivLibrary/KivLibrary/UCMSessionSelfRepair.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/Routines/ProgrammingPreconditionRoutines.h"
#include "KivLibrary/SecurityAccess/SecurityAccessImpl.h"
#include "KivLibrary/Ucm/UCMAdaptorImpl.h"
#include "threading/WorkerThread.h"

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
        return OfferEndpoint("RoutineServices", std::make_shared<RoutineServicesImpl>(
                                                    kProcessingMode, routineDependencies, *c.stateMachineSlot));
    };
    deps.createSelfRepair = [](const KivRuntimeContext& c) {
        return CreateUCMSessionSelfRepair(c.ucmAdaptor, c.sessionData, c.storage);
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
    // Still to join: createDiagnosticInfoService, createStateMachine,
    // startAutonomousCheck, retriggerAutonomousCheck.
    return deps;
}

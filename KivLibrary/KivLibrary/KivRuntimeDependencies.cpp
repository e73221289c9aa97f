#include "KivLibrary/KivLibrary/KivRuntimeDependencies.h"

#include "KivLibrary/GlobalLibrary/KivDMConversation.h"
#include "KivLibrary/KivLibrary/PHMClient.h"
#include "threading/WorkerThread.h"

KivRuntimeDependencies ProductionRuntimeDependencies() {
    KivRuntimeDependencies deps;
    deps.createComponentClient = &ara::stm::createComponentClient;
    deps.createAliveReporter = &CreateAliveReporter;
    deps.createWorkerThread = [](const std::string& name) { return CreateWorkerThread(name); };
    deps.createConversation = [] { return std::make_shared<KivDMConversation>(); };
    // The components below join here as their builds land (one line each):
    // createUcmAdaptor, createDtcService, createRoutineServices, createSelfRepair,
    // createSecurityAccess, createPreConditionService, createEmergencyUpdate,
    // createGenericUdsService, createDiagnosticInfoService, createStateMachine,
    // startAutonomousCheck, retriggerAutonomousCheck.
    return deps;
}

#include "velmora/src/RunVelmora.h"

#include "KivLibrary/GlobalLibrary/FastShutDown.h"
#include "KivLibrary/GlobalLibrary/KivConfigParser.h"
#include "KivLibrary/GlobalLibrary/KivDMConversation.h"
#include "KivLibrary/GlobalLibrary/PartitionHandlerExecution.h"
#include "KivLibrary/Helper/SignalHandlerRegistration.h"
#include "KivLibrary/Helper/TerminationFlag.h"
#include "KivLibrary/KivLibrary/ExecutionManagerClient.h"
#include "KivLibrary/KivLibrary/KivRuntime.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/PartitionHandler/PartitionHandler.h"
#include "KivLibrary/Persistency/AraPersistency.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "platform/com/Runtime.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace {

// One attempt to open the database; an exception counts as no database.
std::shared_ptr<PersistentDataStorage> OpenDatabase(const std::shared_ptr<KivConfiguration>& configuration,
                                                    const StorageFactory& factory, bool& threw) {
    threw = false;
    try {
        return CreatePersistentDataStorage(configuration, factory);
    } catch (const std::exception& exception) {
        LogFatal() << "Corrupted Database detected: " << exception.what() << VLMR_FILE_LINE;
    } catch (...) {
        LogFatal() << "Corrupted Database detected: Unknown exception" << VLMR_FILE_LINE;
    }
    threw = true;
    return nullptr;
}

}  // namespace

VelmoraEntryDependencies ProductionEntryDependencies() {
    VelmoraEntryDependencies deps;
    deps.initializeLogging = [] { InitializeLogging("Prog", "Velmora_application"); };
    deps.storageFactory = StorageFactory(CreateAraPersistency);
    deps.createStateReporter = &CreateExecutionManagerClient;
    deps.runtime = ProductionRuntimeDependencies();
    return deps;
}

void RunKivThread(std::shared_ptr<KivRuntime> runtime) {
    RunKivThread(std::move(runtime), CreateExecutionManagerClient);
}

void RunKivThread(std::shared_ptr<KivRuntime> runtime,
                  const std::function<std::shared_ptr<ApplicationStateReporter>()>& createStateReporter) {
    // The whole thread is one exception boundary: what escapes the runtime
    // ends the run, never the process.
    try {
        LogInfo() << "Starting Kiv in a new thread" << VLMR_FILE_LINE;
        std::shared_ptr<ApplicationStateReporter> reporter;
        if (createStateReporter) {
            reporter = createStateReporter();
        }
        runtime->run(reporter);
    } catch (const std::exception& exception) {
        LogFatal() << "service thread exited: " << exception.what() << VLMR_FILE_LINE;
    } catch (...) {
        LogFatal() << "service thread exited: Unknown exception" << VLMR_FILE_LINE;
    }
}

int RunVelmora(int argc, char** argv) { return RunVelmora(argc, argv, ProductionEntryDependencies()); }

int RunVelmora(int argc, char** argv, const VelmoraEntryDependencies& deps) {
    if (deps.initializeLogging) {
        deps.initializeLogging();
    }
    if (argc < 2 || argv == nullptr || argv[1] == nullptr) {
        LogFatal() << "Usage: Kivanor ulvar1_kiv_config.json" << VLMR_FILE_LINE;
        return 1;
    }
    const std::string configurationPath = argv[1];
    // Asked for by a person at a terminal, not by execution management: the
    // answer goes to standard output, and no file of that name is read.
    if (configurationPath == "--help" || configurationPath == "-h") {
        std::cout << "Usage: Kivanor ulvar1_kiv_config.json\n"
                     "Runs the programming-session application on the json configuration file given.\n"
                     "With VELMORA_ROOT=DIR set, the built-in system paths (database, /sys/swupd/ files)\n"
                     "lie below DIR; the paths the configuration names are used as they stand.\n";
        return 0;
    }

    // Declared in the order of creation, so they go in reverse order.
    SignalHandlerRegistration signals([] { return GetSystemCallApi(); });

    auto configuration = std::make_shared<KivConfiguration>();
    std::ifstream configurationStream(configurationPath);
    if (!configurationStream.is_open()) {
        // Parsing nothing would read as a json error at the first character.
        const int error = errno;
        LogFatal() << "cannot open the configuration file " << configurationPath << ": " << std::strerror(error)
                   << VLMR_FILE_LINE;
        LogFatal() << "failed to parse kiv configuration file" << VLMR_FILE_LINE;
        return 1;
    }
    {
        KivConfigParser parser(configurationStream);
        if (!parser.parse(configuration)) {
            LogFatal() << "configuration file " << configurationPath << " rejected (see above)" << VLMR_FILE_LINE;
            LogFatal() << "failed to parse kiv configuration file" << VLMR_FILE_LINE;
            return 1;
        }
    }

    std::shared_ptr<IPartitionHandler> partitionHandler = CreatePartitionHandler(configuration);
    if (!PartitionHandlerExecution::DetermineGlobalAbSettings(partitionHandler, configuration)) {
        LogFatal() << "failed to determine partition infos" << VLMR_FILE_LINE;
        return 1;
    }

    auto communication = std::make_unique<zov::com::runtime::Component_singleton>(false, "");

    std::shared_ptr<PersistentDataStorage> database;
    bool threw = false;
    database = OpenDatabase(configuration, deps.storageFactory, threw);
    if (!database) {
        if (!threw) {
            LogFatal() << "Cannot access database." << VLMR_FILE_LINE;
        }
        LogFatal() << "Flash Corruption Recovery retry" << VLMR_FILE_LINE;
        // A retry that throws is a database that cannot be used, the same as
        // an empty answer.
        database = OpenDatabase(configuration, deps.storageFactory, threw);
        if (!database) {
            LogFatal() << "Cannot access database. Application is shutting down." << VLMR_FILE_LINE;
            return 1;
        }
    }

    std::shared_ptr<KivRuntime> runtime;
    try {
        runtime = MakeKivRuntime(configuration, database, deps.runtime);
        if (deps.runtimeCreated) {
            deps.runtimeCreated(runtime);
        }
        std::thread runtimeThread(
            [copy = runtime, &deps]() mutable { RunKivThread(std::move(copy), deps.createStateReporter); });
        runtimeThread.join();
    } catch (const std::exception& exception) {
        LogFatal() << "service thread exited: " << exception.what() << VLMR_FILE_LINE;
    } catch (...) {
        LogFatal() << "service thread exited: Unknown exception" << VLMR_FILE_LINE;
    }

    runtime.reset();
    LogInfo() << "kiv shutdown" << VLMR_FILE_LINE;
    database.reset();
    communication.reset();
    partitionHandler.reset();
    return 0;
}

void ResetProcessState() {
    ResetTerminationRequest();
    {
        std::lock_guard<std::mutex> lock(DiagStatusMutex);
        DiagStatusChangesPending = 0;
    }
    FastShutDown::Set(false);
    zov::com::testing::ResetRegistry();
}

// The process entry: logging, command line, signals, configuration, A/B
// partitions, communication runtime, database (with one retry), the runtime
// object on a thread of its own, and the orderly shutdown. It returns the
// process's exit code and can run again in the same process after it
// returned (see ResetProcessState), so tests restart it over one sandbox.
// Not reentrant: one run at a time per process.
#ifndef VELMORA_SRC_RUNVELMORA_H
#define VELMORA_SRC_RUNVELMORA_H

#include "KivLibrary/KivLibrary/ApplicationStateReporter.h"
#include "KivLibrary/KivLibrary/KivRuntimeDependencies.h"
#include "KivLibrary/Persistency/CreatePersistentDataStorage.h"

#include <functional>
#include <memory>

class KivRuntime;

struct VelmoraEntryDependencies {
    // Installs the process-wide logging backend; first step of every run.
    std::function<void()> initializeLogging;
    // Opens the raw key-value storage of the database.
    StorageFactory storageFactory;
    std::function<std::shared_ptr<ApplicationStateReporter>()> createStateReporter;
    KivRuntimeDependencies runtime;
    // Told of the runtime once it is built (tests watch it; keep no strong reference).
    std::function<void(std::weak_ptr<KivRuntime>)> runtimeCreated;
};

// The production entry's dependencies.
VelmoraEntryDependencies ProductionEntryDependencies();

int RunVelmora(int argc, char** argv);
int RunVelmora(int argc, char** argv, const VelmoraEntryDependencies& dependencies);

// Body of the runtime thread. Catches what escapes the runtime.
void RunKivThread(std::shared_ptr<KivRuntime> runtime);
void RunKivThread(std::shared_ptr<KivRuntime> runtime,
                  const std::function<std::shared_ptr<ApplicationStateReporter>()>& createStateReporter);

// Brings the process-wide state back to that of a fresh process after
// RunVelmora returned: the termination flag, pending diagnostic-status
// notifications, the fast-shutdown flag and the binding's registry. For tests
// and the tester console only.
void ResetProcessState();

#endif

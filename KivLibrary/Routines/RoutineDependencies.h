// The shared objects every routine is built from. The runtime fills one bundle
// and hands it to the routine services, which pass it on unchanged; each
// routine copies the pointers it uses. The bundle itself holds no state.
#ifndef KIVLIBRARY_ROUTINES_ROUTINEDEPENDENCIES_H
#define KIVLIBRARY_ROUTINES_ROUTINEDEPENDENCIES_H

#include <memory>

class SessionData;
class PersistentDataStorage;
class KivDMConversation;
class IWorkerThread;
class KivConfiguration;
class ITimer;
namespace UCM {
class UCMAdaptorInterface;
}

struct RoutineDependencies {
    std::shared_ptr<SessionData> sessionData;
    std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor;
    std::shared_ptr<PersistentDataStorage> storage;
    std::shared_ptr<KivDMConversation> conversation;
    std::shared_ptr<IWorkerThread> workerThread;
    std::shared_ptr<KivConfiguration> configuration;
    std::shared_ptr<ITimer> timer;  // left empty by the runtime
};

#endif

// The shared objects that the generic UDS service hands to the dispatch and
// to every UDS handler. Assembled once by the service's constructor and then
// only read; the objects guard themselves.
#ifndef KIVLIBRARY_FUNCTIONAL_UDSSERVICEDEPENDENCIES_H
#define KIVLIBRARY_FUNCTIONAL_UDSSERVICEDEPENDENCIES_H

#include "KivLibrary/Functional/FlashingThread.h"
#include "KivLibrary/KivLibrary/AutonomousCheck.h"

#include <memory>

class SessionData;
class PersistentDataStorage;
class KivDMConversation;
class UCMSessionSelfRepairInterface;
class DTCService;
namespace UCM {
class UCMAdaptorInterface;
}

// The waits of the download handlers; tests shrink them.
struct UdsServiceSettings {
    FlashingThread::Timeouts flashing;
    IvdRequestWaitSettings ivdWait;
};

struct UdsServiceDependencies {
    std::shared_ptr<SessionData> sessionData;
    std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor;
    std::shared_ptr<PersistentDataStorage> storage;
    std::shared_ptr<KivDMConversation> conversation;
    std::shared_ptr<UCMSessionSelfRepairInterface> selfRepair;
    // The CLEANUP ERROR monitor.
    std::shared_ptr<DTCService> cleanupErrorDtc;
    UdsServiceSettings settings;
};

// The runtime's slot of the autonomous check: filled only after the services
// are offered, so handlers read it when they need it, never at construction.
using AutonomousCheckSlot = std::shared_ptr<AutonomousCheck>;

#endif

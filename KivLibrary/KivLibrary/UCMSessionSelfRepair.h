// The UCM session self-repair: stateless between calls; every UCM call goes
// through the adaptor one at a time, in the calling thread (the runtime
// thread at start-up, a method thread for RequestDownload). No lock of its own.
#ifndef KIVLIBRARY_KIVLIBRARY_UCMSESSIONSELFREPAIR_H
#define KIVLIBRARY_KIVLIBRARY_UCMSESSIONSELFREPAIR_H

#include "KivLibrary/GlobalLibrary/SWupdateState.h"
#include "KivLibrary/KivLibrary/UCMSessionSelfRepairInterface.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

class PersistentDataStorage;
class SessionData;
namespace UCM {
class UCMAdaptorInterface;
}

class UCMSessionSelfRepairImpl : public UCMSessionSelfRepairInterface {
public:
    // The most older sessions one repair commits and closes: UCM keeps only
    // a handful, and each id costs up to three blocking UCM calls.
    static constexpr uint32_t kMaxOlderSessions = 32;
    // The walk of older sessions (after the Start and Close of the new one)
    // ends once it has taken this long. The deadline is looked at after
    // every blocking call, so the walk lasts at most this bound plus one
    // call, which the adaptor bounds by its response time-out. The runtime
    // passes two response time-outs.
    static constexpr std::chrono::milliseconds kDefaultWalkBound{60000};

    UCMSessionSelfRepairImpl(std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor,
                             std::shared_ptr<SessionData> sessionData, std::shared_ptr<PersistentDataStorage> storage,
                             std::chrono::milliseconds walkBound = kDefaultWalkBound);

    bool SessionAutoRepair() override;
    bool UCMSessionHangingCheck() override;

private:
    uint32_t ReadUcmSessionId();
    // False when UCM gave no status.
    bool UpdateCurrentStatus();
    // True when UCM reported READY; a walk that ends otherwise failed.
    bool CommitAndCloseOlderSessions(uint32_t newestSessionId);
    void UpdateSwStatus(SWupdateState state, const std::string& caller);

    std::shared_ptr<UCM::UCMAdaptorInterface> m_ucmAdaptor;
    std::shared_ptr<SessionData> m_sessionData;
    std::shared_ptr<PersistentDataStorage> m_storage;
    std::chrono::milliseconds m_walkBound;
};

std::shared_ptr<UCMSessionSelfRepairInterface> CreateUCMSessionSelfRepair(
    std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor, std::shared_ptr<SessionData> sessionData,
    std::shared_ptr<PersistentDataStorage> storage,
    std::chrono::milliseconds walkBound = UCMSessionSelfRepairImpl::kDefaultWalkBound);

#endif

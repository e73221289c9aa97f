// The single holder of the software-update state. Every change is persisted in
// the database and published in its coarser peer form to "vm_status" for the
// RT side; a change outside the table of expected transitions is only warned
// about, never refused.
#ifndef KIVLIBRARY_GLOBALLIBRARY_SWUPDATESTATUS_H
#define KIVLIBRARY_GLOBALLIBRARY_SWUPDATESTATUS_H

#include "KivLibrary/GlobalLibrary/SWupdateState.h"
#include "KivLibrary/GlobalLibrary/SharedMemoryInterface.h"
#include "KivLibrary/Persistency/PersistentDataStorage.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class SWupdateStatus {
public:
    // Works without a database too (state kept in memory and "vm_status" only).
    explicit SWupdateStatus(std::shared_ptr<PersistentDataStorage> database);
    virtual ~SWupdateStatus() = default;
    SWupdateStatus(const SWupdateStatus&) = delete;
    SWupdateStatus& operator=(const SWupdateStatus&) = delete;

    // Restores the persisted state; a missing or out-of-range value becomes IDLE
    // and is written back.
    virtual void ReadStatus(SWupdateState& state);
    virtual void WriteStatusToRT();
    // Result: the database write succeeded. The state changes in any case.
    virtual bool SetStatus(SWupdateState state);
    // Reads the RT side's programming flag (2 allowed, 3 not allowed).
    virtual int32_t GetSwUpdateFlag();
    virtual bool IsProgrammingAllowed();
    virtual SWupdateState GetStatus();

    static SharedMemoryInterface::SWupdateState ToPeerState(SWupdateState state);
    static bool IsTransitionAllowed(SWupdateState from, SWupdateState to);

private:
    void WriteStatusToRT(SWupdateState state);

    std::atomic<int32_t> m_swUpdateFlag{SharedMemoryInterface::kSwUpdateFlagInvalid};
    std::atomic<SWupdateState> m_status{SWupdateState::INVALID};
    std::shared_ptr<PersistentDataStorage> m_database;
    // Keeps memory, "vm_status" and the database in step when two threads change
    // the state at once (fast-shutdown callback against a method thread).
    std::mutex m_changeMutex;
};

// The one way the runtime, the emergency update and the self-repair change the
// state: a refusal is logged at error level as the step name followed by
// ": failed to update SW status to " and the state's name. Without a status
// object nothing changes and the result is false.
bool UpdateSwStatus(const std::shared_ptr<SWupdateStatus>& status, SWupdateState state, const std::string& step);

#endif

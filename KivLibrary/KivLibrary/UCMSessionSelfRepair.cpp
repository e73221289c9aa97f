#include "KivLibrary/KivLibrary/UCMSessionSelfRepair.h"

#include "KivLibrary/GlobalLibrary/SWupdateStatus.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/PersistentDataStorage.h"
#include "KivLibrary/Ucm/UCMAdaptorInterface.h"

#include <chrono>
#include <utility>

namespace {
constexpr CurrentStatusType kNotReported = 2;

// The states in which a session UCM holds without a record can only be a
// download's: the repair ends that download. The states of an update's
// completion (commit, close, rollback) and the installed states belong to
// the completion at start-up, which still has records to copy: IDLE would
// drop that step for good.
bool OwnedByRepair(SWupdateState state) {
    switch (state) {
        case SWupdateState::INVALID:
        case SWupdateState::IDLE:
        case SWupdateState::TRANSFER_IN_PROGRESS:
        case SWupdateState::INSTALL_IN_PROGRESS:
        case SWupdateState::UNDO_DOWNLOAD:
            return true;
        default:
            return false;
    }
}
}  // namespace

UCMSessionSelfRepairImpl::UCMSessionSelfRepairImpl(std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor,
                                                   std::shared_ptr<SessionData> sessionData,
                                                   std::shared_ptr<PersistentDataStorage> storage,
                                                   std::chrono::milliseconds walkBound)
    : m_ucmAdaptor(std::move(ucmAdaptor)),
      m_sessionData(std::move(sessionData)),
      m_storage(std::move(storage)),
      m_walkBound(walkBound) {}

std::shared_ptr<UCMSessionSelfRepairInterface> CreateUCMSessionSelfRepair(
    std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor, std::shared_ptr<SessionData> sessionData,
    std::shared_ptr<PersistentDataStorage> storage, std::chrono::milliseconds walkBound) {
    return std::make_shared<UCMSessionSelfRepairImpl>(std::move(ucmAdaptor), std::move(sessionData), std::move(storage),
                                                      walkBound);
}

uint32_t UCMSessionSelfRepairImpl::ReadUcmSessionId() {
    uint32_t id = SessionData::kNoUcmSession;
    if (m_storage && m_storage->HasUcmSessionId()) {
        uint32_t stored = SessionData::kNoUcmSession;
        if (m_storage->ReadUcmSessionId(stored)) {
            id = stored;
        } else {
            LogError() << "UCMSessionHangingCheck: failed to read UCM session ID" << VLMR_FILE_LINE;
        }
    }
    return id;
}

bool UCMSessionSelfRepairImpl::UCMSessionHangingCheck() {
    const uint32_t id = ReadUcmSessionId();
    m_sessionData->SetUcmSessionId(id);
    LogInfo() << "UCMSessionHangingCheck: current sessionId " << id << VLMR_FILE_LINE;
    LogInfo() << "UCMSessionHangingCheck: CurrentStatus event " << m_sessionData->GetProgrammingStateText()
              << VLMR_FILE_LINE;
    CurrentStatusType status = m_sessionData->GetProgrammingState();
    if (status == SessionData::kProgrammingStateBusy && id == SessionData::kNoUcmSession) {
        // The notification of a close this process has just made may still
        // be on its way: ask UCM before a repair walks its sessions. A UCM
        // that does not answer would not answer the repair's Start either:
        // one response time-out is enough to learn that.
        if (!UpdateCurrentStatus()) {
            LogInfo() << "UCMSessionHangingCheck: repair can't be started, ucm might be down" << VLMR_FILE_LINE;
            return true;
        }
        status = m_sessionData->GetProgrammingState();
        if (status == SessionData::kProgrammingStateBusy) {
            return SessionAutoRepair();
        }
    }
    if (status == kNotReported) {
        LogInfo() << "UCMSessionHangingCheck: repair can't be started, ucm might be down" << VLMR_FILE_LINE;
    } else {
        LogInfo() << "UCMSessionHangingCheck: repair not needed" << VLMR_FILE_LINE;
    }
    return true;
}

bool UCMSessionSelfRepairImpl::SessionAutoRepair() {
    UCM::StartOutput started;
    if (!m_ucmAdaptor->Start(started)) {
        LogInfo() << "SessionAutoRepair: Start session failed" << VLMR_FILE_LINE;
        return false;
    }
    const uint32_t newest = started.id;
    LogInfo() << "SessionAutoRepair: New sessionId " << newest << VLMR_FILE_LINE;
    if (!m_ucmAdaptor->Close(newest, false)) {
        LogInfo() << "SessionAutoRepair: Close session failed" << VLMR_FILE_LINE;
        return false;
    }
    LogInfo() << "SessionAutoRepair: SessionId " << newest << " closed" << VLMR_FILE_LINE;
    const SWupdateState state = m_sessionData->GetSWupdateState();
    if (!CommitAndCloseOlderSessions(newest)) {
        // UCM may still hold a session: IDLE would claim otherwise.
        LogInfo() << "SessionAutoRepair: SW update state " << toString(state) << " kept, UCM is not READY"
                  << VLMR_FILE_LINE;
        return false;
    }
    if (OwnedByRepair(state)) {
        UpdateSwStatus(SWupdateState::IDLE, "SessionAutoRepair");
    } else {
        LogInfo() << "SessionAutoRepair: SW update state " << toString(state)
                  << " kept for the completion of the update" << VLMR_FILE_LINE;
    }
    return true;
}

bool UCMSessionSelfRepairImpl::CommitAndCloseOlderSessions(uint32_t newestSessionId) {
    // Ids below the newest, down to 1 and at most kMaxOlderSessions of them;
    // a newest id of 0 or 1 leaves nothing to walk (and must not wrap).
    const uint32_t walkable = newestSessionId > 1 ? newestSessionId - 1 : 0;
    const uint32_t count = walkable < kMaxOlderSessions ? walkable : kMaxOlderSessions;
    // The walk runs on the runtime thread at start-up or in a tester's
    // request: it must not hold either for long. The first id is always
    // tried; after that every blocking call is followed by a look at the
    // deadline, so the walk overruns it by one call at most.
    const auto deadline = std::chrono::steady_clock::now() + m_walkBound;
    const auto overdue = [this, deadline](uint32_t id) {
        if (std::chrono::steady_clock::now() < deadline) {
            return false;
        }
        LogError() << "SessionAutoRepair: walk stopped after " << static_cast<int64_t>(m_walkBound.count())
                   << " ms at sessionId " << id << VLMR_FILE_LINE;
        return true;
    };
    for (uint32_t step = 0; step < count; ++step) {
        const uint32_t id = newestSessionId - 1 - step;
        bool done = m_ucmAdaptor->CommitUpdate(id, true);
        bool stopped = overdue(id);
        if (done && !stopped) {
            done = m_ucmAdaptor->Close(id, false);
            stopped = overdue(id);
        }
        if (done) {
            LogInfo() << "SessionAutoRepair: commitUpdate/Close completed for sessionId " << id << VLMR_FILE_LINE;
        } else {
            LogInfo() << "SessionAutoRepair: commitUpdate/Close failed for sessionId " << id << VLMR_FILE_LINE;
        }
        if (stopped) {
            break;
        }
        const bool answered = UpdateCurrentStatus();
        LogInfo() << "SessionAutoRepair: CurrentStatus event " << m_sessionData->GetProgrammingStateText()
                  << VLMR_FILE_LINE;
        if (!answered) {
            // Each further id would cost the same unanswered calls again.
            LogError() << "SessionAutoRepair: UCM gives no status, walk stopped at sessionId " << id << VLMR_FILE_LINE;
            break;
        }
        if (m_sessionData->GetProgrammingState() == SessionData::kProgrammingStateReady) {
            LogInfo() << "SessionAutoRepair: successfully repaired" << VLMR_FILE_LINE;
            return true;
        }
        if (overdue(id)) {
            break;
        }
    }
    // Without older sessions nothing has asked UCM since the close of the
    // new one, whose notification may still be on its way.
    if (count == 0) {
        (void)UpdateCurrentStatus();
    }
    // The status notification may have brought READY meanwhile.
    if (m_sessionData->GetProgrammingState() == SessionData::kProgrammingStateReady) {
        return true;
    }
    LogInfo() << "SessionAutoRepair: repair failed" << VLMR_FILE_LINE;
    return false;
}

bool UCMSessionSelfRepairImpl::UpdateCurrentStatus() {
    UCM::CurrentStatusEventDataType status = kNotReported;
    const bool answered = m_ucmAdaptor->GetCurrentStatus(status);
    if (answered) {
        m_sessionData->SetProgrammingState(status);
        LogInfo() << "UpdateCurrentStatus: updating status" << VLMR_FILE_LINE;
    }
    LogInfo() << "UpdateCurrentStatus: CurrentStatus" << m_sessionData->GetProgrammingStateText() << VLMR_FILE_LINE;
    return answered;
}

void UCMSessionSelfRepairImpl::UpdateSwStatus(SWupdateState state, const std::string& caller) {
    (void)::UpdateSwStatus(m_sessionData->GetSWupdateStatus(), state, caller);
}

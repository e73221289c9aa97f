// Completion of an update interrupted by the ECU reset or a power failure:
// commit and close, roll back, or undo a download, each step behind a synced
// "in progress" state so that the next start repeats it.
#include "KivLibrary/GlobalLibrary/SWupdateStatus.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Helper/ByteFormat.h"
#include "KivLibrary/KivLibrary/KivRuntime.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/Persistency/PersistentDataStorage.h"
#include "KivLibrary/Persistency/ProgrammingAttemptsCounters.h"
#include "KivLibrary/Ucm/UCMAdaptorInterface.h"

namespace {

constexpr uint32_t kNoSession = SessionData::kNoUcmSession;

// The in-progress state is what the next start repeats. Until it is durable,
// a UCM operation would leave the medium on the state before it: the next
// start would then repeat an older step against a session UCM has already
// committed or closed, and stay stuck on it. Without it the step waits for
// the next start.
bool PersistInProgress(const std::shared_ptr<SWupdateStatus>& status, PersistentDataStorage& storage,
                       SWupdateState state, const std::string& step) {
    const bool written = UpdateSwStatus(status, state, step);
    if (!written || !storage.SyncToStorage()) {
        LogError() << step << ": " << toString(state) << " is not durable; no UCM call before the next start"
                   << VLMR_FILE_LINE;
        return false;
    }
    return true;
}

}  // namespace

SWupdateState KivRuntime::CurrentSwState() {
    const std::shared_ptr<SWupdateStatus> status = m_sessionData->GetSWupdateStatus();
    return status ? status->GetStatus() : SWupdateState::INVALID;
}

void KivRuntime::update_sw_status(SWupdateState state, const std::string& step) {
    (void)UpdateSwStatus(m_sessionData->GetSWupdateStatus(), state, step);
}

bool KivRuntime::finish_update(SWupdateState before) {
    LogInfo() << "Finishing update : state before = " << toString(before) << VLMR_FILE_LINE;
    uint32_t sessionId = kNoSession;
    if (m_storage->HasUcmSessionId() && !m_storage->ReadUcmSessionId(sessionId)) {
        LogError() << "Finishing update : the persisted UcmSessionId cannot be read" << VLMR_FILE_LINE;
        sessionId = kNoSession;
    }
    m_sessionData->SetUcmSessionId(sessionId);
    LogInfo() << "Finishing update : UcmSessionId = " << sessionId << VLMR_FILE_LINE;

    bool ok = false;
    if (finish_update_power_failure(before, sessionId, ok)) {
        return ok;
    }
    LogDebug() << "checking for running update" << VLMR_FILE_LINE;
    if ((before == SWupdateState::INSTALL_COMPLETE || before == SWupdateState::INSTALL_COMPLETE_PREPARED4SD) &&
        sessionId != kNoSession) {
        PartitionEnum partition = PartitionEnum::INVALID;
        if (!m_storage->ReadUpdateForPartition(partition)) {
            LogError() << "Finishing update : no partition to update on record" << VLMR_FILE_LINE;
        }
        LogInfo() << "found update with ucm sessionId: " << sessionId << VLMR_FILE_LINE;
        return finish_update_update_or_rollback(sessionId, toString(partition));
    }
    LogInfo() << "found no running updates" << VLMR_FILE_LINE;
    finish_update_no_update(sessionId);
    return false;
}

bool KivRuntime::finish_update_power_failure(SWupdateState state, uint32_t sessionId, bool& ok) {
    if (state != SWupdateState::UPDATE_IN_PROGRESS_COMMIT && state != SWupdateState::UPDATE_IN_PROGRESS_CLOSE &&
        state != SWupdateState::ROLLBACK_IN_PROGRESS) {
        LogDebug() << "No power failure before;  state = " << toString(state) << VLMR_FILE_LINE;
        return false;
    }
    return continue_interrupted_finish(state, sessionId, ok);
}

bool KivRuntime::continue_interrupted_finish(SWupdateState state, uint32_t sessionId, bool& ok) {
    // The id goes only after a successful close; a commit state without one
    // can only follow a close, and a commit of "no session" would fail at
    // every start for ever.
    if (state == SWupdateState::UPDATE_IN_PROGRESS_COMMIT && sessionId == kNoSession) {
        LogWarn() << "Had power failure while committing, but no UcmSessionId is on record: continuing with closing"
                  << VLMR_FILE_LINE;
        state = SWupdateState::UPDATE_IN_PROGRESS_CLOSE;
    }
    ok = false;
    const bool handled = continue_commit(state, sessionId, ok) || continue_close(state, sessionId, ok) ||
                         continue_rollback(state, sessionId, ok);
    if (handled && ok) {
        update_sw_status(SWupdateState::IDLE, "finish_update_power_failure");
        m_sessionData->SetUcmSessionId(kNoSession);
    }
    return handled;
}

bool KivRuntime::continue_commit(SWupdateState state, uint32_t sessionId, bool& ok) {
    if (state != SWupdateState::UPDATE_IN_PROGRESS_COMMIT) {
        return false;
    }
    LogInfo() << "Had power failure continuing with committing the update" << VLMR_FILE_LINE;
    ok = DoCommit(sessionId, true);
    if (!ok) {
        LogError() << "Committing of sessionId :" << sessionId << " has FAILED; state = " << toString(CurrentSwState())
                   << VLMR_FILE_LINE;
    }
    return true;
}

bool KivRuntime::continue_close(SWupdateState state, uint32_t sessionId, bool& ok) {
    if (state != SWupdateState::UPDATE_IN_PROGRESS_CLOSE) {
        return false;
    }
    LogInfo() << "Had power failure continuing with closing the update" << VLMR_FILE_LINE;
    ok = DoClose(sessionId, true);
    if (!ok) {
        LogError() << "Closing of sessionId :" << sessionId << " has FAILED; state = " << toString(CurrentSwState())
                   << VLMR_FILE_LINE;
    }
    return true;
}

bool KivRuntime::continue_rollback(SWupdateState state, uint32_t sessionId, bool& ok) {
    if (state != SWupdateState::ROLLBACK_IN_PROGRESS) {
        return false;
    }
    LogInfo() << "Had power failure continuing with rollback the update" << VLMR_FILE_LINE;
    ok = DoRollback(sessionId, true);
    if (!ok) {
        LogError() << "Rollingback of sessionId :" << sessionId << " has FAILED; state = " << toString(CurrentSwState())
                   << VLMR_FILE_LINE;
    }
    return true;
}

bool KivRuntime::finish_update_update_or_rollback(uint32_t sessionId, const std::string& partition) {
    const std::shared_ptr<KivConfiguration>& configuration = m_context.configuration;
    const std::string active = configuration ? configuration->activePartitionName : std::string();
    bool ok = false;
    if (!active.empty() && ToLowerAscii(partition) == ToLowerAscii(active)) {
        LogInfo() << "continue with committing and closing the update and removing keys from persistence"
                  << VLMR_FILE_LINE;
        ok = DoCommit(sessionId, false);
    } else {
        LogInfo() << "update_for_partition: " << partition << " current active partition: " << active << VLMR_FILE_LINE;
        const SWupdateState state = CurrentSwState();
        if (state != SWupdateState::INSTALL_COMPLETE_PREPARED4SD) {
            LogWarn() << "partition not toggled! Remain in InstallComplete = " << toString(state) << VLMR_FILE_LINE;
            return false;
        }
        LogWarn() << "partition not toggled! Closing update and removing keys from persistence" << VLMR_FILE_LINE;
        ok = DoRollback(sessionId, false);
    }
    m_sessionData->SetUcmSessionId(kNoSession);
    if (ok) {
        LogInfo() << "KivRuntime: finish_update succeeded!" << VLMR_FILE_LINE;
        update_sw_status(SWupdateState::IDLE, "finish_update_update_or_rollback");
    } else {
        const SWupdateState state = CurrentSwState();
        if (state == SWupdateState::UPDATE_IN_PROGRESS_COMMIT || state == SWupdateState::UPDATE_IN_PROGRESS_CLOSE ||
            state == SWupdateState::ROLLBACK_IN_PROGRESS) {
            LogError() << "KivRuntime: finish_update FAILED!" << VLMR_FILE_LINE;
        }
    }
    return ok;
}

void KivRuntime::finish_update_no_update(uint32_t sessionId) {
    const SWupdateState state = CurrentSwState();
    const bool download = state == SWupdateState::TRANSFER_IN_PROGRESS || state == SWupdateState::INSTALL_IN_PROGRESS ||
                          state == SWupdateState::UNDO_DOWNLOAD;
    if (download && sessionId != kNoSession) {
        LogInfo() << "Undo SW download during Startup: ucm sessionId: " << sessionId << VLMR_FILE_LINE;
        const bool wasUndo = state == SWupdateState::UNDO_DOWNLOAD;
        if (!PersistInProgress(m_sessionData->GetSWupdateStatus(), *m_storage, SWupdateState::UNDO_DOWNLOAD,
                               "finish_update_no_update")) {
            return;
        }
        if (!m_ucmAdaptor || !m_ucmAdaptor->DOClose(sessionId, wasUndo)) {
            LogError() << "Undo SW download during Startup: closing of sessionId :" << sessionId << " has FAILED"
                       << VLMR_FILE_LINE;
            return;
        }
        // RequestDownload persisted the attempt in the UPDATED records: it must
        // survive the undo, or a power cut during a download would reset the
        // attempt lock.
        if (!UpdateProgrammingAttemptsCounter() || !remove_updated_data()) {
            LogError() << "Undo SW download during Startup: records not restored; "
                       << toString(SWupdateState::UNDO_DOWNLOAD) << " kept for the next start" << VLMR_FILE_LINE;
            return;
        }
        update_sw_status(SWupdateState::IDLE, "finish_update_no_update");
        (void)m_storage->RemoveUcmSessionId();
        m_sessionData->SetUcmSessionId(kNoSession);
        (void)m_storage->RemoveUpdateForPartition();
        return;
    }
    // Without a session there is nothing to undo at UCM, and any state but
    // IDLE would refuse every later download.
    if (state != SWupdateState::IDLE) {
        update_sw_status(SWupdateState::IDLE, "finish_update_no_update");
    }
    if (sessionId != kNoSession) {
        (void)m_storage->RemoveUcmSessionId();
        m_sessionData->SetUcmSessionId(kNoSession);
    }
}

bool KivRuntime::DoCommit(uint32_t sessionId, bool ignoreError) {
    if (!PersistInProgress(m_sessionData->GetSWupdateStatus(), *m_storage, SWupdateState::UPDATE_IN_PROGRESS_COMMIT,
                           "DoCommit")) {
        return false;
    }
    if (!m_ucmAdaptor || !m_ucmAdaptor->commitUpdate(sessionId, ignoreError)) {
        LogError() << "Committing of sessionId :" << sessionId << " has FAILED" << VLMR_FILE_LINE;
        return false;
    }
    return DoClose(sessionId, false);
}

bool KivRuntime::DoClose(uint32_t sessionId, bool ignoreInvalidSession) {
    if (!PersistInProgress(m_sessionData->GetSWupdateStatus(), *m_storage, SWupdateState::UPDATE_IN_PROGRESS_CLOSE,
                           "DoClose")) {
        return false;
    }
    if (!m_ucmAdaptor || !m_ucmAdaptor->DOClose(sessionId, ignoreInvalidSession)) {
        LogError() << "Closing of sessionId :" << sessionId << " has FAILED in DoClose" << VLMR_FILE_LINE;
        return false;
    }
    (void)m_storage->RemoveUcmSessionId();
    (void)m_storage->RemoveUpdateForPartition();
    LogicalBlocks updated;
    if (!m_storage->ReadUpdatedLogicalBlocks(updated)) {
        LogError() << "DoClose: cannot read the updated logical blocks; "
                   << toString(SWupdateState::UPDATE_IN_PROGRESS_CLOSE) << " kept for the next start" << VLMR_FILE_LINE;
        return false;
    }
    replace_rfs_min_version(m_sessionData->GetInstalledLogistics(), updated);
    if (!m_storage->WriteUpdatedLogicalBlocks(updated)) {
        LogError() << "DoClose: cannot write the updated logical blocks" << VLMR_FILE_LINE;
        return false;
    }
    return replace_installed_blocks();
}

bool KivRuntime::DoRollback(uint32_t sessionId, bool ignoreInvalidSession) {
    if (!PersistInProgress(m_sessionData->GetSWupdateStatus(), *m_storage, SWupdateState::ROLLBACK_IN_PROGRESS,
                           "DoRollback")) {
        return false;
    }
    if (!m_ucmAdaptor || !m_ucmAdaptor->DOClose(sessionId, ignoreInvalidSession)) {
        LogError() << "Closing of sessionId :" << sessionId << " has FAILED in DoRollback" << VLMR_FILE_LINE;
        return false;
    }
    (void)m_storage->RemoveUcmSessionId();
    (void)m_storage->RemoveUpdateForPartition();
    return UpdateProgrammingAttemptsCounter() && remove_updated_data();
}

void KivRuntime::replace_rfs_min_version(const std::shared_ptr<LogicalBlockCacheData>& record, LogicalBlocks& blocks) {
    LogInfo() << "KivRuntime: Replace rfsMinVersion for Updated/Installed blocks." << VLMR_FILE_LINE;
    if (!record || record->blocks.empty() || blocks.empty()) {
        LogInfo() << "KivRuntime: Replace rfsMinVersion for Updated/Installed blocks: empty" << VLMR_FILE_LINE;
        return;
    }
    for (LogicalBlock& block : blocks) {
        for (const LogicalBlockCache& entry : record->blocks) {
            if (entry.id == block.m_id) {
                block.m_rfsMinVersion = entry.rfsCurrentVersion;
                break;
            }
        }
    }
}

bool KivRuntime::replace_installed_blocks() {
    LogInfo() << "KivRuntime: Replace Installed blocks." << VLMR_FILE_LINE;
    LogicalBlocks blocks;
    EcuInfo ecuInfo = EcuInfo::ProgrammingNotConsistent;
    if (!m_storage->ReadUpdatedLogicalBlocks(blocks) || !m_storage->ReadUpdatedEcuInfo(ecuInfo)) {
        LogError() << "KivRuntime: cannot read the updated records; installed records left unchanged" << VLMR_FILE_LINE;
        return false;
    }
    if (!m_storage->WriteInstalledLogicalBlocks(blocks) || !m_storage->WriteInstalledEcuInfo(ecuInfo)) {
        LogError() << "KivRuntime: cannot write the installed records" << VLMR_FILE_LINE;
        return false;
    }
    LogDebug() << "KivRuntime: replace_installed succeeded!" << VLMR_FILE_LINE;
    return true;
}

bool KivRuntime::remove_updated_data() {
    LogInfo() << "KivRuntime: Removing updated data." << VLMR_FILE_LINE;
    LogicalBlocks blocks;
    EcuInfo ecuInfo = EcuInfo::ProgrammingNotConsistent;
    if (!m_storage->ReadInstalledLogicalBlocks(blocks) || !m_storage->ReadInstalledEcuInfo(ecuInfo)) {
        LogError() << "KivRuntime: cannot read the installed records; updated records left unchanged" << VLMR_FILE_LINE;
        return false;
    }
    if (!m_storage->WriteUpdatedLogicalBlocks(blocks) || !m_storage->WriteUpdatedEcuInfo(ecuInfo)) {
        LogError() << "KivRuntime: cannot write the updated records" << VLMR_FILE_LINE;
        return false;
    }
    LogDebug() << "KivRuntime: remove_updated succeeded!" << VLMR_FILE_LINE;
    return true;
}

bool KivRuntime::UpdateProgrammingAttemptsCounter() {
    LogInfo() << "KivRuntime: UpdateProgrammingAttemptsCounter" << VLMR_FILE_LINE;
    if (CopyProgrammingAttemptsCounters(m_storage)) {
        return true;
    }
    // Without UPDATED records there is no attempt to carry over; with records
    // that cannot be read, going on would lose the attempts for good.
    if (!m_storage->HasUpdatedLogicalBlocks() && m_storage->HasInstalledLogicalBlocks()) {
        return true;
    }
    LogError() << "KivRuntime: programming attempts not carried over" << VLMR_FILE_LINE;
    return false;
}

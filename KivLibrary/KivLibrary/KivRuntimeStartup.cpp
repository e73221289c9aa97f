// The start-up of the runtime: brings the database, the logistics caches and
// the peer files into agreement with what happened since the last run (an
// emergency installation, an empty database, an interrupted update, a UCM
// session left open) before the process reports itself running.
#include "KivLibrary/EmergencyUpdate/EmergencyUpdate.h"
#include "KivLibrary/GlobalLibrary/LogicalBlockProgrammingHash.h"
#include "KivLibrary/GlobalLibrary/SWupdateStatus.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/GlobalLibrary/SharedMemoryInterface.h"
#include "KivLibrary/KivLibrary/KivRuntime.h"
#include "KivLibrary/KivLibrary/UCMSessionSelfRepairInterface.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/Persistency/LogisticFileHandler.h"
#include "KivLibrary/Persistency/ObjectLogger.h"
#include "KivLibrary/Persistency/PersistentDataStorage.h"
#include "KivLibrary/Ucm/UCMAdaptorInterface.h"
#include "KivLibrary/Ucm/UcmNames.h"

#include <array>

namespace {

// Marks every cache record of a persisted block with the block's stored
// integrity result, then dumps the record.
void FillIvdLbCache(SessionData& session, const LogicalBlocks& blocks, const std::string& cacheName, bool active) {
    const std::shared_ptr<LogicalBlockCacheData> current =
        active ? session.GetInstalledLogistics() : session.GetUpdatedLogistics();
    if (!current) {
        return;
    }
    session.ReplaceLogistics(active, [&blocks](LogicalBlockCacheData& cache) {
        for (const LogicalBlock& block : blocks) {
            for (LogicalBlockCache& entry : cache.blocks) {
                if (entry.id != block.m_id) {
                    continue;
                }
                entry.IVD_Retrieved = false;
                entry.IVD_Retries = 0;
                entry.IVD = block.m_IVD.m_data;
                entry.IVD_IsValid = block.m_IVD.m_state == 1 || block.m_IVD.m_state == 3;
                entry.IVD_IsCorrupt = block.m_IVD.m_state == 2 || block.m_IVD.m_state == 3;
                entry.IVD_ACIsValid = false;
                entry.IVD_ACIsCorrupt = true;
                break;
            }
        }
    });
    const std::shared_ptr<LogicalBlockCacheData> filled =
        active ? session.GetInstalledLogistics() : session.GetUpdatedLogistics();
    if (filled) {
        for (const LogicalBlockCache& entry : filled->blocks) {
            DumpLogicalBlockEntries(cacheName, entry);
        }
    }
}

}  // namespace

bool KivRuntime::init_runtime() {
    m_sessionData->SetUcmCopyInProgress(true);
    if (!m_storage || !m_storage->IsStorageAvailable()) {
        LogError() << "Not connected to persistency" << VLMR_FILE_LINE;
        return false;
    }
    LogInfo() << "Clearing vm_magic" << VLMR_FILE_LINE;
    SharedMemoryInterface::Instance().ClearSwMagic(SharedMemoryInterface::kVmMagicPath);

    LogInfo() << "Read data of Zenq logistics json files from ACTIVE partition" << VLMR_FILE_LINE;
    m_logistics = std::make_shared<LogisticFileHandler>(m_context.configuration, m_storage, m_sessionData);
    m_logistics->ReadActiveLogistics();

    if (m_dependencies.createDiagnosticInfoService) {
        m_diagnosticInfoService = m_dependencies.createDiagnosticInfoService(m_context);
    }
    start_offer_services();
    run_startup();
    check_InstallationStatus();

    const std::shared_ptr<LogicalBlockCacheData> mirror = m_sessionData->GetUpdatedLogistics();
    if (!mirror || mirror->blocks.empty()) {
        LogInfo() << "Read data of Zenq logistics json files from INACTIVE partition, initialize MirrorCacheLBs"
                  << VLMR_FILE_LINE;
        m_logistics->ReadInactiveLogistics();
    }
    init_autonomous_check();
    m_sessionData->SetUcmCopyInProgress(false);
    evaluate_dtcs();
    return true;
}

void KivRuntime::run_startup() {
    const std::shared_ptr<SWupdateStatus> status = m_sessionData->GetSWupdateStatus();
    SWupdateState state = SWupdateState::INVALID;
    if (status) {
        status->ReadStatus(state);
        status->WriteStatusToRT();
    }
    LogInfo() << "CurrentStatus event " << m_sessionData->GetProgrammingStateText() << VLMR_FILE_LINE;

    if (start_emergency_update()) {
        LogInfo() << "Emergency update occurred, and the logistic information has persisted" << VLMR_FILE_LINE;
    } else {
        if (m_storage->HasInstalledLogicalBlocks()) {
            LogInfo() << "Fetched data from persistence" << VLMR_FILE_LINE;
        } else {
            LogInfo() << "Persistence database is empty, proceeding to read json files" << VLMR_FILE_LINE;
            import_active_logistics();
        }
        (void)finish_update(CurrentSwState());
    }

    if (m_selfRepair && !m_selfRepair->UCMSessionHangingCheck()) {
        if (m_cleanupErrorDtc) {
            (void)m_cleanupErrorDtc->SetDTCState(DTC_FAILED, 1U);
        }
        LogInfo() << "run_startup:: UCM Session self repair failed : Raise Cleanup Error : DTC CLEANUP ERROR FAILED"
                  << VLMR_FILE_LINE;
    }
    write_rfs_to_shared_memory();
    (void)m_storage->SyncToStorage();
    PrintPersistedLogicalBlocks(m_storage);
}

bool KivRuntime::start_emergency_update() {
    if (!m_emergencyUpdate || !m_emergencyUpdate->HasEmergencyInstallInfo()) {
        return false;
    }
    (void)m_emergencyUpdate->Check_Database();
    if (m_emergencyUpdate->Refused()) {
        // Its marker stays for a later start; taking this start as an
        // emergency one would skip the completion of a waiting update on
        // every start until then.
        LogWarn() << "KivRuntime: emergency update not applied; starting as without one" << VLMR_FILE_LINE;
        return false;
    }
    return true;
}

void KivRuntime::import_active_logistics() {
    const std::shared_ptr<LogicalBlockCacheData> active = m_sessionData->GetInstalledLogistics();
    if (!active) {
        LogError() << "KivRuntime: no ACTIVE logistics to import into the database" << VLMR_FILE_LINE;
        return;
    }
    LogisticFileHandler logistics(m_context.configuration, m_storage, m_sessionData);
    const auto ecuInfo = static_cast<EcuInfo>(active->ecuInfo[EcuInfoLayout::kProgrammingInfoOffset]);
    LogicalBlocks blocks;
    logistics.PopulateCaches(*active, blocks);
    bool ok = m_storage->WriteUpdatedEcuInfo(ecuInfo);
    ok = m_storage->WriteInstalledEcuInfo(ecuInfo) && ok;
    ok = m_storage->WriteUpdatedLogicalBlocks(blocks) && ok;
    ok = m_storage->WriteInstalledLogicalBlocks(blocks) && ok;
    if (!ok) {
        LogError() << "KivRuntime: the ACTIVE logistics could not be stored in the database" << VLMR_FILE_LINE;
    }
}

void KivRuntime::write_rfs_to_shared_memory() {
    LogInfo() << "Writing RFS to RT via shared memory." << VLMR_FILE_LINE;
    const std::shared_ptr<LogicalBlockCacheData> active = m_sessionData->GetInstalledLogistics();
    if (!active) {
        LogError() << "KivRuntime: no ACTIVE logistics; RFS not written" << VLMR_FILE_LINE;
        return;
    }
    std::array<uint8_t, EcuInfoLayout::kVersionSize> rfs{};
    std::copy_n(active->ecuInfo.begin() + EcuInfoLayout::kVersionOffset, rfs.size(), rfs.begin());
    SharedMemoryInterface::Instance().WriteRFS(rfs, SharedMemoryInterface::kVmRfsPath);
}

void KivRuntime::check_InstallationStatus() {
    const uint32_t sessionId = m_sessionData->GetUcmSessionId();
    LogInfo() << "check_InstallationStatus session_id=" << sessionId << " ..." << VLMR_FILE_LINE;
    if (sessionId == SessionData::kNoUcmSession) {
        return;
    }
    UCM::GetInstallationStatusOutput status;
    if (m_ucmAdaptor && m_ucmAdaptor->GetInstallationStatus(sessionId, status)) {
        LogInfo() << "check_InstallationStatus : retrieved installation status: " << static_cast<int>(status.Status)
                  << VLMR_FILE_LINE;
        UCM::LogInstallationStatus(status);
    } else {
        LogError() << "check_InstallationStatus: failed to retrieve installation status" << VLMR_FILE_LINE;
    }
}

void KivRuntime::init_autonomous_check() {
    const SWupdateState state = CurrentSwState();
    LogInfo() << "KivRuntime::init_autonomous_check : SWupdateStatus=" << toString(state) << VLMR_FILE_LINE;
    LogicalBlocks blocks;
    const bool closing =
        state == SWupdateState::UPDATE_IN_PROGRESS_COMMIT || state == SWupdateState::UPDATE_IN_PROGRESS_CLOSE;
    const bool read =
        closing ? m_storage->ReadUpdatedLogicalBlocks(blocks) : m_storage->ReadInstalledLogicalBlocks(blocks);
    if (read) {
        FillIvdLbCache(*m_sessionData, blocks, "ACTIVE IVD-LBCache", true);
    }
    if (state == SWupdateState::IDLE || state == SWupdateState::INSTALL_COMPLETE ||
        state == SWupdateState::INSTALL_COMPLETE_PREPARED4SD) {
        LogicalBlocks updated;
        if (m_storage->ReadUpdatedLogicalBlocks(updated)) {
            FillIvdLbCache(*m_sessionData, updated, "MIRROR IVD-LBCache", false);
        }
    }
}

void KivRuntime::evaluate_dtcs() {
    const SWupdateState state = CurrentSwState();
    const bool passed =
        state == SWupdateState::INSTALL_COMPLETE ||
        (state == SWupdateState::IDLE && m_sessionData->GetProgrammingState() != SessionData::kProgrammingStateBusy);
    const char* name = passed ? "DTC_PASSED" : "DTC_FAILED";
    if (m_cleanupErrorDtc && m_cleanupErrorDtc->SetDTCState(passed ? DTC_PASSED : DTC_FAILED, 1U)) {
        LogInfo() << "Cleanup Error DTC is set to " << name << VLMR_FILE_LINE;
    } else {
        LogError() << "ERROR: Unable to raise Cleanup Error DTC = " << name << VLMR_FILE_LINE;
    }
}

void KivRuntime::start_ivd_autonomous_check() {
    if (!m_dependencies.startAutonomousCheck) {
        LogInfo() << "KivRuntime: no autonomous check in this build" << VLMR_FILE_LINE;
        return;
    }
    const AutonomousCheckSettings settings =
        m_dependencies.autonomousCheckSettings
            ? *m_dependencies.autonomousCheckSettings
            : AutonomousCheckSettingsFromConfiguration(m_context.configuration ? *m_context.configuration
                                                                               : KivConfiguration());
    m_dependencies.startAutonomousCheck(m_context, settings);
}

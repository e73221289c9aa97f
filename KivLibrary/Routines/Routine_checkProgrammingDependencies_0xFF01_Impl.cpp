#include "KivLibrary/Routines/Routine_checkProgrammingDependencies_0xFF01_Impl.h"

#include "KivLibrary/GlobalLibrary/RFS.h"
#include "KivLibrary/GlobalLibrary/SWupdateStatus.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Helper/ByteFormat.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/Persistency/LogisticFileHandler.h"
#include "KivLibrary/Persistency/ObjectLogger.h"
#include "KivLibrary/Persistency/PersistentDataStorage.h"

#include <algorithm>
#include <stdexcept>

using DependenciesOutput = DependenciesInterface::Start::Output;

namespace {

// Marks a block for which the package carries no valid update.
const std::array<uint8_t, 4> kNoValidUpdate{{'-', '-', '-', '-'}};

const LogicalBlockCache* FindBlock(const std::vector<LogicalBlockCache>& blocks, uint16_t id) {
    const auto it = std::find_if(blocks.begin(), blocks.end(), [id](const LogicalBlockCache& b) { return b.id == id; });
    return it == blocks.end() ? nullptr : &*it;
}

uint32_t Decimal(uint16_t id) { return id; }

// Each entry must be listed in the F1AB table with its own F1AB version.
bool CompareWithF1abTable(const std::vector<LogicalBlockCache>& entries, const RFS::VersionTable& table) {
    for (const LogicalBlockCache& entry : entries) {
        const auto listed = table.find(entry.id);
        if (listed == table.end()) {
            LogError() << "There is no such entry in the downgrade protection table for id : " << Decimal(entry.id)
                       << VLMR_FILE_LINE;
            return false;
        }
        if (listed->second != entry.version) {
            LogError() << "There is a difference in the dpt f1ab and the current one for id : " << Decimal(entry.id)
                       << VLMR_FILE_LINE;
            return false;
        }
        LogInfo() << "F1ab is verified for block with id : " << Decimal(entry.id) << VLMR_FILE_LINE;
    }
    return true;
}

}  // namespace

RoutineService_ff01_Impl::RoutineService_ff01_Impl(const std::string& instance, uint8_t mode,
                                                   const RoutineDependencies& dependencies)
    : PlainRoutine(instance, mode, dependencies, "checkProgrammingDependencies"),
      m_sessionData(dependencies.sessionData),
      m_storage(dependencies.storage),
      m_configuration(dependencies.configuration) {}

void RoutineService_ff01_Impl::LogCancelCompleted() {
    LogInfo() << "Cancel checkProgrammingDependencies succeeded" << VLMR_FILE_LINE;
}

jux::com::Future<DependenciesOutput> RoutineService_ff01_Impl::Start(const MetaInfo& metaInfo) {
    return Guard<DependenciesOutput>(
        "Start",
        [&] {
            LogInfo() << "Start checkProgrammingDependencies" << VLMR_FILE_LINE;
            RegisterConversation(metaInfo);
            if (!m_sessionData || !m_storage || !m_configuration) {
                throw std::logic_error("missing session data, storage or configuration");
            }
            DependenciesOutput output;
            output.routineStatus = kPassed;
            LogisticFileHandler logistics(m_configuration, m_storage, m_sessionData);
            const bool reread = logistics.ReadMirrorLogisticsIntoUpdated();

            LogicalBlocks installed;
            EcuInfo installedInfo = EcuInfo::ProgrammingNotConsistent;
            m_storage->ReadInstalledLogicalBlocks(installed);
            m_storage->ReadInstalledEcuInfo(installedInfo);
            LogInfo() << "INSTALLED logical blocks: " << installed << VLMR_FILE_LINE;
            LogInfo() << "INSTALLED ecu info: " << installedInfo << VLMR_FILE_LINE;

            if (!reread) {
                LogError() << "Couldn't scan and update logistic files and blocks." << VLMR_FILE_LINE;
                output.routineStatus = kLogisticsOrF1ab;
                return Answer(output);
            }
            checkProgrammingDependencies(output.routineStatus);
            m_sessionData->SetFingerprintFlag(false);
            LogInfo() << "Start checkProgrammingDependencies completed" << VLMR_FILE_LINE;
            return Answer(output);
        },
        [this] {
            // A check that could not run has not passed.
            if (m_sessionData) {
                m_sessionData->SetDependencyCheckResult(true);
            }
            DependenciesOutput output;
            output.routineStatus = kLogisticsOrF1ab;
            return Answer(output);
        });
}

void RoutineService_ff01_Impl::checkProgrammingDependencies(uint8_t& result) {
    const bool passed = CheckRfsDriver(result) && CheckRfsMinimumVersions(result) && CheckMajorVersions(result) &&
                        CheckRfsWithDpt(result) && CheckF1abWithDpt(result);
    m_sessionData->SetDependencyCheckResult(!passed);
    if (!passed) {
        LogError() << "Check Programming dependencies failed!" << VLMR_FILE_LINE;
        return;
    }
    LogInfo() << "Check Programming dependencies successful! => SW_UPDATE_STATE_InstallComplete" << VLMR_FILE_LINE;
    // Without the state holder there is no state to change: a failed change.
    const std::shared_ptr<SWupdateStatus> status = m_sessionData->GetSWupdateStatus();
    const SWupdateState previous = status ? status->GetStatus() : SWupdateState::INVALID;
    // The medium did not take INSTALL_COMPLETE (fast shutdown, no database, a
    // failed sync): the next start would not complete the update, so the
    // tester must not be told it is complete, and memory must not claim it
    // either.
    const auto notCompleted = [&] {
        if (status && !status->SetStatus(previous)) {
            LogError() << "checkProgrammingDependencies: failed to update SW status to " << toString(previous)
                       << VLMR_FILE_LINE;
        }
        m_sessionData->SetDependencyCheckResult(true);
        result = kStateNotChanged;
    };
    if (!status || !status->SetStatus(SWupdateState::INSTALL_COMPLETE)) {
        LogError() << "checkProgrammingDependencies: failed to update SW status to InstallComplete" << VLMR_FILE_LINE;
        notCompleted();
        return;
    }
    PartitionEnum storedPartition = PartitionEnum::INVALID;
    const bool partitionStored = m_storage->ReadUpdateForPartition(storedPartition);
    const bool ucmSession = m_sessionData->GetUcmSessionId() != SessionData::kNoUcmSession;
    if (ucmSession) {
        PersistUpdatedPartition();
    }
    PrintPersistedLogicalBlocks(m_storage);
    if (!m_storage->SyncToStorage()) {
        LogError() << "checkProgrammingDependencies: sync to storage failed" << VLMR_FILE_LINE;
        notCompleted();
        if (ucmSession) {
            (void)(partitionStored ? m_storage->WriteUpdateForPartition(storedPartition)
                                   : m_storage->RemoveUpdateForPartition());
        }
    }
}

void RoutineService_ff01_Impl::PersistUpdatedPartition() {
    const std::string partition = m_configuration->GetInactivePartition();
    LogInfo() << "Saved update for partition: " << partition << VLMR_FILE_LINE;
    if (!m_storage->WriteUpdateForPartition(PartitionFromString(partition))) {
        LogError() << "checkProgrammingDependencies: writing the partition to update failed" << VLMR_FILE_LINE;
    }
    LogicalBlocks updated;
    if (m_storage->HasUpdatedLogicalBlocks() && !m_storage->ReadUpdatedLogicalBlocks(updated)) {
        // Writing an empty list back would lose the stored records.
        LogError() << "checkProgrammingDependencies: UPDATED logical blocks unreadable; IVD not stored"
                   << VLMR_FILE_LINE;
        return;
    }
    // The cache's own records: the pending integrity answers are applied to
    // them before their IVD is copied.
    const std::shared_ptr<LogicalBlockCacheData> mirror = m_sessionData->GetUpdatedLogistics();
    if (mirror) {
        m_sessionData->storePartitionIVDOnPersistentDb(updated, mirror->blocks);
    }
    if (!m_storage->WriteUpdatedLogicalBlocks(updated)) {
        LogError() << "checkProgrammingDependencies: writing the UPDATED logical blocks failed" << VLMR_FILE_LINE;
    }
}

bool RoutineService_ff01_Impl::CheckRfsDriver(uint8_t& result) {
    LogInfo() << "Checking if the rfs driver exists" << VLMR_FILE_LINE;
    if (m_sessionData->GetRFS()->GetDowngradeTable().empty()) {
        LogError() << "The rfs driver is missing" << VLMR_FILE_LINE;
        result = kNoRfsData;
        return false;
    }
    LogInfo() << "The rfs driver exists" << VLMR_FILE_LINE;
    return true;
}

// Every installed logical block (the DPT block aside) whose newly installed
// software is known must carry at least the RFS version its record demands.
bool RoutineService_ff01_Impl::CheckRfsMinimumVersions(uint8_t& result) {
    LogInfo() << "Comparing all rfs versions" << VLMR_FILE_LINE;
    LogicalBlocks installed;
    if (m_storage->HasInstalledLogicalBlocks() && !m_storage->ReadInstalledLogicalBlocks(installed)) {
        LogError() << "INSTALLED logical blocks unreadable; minimum rfs versions cannot be checked" << VLMR_FILE_LINE;
        result = kRfsCheckFailed;
        return false;
    }
    const std::vector<LogicalBlockCache> updated = UpdatedBlocks();
    for (const LogicalBlock& block : installed) {
        if (static_cast<int32_t>(block.m_id) == m_configuration->logicalBlockId_dpt) {
            continue;
        }
        const LogicalBlockCache* entry = FindBlock(updated, block.m_id);
        if (entry != nullptr && entry->rfsCurrentVersion < block.m_rfsMinVersion) {
            LogError() << "Rfs minimum version greater than the current one for id : "
                       << static_cast<uint32_t>(block.m_id) << VLMR_FILE_LINE;
            result = kRfsCheckFailed;
            return false;
        }
    }
    LogInfo() << "All rfs versions comply with minimum <=current" << VLMR_FILE_LINE;
    return true;
}

bool RoutineService_ff01_Impl::CheckMajorVersions(uint8_t& result) {
    LogInfo() << "Comparing major versions" << VLMR_FILE_LINE;
    if (!m_storage->HasUpdatedLogicalBlocks()) {
        LogInfo() << "There is no block installed yet" << VLMR_FILE_LINE;
        return true;
    }
    const std::vector<LogicalBlockCache> updated = UpdatedBlocks();
    for (const LogicalBlockCache& entry : updated) {
        if (entry.MajorVersion != updated.front().MajorVersion) {
            LogError() << "There is a difference in the versions for id : " << Decimal(entry.id) << VLMR_FILE_LINE;
            result = kMajorVersionsDiffer;
            return false;
        }
    }
    LogInfo() << "All major versions are the same" << VLMR_FILE_LINE;
    return true;
}

bool RoutineService_ff01_Impl::CheckRfsWithDpt(uint8_t& result) {
    LogInfo() << "Comparing rfs versions using the dpt" << VLMR_FILE_LINE;
    const RFS::VersionTable table = m_sessionData->GetRFS()->GetDowngradeTable();
    const std::vector<LogicalBlockCache> updated = UpdatedBlocks();
    bool verified = true;
    for (const uint16_t id : DownloadedIds()) {
        const LogicalBlockCache* entry = FindBlock(updated, id);
        if (entry == nullptr) {
            continue;
        }
        const auto listed = table.find(id);
        if (listed == table.end()) {
            LogError() << "There is no such entry in the downgrade protection table for id : " << Decimal(id)
                       << VLMR_FILE_LINE;
            verified = false;
            break;
        }
        if (listed->second != entry->rfsCurrentVersion) {
            LogError() << "There is a difference in the dpt rfs and the current one for id : " << Decimal(id)
                       << VLMR_FILE_LINE;
            verified = false;
            break;
        }
        LogInfo() << "Rfs is verified for block with id : " << Decimal(id) << VLMR_FILE_LINE;
    }
    if (!verified) {
        result = kRfsCheckFailed;
        WriteEcuInfo(false);
        return false;
    }
    LogInfo() << "Every block's rfs is verified" << VLMR_FILE_LINE;
    result = kPassed;
    WriteEcuInfo(true);
    return true;
}

bool RoutineService_ff01_Impl::CheckF1abWithDpt(uint8_t& result) {
    LogInfo() << "Comparing f1ab versions using the dpt" << VLMR_FILE_LINE;
    const RFS::VersionTable table = m_sessionData->GetRFS()->GetF1abTable();
    const std::vector<LogicalBlockCache> updated = UpdatedBlocks();
    const std::vector<LogicalBlockCache> installed = InstalledBlocks();
    const std::vector<uint16_t> downloadedIds = DownloadedIds();

    std::vector<LogicalBlockCache> downloaded;
    for (const uint16_t id : downloadedIds) {
        if (const LogicalBlockCache* entry = FindBlock(updated, id)) {
            downloaded.push_back(*entry);
        }
    }
    std::vector<LogicalBlockCache> remaining;
    for (const LogicalBlockCache& entry : installed) {
        if (std::find(downloadedIds.begin(), downloadedIds.end(), entry.id) == downloadedIds.end()) {
            remaining.push_back(entry);
        }
    }
    const auto fail = [&](const char* reason) {
        WriteEcuInfo(false);
        result = kLogisticsOrF1ab;
        LogError() << reason << VLMR_FILE_LINE;
        return false;
    };
    if (!CompareWithF1abTable(downloaded, table)) {
        return fail("Comparing f1abVersions failed for downloaded logical blocks");
    }
    if (!CompareWithF1abTable(remaining, table)) {
        return fail("Comparing f1abVersions failed for remaining logical blocks");
    }
    for (const LogicalBlockCache& entry : installed) {
        if (!entry.IVD_IsCorrupt) {
            continue;
        }
        const bool notDownloaded = FindBlock(remaining, entry.id) != nullptr;
        const auto listed = table.find(entry.id);
        if (notDownloaded) {
            LogError() << "There is a not downloaded corrupted LB : " << Decimal(entry.id) << VLMR_FILE_LINE;
        } else if (listed != table.end() && listed->second == kNoValidUpdate) {
            LogError() << "There is no (INVALID) update for a corrupted LB : " << Decimal(entry.id) << VLMR_FILE_LINE;
        } else {
            LogInfo() << "Corrupted logical block version has been updated : " << Decimal(entry.id) << VLMR_FILE_LINE;
            continue;
        }
        return fail("Logical Blocks with corrupted f1abVersions are not updated");
    }
    LogInfo() << "Every block's f1ab is verified" << VLMR_FILE_LINE;
    result = kPassed;
    WriteEcuInfo(true);
    return true;
}

void RoutineService_ff01_Impl::WriteEcuInfo(bool consistent) {
    const EcuInfo info = consistent ? EcuInfo::ReprogrammableAndConsistent : EcuInfo::ProgrammingNotConsistent;
    if (!m_storage->WriteUpdatedEcuInfo(info)) {
        LogError() << "checkProgrammingDependencies: writing the UPDATED EcuInfo failed" << VLMR_FILE_LINE;
    }
}

std::vector<uint16_t> RoutineService_ff01_Impl::DownloadedIds() const {
    std::vector<uint16_t> ids;
    for (const LogicalBlockTransferEntry& entry : m_sessionData->GetDownloadedLogicalBlocks()) {
        ids.push_back(static_cast<uint16_t>(FromBigEndian(entry.logicalBlockId)));
    }
    return ids;
}

std::vector<LogicalBlockCache> RoutineService_ff01_Impl::UpdatedBlocks() const {
    const std::shared_ptr<LogicalBlockCacheData> cache = m_sessionData->GetUpdatedLogistics();
    return cache ? cache->blocks : std::vector<LogicalBlockCache>();
}

std::vector<LogicalBlockCache> RoutineService_ff01_Impl::InstalledBlocks() const {
    const std::shared_ptr<LogicalBlockCacheData> cache = m_sessionData->GetInstalledLogistics();
    return cache ? cache->blocks : std::vector<LogicalBlockCache>();
}

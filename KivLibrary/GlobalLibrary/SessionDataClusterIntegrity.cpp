// The logistics cache snapshots and the cluster-integrity bookkeeping of SessionData.
#include "KivLibrary/GlobalLibrary/LogicalBlockProgrammingHash.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Helper/DisplayFormat.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/KivConfiguration.h"

#include <algorithm>
#include <string>
#include <utility>

namespace {

constexpr uint8_t kStatusAutonomousCheckValid = 5;
constexpr uint8_t kStatusValid = 6;
constexpr uint8_t kStatusSuccess = 7;
constexpr uint8_t kRetriesBeforeGivingUp = 2;

const char* PartitionLabel(bool active) { return active ? "ACTIVE" : "MIRROR"; }

std::string Decimal(uint32_t value) { return std::to_string(value); }

std::string JoinErrorTexts(const SwClusterIntegrity& answer) {
    std::string joined;
    for (size_t i = 0; i < answer.errorTexts.size(); ++i) {
        if (i > 0) {
            joined += " : ";
        }
        joined += answer.errorTexts[i];
    }
    return joined;
}

}  // namespace

// ---- logistics caches -----------------------------------------------------

void SessionData::ReplaceLogistics(bool active, const CacheChange& change) {
    std::lock_guard<std::mutex> lock(m_logisticsMutex);
    std::shared_ptr<LogicalBlockCacheData>& slot = active ? m_installedLogistics : m_updatedLogistics;
    auto fresh = slot ? std::make_shared<LogicalBlockCacheData>(*slot) : std::make_shared<LogicalBlockCacheData>();
    if (change) {
        change(*fresh);
    }
    slot = std::move(fresh);
}

bool SessionData::CalculateLogicalBlockProgrammingHash(const std::shared_ptr<KivConfiguration>& configuration) {
    std::lock_guard<std::mutex> lock(m_logisticsMutex);
    return m_installedLogistics && m_installedLogistics->CalculateLogicalBlockProgrammingHash(configuration);
}

// ---- cluster-integrity bookkeeping ----------------------------------------

bool SessionData::FindCluster(const ClusterPredicate& predicate, bool active) {
    uint32_t total = 0;
    uint32_t count = 0;
    return FindCluster(predicate, active, total, count);
}

bool SessionData::FindCluster(const ClusterPredicate& predicate, bool active, uint32_t& total, uint32_t& count) {
    std::lock_guard<std::mutex> lock(m_logisticsMutex);
    const std::shared_ptr<LogicalBlockCacheData>& cache = active ? m_installedLogistics : m_updatedLogistics;
    total = 0;
    count = 0;
    if (!cache || cache->blocks.empty()) {
        LogInfo() << "FindCluster: no LBs found " << VLMR_FILE_LINE;
        return false;
    }
    total = static_cast<uint32_t>(cache->blocks.size());
    if (predicate) {
        count = static_cast<uint32_t>(std::count_if(cache->blocks.begin(), cache->blocks.end(), predicate));
    }
    if (count == 0) {
        LogInfo() << "FindCluster: no more LBs found " << VLMR_FILE_LINE;
    }
    return count > 0;
}

bool SessionData::FindClusterAndUpdate(const SwClusterIntegrity& answer, const std::string& label,
                                       std::vector<LogicalBlockCache>& list, bool force) {
    const std::string head =
        "FindClusterAndUpdate " + label + " LB = " + answer.clusterName + " status= " + Decimal(answer.status);
    if (answer.status == kStatusSuccess) {
        LogInfo() << head << "(=SUCCESS) IVD=" << HashToDisplayString(answer.ivd.data()) << VLMR_FILE_LINE;
    } else {
        LogInfo() << head << "(!=SUCCESS) IVD=" << HashToDisplayString(answer.ivd.data())
                  << " ERROR=" << JoinErrorTexts(answer) << ";" << VLMR_FILE_LINE;
    }
    if (list.empty()) {
        LogInfo() << "FindClusterAndUpdate: no LBs found " << label << VLMR_FILE_LINE;
        return false;
    }
    const auto match = std::find_if(list.begin(), list.end(), [&answer, force](const LogicalBlockCache& record) {
        return record.name == answer.clusterName && (!record.IVD_Retrieved || force);
    });
    if (match == list.end()) {
        LogInfo() << "FindCluster: no more LBs found " << label << VLMR_FILE_LINE;
        return false;
    }

    LogicalBlockCache& record = *match;
    LogInfo() << "FindClusterAndUpdate " << label << " Found LB = " << record.name << " ID= " << Decimal(record.id)
              << VLMR_FILE_LINE;
    if (answer.status == kStatusValid || answer.status == kStatusSuccess) {
        record.IVD = answer.ivd;
        record.IVD_Retrieved = true;
        record.IVD_IsValid = true;
        record.IVD_IsCorrupt = false;
        record.IVD_ACIsValid = true;
        record.IVD_ACIsCorrupt = false;
    } else {
        if (answer.status == kStatusAutonomousCheckValid) {
            record.IVD = answer.ivd;
            record.IVD_ACIsValid = true;
        }
        if (answer.status == 0 || answer.status == 1 || answer.status == 3 || answer.status == 4) {
            record.IVD_ACIsCorrupt = false;
        }
        if (record.IVD_Retries > kRetriesBeforeGivingUp || force) {
            record.IVD_Retrieved = true;
            record.IVD_IsValid = record.IVD_ACIsValid;
            if (!record.IVD_IsValid) {
                record.IVD.fill(0);
            }
            record.IVD_IsCorrupt = record.IVD_ACIsCorrupt;
        }
    }
    DumpLogicalBlockEntries(label, record);
    return true;
}

bool SessionData::FindClusterAndUpdateInPartition(const SwClusterIntegrity& answer, bool active, bool force) {
    std::lock_guard<std::mutex> lock(m_logisticsMutex);
    const std::shared_ptr<LogicalBlockCacheData>& cache = active ? m_installedLogistics : m_updatedLogistics;
    if (!cache) {
        LogInfo() << "FindClusterAndUpdate: no LBs found " << PartitionLabel(active) << VLMR_FILE_LINE;
        return false;
    }
    return FindClusterAndUpdate(answer, PartitionLabel(active), cache->blocks, force);
}

void SessionData::AddPendingCluster(const SwClusterIntegrity& answer) {
    std::lock_guard<std::mutex> lock(m_logisticsMutex);
    m_pendingClusters->push_back(answer);
}

void SessionData::ClearPendingClusters() {
    std::lock_guard<std::mutex> lock(m_logisticsMutex);
    m_pendingClusters->clear();
}

void SessionData::storePartitionIVDOnPersistentDb(LogicalBlocks& persisted,
                                                  const std::vector<LogicalBlockCache>& cacheList) {
    std::vector<SwClusterIntegrity> pending;
    {
        std::lock_guard<std::mutex> lock(m_logisticsMutex);
        pending = *m_pendingClusters;
    }
    for (const SwClusterIntegrity& answer : pending) {
        if (FindClusterAndUpdateInPartition(answer, false, true)) {
            LogInfo() << "storePartitionIVDOnPersistentDb: add new cluster IVD info = " << answer.clusterName
                      << VLMR_FILE_LINE;
        }
    }
    LogInfo() << "storePartitionIVDOnPersistentDb: update IVD for all updated clusters " << VLMR_FILE_LINE;

    // The list is usually a cache's own record list, whose fields the
    // bookkeeping above updates under this mutex.
    std::lock_guard<std::mutex> lock(m_logisticsMutex);
    for (const LogicalBlockCache& record : cacheList) {
        const auto block = std::find_if(persisted.begin(), persisted.end(), [&record](const LogicalBlock& candidate) {
            return candidate.m_id == record.id;
        });
        if (block == persisted.end()) {
            continue;
        }
        block->m_IVD.m_data = record.IVD;
        block->m_IVD.m_state = static_cast<uint8_t>((record.IVD_IsCorrupt ? 2U : 0U) | (record.IVD_IsValid ? 1U : 0U));
    }
}

void SessionData::UpdateMirrorIVDInfo() {
    std::lock_guard<std::mutex> lock(m_logisticsMutex);
    if (MirrorUpdateComplete.load()) {
        return;
    }
    LogInfo() << "Do UpdateMirrorIVDInfo..." << VLMR_FILE_LINE;
    SetMirrorUpdateFlag(true);

    const std::vector<LogicalBlockCache> noBlocks;
    const std::vector<LogicalBlockCache>& activeBlocks = m_installedLogistics ? m_installedLogistics->blocks : noBlocks;
    std::shared_ptr<LogicalBlockCacheData> mirror = m_updatedLogistics;
    std::shared_ptr<LogicalBlockCacheData> replacement;

    if (mirror && !mirror->blocks.empty()) {
        LogInfo() << "UpdateMirrorIVDInfo: mirror LBs already exists " << VLMR_FILE_LINE;
        for (const LogicalBlockCache& source : activeBlocks) {
            const auto target =
                std::find_if(mirror->blocks.begin(), mirror->blocks.end(),
                             [&source](const LogicalBlockCache& record) { return record.id == source.id; });
            if (target == mirror->blocks.end()) {
                LogError() << "UpdateMirrorIVDInfo: mirror LBs already exists, but ID=" << Decimal(source.id)
                           << "is missing" << VLMR_FILE_LINE;
                continue;
            }
            target->IVD = source.IVD;
            target->IVD_IsValid = source.IVD_IsValid;
            target->IVD_IsCorrupt = source.IVD_IsCorrupt;
            target->IVD_Retrieved = true;
            target->IVD_ACIsValid = source.IVD_IsValid;
            target->IVD_ACIsCorrupt = source.IVD_IsCorrupt;
            if (!target->IVD_IsValid) {
                target->IVD.fill(0);
            }
        }
    } else {
        LogInfo() << "UpdateMirrorIVDInfo: no mirror LBs found " << VLMR_FILE_LINE;
        // A new record list is published as a new cache object, never swapped
        // into the one readers may hold.
        replacement =
            mirror ? std::make_shared<LogicalBlockCacheData>(*mirror) : std::make_shared<LogicalBlockCacheData>();
        replacement->blocks = activeBlocks;
        mirror = replacement;
    }

    if (m_configuration) {
        for (const uint32_t id : m_configuration->volatileMirrorFlashBlocks) {
            LogInfo() << "UpdateMirrorIVDInfo : volatile LB = " << id << VLMR_FILE_LINE;
            const auto target = std::find_if(mirror->blocks.begin(), mirror->blocks.end(),
                                             [id](const LogicalBlockCache& record) { return record.id == id; });
            if (target == mirror->blocks.end()) {
                continue;
            }
            LogInfo() << "UpdateMirrorIVDInfo : clear volatile LB = " << target->name << " ID= " << Decimal(target->id)
                      << VLMR_FILE_LINE;
            target->IVD_Retrieved = false;
            target->IVD_Retries = 0;
            target->IVD_ACIsValid = false;
            target->IVD_ACIsCorrupt = true;
        }
    }
    if (replacement) {
        m_updatedLogistics = std::move(replacement);
    }
}

void SessionData::SetMirrorUpdateFlag(bool flag) {
    MirrorUpdateComplete.store(flag);
    if (flag) {
        LogInfo() << "Completion of Mirror partition update during Autonomous Check" << VLMR_FILE_LINE;
    } else {
        LogInfo() << "Reset Mirror partition update Flag during Autonomous Check Flag" << VLMR_FILE_LINE;
    }
}

void SessionData::SetAutonomousCheckFlag(bool flag) {
    AutonomousCheckDone.store(flag);
    if (flag) {
        LogInfo() << "Completion of Autonomous Check" << VLMR_FILE_LINE;
    } else {
        LogInfo() << "Reset Autonomous Check Flag" << VLMR_FILE_LINE;
    }
}

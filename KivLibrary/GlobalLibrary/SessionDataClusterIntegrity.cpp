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

// Readers hold cache objects without the lock: a change is made on a copy and
// published as a new object, never in the object a reader may hold.
bool SessionData::CalculateLogicalBlockProgrammingHash(const std::shared_ptr<KivConfiguration>& configuration) {
    std::lock_guard<std::mutex> lock(m_logisticsMutex);
    if (!m_installedLogistics) {
        return false;
    }
    auto fresh = std::make_shared<LogicalBlockCacheData>(*m_installedLogistics);
    const bool calculated = fresh->CalculateLogicalBlockProgrammingHash(configuration);
    m_installedLogistics = std::move(fresh);
    return calculated;
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
    std::shared_ptr<LogicalBlockCacheData>& cache = active ? m_installedLogistics : m_updatedLogistics;
    if (!cache) {
        LogInfo() << "FindClusterAndUpdate: no LBs found " << PartitionLabel(active) << VLMR_FILE_LINE;
        return false;
    }
    auto fresh = std::make_shared<LogicalBlockCacheData>(*cache);
    if (!FindClusterAndUpdate(answer, PartitionLabel(active), fresh->blocks, force)) {
        return false;
    }
    cache = std::move(fresh);
    return true;
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
    // The list is usually a cache's own record list. The pending answers
    // publish an updated copy of the MIRROR cache, so such a list is then
    // read from the partition's current cache.
    enum class Source { kGiven, kActive, kMirror } source = Source::kGiven;
    {
        std::lock_guard<std::mutex> lock(m_logisticsMutex);
        pending = *m_pendingClusters;
        if (m_installedLogistics && &cacheList == &m_installedLogistics->blocks) {
            source = Source::kActive;
        } else if (m_updatedLogistics && &cacheList == &m_updatedLogistics->blocks) {
            source = Source::kMirror;
        }
    }
    for (const SwClusterIntegrity& answer : pending) {
        if (FindClusterAndUpdateInPartition(answer, false, true)) {
            LogInfo() << "storePartitionIVDOnPersistentDb: add new cluster IVD info = " << answer.clusterName
                      << VLMR_FILE_LINE;
        }
    }
    LogInfo() << "storePartitionIVDOnPersistentDb: update IVD for all updated clusters " << VLMR_FILE_LINE;

    std::lock_guard<std::mutex> lock(m_logisticsMutex);
    // Held until the copy below ends: the cache object stays alive even if it
    // is replaced meanwhile.
    std::shared_ptr<LogicalBlockCacheData> current = source == Source::kActive   ? m_installedLogistics
                                                     : source == Source::kMirror ? m_updatedLogistics
                                                                                 : nullptr;
    const std::vector<LogicalBlockCache>& records = current ? current->blocks : cacheList;
    for (const LogicalBlockCache& record : records) {
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
    // Every change goes to a copy that is published at the end, never into
    // the object readers may hold.
    std::shared_ptr<LogicalBlockCacheData> mirror = m_updatedLogistics
                                                        ? std::make_shared<LogicalBlockCacheData>(*m_updatedLogistics)
                                                        : std::make_shared<LogicalBlockCacheData>();

    if (!mirror->blocks.empty()) {
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
        mirror->blocks = activeBlocks;
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
    m_updatedLogistics = std::move(mirror);
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

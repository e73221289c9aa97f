#include "KivLibrary/Functional/DataIdentifiers/DataIdentifiers.h"

#include "KivLibrary/GlobalLibrary/LogicalBlockCacheData.h"
#include "KivLibrary/GlobalLibrary/SWupdateState.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/Persistency/ObjectLogger.h"
#include "KivLibrary/Persistency/PersistentDataStorage.h"

#include <algorithm>

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kVersionNotFound{'0', '0', '0', '1'};
const Bytes kVersionUnusable{'-', '-', '-', '-'};
const Bytes kCounterForBlockZero{0x00, 0x01};
const Bytes kCounterNotFound{0x00, 0x00};
constexpr uint8_t kActiveRoutines = 0xC0;
constexpr uint8_t kNoActiveRoutine = 0x00;
constexpr uint8_t kRfsVersionFormat = 0x01;
constexpr size_t kDataBlockEntrySize = 18;

// Logs the reader's start and end lines around its work.
class DidScope {
public:
    explicit DidScope(uint16_t did, bool logStart = true) : m_did(did) {
        if (logStart) {
            LogInfo() << "processing did " << DidText(m_did) << VLMR_FILE_LINE;
        }
    }
    ~DidScope() { LogInfo() << "finished processing did " << DidText(m_did) << VLMR_FILE_LINE; }

private:
    uint16_t m_did;
};

void Append(Bytes& out, const Bytes& bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

template <size_t N>
void Append(Bytes& out, const std::array<uint8_t, N>& bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void AppendUint16(Bytes& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value & 0xFF));
}

uint8_t LowByte(uint32_t id) { return static_cast<uint8_t>(id & 0xFF); }

// The ECU-information record of the logistics object; all zero without one.
ecuInfoCache EcuRecord(const std::shared_ptr<LogicalBlockCacheData>& logistics) {
    return logistics ? logistics->ecuInfo : ecuInfoCache{};
}

// A text field up to its first NUL; with `terminate`, one NUL follows a text
// shorter than the field.
Bytes TextField(const ecuInfoCache& record, EcuInfoLayout::Field field, bool terminate) {
    const auto begin = record.begin() + field.offset;
    const auto end = std::find(begin, begin + field.size, 0);
    Bytes text(begin, end);
    if (terminate && text.size() < field.size) {
        text.push_back(0x00);
    }
    return text;
}

const LogicalBlock* FindPersisted(const LogicalBlocks& blocks, uint32_t configuredId) {
    const uint8_t id = LowByte(configuredId);
    const auto it = std::find_if(blocks.begin(), blocks.end(), [id](const LogicalBlock& b) { return b.m_id == id; });
    return it == blocks.end() ? nullptr : &*it;
}

const LogicalBlockCache* FindRecord(const std::shared_ptr<LogicalBlockCacheData>& logistics, uint16_t id) {
    if (!logistics) {
        return nullptr;
    }
    const auto it = std::find_if(logistics->blocks.begin(), logistics->blocks.end(),
                                 [id](const LogicalBlockCache& record) { return record.id == id; });
    return it == logistics->blocks.end() ? nullptr : &*it;
}

LogicalBlocks ReadUpdatedBlocks(const std::shared_ptr<PersistentDataStorage>& storage) {
    LogicalBlocks blocks;
    if (storage && !storage->ReadUpdatedLogicalBlocks(blocks)) {
        blocks.clear();
    }
    return blocks;
}

LogicalBlocks ReadInstalledBlocks(const std::shared_ptr<PersistentDataStorage>& storage) {
    LogicalBlocks blocks;
    if (storage && !storage->ReadInstalledLogicalBlocks(blocks)) {
        blocks.clear();
    }
    return blocks;
}

// During a rollback the INSTALLED blocks are the ones that stay.
LogicalBlocks ReadCurrentBlocks(const std::shared_ptr<SessionData>& session,
                                const std::shared_ptr<PersistentDataStorage>& storage) {
    if (session && session->CheckRollbackInProgress()) {
        return ReadInstalledBlocks(storage);
    }
    return ReadUpdatedBlocks(storage);
}

// A 16-bit counter per configured block: block 0 always 00 01.
template <typename Field>
Bytes CountersOf(const std::vector<uint32_t>& configured, const LogicalBlocks& blocks, Field field) {
    Bytes data;
    for (const uint32_t id : configured) {
        if (id == 0) {
            Append(data, kCounterForBlockZero);
        } else if (const LogicalBlock* block = FindPersisted(blocks, id)) {
            AppendUint16(data, field(*block));
        } else {
            Append(data, kCounterNotFound);
        }
    }
    return data;
}

}  // namespace

bool Did_0x0102::Read(DidAnswer& answer) {
    DidScope scope(kDid);
    const bool active = m_sessionData && !m_sessionData->GetActiveRoutines().empty();
    if (active) {
        LogDebug() << "Did_0x0102: at least one routine active" << VLMR_FILE_LINE;
    } else {
        LogDebug() << "Did_0x0102: no routine active" << VLMR_FILE_LINE;
    }
    answer.data = {active ? kActiveRoutines : kNoActiveRoutine};
    return true;
}

bool Did_0x0189::Read(DidAnswer& answer) {
    DidScope scope(kDid);
    const LogicalBlocks blocks = ReadCurrentBlocks(m_sessionData, m_storage);
    const std::shared_ptr<LogicalBlockCacheData> logistics = CurrentLogistics();
    answer.data = {kRfsVersionFormat};
    for (const uint32_t id : ConfiguredBlocks()) {
        const LogicalBlock* block = FindPersisted(blocks, id);
        if (block) {
            Append(answer.data, block->m_rfsMinVersion);
        } else {
            Append(answer.data, kVersionNotFound);
        }
        const LogicalBlockCache* record = FindRecord(logistics, static_cast<uint16_t>(id & 0xFFFF));
        if (record) {
            Append(answer.data, record->rfsCurrentVersion);
        } else {
            Append(answer.data, kVersionNotFound);
        }
    }
    return true;
}

bool Did_0x0407::Read(DidAnswer& answer) {
    DidScope scope(kDid);
    answer.data = CountersOf(ConfiguredBlocks(), ReadUpdatedBlocks(m_storage),
                             [](const LogicalBlock& block) { return block.m_programmingAttempts; });
    return true;
}

bool Did_0x040F::Read(DidAnswer& answer) {
    DidScope scope(kDid);
    answer.data = CountersOf(ConfiguredBlocks(), ReadCurrentBlocks(m_sessionData, m_storage),
                             [](const LogicalBlock& block) { return block.m_lockValue; });
    return true;
}

bool Did_0x0411::Read(DidAnswer& answer) {
    DidScope scope(kDid);
    const std::shared_ptr<KivConfiguration> configuration = m_sessionData ? m_sessionData->GetConfiguration() : nullptr;
    uint8_t entries = 0x01;
    if (configuration) {
        switch (configuration->vmId) {
            case 1:  // vm_adaptive
                entries = 0x34;
                break;
            case 2:  // vm_java
                entries = 0x36;
                break;
            case 3:  // vm_housekeeping
                entries = 0x32;
                break;
            default:
                break;
        }
        LogDebug() << "Did_0x0411 Data Block Description for VM = " << configuration->hostname << VLMR_FILE_LINE;
    }
    answer.data.assign(1 + kDataBlockEntrySize * entries, 0x00);
    answer.data[0] = entries;
    return true;
}

bool Did_0xF15B::Read(DidAnswer& answer) {
    DidScope scope(kDid);
    const LogicalBlocks blocks = ReadCurrentBlocks(m_sessionData, m_storage);
    const LogicalBlock::FingerPrint notFound;  // 00 01 01, no serial, status 01
    for (const uint32_t id : ConfiguredBlocks()) {
        const LogicalBlock* block = FindPersisted(blocks, id);
        if (block) {
            Append(answer.data, block->m_fingerPrint.m_date);
            Append(answer.data, block->m_fingerPrint.m_serial);
            answer.data.push_back(block->m_fingerPrint.m_status);
        } else {
            Append(answer.data, notFound.m_date);
            answer.data.insert(answer.data.end(), notFound.m_serial.size() + 1, 0x00);
        }
    }
    return true;
}

bool Did_0xF187::Read(DidAnswer& answer) {
    DidScope scope(kDid);
    answer.data = TextField(EcuRecord(CurrentLogistics()), EcuInfoLayout::sparePartNumber, true);
    return true;
}

bool Did_0xF189::Read(DidAnswer& answer) {
    DidScope scope(kDid);
    answer.data = EcuInfoField(EcuRecord(CurrentLogistics()), EcuInfoLayout::version);
    return true;
}

bool Did_0xF195::Read(DidAnswer& answer) {
    DidScope scope(kDid);
    answer.data = TextField(EcuRecord(CurrentLogistics()), EcuInfoLayout::supplierVersion, false);
    answer.data.resize(EcuInfoLayout::supplierVersion.size, 0x00);
    return true;
}

bool Did_0xF19E::Read(DidAnswer& answer) {
    DidScope scope(kDid);
    answer.data = TextField(EcuRecord(CurrentLogistics()), EcuInfoLayout::asam_odx_identifier, true);
    return true;
}

bool Did_0xF1A2::Read(DidAnswer& answer) {
    DidScope scope(kDid);
    answer.data = EcuInfoField(EcuRecord(CurrentLogistics()), EcuInfoLayout::asam_odx_file_version);
    return true;
}

bool Did_0xF1AB::Read(DidAnswer& answer) {
    DidScope scope(kDid);
    std::shared_ptr<LogicalBlockCacheData> primary;
    std::shared_ptr<LogicalBlockCacheData> secondary;
    if (m_sessionData) {
        // CurrentLogistics gives the UPDATED object after the download and
        // falls back to the INSTALLED one when there is none.
        primary = CurrentLogistics();
        if (!m_sessionData->IsSWDownloadFinished()) {
            secondary = m_sessionData->GetUpdatedLogistics();
        }
    }
    for (const uint32_t id : ConfiguredBlocks()) {
        const uint16_t blockId = LowByte(id);
        const LogicalBlockCache* record = FindRecord(primary, blockId);
        const LogicalBlockCache* other = FindRecord(secondary, blockId);
        if (!record || record->IVD_IsCorrupt || (other && other->IVD_IsCorrupt)) {
            Append(answer.data, kVersionUnusable);
        } else {
            Append(answer.data, record->version);
        }
    }
    return true;
}

bool Did_0xF1D5::Read(DidAnswer& answer) {
    DidScope scope(kDid);
    bool stored = false;
    if (m_storage) {
        stored = (m_storage->HasInstalledLogicalBlocks() && !ReadInstalledBlocks(m_storage).empty()) ||
                 (m_storage->HasUpdatedLogicalBlocks() && !ReadUpdatedBlocks(m_storage).empty());
    }
    if (!stored) {
        LogInfo() << "RequestOutOfRange 0xF1D5" << VLMR_FILE_LINE;
        answer.refused = true;
        answer.nrc = UDS::Nrc::requestOutOfRange;
        return true;
    }
    answer.data = EcuInfoField(EcuRecord(CurrentLogistics()), EcuInfoLayout::ksv_project_data);
    return true;
}

bool Did_0xF1DF::Read(DidAnswer& answer) {
    DidScope scope(kDid, false);
    // A record that is not stored cannot vouch for a consistent ECU.
    EcuInfo ecuInfo = EcuInfo::ProgrammingNotConsistent;
    if (!m_storage || !m_storage->ReadUpdatedEcuInfo(ecuInfo)) {
        ecuInfo = EcuInfo::ProgrammingNotConsistent;
    }
    const SWupdateState state = m_sessionData ? m_sessionData->GetSWupdateState() : SWupdateState::INVALID;
    LogInfo() << "processing did 0xF1DF ecu_programming_info : " << ecuInfo << ", Status = " << toString(state)
              << VLMR_FILE_LINE;
    const bool updateUnderWay =
        state == SWupdateState::UNDO_DOWNLOAD || state == SWupdateState::UPDATE_IN_PROGRESS_COMMIT ||
        state == SWupdateState::UPDATE_IN_PROGRESS_CLOSE || state == SWupdateState::ROLLBACK_IN_PROGRESS;
    answer.data = {updateUnderWay ? static_cast<uint8_t>(EcuInfo::ProgrammingNotConsistent)
                                  : static_cast<uint8_t>(ecuInfo)};
    return true;
}

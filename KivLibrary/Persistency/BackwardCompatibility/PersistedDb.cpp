#include "KivLibrary/Persistency/BackwardCompatibility/PersistedDb.h"

#include "KivLibrary/GlobalLibrary/FastShutDown.h"
#include "KivLibrary/Logger/Logging.h"

#include <algorithm>
#include <utility>
#include <vector>

PersistedDb::PersistedDb(std::shared_ptr<KivConfiguration> configuration, std::shared_ptr<PermanentStorage> storage)
    : m_configuration(std::move(configuration)),
      m_storage(std::move(storage)),
      m_data(std::make_shared<PersistedData>()) {}

bool PersistedDb::CheckPreconditions(const std::string& operation) const {
    if (FastShutDown::IsSet()) {
        LogWarn() << operation << " not executed due to FastShutDown" << VLMR_FILE_LINE;
        return false;
    }
    if (!m_storage) {
        LogWarn() << operation << " not executed due to missing Storage" << VLMR_FILE_LINE;
        return false;
    }
    LogDebug() << "Preconditions passed" << VLMR_FILE_LINE;
    return true;
}

template <typename T>
bool PersistedDb::GetValue(const std::string& key, T& value) {
    if (m_storage->Get(key, value)) {
        return true;
    }
    LogWarn() << "GetValue failure due to flash corruption" << VLMR_FILE_LINE;
    LogError() << "No recovery strategy present" << VLMR_FILE_LINE;
    return false;
}

template <typename T>
bool PersistedDb::ReadValue(const std::string& key, T& value) {
    if (!CheckPreconditions("Read")) {
        return false;
    }
    LogInfo() << "Reading from the persistency" << VLMR_FILE_LINE;
    T read{};
    if (!GetValue(key, read)) {
        LogWarn() << "Read failed" << VLMR_FILE_LINE;
        return false;
    }
    LogDebug() << "Read Succeeded" << VLMR_FILE_LINE;
    value = std::move(read);
    return true;
}

bool PersistedDb::ReadUcmSessionId(int32_t& value) { return ReadValue(LegacyKeys::kUcmSessionId, value); }

bool PersistedDb::ReadSwUpdateState(int32_t& value) { return ReadValue(LegacyKeys::kSwUpdateState, value); }

bool PersistedDb::ReadUpdateForPartition(std::string& value) {
    return ReadValue(LegacyKeys::kUpdateForPartition, value);
}

bool PersistedDb::ReadBlocks(const std::string& key, const std::string& sizeKey, LegacyLogicalBlocks& blocks) {
    if (!CheckPreconditions("Read")) {
        return false;
    }
    LogInfo() << "Reading from the persistency" << VLMR_FILE_LINE;

    uint64_t size = 0;
    if (!GetValue(sizeKey, size)) {
        LogError() << "Reading key " << sizeKey << " failed!" << VLMR_FILE_LINE;
        return false;
    }
    if (size == 0) {
        LogWarn() << "Read value " << size << " for key " << sizeKey << VLMR_FILE_LINE;
        return true;
    }
    LogInfo() << "Read value " << size << " for key " << sizeKey << VLMR_FILE_LINE;

    std::vector<uint8_t> stored;
    if (!GetValue(key, stored)) {
        LogError() << "Reading key " << key << " failed!" << VLMR_FILE_LINE;
        return false;
    }
    LogInfo() << "Reading key " << key << " succeeded" << VLMR_FILE_LINE;

    // The size key is not trusted: only whole records that are really present
    // are taken, so a lying or corrupted size can neither over-read the stored
    // bytes nor make the list grow beyond them.
    const uint64_t present = stored.size();
    const uint64_t usable = std::min(size, present);
    if (size != present) {
        LogWarn() << "Stored size " << size << " of key " << sizeKey << " does not match the " << present
                  << " bytes of key " << key << VLMR_FILE_LINE;
    }
    if (usable % LegacyLogicalBlock::kSize != 0) {
        LogWarn() << "Ignoring " << static_cast<uint64_t>(usable % LegacyLogicalBlock::kSize)
                  << " trailing bytes of key " << key << " that form no whole record of "
                  << static_cast<uint64_t>(LegacyLogicalBlock::kSize) << " bytes" << VLMR_FILE_LINE;
    }

    const std::size_t count = static_cast<std::size_t>(usable / LegacyLogicalBlock::kSize);
    LegacyLogicalBlocks read(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::copy_n(stored.begin() + static_cast<std::ptrdiff_t>(i * LegacyLogicalBlock::kSize),
                    LegacyLogicalBlock::kSize, read[i].bytes.begin());
    }
    blocks = std::move(read);
    return true;
}

bool PersistedDb::ReadEcuInfo(const std::string& key, const std::string& sizeKey, LegacyEcuInfo& record) {
    if (!CheckPreconditions("Read")) {
        return false;
    }
    LogInfo() << "Reading from the persistency" << VLMR_FILE_LINE;

    std::vector<uint8_t> stored;
    uint64_t size = 0;
    if (!GetValue(key, stored) || !GetValue(sizeKey, size)) {
        LogDebug() << "Read Failed" << VLMR_FILE_LINE;
        return false;
    }
    if (size == 0) {
        LogWarn() << "data is empty" << VLMR_FILE_LINE;
        return true;
    }

    // Neither the stored bytes nor the fixed record may be overrun, whatever
    // the size key claims.
    const uint64_t present = stored.size();
    if (size != present || size > LegacyEcuInfo::kSize) {
        LogWarn() << "Stored size " << size << " of key " << sizeKey << " does not match the " << present
                  << " bytes of key " << key << " or the record size " << static_cast<uint64_t>(LegacyEcuInfo::kSize)
                  << VLMR_FILE_LINE;
    }
    const std::size_t count =
        static_cast<std::size_t>(std::min<uint64_t>({size, present, static_cast<uint64_t>(LegacyEcuInfo::kSize)}));
    std::copy_n(stored.begin(), count, record.bytes.begin());
    return true;
}

bool PersistedDb::ReadInstalledLogicalBlocks(LegacyLogicalBlocks& blocks) {
    return ReadBlocks(LegacyKeys::kInstalledLogicalBlocks, LegacyKeys::kInstalledLogicalBlocksSize, blocks);
}

bool PersistedDb::ReadUpdatedLogicalBlocks(LegacyLogicalBlocks& blocks) {
    return ReadBlocks(LegacyKeys::kUpdatedLogicalBlocks, LegacyKeys::kUpdatedLogicalBlocksSize, blocks);
}

bool PersistedDb::ReadInstalledEcuInfo() {
    return ReadEcuInfo(LegacyKeys::kInstalledEcuInfo, LegacyKeys::kInstalledEcuInfoSize, m_data->m_installedEcuInfo);
}

bool PersistedDb::ReadUpdatedEcuInfo() {
    return ReadEcuInfo(LegacyKeys::kUpdatedEcuInfo, LegacyKeys::kUpdatedEcuInfoSize, m_data->m_updatedEcuInfo);
}

LogicalBlocks ConvertLegacyLogicalBlocks(const LegacyLogicalBlocks& legacyBlocks) {
    LogicalBlocks blocks;
    blocks.reserve(legacyBlocks.size());
    for (const LegacyLogicalBlock& legacy : legacyBlocks) {
        LogicalBlock block;
        block.m_id = legacy.Id();
        block.m_programmingAttempts = legacy.ProgrammingAttempts();
        block.m_lockValue = legacy.LockValue();
        block.m_fingerPrint.m_serial = legacy.Serial();
        block.m_fingerPrint.m_date = legacy.Date();
        block.m_fingerPrint.m_status = legacy.Status();
        block.m_rfsMinVersion = legacy.RfsMinVersion();
        block.m_IVD = LogicalBlock::IVD{};
        blocks.push_back(block);
    }
    return blocks;
}

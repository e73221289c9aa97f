#include "KivLibrary/GlobalLibrary/RFS.h"

#include "KivLibrary/GlobalLibrary/SharedMemoryInterface.h"
#include "KivLibrary/Helper/ByteFormat.h"
#include "KivLibrary/Helper/DisplayFormat.h"
#include "KivLibrary/Logger/Logging.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kHexHeaderBytes = 11;
constexpr size_t kHexLineBytes = 36;
constexpr size_t kTableEntriesPerLine = 5;
const std::array<uint8_t, 4> kRfsVersionLow{{'0', '0', '0', '1'}};
const std::array<uint8_t, 4> kRfsVersionHigh{{'9', '9', '9', '9'}};

// Size of a record with bvta entries up to and including the hardware-id count.
size_t SizeWithHwIdCount(uint16_t bvta) { return RFS::kHeaderSize + RFS::kEntrySize * bvta + RFS::kHwIdCountSize; }

std::vector<uint8_t> Slice(const std::vector<uint8_t>& data, size_t offset, size_t count) {
    const size_t end = std::min(data.size(), offset + count);
    return std::vector<uint8_t>(data.begin() + static_cast<std::ptrdiff_t>(offset),
                                data.begin() + static_cast<std::ptrdiff_t>(end));
}

void DumpBytes(const std::string& prefix, const std::vector<uint8_t>& data,
               std::string (*format)(const std::vector<uint8_t>&)) {
    const size_t headerCount = std::min(data.size(), kHexHeaderBytes);
    LogInfo() << prefix << "data header =  v_data_len=" << static_cast<uint64_t>(data.size())
              << " header= " << format(Slice(data, 0, headerCount)) << VLMR_FILE_LINE;
    for (size_t offset = headerCount; offset < data.size(); offset += kHexLineBytes) {
        LogInfo() << prefix << "data continue : " << format(Slice(data, offset, kHexLineBytes)) << VLMR_FILE_LINE;
    }
}

void DumpTable(const std::string& tag, const std::string& name, const RFS::VersionTable& table) {
    std::string line = tag + " RFS-" + name + ": t_size=" + std::to_string(table.size()) + " : ";
    size_t inLine = 0;
    for (const auto& entry : table) {
        if (inLine == kTableEntriesPerLine) {
            LogInfo() << line << VLMR_FILE_LINE;
            line = tag + " RFS-" + name + ": continue : ";
            inLine = 0;
        }
        line += "<" + FormatUint16DecHex(entry.first) + "; " + FormatCharField4(entry.second.data()) + ">, ";
        ++inLine;
    }
    LogInfo() << line << VLMR_FILE_LINE;
}

}  // namespace

void RFS::SetDowngradeTable(const VersionTable& table) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_downgradeTable = table;
}

RFS::VersionTable RFS::GetDowngradeTable() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_downgradeTable;
}

std::vector<uint8_t> RFS::GetData() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_data;
}

// clear() would keep the capacity: an abandoned record must not hold its
// memory until the next one replaces it.
void RFS::ClearData() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint8_t>().swap(m_data);
}

void RFS::WipeData() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::fill(m_data.begin(), m_data.end(), 0);
    std::vector<uint8_t>().swap(m_data);
}

size_t RFS::HeldBytes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_data.capacity();
}

void RFS::AppendData(const std::vector<uint8_t>& data) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_data.empty()) {
        m_data = data;
    } else {
        m_data.insert(m_data.end(), data.begin(), data.end());
    }
}

bool RFS::ConvertToDpt(const LogicalBlocks& storedBlocks, uint8_t& resultCode,
                       const std::vector<uint32_t>& configuredBlockIds) {
    // Held for the whole conversion: a reset clearing the record half-way
    // would leave the validated offsets pointing past its end.
    std::lock_guard<std::mutex> lock(m_mutex);
    LogInfo() << "Converting data to dpt " << VLMR_FILE_LINE;
    DumpRecord("MSG");

    m_downgradeTable.clear();
    m_f1abTable.clear();
    m_hwIds.clear();

    uint16_t bvta = 0;
    uint16_t hwIdCount = 0;
    if (!ValidateRecord(bvta, hwIdCount)) {
        resultCode = kResultInvalidRecord;
        return false;
    }

    for (uint16_t i = 0; i < bvta; ++i) {
        LogDebug() << "Checking " << i << " nst block in table" << VLMR_FILE_LINE;
        if (!ConvertEntry(kHeaderSize + kEntrySize * i, storedBlocks, resultCode, configuredBlockIds)) {
            return false;
        }
    }

    const size_t hwIdOffset = SizeWithHwIdCount(bvta);
    for (size_t i = 0; i < hwIdCount; ++i) {
        HwId hwId{};
        std::memcpy(hwId.data(), m_data.data() + hwIdOffset + kHwIdSize * i, kHwIdSize);
        m_hwIds.push_back(hwId);
    }

    DumpTables("TBL");
    LogDebug() << "Convert to dpt succeeded " << VLMR_FILE_LINE;
    return true;
}

void RFS::ClearDowngradeTable() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_downgradeTable.clear();
}

bool RFS::IsTransferActive() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_transferActive;
}

void RFS::SetTransferActive(bool active) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_transferActive = active;
}

void RFS::StartTransfer(uint32_t memorySize, const std::vector<uint8_t>& id, uint8_t format) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_transferEntry.memorySize = memorySize;
    m_transferEntry.remainingSize = memorySize;
    m_transferEntry.logicalBlockId = id;
    m_transferEntry.format = format;
}

void RFS::DecreaseRemainingSize(uint32_t size) {
    std::lock_guard<std::mutex> lock(m_mutex);
    // A wrapped counter would announce room for gigabytes of further record data.
    m_transferEntry.remainingSize -= std::min(size, m_transferEntry.remainingSize);
}

LogicalBlockTransferEntry& RFS::GetTransferInfo() { return m_transferEntry; }

RFS::VersionTable RFS::GetF1abTable() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_f1abTable;
}

RFS::HwIdList& RFS::GetVersionInfo() { return m_hwIds; }

bool RFS::ValidateHwVersion() {
    const SharedMemoryInterface& shared = SharedMemoryInterface::Instance();
    if (shared.UseDummyValuesForRcar()) {
        return true;
    }
    const HwId ownHwId = shared.ReadHwVersion(SharedMemoryInterface::kRcarHardwareIdPath);
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::find(m_hwIds.begin(), m_hwIds.end(), ownHwId) != m_hwIds.end();
}

uint16_t RFS::GetHwIdCount(uint16_t bvta) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return HwIdCountLocked(bvta);
}

uint16_t RFS::HwIdCountLocked(uint16_t bvta) const {
    const size_t end = SizeWithHwIdCount(bvta);
    if (m_data.size() < end) {
        return 0;
    }
    return ReadUint16(end - kHwIdCountSize);
}

bool RFS::IsPtilValid(uint16_t ptil) { return ptil == kPtil; }

bool RFS::IsPtidValid(const std::array<uint8_t, 7>& ptid) { return std::memcmp(ptid.data(), kPtid, ptid.size()) == 0; }

bool RFS::IsBvtaValid(uint16_t bvta) { return bvta != 0; }

bool RFS::ValidateRecord(uint16_t& bvta, uint16_t& hwIdCount) {
    const size_t size = m_data.size();
    if (size < kMinRecordSize) {
        LogError() << "RFS driver data size is less than required minimum : " << static_cast<uint64_t>(size)
                   << VLMR_FILE_LINE;
        return false;
    }
    LogDebug() << "RFS driver data size check succeeded, size is " << static_cast<uint64_t>(size) << VLMR_FILE_LINE;

    const uint16_t ptil = ReadUint16(0);
    if (!IsPtilValid(ptil)) {
        LogError() << "ptil not correct : " << ptil << VLMR_FILE_LINE;
        return false;
    }
    LogDebug() << "PTIL correct : " << ptil << VLMR_FILE_LINE;

    std::array<uint8_t, 7> ptid{};
    std::memcpy(ptid.data(), m_data.data() + 2, ptid.size());
    if (!IsPtidValid(ptid)) {
        LogError() << "ptid is not correct" << VLMR_FILE_LINE;
        return false;
    }
    LogDebug() << "PTID is correct" << VLMR_FILE_LINE;

    bvta = ReadUint16(9);
    if (!IsBvtaValid(bvta)) {
        LogError() << "bvta not correct, bvta :" << bvta << VLMR_FILE_LINE;
        return false;
    }
    LogDebug() << "BVTA correct" << VLMR_FILE_LINE;

    if (size < SizeWithHwIdCount(bvta)) {
        LogError() << "dpt length is not correct, bvta or HW-ver entries is not correct, dpt bytes no : "
                   << static_cast<uint64_t>(size) << VLMR_FILE_LINE;
        return false;
    }
    hwIdCount = HwIdCountLocked(bvta);
    if (hwIdCount == 0) {
        LogError() << "Minimum HW-IDs in the HVT must be present, is : " << hwIdCount << VLMR_FILE_LINE;
        return false;
    }

    if (size != SizeWithHwIdCount(bvta) + kHwIdSize * hwIdCount) {
        LogError() << "dpt length is not correct, bvta or HW-ver entries is not correct, dpt bytes no : "
                   << static_cast<uint64_t>(size) << VLMR_FILE_LINE;
        return false;
    }
    LogInfo() << "dpt data size validation steps passed" << VLMR_FILE_LINE;
    return true;
}

bool RFS::ConvertEntry(size_t offset, const LogicalBlocks& storedBlocks, uint8_t& resultCode,
                       const std::vector<uint32_t>& configuredBlockIds) {
    const uint8_t id = m_data[offset];
    std::array<uint8_t, 4> version{};
    std::memcpy(version.data(), m_data.data() + offset + 1, version.size());
    const uint32_t idValue = id;

    // The dependency check reads the F1AB table: a refused record leaves
    // neither table with the entries accepted before the failing one.
    auto fail = [&](uint8_t code) {
        m_downgradeTable.clear();
        m_f1abTable.clear();
        resultCode = code;
        return false;
    };

    if (version < kRfsVersionLow || version > kRfsVersionHigh) {
        LogError() << "rfs not acceptable for id : " << idValue << VLMR_FILE_LINE;
        return fail(kResultInvalidRecord);
    }
    LogDebug() << "Rfs is between acceptable values" << VLMR_FILE_LINE;

    if (m_downgradeTable.count(id) != 0) {
        LogError() << "Bid exists already in map : " << idValue << VLMR_FILE_LINE;
        return fail(kResultInvalidRecord);
    }
    LogDebug() << "Bid doesn't already exist in map" << VLMR_FILE_LINE;

    const bool downgrade = std::any_of(storedBlocks.begin(), storedBlocks.end(), [&](const LogicalBlock& block) {
        return block.m_id == id && block.m_rfsMinVersion > version;
    });
    if (downgrade) {
        LogError() << "rfsMinVersion > rfs current for id : " << idValue << VLMR_FILE_LINE;
        return fail(kResultDowngrade);
    }

    if (std::find(configuredBlockIds.begin(), configuredBlockIds.end(), idValue) == configuredBlockIds.end()) {
        LogError() << "DPT LB not configured for this VM Id: " << idValue << VLMR_FILE_LINE;
        LogError() << "LB is not configured for VM; LBid : " << idValue << VLMR_FILE_LINE;
        return fail(kResultInvalidRecord);
    }

    LogInfo() << "Inserting rfs to downgrade table for id : " << idValue << VLMR_FILE_LINE;
    std::array<uint8_t, 4> f1ab{};
    std::memcpy(f1ab.data(), m_data.data() + offset + 5, f1ab.size());
    m_downgradeTable.emplace(id, version);
    m_f1abTable.emplace(id, f1ab);
    return true;
}

void RFS::DumpRecord(const std::string& tag) const {
    const std::string prefix = tag + " RFS-RAW:";
    LogInfo() << prefix << " PARAMETERS: "
              << "memorySize=" << FormatIdValue(m_transferEntry.memorySize) << ", "
              << "remainingMemorySize=" << FormatIdValue(m_transferEntry.remainingSize) << ", "
              << "memoryAddress=" << ToHexString(m_transferEntry.logicalBlockId) << ", "
              << "formatIdentifier=" << ByteToDecHexString(m_transferEntry.format) << ", "
              << "finished=" << ByteToDecHexString(m_transferEntry.finished ? 1 : 0) << ", " << VLMR_FILE_LINE;
    DumpBytes(prefix + " DATA(HEX): ", m_data, &ToHexString);
    DumpBytes(prefix + " DATA(ASCII): ", m_data, &ToPrintableString);
}

void RFS::DumpTables(const std::string& tag) const {
    DumpTable(tag, "DPT", m_downgradeTable);
    DumpTable(tag, "F1AB", m_f1abTable);
    std::string line = tag + " RFS-HW: t_size=" + std::to_string(m_hwIds.size()) + " : ";
    for (const HwId& hwId : m_hwIds) {
        line += FormatCharField3(hwId.data()) + ">, ";
    }
    LogInfo() << line << VLMR_FILE_LINE;
}

uint16_t RFS::ReadUint16(size_t offset) const { return BytesToUint16(m_data[offset], m_data[offset + 1]); }

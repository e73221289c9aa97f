#include "KivLibrary/GlobalLibrary/LogicalBlockProgrammingHash.h"

#include "KivLibrary/Helper/ByteFormat.h"
#include "KivLibrary/Helper/DisplayFormat.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "signature/Sha256.h"

#include <cstring>
#include <iomanip>
#include <sstream>

namespace {

constexpr size_t kHashInputPerBlock = 2 + 4 + 32;
const char kLogPrefix[] = "SessionData::CalculateLogicalBlockProgrammingHash: ";

void CopyText(ecuInfoCache& record, size_t offset, const char* text) {
    std::memcpy(record.data() + offset, text, std::strlen(text));
}

std::string BlockPrefix(const std::string& label, uint16_t id) {
    std::ostringstream prefix;
    prefix << label << " LB[" << std::setw(3) << id << "] ";
    return prefix.str();
}

}  // namespace

bool LogicalBlockCacheData::CalculateLogicalBlockProgrammingHash(
    const std::shared_ptr<KivConfiguration>& configuration) {
    programmingHash.clear();
    if (blocks.empty()) {
        LogInfo() << kLogPrefix << "Logical block hash data are empty " << VLMR_FILE_LINE;
        return false;
    }
    if (!configuration) {
        LogError() << kLogPrefix << "no configuration; no ProgHashCalc; " << VLMR_FILE_LINE;
        return false;
    }
    const uint16_t dptId = static_cast<uint16_t>(configuration->logicalBlockId_dpt);
    for (const LogicalBlockCache& block : blocks) {
        if (block.id == 0 || block.id == dptId) {
            LogInfo() << kLogPrefix << "wrong Id of LB= " << block.id << "; no ProgHashCalc; " << VLMR_FILE_LINE;
            return false;
        }
        if (!block.IVD_IsValid) {
            LogInfo() << kLogPrefix << "missing IVD for LB= " << block.id << "; no ProgHashCalc; " << VLMR_FILE_LINE;
            return false;
        }
    }

    std::vector<uint8_t> input;
    input.reserve(blocks.size() * kHashInputPerBlock);
    for (const LogicalBlockCache& block : blocks) {
        input.push_back(static_cast<uint8_t>(block.id & 0xFF));
        input.push_back(static_cast<uint8_t>(block.id >> 8));
        input.insert(input.end(), block.version.begin(), block.version.end());
        input.insert(input.end(), block.IVD.begin(), block.IVD.end());
        LogInfo() << "programmingHashComponentInput - id: " << FormatUint16DecHex(block.id)
                  << " version: " << FormatCharField4(block.version.data())
                  << " IVD: " << HashToDisplayString(block.IVD.data()) << " ; " << VLMR_FILE_LINE;
    }
    LogInfo() << "programmingHashInput: " << ToHexString(input) << " ; " << VLMR_FILE_LINE;

    std::vector<uint8_t> hash = CalculateSha256(input);
    if (hash.empty()) {
        // CalculateSha256 has logged why.
        return false;
    }
    programmingHash = std::move(hash);
    LogInfo() << "programmingHashOutput: " << ToHexString(programmingHash) << VLMR_FILE_LINE;
    return true;
}

ecuInfoCache InitEcuProgrammingInfo() {
    using namespace EcuInfoLayout;
    ecuInfoCache record{};
    record[kProgrammingInfoOffset] = 0x40;
    CopyText(record, kVersionOffset, "----");
    CopyText(record, kOdxIdentifierOffset, "NONE");
    CopyText(record, kRevisionOffset, "NONE");
    std::memset(record.data() + kSparePartNumberOffset, '-', kSparePartNumberSize);
    return record;
}

void DumpEcuCacheInfo(const std::string& label, const ecuInfoCache& record) {
    using namespace EcuInfoLayout;
    const std::string prefix = label + " ECU CACHE INFO ";
    LogInfo() << prefix << "tmp_ecu_programming_info=" << ByteToDecHexString(record[kProgrammingInfoOffset]) << ", "
              << "version=" << FormatCharField4(record.data() + kVersionOffset) << ", "
              << "ksv_project_data=" << FormatCharField7(record.data() + kProjectDataOffset) << ", "
              << "sparePartNumber=" << FormatCharField11(record.data() + kSparePartNumberOffset) << ", "
              << VLMR_FILE_LINE;
    LogInfo() << prefix << "asam_odx_identifier=" << FormatCharField25(record.data() + kOdxIdentifierOffset) << ", "
              << "asam_odx_file_version=" << FormatBytes6(record.data() + kOdxFileVersionOffset) << ", "
              << VLMR_FILE_LINE;
    LogInfo() << prefix << "supplierVersion=" << FormatBytes48(record.data() + kRevisionOffset) << ", "
              << VLMR_FILE_LINE;
}

void DumpLogicalBlockEntries(const std::string& label, const LogicalBlockCache& record) {
    const std::string prefix = BlockPrefix(label, record.id);
    LogInfo() << prefix << "id=" << FormatUint16DecHex(record.id) << ", "
              << "name=" << record.name << ", "
              << "version=" << FormatCharField4(record.version.data()) << ", "
              << "MajorVersion=" << FormatUint16DecHex(record.MajorVersion) << ", "
              << "rfsCurrentVersion=" << FormatCharField4(record.rfsCurrentVersion.data()) << ", " << VLMR_FILE_LINE;
    LogInfo() << prefix << "IVD_Retrieved" << FormatByteDecHex(record.IVD_Retrieved ? 1 : 0) << ", "
              << "IVD_Retries" << ByteToDecHexString(record.IVD_Retries) << ", "
              << "IVD_IsValid" << FormatInt32DecHex(record.IVD_IsValid ? 1 : 0) << ", "
              << "IVD_IsCorrupt" << FormatInt32DecHex(record.IVD_IsCorrupt ? 1 : 0) << ", "
              << "IVD_ACIsValid" << FormatInt32DecHex(record.IVD_ACIsValid ? 1 : 0) << ", "
              << "IVD_ACIsCorrupt" << FormatInt32DecHex(record.IVD_ACIsCorrupt ? 1 : 0) << ", "
              << "IVD" << HashToDisplayString(record.IVD.data()) << ", " << VLMR_FILE_LINE;
}

void ForEachLogicalBlockProgrammingHash(const std::string& label, const std::vector<LogicalBlockCache>& blocks) {
    for (const LogicalBlockCache& block : blocks) {
        DumpLogicalBlockEntries(label, block);
    }
}

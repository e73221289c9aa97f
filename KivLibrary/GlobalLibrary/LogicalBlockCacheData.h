// The logistics cache of one partition: the logical-block records read from the
// logistics files, the programming hash over them and the ECU-information record.
#ifndef KIVLIBRARY_GLOBALLIBRARY_LOGICALBLOCKCACHEDATA_H
#define KIVLIBRARY_GLOBALLIBRARY_LOGICALBLOCKCACHEDATA_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class KivConfiguration;

// Logistics record of one logical block; the defaults are those of a record
// before its logistics file was parsed.
struct LogicalBlockCache {
    uint16_t id = 0x00FF;
    uint16_t MajorVersion = 0;
    std::array<uint8_t, 4> version{{'-', '-', '-', '-'}};
    std::array<uint8_t, 4> rfsCurrentVersion{{'0', '0', '0', '1'}};
    std::string name;
    bool IVD_Retrieved = false;
    uint8_t IVD_Retries = 0;
    bool IVD_IsValid = false;
    bool IVD_IsCorrupt = false;
    std::array<uint8_t, 32> IVD{};
    bool IVD_ACIsValid = false;
    bool IVD_ACIsCorrupt = true;
};

// The 102-byte ECU programming-information record; byte 0 is the EcuInfo byte.
using ecuInfoCache = std::array<uint8_t, 102>;

namespace EcuInfoLayout {
constexpr size_t kProgrammingInfoOffset = 0;
constexpr size_t kVersionOffset = 1;
constexpr size_t kVersionSize = 4;
constexpr size_t kProjectDataOffset = 5;
constexpr size_t kProjectDataSize = 7;
constexpr size_t kOdxIdentifierOffset = 12;
constexpr size_t kOdxIdentifierSize = 25;
constexpr size_t kOdxFileVersionOffset = 37;
constexpr size_t kOdxFileVersionSize = 6;
constexpr size_t kRevisionOffset = 43;
constexpr size_t kRevisionSize = 48;
constexpr size_t kSparePartNumberOffset = 91;
constexpr size_t kSparePartNumberSize = 11;

// The record's fields under their own names, as offset and size.
struct Field {
    size_t offset;
    size_t size;
};
constexpr Field tmp_ecu_programming_info{kProgrammingInfoOffset, 1};
constexpr Field version{kVersionOffset, kVersionSize};
constexpr Field ksv_project_data{kProjectDataOffset, kProjectDataSize};
constexpr Field asam_odx_identifier{kOdxIdentifierOffset, kOdxIdentifierSize};
constexpr Field asam_odx_file_version{kOdxFileVersionOffset, kOdxFileVersionSize};
constexpr Field supplierVersion{kRevisionOffset, kRevisionSize};
constexpr Field sparePartNumber{kSparePartNumberOffset, kSparePartNumberSize};
}  // namespace EcuInfoLayout

// The bytes of one field of the record.
inline std::vector<uint8_t> EcuInfoField(const ecuInfoCache& record, EcuInfoLayout::Field field) {
    return std::vector<uint8_t>(record.begin() + field.offset, record.begin() + field.offset + field.size);
}

struct LogicalBlockCacheData {
    std::vector<LogicalBlockCache> blocks;
    std::vector<uint8_t> programmingHash;  // empty or 32 bytes
    ecuInfoCache ecuInfo{};

    // Replaces programmingHash by the SHA-256 over id, version and IVD of every
    // block; true when a hash was stored, otherwise programmingHash is empty.
    bool CalculateLogicalBlockProgrammingHash(const std::shared_ptr<KivConfiguration>& configuration);
};

#endif

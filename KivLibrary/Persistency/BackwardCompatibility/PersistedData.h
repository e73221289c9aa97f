// Records of the legacy database layout. They are kept as fixed-size raw
// images and decoded field by field (little-endian), so a record never depends
// on the host's struct layout or byte order.
#ifndef KIVLIBRARY_PERSISTENCY_BACKWARDCOMPATIBILITY_PERSISTEDDATA_H
#define KIVLIBRARY_PERSISTENCY_BACKWARDCOMPATIBILITY_PERSISTEDDATA_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// One legacy logical-block record (72 bytes).
struct LegacyLogicalBlock {
    static constexpr std::size_t kSize = 72;
    static constexpr std::size_t kIdOffset = 4;
    static constexpr std::size_t kProgrammingAttemptsOffset = 42;
    static constexpr std::size_t kLockValueOffset = 44;
    static constexpr std::size_t kSerialOffset = 46;
    static constexpr std::size_t kDateOffset = 52;
    static constexpr std::size_t kStatusOffset = 55;
    static constexpr std::size_t kRfsMinVersionOffset = 62;

    uint32_t LogisticsVersion() const;
    uint8_t Id() const;
    uint16_t ProgrammingAttempts() const;
    uint16_t LockValue() const;
    std::array<uint8_t, 6> Serial() const;
    std::array<uint8_t, 3> Date() const;
    uint8_t Status() const;
    std::array<uint8_t, 4> RfsMinVersion() const;

    std::array<uint8_t, kSize> bytes{};
};

using LegacyLogicalBlocks = std::vector<LegacyLogicalBlock>;

// One legacy ECU-information record (102 bytes); byte 0 is the EcuInfo value.
struct LegacyEcuInfo {
    static constexpr std::size_t kSize = 102;
    static constexpr uint8_t kDefaultEcuInfo = 0x40;

    LegacyEcuInfo() { bytes[0] = kDefaultEcuInfo; }

    uint8_t EcuInfoByte() const { return bytes[0]; }

    std::array<uint8_t, kSize> bytes{};
};

// The record area of a legacy database: both ECU-information records start in
// their default, both block lists empty.
struct PersistedData {
    LegacyEcuInfo m_installedEcuInfo;
    LegacyEcuInfo m_updatedEcuInfo;
    LegacyLogicalBlocks m_installedLogicalBlocks;
    LegacyLogicalBlocks m_updatedLogicalBlocks;
};

#endif

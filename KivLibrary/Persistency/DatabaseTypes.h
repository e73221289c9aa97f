// The in-memory types of the database items.
#ifndef KIVLIBRARY_PERSISTENCY_DATABASETYPES_H
#define KIVLIBRARY_PERSISTENCY_DATABASETYPES_H

#include "KivLibrary/GlobalLibrary/SWupdateState.h"
#include "KivLibrary/PartitionHandler/PartitionEnum.h"

#include <array>
#include <cstdint>
#include <vector>

// The ECU's programming consistency; any byte value may be stored.
enum class EcuInfo : uint8_t {
    ReprogrammableAndConsistent = 0x40,
    ProgrammingNotConsistent = 0x44,
};

// The persisted record of one logical block. A new record holds the defaults
// below; a decoded one keeps them in every field that was not accepted.
struct LogicalBlock {
    struct FingerPrint {
        std::array<uint8_t, 6> m_serial{};
        std::array<uint8_t, 3> m_date{{0x00, 0x01, 0x01}};
        uint8_t m_status = 0x01;

        bool operator==(const FingerPrint& other) const {
            return m_serial == other.m_serial && m_date == other.m_date && m_status == other.m_status;
        }
    };

    struct IVD {
        uint8_t m_state = 0;
        std::array<uint8_t, 32> m_data{};

        bool operator==(const IVD& other) const { return m_state == other.m_state && m_data == other.m_data; }
    };

    uint8_t m_id = 0xFF;
    uint16_t m_programmingAttempts = 0;
    uint16_t m_lockValue = 0;
    FingerPrint m_fingerPrint;
    std::array<uint8_t, 4> m_rfsMinVersion{{'0', '0', '0', '1'}};
    IVD m_IVD;

    bool operator==(const LogicalBlock& other) const {
        return m_id == other.m_id && m_programmingAttempts == other.m_programmingAttempts &&
               m_lockValue == other.m_lockValue && m_fingerPrint == other.m_fingerPrint &&
               m_rfsMinVersion == other.m_rfsMinVersion && m_IVD == other.m_IVD;
    }
    bool operator!=(const LogicalBlock& other) const { return !(*this == other); }
};

using LogicalBlocks = std::vector<LogicalBlock>;

#endif

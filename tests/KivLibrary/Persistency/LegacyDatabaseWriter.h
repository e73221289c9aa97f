// Writes a database in the legacy key layout straight into the platform's
// key-value storage, byte by byte as the old software stored it: native
// integers and texts, record images as binary values (multi-byte fields
// little-endian) with their byte length under a separate unsigned 64-bit key.
// It deliberately shares no code with the production decoder, so a decoding
// fault cannot hide behind an encoding fault of the same kind.
#ifndef TESTS_KIVLIBRARY_PERSISTENCY_LEGACYDATABASEWRITER_H
#define TESTS_KIVLIBRARY_PERSISTENCY_LEGACYDATABASEWRITER_H

#include "platform/ara/per/key_value_storage.h"

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

// The fields of one 72-byte legacy block record that carry meaning; every
// other byte is filled with kLegacyFillByte so that a decoder reading the
// wrong offset shows.
struct LegacyBlockImage {
    uint32_t logisticsVersion = 0x01020304;
    uint8_t id = 0;
    uint16_t programmingAttempts = 0;
    uint16_t lockValue = 0;
    std::array<uint8_t, 6> serial{};
    std::array<uint8_t, 3> date{};
    uint8_t status = 0;
    std::array<uint8_t, 4> rfsMinVersion{{'0', '0', '0', '0'}};
};

constexpr uint8_t kLegacyFillByte = 0xEE;
constexpr std::size_t kLegacyBlockSize = 72;
constexpr std::size_t kLegacyEcuInfoSize = 102;

inline std::vector<uint8_t> LegacyBlockBytes(const LegacyBlockImage& block) {
    std::vector<uint8_t> bytes(kLegacyBlockSize, kLegacyFillByte);
    bytes[0] = static_cast<uint8_t>(block.logisticsVersion);
    bytes[1] = static_cast<uint8_t>(block.logisticsVersion >> 8);
    bytes[2] = static_cast<uint8_t>(block.logisticsVersion >> 16);
    bytes[3] = static_cast<uint8_t>(block.logisticsVersion >> 24);
    bytes[4] = block.id;
    bytes[42] = static_cast<uint8_t>(block.programmingAttempts);
    bytes[43] = static_cast<uint8_t>(block.programmingAttempts >> 8);
    bytes[44] = static_cast<uint8_t>(block.lockValue);
    bytes[45] = static_cast<uint8_t>(block.lockValue >> 8);
    for (std::size_t i = 0; i < 6; ++i) {
        bytes[46 + i] = block.serial[i];
    }
    for (std::size_t i = 0; i < 3; ++i) {
        bytes[52 + i] = block.date[i];
    }
    bytes[55] = block.status;
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[62 + i] = block.rfsMinVersion[i];
    }
    return bytes;
}

inline std::vector<uint8_t> LegacyBlockListBytes(const std::vector<LegacyBlockImage>& blocks) {
    std::vector<uint8_t> bytes;
    for (const LegacyBlockImage& block : blocks) {
        const std::vector<uint8_t> record = LegacyBlockBytes(block);
        bytes.insert(bytes.end(), record.begin(), record.end());
    }
    return bytes;
}

// A 102-byte ECU-information record: the EcuInfo byte, then a recognisable tail.
inline std::vector<uint8_t> LegacyEcuInfoBytes(uint8_t ecuInfo) {
    std::vector<uint8_t> bytes(kLegacyEcuInfoSize, 0);
    bytes[0] = ecuInfo;
    for (std::size_t i = 1; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(i);
    }
    return bytes;
}

class LegacyDatabaseWriter {
public:
    // The eleven keys of the legacy layout.
    static std::vector<std::string> AllKeys() {
        return {"UcmSessionId",
                "SwUpdateState",
                "UpdateForPartition",
                "InstalledLogicalBlocks",
                "InstalledLogicalBlocksSize",
                "UpdatedLogicalBlocks",
                "UpdatedLogicalBlocksSize",
                "InstalledEcuInfo",
                "InstalledEcuInfoSize",
                "UpdatedEcuInfo",
                "UpdatedEcuInfoSize"};
    }

    // A complete legacy database of a typical installed state.
    static LegacyDatabaseWriter Typical() {
        LegacyBlockImage first;
        first.id = 0x11;
        first.programmingAttempts = 0x0102;
        first.lockValue = 0xA0B0;
        first.serial = {{1, 2, 3, 4, 5, 6}};
        first.date = {{0x24, 0x05, 0x17}};
        first.status = 0x01;
        first.rfsMinVersion = {{'0', '1', '2', '3'}};
        LegacyBlockImage second = first;
        second.id = 0xC8;
        second.programmingAttempts = 3;
        second.rfsMinVersion = {{'0', '0', '0', '7'}};
        LegacyDatabaseWriter writer;
        writer.UcmSessionId(0x01020304)
            .SwUpdateState(4)
            .UpdateForPartition("B")
            .InstalledBlocks({first, second})
            .UpdatedBlocks({second})
            .InstalledEcuInfo(0x40)
            .UpdatedEcuInfo(0x44);
        return writer;
    }

    LegacyDatabaseWriter& UcmSessionId(int32_t value) { return Value("UcmSessionId", ara::per::KvsType(value)); }
    LegacyDatabaseWriter& SwUpdateState(int32_t value) { return Value("SwUpdateState", ara::per::KvsType(value)); }
    LegacyDatabaseWriter& UpdateForPartition(const std::string& value) {
        return Value("UpdateForPartition", ara::per::KvsType(value));
    }
    LegacyDatabaseWriter& InstalledBlocks(const std::vector<LegacyBlockImage>& blocks) {
        return Record("InstalledLogicalBlocks", LegacyBlockListBytes(blocks));
    }
    LegacyDatabaseWriter& UpdatedBlocks(const std::vector<LegacyBlockImage>& blocks) {
        return Record("UpdatedLogicalBlocks", LegacyBlockListBytes(blocks));
    }
    LegacyDatabaseWriter& InstalledEcuInfo(uint8_t ecuInfo) {
        return Record("InstalledEcuInfo", LegacyEcuInfoBytes(ecuInfo));
    }
    LegacyDatabaseWriter& UpdatedEcuInfo(uint8_t ecuInfo) {
        return Record("UpdatedEcuInfo", LegacyEcuInfoBytes(ecuInfo));
    }

    // A record image under `key` and its true byte length under `key` + "Size".
    LegacyDatabaseWriter& Record(const std::string& key, const std::vector<uint8_t>& bytes) {
        Binary(key, bytes);
        return Size(key + "Size", bytes.size());
    }
    // Raw values, for truncated or lying entries.
    LegacyDatabaseWriter& Binary(const std::string& key, const std::vector<uint8_t>& bytes) {
        return Value(key, ara::per::KvsType(bytes.data(), bytes.size()));
    }
    LegacyDatabaseWriter& Size(const std::string& sizeKey, uint64_t size) {
        return Value(sizeKey, ara::per::KvsType(size));
    }
    LegacyDatabaseWriter& Value(const std::string& key, const ara::per::KvsType& value) {
        m_values[key] = value;
        return *this;
    }
    LegacyDatabaseWriter& Drop(const std::string& key) {
        m_values.erase(key);
        return *this;
    }

    // Sets every value; nothing is synced.
    void WriteTo(ara::per::KeyValueStorage& storage) const {
        for (const auto& entry : m_values) {
            storage.SetValue(entry.first, entry.second);
        }
    }

    // Replaces the whole named database by these values and makes it durable.
    void Write(const std::string& database) const {
        ara::per::KeyValueStorage storage(database);
        storage.RemoveAllKeys();
        WriteTo(storage);
        storage.SyncToStorage();
    }

private:
    std::map<std::string, ara::per::KvsType> m_values;
};

}  // namespace testsupport

#endif

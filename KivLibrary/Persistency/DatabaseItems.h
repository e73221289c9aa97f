// Keys and stored bytes of the database items (layout
// "Serialization-Layout_1.0"). Decoders never read past the value: a value
// that ends early, or whose counts and lengths exceed the bytes present,
// decodes as false and leaves the target unchanged. Markers and lengths that
// are present but not accepted are skipped, as the layout's readers do.
#ifndef KIVLIBRARY_PERSISTENCY_DATABASEITEMS_H
#define KIVLIBRARY_PERSISTENCY_DATABASEITEMS_H

#include "KivLibrary/Persistency/DatabaseTypes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace DatabaseKeys {
constexpr const char* kUcmSessionId = "SER_UcmSessionId";
constexpr const char* kSwUpdateState = "SER_SwUpdateState";
constexpr const char* kUpdateForPartition = "SER_UpdateForPartition";
constexpr const char* kInstalledLogicalBlocks = "SER_InstalledLogicalBlocks";
constexpr const char* kUpdatedLogicalBlocks = "SER_UpdatedLogicalBlocks";
constexpr const char* kInstalledEcuInfo = "SER_InstalledEcuInfo";
constexpr const char* kUpdatedEcuInfo = "SER_UpdatedEcuInfo";
constexpr const char* kDatabaseFormat = "DatabaseFormat";
// Our own item, absent from older databases: the raw bytes of the marker of
// the emergency installation applied last.
constexpr const char* kEmergencyApplied = "SER_EmergencyApplied";
}  // namespace DatabaseKeys

// The format identifier this layout is stamped with.
constexpr const char* kDatabaseFormatIdentifier = "Serialization-Layout_1.0";

std::vector<uint8_t> EncodeUcmSessionId(uint32_t value);
std::vector<uint8_t> EncodeSWupdateState(SWupdateState value);
std::vector<uint8_t> EncodeUpdateForPartition(PartitionEnum value);
std::vector<uint8_t> EncodeEcuInfo(EcuInfo value);
std::vector<uint8_t> EncodeLogicalBlocks(const LogicalBlocks& value);
std::vector<uint8_t> EncodeDatabaseFormat(const std::string& value);

bool DecodeUcmSessionId(const std::vector<uint8_t>& bytes, uint32_t& value);
bool DecodeSWupdateState(const std::vector<uint8_t>& bytes, SWupdateState& value);
bool DecodeUpdateForPartition(const std::vector<uint8_t>& bytes, PartitionEnum& value);
bool DecodeEcuInfo(const std::vector<uint8_t>& bytes, EcuInfo& value);
bool DecodeLogicalBlocks(const std::vector<uint8_t>& bytes, LogicalBlocks& value);
bool DecodeDatabaseFormat(const std::vector<uint8_t>& bytes, std::string& value);

#endif

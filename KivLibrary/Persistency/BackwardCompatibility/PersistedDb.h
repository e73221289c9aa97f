// Read access to a database in the legacy key layout, used only to migrate it.
// Works directly on the raw key-value storage. Every stored value is treated
// as untrusted: sizes are checked against the bytes present and the record
// sizes, and every failure is a logged false, never an exception.
#ifndef KIVLIBRARY_PERSISTENCY_BACKWARDCOMPATIBILITY_PERSISTEDDB_H
#define KIVLIBRARY_PERSISTENCY_BACKWARDCOMPATIBILITY_PERSISTEDDB_H

#include "KivLibrary/Persistency/BackwardCompatibility/PersistedData.h"
#include "KivLibrary/Persistency/DatabaseTypes.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/Persistency/PermanentStorage.h"

#include <cstdint>
#include <memory>
#include <string>

// The keys of the legacy layout.
namespace LegacyKeys {
constexpr const char* kUcmSessionId = "UcmSessionId";
constexpr const char* kSwUpdateState = "SwUpdateState";
constexpr const char* kUpdateForPartition = "UpdateForPartition";
constexpr const char* kInstalledLogicalBlocks = "InstalledLogicalBlocks";
constexpr const char* kInstalledLogicalBlocksSize = "InstalledLogicalBlocksSize";
constexpr const char* kUpdatedLogicalBlocks = "UpdatedLogicalBlocks";
constexpr const char* kUpdatedLogicalBlocksSize = "UpdatedLogicalBlocksSize";
constexpr const char* kInstalledEcuInfo = "InstalledEcuInfo";
constexpr const char* kInstalledEcuInfoSize = "InstalledEcuInfoSize";
constexpr const char* kUpdatedEcuInfo = "UpdatedEcuInfo";
constexpr const char* kUpdatedEcuInfoSize = "UpdatedEcuInfoSize";
}  // namespace LegacyKeys

class PersistedDb {
public:
    PersistedDb(std::shared_ptr<KivConfiguration> configuration, std::shared_ptr<PermanentStorage> storage);

    // Each read answers true when the value was read and writes its output
    // only then.
    bool ReadUcmSessionId(int32_t& value);
    bool ReadSwUpdateState(int32_t& value);
    bool ReadUpdateForPartition(std::string& value);
    bool ReadInstalledLogicalBlocks(LegacyLogicalBlocks& blocks);
    bool ReadUpdatedLogicalBlocks(LegacyLogicalBlocks& blocks);
    // These two read into the record area.
    bool ReadInstalledEcuInfo();
    bool ReadUpdatedEcuInfo();

    std::shared_ptr<PersistedData> GetPersistedData() const { return m_data; }

private:
    bool CheckPreconditions(const std::string& operation) const;
    template <typename T>
    bool GetValue(const std::string& key, T& value);
    template <typename T>
    bool ReadValue(const std::string& key, T& value);
    bool ReadBlocks(const std::string& key, const std::string& sizeKey, LegacyLogicalBlocks& blocks);
    bool ReadEcuInfo(const std::string& key, const std::string& sizeKey, LegacyEcuInfo& record);

    std::shared_ptr<KivConfiguration> m_configuration;
    std::shared_ptr<PermanentStorage> m_storage;
    std::shared_ptr<PersistedData> m_data;
};

// One LogicalBlock per legacy record, in list order, with a zero IVD.
LogicalBlocks ConvertLegacyLogicalBlocks(const LegacyLogicalBlocks& legacyBlocks);

#endif

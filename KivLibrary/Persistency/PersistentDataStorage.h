// The typed database: per item a has-, read-, write- and remove-operation.
// Every operation answers with bool and never throws; a failed read leaves
// its output unchanged.
#ifndef KIVLIBRARY_PERSISTENCY_PERSISTENTDATASTORAGE_H
#define KIVLIBRARY_PERSISTENCY_PERSISTENTDATASTORAGE_H

#include "KivLibrary/Persistency/DatabaseTypes.h"

#include <cstdint>
#include <string>
#include <vector>

class ReadOnlyPersistentDataStorage {
public:
    virtual ~ReadOnlyPersistentDataStorage() = default;

    virtual bool HasUcmSessionId() const = 0;
    virtual bool ReadUcmSessionId(uint32_t& value) = 0;
    virtual bool HasSWupdateState() const = 0;
    virtual bool ReadSWupdateState(SWupdateState& value) = 0;
    virtual bool HasUpdateForPartition() const = 0;
    virtual bool ReadUpdateForPartition(PartitionEnum& value) = 0;
    virtual bool HasUpdatedLogicalBlocks() const = 0;
    virtual bool ReadUpdatedLogicalBlocks(LogicalBlocks& value) = 0;
    virtual bool HasInstalledLogicalBlocks() const = 0;
    virtual bool ReadInstalledLogicalBlocks(LogicalBlocks& value) = 0;
    virtual bool HasUpdatedEcuInfo() const = 0;
    virtual bool ReadUpdatedEcuInfo(EcuInfo& value) = 0;
    virtual bool HasInstalledEcuInfo() const = 0;
    virtual bool ReadInstalledEcuInfo(EcuInfo& value) = 0;
    virtual bool HasDatabaseFormatIdentifier() const = 0;
    virtual bool ReadDatabaseFormatIdentifier(std::string& value) = 0;
    virtual bool IsStorageAvailable() = 0;
    // The marker of the emergency installation whose records are stored,
    // kept until its marker files are gone; false when there is none. A
    // storage that does not keep it answers false.
    virtual bool HasEmergencyApplied() const { return false; }
    virtual bool ReadEmergencyApplied(std::vector<uint8_t>& value) {
        (void)value;
        return false;
    }
};

class PersistentDataStorage : public ReadOnlyPersistentDataStorage {
public:
    virtual bool RemoveUcmSessionId() = 0;
    virtual bool WriteUcmSessionId(const uint32_t& value) = 0;
    virtual bool RemoveSWupdateState() = 0;
    virtual bool WriteSWupdateState(const SWupdateState& value) = 0;
    virtual bool RemoveUpdateForPartition() = 0;
    virtual bool WriteUpdateForPartition(const PartitionEnum& value) = 0;
    virtual bool RemoveUpdatedLogicalBlocks() = 0;
    virtual bool WriteUpdatedLogicalBlocks(const LogicalBlocks& value) = 0;
    virtual bool RemoveInstalledLogicalBlocks() = 0;
    virtual bool WriteInstalledLogicalBlocks(const LogicalBlocks& value) = 0;
    virtual bool RemoveUpdatedEcuInfo() = 0;
    virtual bool WriteUpdatedEcuInfo(const EcuInfo& value) = 0;
    virtual bool RemoveInstalledEcuInfo() = 0;
    virtual bool WriteInstalledEcuInfo(const EcuInfo& value) = 0;
    virtual bool RemoveDatabaseFormatIdentifier() = 0;
    virtual bool WriteDatabaseFormatIdentifier(const std::string& value) = 0;
    virtual bool WriteEmergencyApplied(const std::vector<uint8_t>& value) {
        (void)value;
        return false;
    }
    virtual bool RemoveEmergencyApplied() { return false; }
    // Makes every write so far durable on the medium.
    virtual bool SyncToStorage() = 0;
};

#endif

// The typed database over a key-value storage: each item is encoded into its
// stored bytes and kept under its key.
#ifndef KIVLIBRARY_PERSISTENCY_PERSISTENTDATASTORAGEIMPL_H
#define KIVLIBRARY_PERSISTENCY_PERSISTENTDATASTORAGEIMPL_H

#include "KivLibrary/Persistency/PermanentStorage.h"
#include "KivLibrary/Persistency/PersistentDataStorage.h"

#include <memory>
#include <string>
#include <vector>

class PersistentDataStorageImpl : public PersistentDataStorage {
public:
    // Without a storage every operation fails.
    explicit PersistentDataStorageImpl(std::shared_ptr<PermanentStorage> storage);

    bool HasUcmSessionId() const override;
    bool ReadUcmSessionId(uint32_t& value) override;
    bool HasSWupdateState() const override;
    bool ReadSWupdateState(SWupdateState& value) override;
    bool HasUpdateForPartition() const override;
    bool ReadUpdateForPartition(PartitionEnum& value) override;
    bool HasUpdatedLogicalBlocks() const override;
    bool ReadUpdatedLogicalBlocks(LogicalBlocks& value) override;
    bool HasInstalledLogicalBlocks() const override;
    bool ReadInstalledLogicalBlocks(LogicalBlocks& value) override;
    bool HasUpdatedEcuInfo() const override;
    bool ReadUpdatedEcuInfo(EcuInfo& value) override;
    bool HasInstalledEcuInfo() const override;
    bool ReadInstalledEcuInfo(EcuInfo& value) override;
    bool HasDatabaseFormatIdentifier() const override;
    bool ReadDatabaseFormatIdentifier(std::string& value) override;
    bool IsStorageAvailable() override;

    bool RemoveUcmSessionId() override;
    bool WriteUcmSessionId(const uint32_t& value) override;
    bool RemoveSWupdateState() override;
    bool WriteSWupdateState(const SWupdateState& value) override;
    bool RemoveUpdateForPartition() override;
    bool WriteUpdateForPartition(const PartitionEnum& value) override;
    bool RemoveUpdatedLogicalBlocks() override;
    bool WriteUpdatedLogicalBlocks(const LogicalBlocks& value) override;
    bool RemoveInstalledLogicalBlocks() override;
    bool WriteInstalledLogicalBlocks(const LogicalBlocks& value) override;
    bool RemoveUpdatedEcuInfo() override;
    bool WriteUpdatedEcuInfo(const EcuInfo& value) override;
    bool RemoveInstalledEcuInfo() override;
    bool WriteInstalledEcuInfo(const EcuInfo& value) override;
    bool RemoveDatabaseFormatIdentifier() override;
    bool WriteDatabaseFormatIdentifier(const std::string& value) override;
    bool HasEmergencyApplied() const override;
    bool ReadEmergencyApplied(std::vector<uint8_t>& value) override;
    bool WriteEmergencyApplied(const std::vector<uint8_t>& value) override;
    bool RemoveEmergencyApplied() override;
    bool SyncToStorage() override;

private:
    bool Has(const char* key) const;
    bool Remove(const char* key);
    template <typename T, typename Decode>
    bool Read(const char* key, T& value, Decode decode);
    template <typename T, typename Encode>
    bool Write(const char* key, const T& value, Encode encode);

    std::shared_ptr<PermanentStorage> m_storage;
};

#endif

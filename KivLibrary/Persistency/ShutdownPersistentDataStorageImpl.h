// Guard layer of the database stack: while the platform prepares a fast
// shutdown the flash may lose power at any moment, so every read, write,
// removal and sync is refused. Has-operations and IsStorageAvailable pass.
#ifndef KIVLIBRARY_PERSISTENCY_SHUTDOWNPERSISTENTDATASTORAGEIMPL_H
#define KIVLIBRARY_PERSISTENCY_SHUTDOWNPERSISTENTDATASTORAGEIMPL_H

#include "KivLibrary/Persistency/PersistentDataStorage.h"

#include <memory>
#include <string>

class ShutdownPersistentDataStorageImpl : public PersistentDataStorage {
public:
    // Without a wrapped storage every operation fails.
    explicit ShutdownPersistentDataStorageImpl(std::shared_ptr<PersistentDataStorage> storage);

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
    // The flag is read once: an operation that passed runs to its end.
    template <typename Operation>
    bool Guarded(const char* name, Operation operation);

    const std::shared_ptr<PersistentDataStorage> m_storage;
};

#endif

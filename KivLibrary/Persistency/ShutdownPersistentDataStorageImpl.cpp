#include "KivLibrary/Persistency/ShutdownPersistentDataStorageImpl.h"

#include "KivLibrary/GlobalLibrary/FastShutDown.h"
#include "KivLibrary/Logger/Logging.h"

ShutdownPersistentDataStorageImpl::ShutdownPersistentDataStorageImpl(std::shared_ptr<PersistentDataStorage> storage)
    : m_storage(std::move(storage)) {}

template <typename Operation>
bool ShutdownPersistentDataStorageImpl::Guarded(const char* name, Operation operation) {
    if (FastShutDown::IsSet()) {
        LogWarn() << std::string(name) + " not executed due to FastShutDown" << VLMR_FILE_LINE;
        return false;
    }
    return m_storage && operation(*m_storage);
}

bool ShutdownPersistentDataStorageImpl::HasUcmSessionId() const { return m_storage && m_storage->HasUcmSessionId(); }
bool ShutdownPersistentDataStorageImpl::HasSWupdateState() const { return m_storage && m_storage->HasSWupdateState(); }
bool ShutdownPersistentDataStorageImpl::HasUpdateForPartition() const {
    return m_storage && m_storage->HasUpdateForPartition();
}
bool ShutdownPersistentDataStorageImpl::HasUpdatedLogicalBlocks() const {
    return m_storage && m_storage->HasUpdatedLogicalBlocks();
}
bool ShutdownPersistentDataStorageImpl::HasInstalledLogicalBlocks() const {
    return m_storage && m_storage->HasInstalledLogicalBlocks();
}
bool ShutdownPersistentDataStorageImpl::HasUpdatedEcuInfo() const {
    return m_storage && m_storage->HasUpdatedEcuInfo();
}
bool ShutdownPersistentDataStorageImpl::HasInstalledEcuInfo() const {
    return m_storage && m_storage->HasInstalledEcuInfo();
}
bool ShutdownPersistentDataStorageImpl::HasDatabaseFormatIdentifier() const {
    return m_storage && m_storage->HasDatabaseFormatIdentifier();
}
bool ShutdownPersistentDataStorageImpl::IsStorageAvailable() { return m_storage && m_storage->IsStorageAvailable(); }

bool ShutdownPersistentDataStorageImpl::ReadUcmSessionId(uint32_t& value) {
    return Guarded("ReadUcmSessionId", [&value](PersistentDataStorage& s) { return s.ReadUcmSessionId(value); });
}
bool ShutdownPersistentDataStorageImpl::ReadSWupdateState(SWupdateState& value) {
    return Guarded("ReadSWupdateState", [&value](PersistentDataStorage& s) { return s.ReadSWupdateState(value); });
}
bool ShutdownPersistentDataStorageImpl::ReadUpdateForPartition(PartitionEnum& value) {
    return Guarded("ReadUpdateForPartition",
                   [&value](PersistentDataStorage& s) { return s.ReadUpdateForPartition(value); });
}
bool ShutdownPersistentDataStorageImpl::ReadUpdatedLogicalBlocks(LogicalBlocks& value) {
    return Guarded("ReadUpdatedLogicalBlocks",
                   [&value](PersistentDataStorage& s) { return s.ReadUpdatedLogicalBlocks(value); });
}
bool ShutdownPersistentDataStorageImpl::ReadInstalledLogicalBlocks(LogicalBlocks& value) {
    return Guarded("ReadInstalledLogicalBlocks",
                   [&value](PersistentDataStorage& s) { return s.ReadInstalledLogicalBlocks(value); });
}
bool ShutdownPersistentDataStorageImpl::ReadUpdatedEcuInfo(EcuInfo& value) {
    return Guarded("ReadUpdatedEcuInfo", [&value](PersistentDataStorage& s) { return s.ReadUpdatedEcuInfo(value); });
}
bool ShutdownPersistentDataStorageImpl::ReadInstalledEcuInfo(EcuInfo& value) {
    return Guarded("ReadInstalledEcuInfo",
                   [&value](PersistentDataStorage& s) { return s.ReadInstalledEcuInfo(value); });
}
bool ShutdownPersistentDataStorageImpl::ReadDatabaseFormatIdentifier(std::string& value) {
    return Guarded("ReadDatabaseFormatIdentifier",
                   [&value](PersistentDataStorage& s) { return s.ReadDatabaseFormatIdentifier(value); });
}

bool ShutdownPersistentDataStorageImpl::RemoveUcmSessionId() {
    return Guarded("RemoveUcmSessionId", [](PersistentDataStorage& s) { return s.RemoveUcmSessionId(); });
}
bool ShutdownPersistentDataStorageImpl::WriteUcmSessionId(const uint32_t& value) {
    return Guarded("WriteUcmSessionId", [&value](PersistentDataStorage& s) { return s.WriteUcmSessionId(value); });
}
bool ShutdownPersistentDataStorageImpl::RemoveSWupdateState() {
    return Guarded("RemoveSWupdateState", [](PersistentDataStorage& s) { return s.RemoveSWupdateState(); });
}
bool ShutdownPersistentDataStorageImpl::WriteSWupdateState(const SWupdateState& value) {
    return Guarded("WriteSWupdateState", [&value](PersistentDataStorage& s) { return s.WriteSWupdateState(value); });
}
bool ShutdownPersistentDataStorageImpl::RemoveUpdateForPartition() {
    return Guarded("RemoveUpdateForPartition", [](PersistentDataStorage& s) { return s.RemoveUpdateForPartition(); });
}
bool ShutdownPersistentDataStorageImpl::WriteUpdateForPartition(const PartitionEnum& value) {
    return Guarded("WriteUpdateForPartition",
                   [&value](PersistentDataStorage& s) { return s.WriteUpdateForPartition(value); });
}
bool ShutdownPersistentDataStorageImpl::RemoveUpdatedLogicalBlocks() {
    return Guarded("RemoveUpdatedLogicalBlocks",
                   [](PersistentDataStorage& s) { return s.RemoveUpdatedLogicalBlocks(); });
}
bool ShutdownPersistentDataStorageImpl::WriteUpdatedLogicalBlocks(const LogicalBlocks& value) {
    return Guarded("WriteUpdatedLogicalBlocks",
                   [&value](PersistentDataStorage& s) { return s.WriteUpdatedLogicalBlocks(value); });
}
bool ShutdownPersistentDataStorageImpl::RemoveInstalledLogicalBlocks() {
    return Guarded("RemoveInstalledLogicalBlocks",
                   [](PersistentDataStorage& s) { return s.RemoveInstalledLogicalBlocks(); });
}
bool ShutdownPersistentDataStorageImpl::WriteInstalledLogicalBlocks(const LogicalBlocks& value) {
    return Guarded("WriteInstalledLogicalBlocks",
                   [&value](PersistentDataStorage& s) { return s.WriteInstalledLogicalBlocks(value); });
}
bool ShutdownPersistentDataStorageImpl::RemoveUpdatedEcuInfo() {
    return Guarded("RemoveUpdatedEcuInfo", [](PersistentDataStorage& s) { return s.RemoveUpdatedEcuInfo(); });
}
bool ShutdownPersistentDataStorageImpl::WriteUpdatedEcuInfo(const EcuInfo& value) {
    return Guarded("WriteUpdatedEcuInfo", [&value](PersistentDataStorage& s) { return s.WriteUpdatedEcuInfo(value); });
}
bool ShutdownPersistentDataStorageImpl::RemoveInstalledEcuInfo() {
    return Guarded("RemoveInstalledEcuInfo", [](PersistentDataStorage& s) { return s.RemoveInstalledEcuInfo(); });
}
bool ShutdownPersistentDataStorageImpl::WriteInstalledEcuInfo(const EcuInfo& value) {
    return Guarded("WriteInstalledEcuInfo",
                   [&value](PersistentDataStorage& s) { return s.WriteInstalledEcuInfo(value); });
}
bool ShutdownPersistentDataStorageImpl::RemoveDatabaseFormatIdentifier() {
    return Guarded("RemoveDatabaseFormatIdentifier",
                   [](PersistentDataStorage& s) { return s.RemoveDatabaseFormatIdentifier(); });
}
bool ShutdownPersistentDataStorageImpl::WriteDatabaseFormatIdentifier(const std::string& value) {
    return Guarded("WriteDatabaseFormatIdentifier",
                   [&value](PersistentDataStorage& s) { return s.WriteDatabaseFormatIdentifier(value); });
}
bool ShutdownPersistentDataStorageImpl::HasEmergencyApplied() const {
    return m_storage && m_storage->HasEmergencyApplied();
}
bool ShutdownPersistentDataStorageImpl::ReadEmergencyApplied(std::vector<uint8_t>& value) {
    return Guarded("ReadEmergencyApplied",
                   [&value](PersistentDataStorage& s) { return s.ReadEmergencyApplied(value); });
}
bool ShutdownPersistentDataStorageImpl::WriteEmergencyApplied(const std::vector<uint8_t>& value) {
    return Guarded("WriteEmergencyApplied",
                   [&value](PersistentDataStorage& s) { return s.WriteEmergencyApplied(value); });
}
bool ShutdownPersistentDataStorageImpl::RemoveEmergencyApplied() {
    return Guarded("RemoveEmergencyApplied", [](PersistentDataStorage& s) { return s.RemoveEmergencyApplied(); });
}

bool ShutdownPersistentDataStorageImpl::SyncToStorage() {
    return Guarded("SyncToStorage", [](PersistentDataStorage& s) { return s.SyncToStorage(); });
}

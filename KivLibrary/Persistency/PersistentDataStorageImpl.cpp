#include "KivLibrary/Persistency/PersistentDataStorageImpl.h"

#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/DatabaseItems.h"
#include "KivLibrary/Persistency/ObjectLogger.h"

using namespace DatabaseKeys;

PersistentDataStorageImpl::PersistentDataStorageImpl(std::shared_ptr<PermanentStorage> storage)
    : m_storage(std::move(storage)) {}

bool PersistentDataStorageImpl::Has(const char* key) const { return m_storage && m_storage->Has(key); }

bool PersistentDataStorageImpl::Remove(const char* key) { return m_storage && m_storage->Remove(key); }

template <typename T, typename Decode>
bool PersistentDataStorageImpl::Read(const char* key, T& value, Decode decode) {
    LogInfo() << "Reading persisted key '" << key << "'" << VLMR_FILE_LINE;
    std::vector<uint8_t> bytes;
    if (!m_storage || !m_storage->Get(key, bytes)) {
        LogInfo() << "Failed to read '" << key << "'" << VLMR_FILE_LINE;
        return false;
    }
    T decoded = value;
    if (!decode(bytes, decoded)) {
        LogError() << "Failed to decode '" << key << "': stored value is truncated or corrupt" << VLMR_FILE_LINE;
        return false;
    }
    value = std::move(decoded);
    LogInfo() << "Successfully read '" << key << "': '" << value << "'" << VLMR_FILE_LINE;
    return true;
}

template <typename T, typename Encode>
bool PersistentDataStorageImpl::Write(const char* key, const T& value, Encode encode) {
    LogInfo() << "Writing key '" << key << "' and value '" << value << "' to persistency" << VLMR_FILE_LINE;
    const std::vector<uint8_t> bytes = encode(value);
    if (!m_storage || !m_storage->Set(key, bytes)) {
        LogError() << "Failed to write '" << key << "'" << VLMR_FILE_LINE;
        return false;
    }
    LogInfo() << "Successfully wrote '" << key << "'" << VLMR_FILE_LINE;
    return true;
}

bool PersistentDataStorageImpl::HasUcmSessionId() const { return Has(kUcmSessionId); }
bool PersistentDataStorageImpl::HasSWupdateState() const { return Has(kSwUpdateState); }
bool PersistentDataStorageImpl::HasUpdateForPartition() const { return Has(kUpdateForPartition); }
bool PersistentDataStorageImpl::HasUpdatedLogicalBlocks() const { return Has(kUpdatedLogicalBlocks); }
bool PersistentDataStorageImpl::HasInstalledLogicalBlocks() const { return Has(kInstalledLogicalBlocks); }
bool PersistentDataStorageImpl::HasUpdatedEcuInfo() const { return Has(kUpdatedEcuInfo); }
bool PersistentDataStorageImpl::HasInstalledEcuInfo() const { return Has(kInstalledEcuInfo); }
bool PersistentDataStorageImpl::HasDatabaseFormatIdentifier() const { return Has(kDatabaseFormat); }

bool PersistentDataStorageImpl::ReadUcmSessionId(uint32_t& value) {
    return Read(kUcmSessionId, value, DecodeUcmSessionId);
}
bool PersistentDataStorageImpl::ReadSWupdateState(SWupdateState& value) {
    return Read(kSwUpdateState, value, DecodeSWupdateState);
}
bool PersistentDataStorageImpl::ReadUpdateForPartition(PartitionEnum& value) {
    return Read(kUpdateForPartition, value, DecodeUpdateForPartition);
}
bool PersistentDataStorageImpl::ReadUpdatedLogicalBlocks(LogicalBlocks& value) {
    return Read(kUpdatedLogicalBlocks, value, DecodeLogicalBlocks);
}
bool PersistentDataStorageImpl::ReadInstalledLogicalBlocks(LogicalBlocks& value) {
    return Read(kInstalledLogicalBlocks, value, DecodeLogicalBlocks);
}
bool PersistentDataStorageImpl::ReadUpdatedEcuInfo(EcuInfo& value) {
    return Read(kUpdatedEcuInfo, value, DecodeEcuInfo);
}
bool PersistentDataStorageImpl::ReadInstalledEcuInfo(EcuInfo& value) {
    return Read(kInstalledEcuInfo, value, DecodeEcuInfo);
}
bool PersistentDataStorageImpl::ReadDatabaseFormatIdentifier(std::string& value) {
    return Read(kDatabaseFormat, value, DecodeDatabaseFormat);
}

bool PersistentDataStorageImpl::IsStorageAvailable() { return m_storage != nullptr; }

bool PersistentDataStorageImpl::RemoveUcmSessionId() { return Remove(kUcmSessionId); }
bool PersistentDataStorageImpl::RemoveSWupdateState() { return Remove(kSwUpdateState); }
bool PersistentDataStorageImpl::RemoveUpdateForPartition() { return Remove(kUpdateForPartition); }
bool PersistentDataStorageImpl::RemoveUpdatedLogicalBlocks() { return Remove(kUpdatedLogicalBlocks); }
bool PersistentDataStorageImpl::RemoveInstalledLogicalBlocks() { return Remove(kInstalledLogicalBlocks); }
bool PersistentDataStorageImpl::RemoveUpdatedEcuInfo() { return Remove(kUpdatedEcuInfo); }
bool PersistentDataStorageImpl::RemoveInstalledEcuInfo() { return Remove(kInstalledEcuInfo); }
bool PersistentDataStorageImpl::RemoveDatabaseFormatIdentifier() { return Remove(kDatabaseFormat); }

bool PersistentDataStorageImpl::WriteUcmSessionId(const uint32_t& value) {
    return Write(kUcmSessionId, value, EncodeUcmSessionId);
}
bool PersistentDataStorageImpl::WriteSWupdateState(const SWupdateState& value) {
    return Write(kSwUpdateState, value, EncodeSWupdateState);
}
bool PersistentDataStorageImpl::WriteUpdateForPartition(const PartitionEnum& value) {
    return Write(kUpdateForPartition, value, EncodeUpdateForPartition);
}
bool PersistentDataStorageImpl::WriteUpdatedLogicalBlocks(const LogicalBlocks& value) {
    return Write(kUpdatedLogicalBlocks, value, EncodeLogicalBlocks);
}
bool PersistentDataStorageImpl::WriteInstalledLogicalBlocks(const LogicalBlocks& value) {
    return Write(kInstalledLogicalBlocks, value, EncodeLogicalBlocks);
}
bool PersistentDataStorageImpl::WriteUpdatedEcuInfo(const EcuInfo& value) {
    return Write(kUpdatedEcuInfo, value, EncodeEcuInfo);
}
bool PersistentDataStorageImpl::WriteInstalledEcuInfo(const EcuInfo& value) {
    return Write(kInstalledEcuInfo, value, EncodeEcuInfo);
}
bool PersistentDataStorageImpl::WriteDatabaseFormatIdentifier(const std::string& value) {
    return Write(kDatabaseFormat, value, EncodeDatabaseFormat);
}

bool PersistentDataStorageImpl::HasEmergencyApplied() const { return Has(kEmergencyApplied); }
bool PersistentDataStorageImpl::ReadEmergencyApplied(std::vector<uint8_t>& value) {
    std::vector<uint8_t> bytes;
    if (!m_storage || !m_storage->Has(kEmergencyApplied) || !m_storage->Get(kEmergencyApplied, bytes)) {
        return false;
    }
    value = std::move(bytes);
    return true;
}
bool PersistentDataStorageImpl::WriteEmergencyApplied(const std::vector<uint8_t>& value) {
    if (!m_storage || !m_storage->Set(kEmergencyApplied, value)) {
        LogError() << "Failed to write '" << kEmergencyApplied << "'" << VLMR_FILE_LINE;
        return false;
    }
    return true;
}
bool PersistentDataStorageImpl::RemoveEmergencyApplied() { return Remove(kEmergencyApplied); }

bool PersistentDataStorageImpl::SyncToStorage() { return m_storage && m_storage->Persist(); }

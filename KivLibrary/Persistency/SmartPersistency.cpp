#include "KivLibrary/Persistency/SmartPersistency.h"

#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/DatabaseItems.h"
#include "KivLibrary/Persistency/ObjectLogger.h"

#include <exception>

namespace {

void LogTaggedBlocks(const char* tag, const LogicalBlocks& blocks) { LogInfo() << tag << blocks << VLMR_FILE_LINE; }

}  // namespace

SmartPersistency::SmartPersistency(std::shared_ptr<PersistentDataStorage> storage, const std::string& database,
                                   ReconnectFactory factory)
    : m_ucmSessionId(DatabaseKeys::kUcmSessionId, &PersistentDataStorage::HasUcmSessionId,
                     &PersistentDataStorage::ReadUcmSessionId, &PersistentDataStorage::RemoveUcmSessionId,
                     &PersistentDataStorage::WriteUcmSessionId),
      m_swUpdateState(DatabaseKeys::kSwUpdateState, &PersistentDataStorage::HasSWupdateState,
                      &PersistentDataStorage::ReadSWupdateState, &PersistentDataStorage::RemoveSWupdateState,
                      &PersistentDataStorage::WriteSWupdateState),
      m_updateForPartition(DatabaseKeys::kUpdateForPartition, &PersistentDataStorage::HasUpdateForPartition,
                           &PersistentDataStorage::ReadUpdateForPartition,
                           &PersistentDataStorage::RemoveUpdateForPartition,
                           &PersistentDataStorage::WriteUpdateForPartition),
      m_updatedLogicalBlocks(DatabaseKeys::kUpdatedLogicalBlocks, &PersistentDataStorage::HasUpdatedLogicalBlocks,
                             &PersistentDataStorage::ReadUpdatedLogicalBlocks,
                             &PersistentDataStorage::RemoveUpdatedLogicalBlocks,
                             &PersistentDataStorage::WriteUpdatedLogicalBlocks),
      m_installedLogicalBlocks(DatabaseKeys::kInstalledLogicalBlocks, &PersistentDataStorage::HasInstalledLogicalBlocks,
                               &PersistentDataStorage::ReadInstalledLogicalBlocks,
                               &PersistentDataStorage::RemoveInstalledLogicalBlocks,
                               &PersistentDataStorage::WriteInstalledLogicalBlocks),
      m_updatedEcuInfo(DatabaseKeys::kUpdatedEcuInfo, &PersistentDataStorage::HasUpdatedEcuInfo,
                       &PersistentDataStorage::ReadUpdatedEcuInfo, &PersistentDataStorage::RemoveUpdatedEcuInfo,
                       &PersistentDataStorage::WriteUpdatedEcuInfo),
      m_installedEcuInfo(DatabaseKeys::kInstalledEcuInfo, &PersistentDataStorage::HasInstalledEcuInfo,
                         &PersistentDataStorage::ReadInstalledEcuInfo, &PersistentDataStorage::RemoveInstalledEcuInfo,
                         &PersistentDataStorage::WriteInstalledEcuInfo),
      m_databaseFormat(DatabaseKeys::kDatabaseFormat, &PersistentDataStorage::HasDatabaseFormatIdentifier,
                       &PersistentDataStorage::ReadDatabaseFormatIdentifier,
                       &PersistentDataStorage::RemoveDatabaseFormatIdentifier,
                       &PersistentDataStorage::WriteDatabaseFormatIdentifier),
      m_emergencyApplied(DatabaseKeys::kEmergencyApplied, &PersistentDataStorage::HasEmergencyApplied,
                         &PersistentDataStorage::ReadEmergencyApplied, &PersistentDataStorage::RemoveEmergencyApplied,
                         &PersistentDataStorage::WriteEmergencyApplied),
      m_storage(std::move(storage)),
      m_database(database),
      m_factory(std::move(factory)) {
    m_entries = {&m_ucmSessionId,         &m_swUpdateState,          &m_updateForPartition,
                 &m_updatedLogicalBlocks, &m_installedLogicalBlocks, &m_updatedEcuInfo,
                 &m_installedEcuInfo,     &m_databaseFormat,         &m_emergencyApplied};
}

SmartPersistency::~SmartPersistency() = default;

bool SmartPersistency::LoadCache() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return EnsureCacheLoaded();
}

std::vector<const char*> SmartPersistency::UnreadableItems(const std::shared_ptr<PersistentDataStorage>& storage) {
    const SmartPersistency probe(storage, std::string(), nullptr);
    std::vector<const char*> keys;
    for (DatabaseEntry* entry : probe.m_entries) {
        if (!entry->Load(storage)) {
            keys.push_back(entry->Key());
        }
    }
    return keys;
}

bool SmartPersistency::EnsureCacheLoaded() const {
    if (LoadCacheFromPersistency()) {
        return true;
    }
    if (!Reconnect()) {
        return false;
    }
    return LoadCacheFromPersistency();
}

bool SmartPersistency::LoadCacheFromPersistency() const {
    if (m_cacheLoaded) {
        return true;
    }
    LogInfo() << "Loading database cache from database..." << VLMR_FILE_LINE;
    bool result = true;
    for (DatabaseEntry* entry : m_entries) {
        result = entry->Load(m_storage) && result;
    }
    m_cacheLoaded = result;
    LogInfo() << "Loaded database cache. Result is " << result << VLMR_FILE_LINE;
    LogTaggedBlocks("[INSTALLED]",
                    m_installedLogicalBlocks.IsPresent() ? m_installedLogicalBlocks.Value() : LogicalBlocks());
    LogTaggedBlocks("[UPDATED]", m_updatedLogicalBlocks.IsPresent() ? m_updatedLogicalBlocks.Value() : LogicalBlocks());
    return m_cacheLoaded;
}

bool SmartPersistency::WriteCacheToPersistency() const {
    LogInfo() << "Writing database cache to database..." << VLMR_FILE_LINE;
    bool result = true;
    for (DatabaseEntry* entry : m_entries) {
        result = entry->Store(m_storage) && result;
    }
    m_cacheDirty = !result;
    LogInfo() << "Wrote database cache. Result is " << result << VLMR_FILE_LINE;
    return result;
}

bool SmartPersistency::StoreEntry(DatabaseEntry& entry) {
    if (m_storage) {
        // A storage that lags behind the cache first receives all of it, so
        // that values accepted while it refused access are not lost.
        const bool stored = m_cacheDirty ? WriteCacheToPersistency() : entry.Store(m_storage);
        if (stored) {
            return true;
        }
    }
    if (!Reconnect()) {
        return false;
    }
    return WriteCacheToPersistency();
}

bool SmartPersistency::Reconnect() const {
    LogWarn() << "Reconnecting database '" + m_database + "' due to flash corruption" << VLMR_FILE_LINE;
    m_storage.reset();
    // A fresh storage holds only what was synced before.
    m_cacheDirty = m_cacheLoaded;
    if (!m_factory) {
        LogError() << "Reconnecting database '" + m_database + "' failed: no storage factory" << VLMR_FILE_LINE;
        return false;
    }
    try {
        m_storage = m_factory(m_database);
    } catch (const std::exception& e) {
        LogError() << "Reconnecting database '" + m_database + "' failed: " + e.what() << VLMR_FILE_LINE;
        m_storage.reset();
        return false;
    } catch (...) {
        LogError() << "Reconnecting database '" + m_database + "' failed: unknown exception" << VLMR_FILE_LINE;
        m_storage.reset();
        return false;
    }
    if (!m_storage) {
        LogError() << "Reconnecting database '" + m_database + "' failed: no storage" << VLMR_FILE_LINE;
        return false;
    }
    return true;
}

template <typename T>
bool SmartPersistency::Has(const DBEntry<T>& entry) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return EnsureCacheLoaded() && entry.IsPresent();
}

template <typename T>
bool SmartPersistency::Read(const DBEntry<T>& entry, T& value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!EnsureCacheLoaded()) {
        return false;
    }
    if (entry.IsPresent()) {
        value = entry.Value();
    }
    return entry.IsPresent();
}

template <typename T>
bool SmartPersistency::Write(DBEntry<T>& entry, const T& value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!EnsureCacheLoaded()) {
        return false;
    }
    entry.Set(value);
    return StoreEntry(entry);
}

template <typename T>
bool SmartPersistency::Remove(DBEntry<T>& entry) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!EnsureCacheLoaded()) {
        return false;
    }
    entry.Clear();
    return StoreEntry(entry);
}

bool SmartPersistency::HasUcmSessionId() const { return Has(m_ucmSessionId); }
bool SmartPersistency::HasSWupdateState() const { return Has(m_swUpdateState); }
bool SmartPersistency::HasUpdateForPartition() const { return Has(m_updateForPartition); }
bool SmartPersistency::HasUpdatedLogicalBlocks() const { return Has(m_updatedLogicalBlocks); }
bool SmartPersistency::HasInstalledLogicalBlocks() const { return Has(m_installedLogicalBlocks); }
bool SmartPersistency::HasUpdatedEcuInfo() const { return Has(m_updatedEcuInfo); }
bool SmartPersistency::HasInstalledEcuInfo() const { return Has(m_installedEcuInfo); }
bool SmartPersistency::HasDatabaseFormatIdentifier() const { return Has(m_databaseFormat); }

bool SmartPersistency::ReadUcmSessionId(uint32_t& value) { return Read(m_ucmSessionId, value); }
bool SmartPersistency::ReadSWupdateState(SWupdateState& value) { return Read(m_swUpdateState, value); }
bool SmartPersistency::ReadUpdateForPartition(PartitionEnum& value) { return Read(m_updateForPartition, value); }
bool SmartPersistency::ReadUpdatedLogicalBlocks(LogicalBlocks& value) { return Read(m_updatedLogicalBlocks, value); }
bool SmartPersistency::ReadInstalledLogicalBlocks(LogicalBlocks& value) {
    return Read(m_installedLogicalBlocks, value);
}
bool SmartPersistency::ReadUpdatedEcuInfo(EcuInfo& value) { return Read(m_updatedEcuInfo, value); }
bool SmartPersistency::ReadInstalledEcuInfo(EcuInfo& value) { return Read(m_installedEcuInfo, value); }
bool SmartPersistency::ReadDatabaseFormatIdentifier(std::string& value) { return Read(m_databaseFormat, value); }

bool SmartPersistency::IsStorageAvailable() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_storage && !Reconnect()) {
        return false;
    }
    return m_storage->IsStorageAvailable();
}

bool SmartPersistency::RemoveUcmSessionId() { return Remove(m_ucmSessionId); }
bool SmartPersistency::WriteUcmSessionId(const uint32_t& value) { return Write(m_ucmSessionId, value); }
bool SmartPersistency::RemoveSWupdateState() { return Remove(m_swUpdateState); }
bool SmartPersistency::WriteSWupdateState(const SWupdateState& value) { return Write(m_swUpdateState, value); }
bool SmartPersistency::RemoveUpdateForPartition() { return Remove(m_updateForPartition); }
bool SmartPersistency::WriteUpdateForPartition(const PartitionEnum& value) {
    return Write(m_updateForPartition, value);
}
bool SmartPersistency::RemoveUpdatedLogicalBlocks() { return Remove(m_updatedLogicalBlocks); }
bool SmartPersistency::WriteUpdatedLogicalBlocks(const LogicalBlocks& value) {
    return Write(m_updatedLogicalBlocks, value);
}
bool SmartPersistency::RemoveInstalledLogicalBlocks() { return Remove(m_installedLogicalBlocks); }
bool SmartPersistency::WriteInstalledLogicalBlocks(const LogicalBlocks& value) {
    return Write(m_installedLogicalBlocks, value);
}
bool SmartPersistency::RemoveUpdatedEcuInfo() { return Remove(m_updatedEcuInfo); }
bool SmartPersistency::WriteUpdatedEcuInfo(const EcuInfo& value) { return Write(m_updatedEcuInfo, value); }
bool SmartPersistency::RemoveInstalledEcuInfo() { return Remove(m_installedEcuInfo); }
bool SmartPersistency::WriteInstalledEcuInfo(const EcuInfo& value) { return Write(m_installedEcuInfo, value); }

bool SmartPersistency::RemoveDatabaseFormatIdentifier() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!EnsureCacheLoaded()) {
        return false;
    }
    m_databaseFormat.Clear();
    m_databaseFormat.ClearValue();
    return StoreEntry(m_databaseFormat);
}

bool SmartPersistency::WriteDatabaseFormatIdentifier(const std::string& value) {
    return Write(m_databaseFormat, value);
}

bool SmartPersistency::HasEmergencyApplied() const { return Has(m_emergencyApplied); }
bool SmartPersistency::ReadEmergencyApplied(std::vector<uint8_t>& value) { return Read(m_emergencyApplied, value); }
bool SmartPersistency::WriteEmergencyApplied(const std::vector<uint8_t>& value) {
    return Write(m_emergencyApplied, value);
}
bool SmartPersistency::RemoveEmergencyApplied() { return Remove(m_emergencyApplied); }

bool SmartPersistency::SyncToStorage() {
    std::lock_guard<std::mutex> lock(m_mutex);
    // After a failed reconnect there is no storage; try once more rather than
    // report a sync of nothing.
    if (!m_storage && !Reconnect()) {
        return false;
    }
    if (m_cacheDirty && !WriteCacheToPersistency()) {
        return false;
    }
    return m_storage->SyncToStorage();
}

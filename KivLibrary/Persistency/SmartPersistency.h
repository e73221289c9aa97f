// Outermost layer of the database stack: a cache of all items, read once and
// written through on every change. A failing load or store is treated as
// corrupted flash: the storage below is replaced by a fresh one from the
// reconnect factory and the whole cache is written to it.
//
// Database users call from the runtime thread, the method threads, the worker
// thread and the state-management callback, and a reconnect replaces the
// storage below; one mutex serialises every public operation.
#ifndef KIVLIBRARY_PERSISTENCY_SMARTPERSISTENCY_H
#define KIVLIBRARY_PERSISTENCY_SMARTPERSISTENCY_H

#include "KivLibrary/Persistency/PersistentDataStorage.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class SmartPersistency : public PersistentDataStorage {
public:
    // Returns an empty pointer (or throws) when no storage can be opened.
    using ReconnectFactory = std::function<std::shared_ptr<PersistentDataStorage>(const std::string&)>;

    class DatabaseEntry {
    public:
        virtual ~DatabaseEntry() = default;
        virtual const char* Key() const = 0;
        virtual bool Store(std::shared_ptr<PersistentDataStorage> storage) = 0;
        virtual bool Load(std::shared_ptr<PersistentDataStorage> storage) = 0;
    };

    template <typename T>
    class DBEntry : public DatabaseEntry {
    public:
        using HasOperation = bool (PersistentDataStorage::*)() const;
        using ReadOperation = bool (PersistentDataStorage::*)(T&);
        using RemoveOperation = bool (PersistentDataStorage::*)();
        using WriteOperation = bool (PersistentDataStorage::*)(const T&);

        DBEntry(const char* key, HasOperation has, ReadOperation read, RemoveOperation remove, WriteOperation write,
                T initial = T())
            : m_key(key), m_has(has), m_read(read), m_remove(remove), m_write(write), m_value(std::move(initial)) {}

        const char* Key() const override { return m_key; }

        // An absent item is removed only where the storage holds it: a
        // platform may report the removal of an absent key as an error.
        bool Store(std::shared_ptr<PersistentDataStorage> storage) override {
            if (!storage) {
                return false;
            }
            if (m_present) {
                return ((*storage).*m_write)(m_value);
            }
            return !((*storage).*m_has)() || ((*storage).*m_remove)();
        }

        bool Load(std::shared_ptr<PersistentDataStorage> storage) override {
            if (!storage) {
                return false;
            }
            m_present = ((*storage).*m_has)();
            if (!m_present) {
                return true;
            }
            return ((*storage).*m_read)(m_value);
        }

        bool IsPresent() const { return m_present; }
        const T& Value() const { return m_value; }
        void Set(const T& value) {
            m_value = value;
            m_present = true;
        }
        void Clear() { m_present = false; }
        void ClearValue() { m_value = T(); }

    private:
        const char* const m_key;
        const HasOperation m_has;
        const ReadOperation m_read;
        const RemoveOperation m_remove;
        const WriteOperation m_write;
        T m_value;
        bool m_present = false;
    };

    SmartPersistency(std::shared_ptr<PersistentDataStorage> storage, const std::string& database,
                     ReconnectFactory factory);
    ~SmartPersistency() override;
    SmartPersistency(const SmartPersistency&) = delete;
    SmartPersistency& operator=(const SmartPersistency&) = delete;

    // Loads the cache unless it is loaded already, reconnecting once on a
    // failure; false when the database still cannot be read.
    bool LoadCache();

    // Keys of the cached items that `storage` holds but cannot read. Walks the
    // same entries as the cache load, so that the open can drop every item
    // that would make that load fail, including items cached later.
    static std::vector<const char*> UnreadableItems(const std::shared_ptr<PersistentDataStorage>& storage);

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
    // After a failed reconnect this tries again, as writes and syncs do: a
    // caller that asks first must not be refused for ever.
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
    // Cached like the items: it must reach the medium in the same sync as
    // the records it vouches for.
    bool HasEmergencyApplied() const override;
    bool ReadEmergencyApplied(std::vector<uint8_t>& value) override;
    bool WriteEmergencyApplied(const std::vector<uint8_t>& value) override;
    bool RemoveEmergencyApplied() override;
    bool SyncToStorage() override;

private:
    // The helpers below run with m_mutex held.
    bool EnsureCacheLoaded() const;
    bool LoadCacheFromPersistency() const;
    bool WriteCacheToPersistency() const;
    bool StoreEntry(DatabaseEntry& entry);
    bool Reconnect() const;

    template <typename T>
    bool Has(const DBEntry<T>& entry) const;
    template <typename T>
    bool Read(const DBEntry<T>& entry, T& value);
    template <typename T>
    bool Write(DBEntry<T>& entry, const T& value);
    template <typename T>
    bool Remove(DBEntry<T>& entry);

    mutable DBEntry<uint32_t> m_ucmSessionId;
    mutable DBEntry<SWupdateState> m_swUpdateState;
    mutable DBEntry<PartitionEnum> m_updateForPartition;
    mutable DBEntry<LogicalBlocks> m_updatedLogicalBlocks;
    mutable DBEntry<LogicalBlocks> m_installedLogicalBlocks;
    mutable DBEntry<EcuInfo> m_updatedEcuInfo;
    mutable DBEntry<EcuInfo> m_installedEcuInfo;
    mutable DBEntry<std::string> m_databaseFormat;
    mutable DBEntry<std::vector<uint8_t>> m_emergencyApplied;
    mutable bool m_cacheLoaded = false;
    // Set while the storage below may lack values the cache holds (a refused
    // or failed store, a fresh storage after a reconnect); the next store or
    // sync then writes the whole cache first.
    mutable bool m_cacheDirty = false;
    std::vector<DatabaseEntry*> m_entries;
    mutable std::shared_ptr<PersistentDataStorage> m_storage;
    const std::string m_database;
    const ReconnectFactory m_factory;
    mutable std::mutex m_mutex;
};

#endif

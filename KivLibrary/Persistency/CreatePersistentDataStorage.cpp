#include "KivLibrary/Persistency/CreatePersistentDataStorage.h"

#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/AraPersistency.h"
#include "KivLibrary/Persistency/DBConsistency/DBConsistencyChecker.h"
#include "KivLibrary/Persistency/DatabaseItems.h"
#include "KivLibrary/Persistency/OnChangeStorage.h"
#include "KivLibrary/Persistency/PersistentDataStorageImpl.h"
#include "KivLibrary/Persistency/SafePersistency.h"
#include "KivLibrary/Persistency/ShutdownPersistentDataStorageImpl.h"
#include "KivLibrary/Persistency/SmartPersistency.h"

#include <array>
#include <vector>

namespace {

const std::array<const char*, 11> kLegacyKeys{{
    LegacyKeys::kUcmSessionId,
    LegacyKeys::kSwUpdateState,
    LegacyKeys::kUpdateForPartition,
    LegacyKeys::kInstalledLogicalBlocks,
    LegacyKeys::kInstalledLogicalBlocksSize,
    LegacyKeys::kUpdatedLogicalBlocks,
    LegacyKeys::kUpdatedLogicalBlocksSize,
    LegacyKeys::kInstalledEcuInfo,
    LegacyKeys::kInstalledEcuInfoSize,
    LegacyKeys::kUpdatedEcuInfo,
    LegacyKeys::kUpdatedEcuInfoSize,
}};

// Layers 2 to 5 over a raw storage.
std::shared_ptr<PersistentDataStorage> BuildInnerLayers(const std::shared_ptr<PermanentStorage>& storage) {
    auto onChange = std::make_shared<OnChangeStorage>(CreateSafePersistency(storage));
    auto typed = std::make_shared<PersistentDataStorageImpl>(onChange);
    return std::make_shared<ShutdownPersistentDataStorageImpl>(typed);
}

bool HasLegacyKey(PermanentStorage& storage) {
    for (const char* key : kLegacyKeys) {
        if (storage.Has(key)) {
            return true;
        }
    }
    return false;
}

// An item whose stored bytes cannot be decoded would make every later load of
// the cache fail, so it is dropped at open. An item the medium cannot deliver
// at all is left alone: that is a storage fault, not bad contents.
void RemoveUndecodableItems(const std::shared_ptr<PermanentStorage>& storage) {
    const std::vector<const char*> unreadable =
        SmartPersistency::UnreadableItems(std::make_shared<PersistentDataStorageImpl>(CreateSafePersistency(storage)));
    bool removed = false;
    for (const char* key : unreadable) {
        std::vector<uint8_t> raw;
        if (!storage->Get(key, raw)) {
            continue;
        }
        LogError() << std::string("Database item '") + key + "' cannot be decoded; removing it" << VLMR_FILE_LINE;
        if (storage->Remove(key)) {
            removed = true;
        } else {
            LogError() << std::string("Removing database item '") + key + "' failed" << VLMR_FILE_LINE;
        }
    }
    if (removed && !storage->Persist()) {
        LogError() << "Syncing the database after removing undecodable items failed" << VLMR_FILE_LINE;
    }
}

struct LegacyValues {
    int32_t ucmSessionId = 0;
    int32_t swUpdateState = 0;
    std::string updateForPartition;
    LegacyLogicalBlocks installedBlocks;
    LegacyLogicalBlocks updatedBlocks;
    LegacyEcuInfo installedEcuInfo;
    LegacyEcuInfo updatedEcuInfo;
};

// A read that fails keeps its default; the migration goes on regardless.
LegacyValues ReadLegacyDatabase(const std::shared_ptr<KivConfiguration>& configuration,
                                const std::shared_ptr<PermanentStorage>& storage) {
    LegacyValues values;
    std::shared_ptr<PersistedDb> legacy = CreateLegacyPersistedDb(configuration, storage);
    legacy->ReadUcmSessionId(values.ucmSessionId);
    legacy->ReadSwUpdateState(values.swUpdateState);
    legacy->ReadUpdateForPartition(values.updateForPartition);
    legacy->ReadInstalledLogicalBlocks(values.installedBlocks);
    legacy->ReadUpdatedLogicalBlocks(values.updatedBlocks);
    legacy->ReadInstalledEcuInfo();
    legacy->ReadUpdatedEcuInfo();
    const std::shared_ptr<PersistedData> data = legacy->GetPersistedData();
    values.installedEcuInfo = data->m_installedEcuInfo;
    values.updatedEcuInfo = data->m_updatedEcuInfo;
    return values;
}

void WriteMigratedValues(PersistentDataStorage& stack, const LegacyValues& values) {
    stack.WriteUcmSessionId(static_cast<uint32_t>(values.ucmSessionId));
    stack.WriteSWupdateState(static_cast<SWupdateState>(values.swUpdateState));
    stack.WriteUpdateForPartition(PartitionFromString(values.updateForPartition));
    stack.WriteInstalledEcuInfo(static_cast<EcuInfo>(values.installedEcuInfo.EcuInfoByte()));
    stack.WriteInstalledLogicalBlocks(ConvertLegacyLogicalBlocks(values.installedBlocks));
    stack.WriteUpdatedEcuInfo(static_cast<EcuInfo>(values.updatedEcuInfo.EcuInfoByte()));
    stack.WriteUpdatedLogicalBlocks(ConvertLegacyLogicalBlocks(values.updatedBlocks));
    stack.SyncToStorage();
}

std::shared_ptr<SmartPersistency> MakeSmartStorage(const std::shared_ptr<PermanentStorage>& storage,
                                                   const std::string& name) {
    return std::make_shared<SmartPersistency>(BuildInnerLayers(storage), name, [](const std::string& database) {
        return BuildPersistentDataStorage(database, CreateAraPersistency);
    });
}

// The medium keeps the legacy keys until the migrated items are synced. A
// storage reopened before that must drop them (in memory, committed by the same
// sync as the rewritten cache), or the next start would migrate the stale
// legacy values over newer state.
std::shared_ptr<SmartPersistency> MakeMigratedSmartStorage(const std::shared_ptr<PermanentStorage>& storage,
                                                           const std::string& name) {
    return std::make_shared<SmartPersistency>(
        BuildInnerLayers(storage), name, [](const std::string& database) -> std::shared_ptr<PersistentDataStorage> {
            const std::shared_ptr<PermanentStorage> raw = CreateAraPersistency(database);
            for (const char* key : kLegacyKeys) {
                // Only keys still there: a platform may refuse to remove an
                // absent key, and after the first sync none is left.
                if (raw->Has(key) && !raw->Remove(key)) {
                    LogError() << std::string("Removing legacy key '") + key + "' failed" << VLMR_FILE_LINE;
                    return nullptr;
                }
            }
            return BuildInnerLayers(raw);
        });
}

}  // namespace

std::shared_ptr<PersistentDataStorage> CreatePersistentDataStorage(
    const std::shared_ptr<KivConfiguration>& configuration, const StorageFactory& storageFactory) {
    if (!configuration) {
        LogError() << "No configuration to open the database with" << VLMR_FILE_LINE;
        return nullptr;
    }
    std::shared_ptr<PermanentStorage> storage = storageFactory(configuration->port_name);
    return OpenPersistentDataStorage(configuration, storage);
}

std::shared_ptr<PersistentDataStorage> OpenPersistentDataStorage(const std::shared_ptr<KivConfiguration>& configuration,
                                                                 std::shared_ptr<PermanentStorage>& storage) {
    // Released on every way out, exceptions included: the stack is the only owner.
    struct ReleaseOnExit {
        std::shared_ptr<PermanentStorage>& storage;
        ~ReleaseOnExit() { storage.reset(); }
    } release{storage};

    if (!storage || !configuration) {
        LogError() << "No storage or configuration to open the database with" << VLMR_FILE_LINE;
        return nullptr;
    }
    const std::string& name = configuration->port_name;
    std::shared_ptr<SmartPersistency> stack;
    if (storage->IsEmpty()) {
        stack = MakeSmartStorage(storage, name);
    } else if (!HasLegacyKey(*storage)) {
        RemoveUndecodableItems(storage);
        stack = MakeSmartStorage(storage, name);
    } else {
        const LegacyValues values = ReadLegacyDatabase(configuration, storage);
        // The legacy keys are removed in memory only: the writes that follow
        // and their single sync replace the legacy database on the medium at
        // once, so a power cut leaves either the legacy or the migrated one.
        if (!storage->Clear()) {
            // Writing the migrated items next to the legacy keys would have
            // every later start migrate the stale legacy values again.
            LogError() << "Database '" + name + "' cannot be migrated: removing the legacy keys failed"
                       << VLMR_FILE_LINE;
            return nullptr;
        }
        stack = MakeMigratedSmartStorage(storage, name);
        WriteMigratedValues(*stack, values);
    }

    // Handing out a database whose every operation fails would hide the fault
    // from the start-up's retry and exit path.
    if (!stack->LoadCache()) {
        LogError() << "Database '" + name + "' cannot be loaded" << VLMR_FILE_LINE;
        return nullptr;
    }
    if (!stack->HasDatabaseFormatIdentifier()) {
        stack->WriteDatabaseFormatIdentifier(kDatabaseFormatIdentifier);
        stack->SyncToStorage();
    }
    if (!DBConsistencyChecker().Run(stack)) {
        return nullptr;
    }
    return stack;
}

std::shared_ptr<PersistentDataStorage> GetSmartStorage(const std::shared_ptr<PermanentStorage>& storage,
                                                       const std::string& name) {
    return MakeSmartStorage(storage, name);
}

std::shared_ptr<PermanentStorage> CreateSafePersistency(const std::shared_ptr<PermanentStorage>& storage) {
    const SafePersistency::StrategyMap strategies{
        {DatabaseKeys::kSwUpdateState, StorageStrategyType::SimpleStorageStrategy}};
    return std::make_shared<SafePersistency>(strategies, storage);
}

std::shared_ptr<PersistentDataStorage> BuildPersistentDataStorage(const std::string& name,
                                                                  const StorageFactory& createAraPersistency) {
    return BuildInnerLayers(createAraPersistency(name));
}

std::shared_ptr<PersistedDb> CreateLegacyPersistedDb(const std::shared_ptr<KivConfiguration>& configuration,
                                                     const std::shared_ptr<PermanentStorage>& storage) {
    return std::make_shared<PersistedDb>(configuration, storage);
}

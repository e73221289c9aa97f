// Opens the process's database: the key-value storage named in the
// configuration, migrated from the legacy key layout when needed, stamped with
// the format identifier, checked and repaired, and wrapped in the storage
// stack (value-prefix strategy, write-on-change cache, typed items,
// fast-shutdown guard, item cache with reconnect).
#ifndef KIVLIBRARY_PERSISTENCY_CREATEPERSISTENTDATASTORAGE_H
#define KIVLIBRARY_PERSISTENCY_CREATEPERSISTENTDATASTORAGE_H

#include "KivLibrary/Persistency/BackwardCompatibility/PersistedDb.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/Persistency/PermanentStorage.h"
#include "KivLibrary/Persistency/PersistentDataStorage.h"

#include <functional>
#include <memory>
#include <string>

// Opens the raw key-value storage of a database name.
using StorageFactory = std::function<std::shared_ptr<PermanentStorage>(const std::string&)>;

// The opened stack, or an empty pointer when the database cannot be used.
// Exceptions of the factory (std::bad_function_call for an empty one) and of
// the platform storage pass to the caller.
std::shared_ptr<PersistentDataStorage> CreatePersistentDataStorage(
    const std::shared_ptr<KivConfiguration>& configuration, const StorageFactory& storageFactory);

// Opens the database over the raw storage; `storage` is emptied before the
// return so that the stack is its only owner.
std::shared_ptr<PersistentDataStorage> OpenPersistentDataStorage(const std::shared_ptr<KivConfiguration>& configuration,
                                                                 std::shared_ptr<PermanentStorage>& storage);

// The full stack over a raw storage; reconnects reopen the storage `name`.
std::shared_ptr<PersistentDataStorage> GetSmartStorage(const std::shared_ptr<PermanentStorage>& storage,
                                                       const std::string& name);

std::shared_ptr<PermanentStorage> CreateSafePersistency(const std::shared_ptr<PermanentStorage>& storage);

// Everything below the item cache, over a freshly opened storage `name`; used
// to reconnect. An exception of the factory passes to the caller.
std::shared_ptr<PersistentDataStorage> BuildPersistentDataStorage(const std::string& name,
                                                                  const StorageFactory& createAraPersistency);

std::shared_ptr<PersistedDb> CreateLegacyPersistedDb(const std::shared_ptr<KivConfiguration>& configuration,
                                                     const std::shared_ptr<PermanentStorage>& storage);

#endif

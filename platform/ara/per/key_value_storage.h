// Stand-in for the platform's key-value storage: one database per name, kept
// in memory and made durable only by SyncToStorage, which replaces the
// database file atomically (temporary file, fsync, rename, directory fsync).
// A crash at any instant therefore leaves either the previous or the new
// complete state on the medium. Every failure is reported by KvsException.
#ifndef PLATFORM_ARA_PER_KEY_VALUE_STORAGE_H
#define PLATFORM_ARA_PER_KEY_VALUE_STORAGE_H

#include "platform/ara/per/kvs_type.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace ara {
namespace per {

class KeyValueStorage {
public:
    // Opens the database of that name; a missing database is empty. Opening
    // never writes. A damaged database file throws KvsException.
    explicit KeyValueStorage(const std::string& database);
    // Changes not synced are lost, as in a power cut.
    ~KeyValueStorage() = default;
    KeyValueStorage(const KeyValueStorage&) = delete;
    KeyValueStorage& operator=(const KeyValueStorage&) = delete;

    // Throws when the key is absent.
    KvsType GetValue(const std::string& key) const;
    void SetValue(const std::string& key, const KvsType& value);
    bool HasKey(const std::string& key) const;
    // Removing an absent key succeeds, unless the strict removal of the test
    // hooks is on: then it throws, as a stricter platform does.
    void RemoveKey(const std::string& key);
    void RemoveAllKeys();
    std::vector<std::string> GetAllKeys() const;
    void SyncToStorage();

    // The file that holds a database.
    static std::string FilePath(const std::string& database);
    // The directory of all databases (below the host root).
    static std::string Directory();

private:
    std::string path_;
    mutable std::mutex mutex_;
    std::map<std::string, KvsType> entries_;
};

// Test hooks, compiled into the stand-in so tests can simulate a failing or
// dying medium. They act on every database of the process.
namespace testhook {

enum class Operation {
    kOpen,
    kGetValue,
    kSetValue,
    kHasKey,
    kRemoveKey,
    kRemoveAllKeys,
    kGetAllKeys,
    kSyncToStorage,
};

// The next `count` calls of the operation throw KvsException.
void InjectFailure(Operation operation, unsigned count);
// While frozen, SyncToStorage returns normally but writes nothing: the state
// on the medium stays as it was, as if the power had gone.
void FreezeMedium(bool frozen);
// While on, removing an absent key throws KvsException, as some platforms do.
// The default is off, or on when the environment variable
// VELMORA_KVS_STRICT_REMOVE is "1" (so a whole test binary can run strict).
void StrictRemoval(bool strict);
bool IsStrictRemoval();
// Clears every injected failure, unfreezes the medium and restores the
// default removal mode.
void Reset();

}  // namespace testhook

}  // namespace per
}  // namespace ara

#endif

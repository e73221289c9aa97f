// Helpers for tests of the opened database stack over the platform stand-in:
// a whole-database snapshot for comparisons, and a raw storage that counts
// its operations and cuts the power after a chosen one.
#ifndef TESTS_KIVLIBRARY_PERSISTENCY_DATABASESTACKSUPPORT_H
#define TESTS_KIVLIBRARY_PERSISTENCY_DATABASESTACKSUPPORT_H

#include "KivLibrary/GlobalLibrary/FastShutDown.h"
#include "KivLibrary/Persistency/AraPersistency.h"
#include "KivLibrary/Persistency/CreatePersistentDataStorage.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/Persistency/ObjectLogger.h"
#include "KivLibrary/Persistency/OnChangeStorage.h"
#include "KivLibrary/Persistency/PersistentDataStorage.h"
#include "KivLibrary/Persistency/PersistentDataStorageImpl.h"
#include "platform/ara/per/key_value_storage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace testsupport {

constexpr const char* kDatabaseName = "velmora_db";

// The typed database as the process composes it below the fast-shutdown guard,
// with a handle on the raw storage to look at the stored bytes.
struct DatabaseStack {
    explicit DatabaseStack(const std::string& name)
        : raw(CreateAraPersistency(name)),
          database(std::make_shared<PersistentDataStorageImpl>(
              std::make_shared<OnChangeStorage>(CreateSafePersistency(raw)))) {}

    std::vector<uint8_t> Raw(const std::string& key) const {
        std::vector<uint8_t> bytes;
        raw->Get(key, bytes);
        return bytes;
    }

    std::shared_ptr<PermanentStorage> raw;
    std::shared_ptr<PersistentDataStorage> database;
};

// Every case starts and ends with a healthy medium and no fast shutdown.
class StorageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ara::per::testhook::Reset();
        FastShutDown::Set(false);
    }
    void TearDown() override {
        FastShutDown::Set(false);
        ara::per::testhook::Reset();
    }
};

inline std::shared_ptr<KivConfiguration> DatabaseConfiguration(const std::string& name = kDatabaseName) {
    auto configuration = std::make_shared<KivConfiguration>();
    configuration->port_name = name;
    return configuration;
}

// Forgets the database on the medium.
inline void EraseDatabase(const std::string& name = kDatabaseName) {
    std::remove(ara::per::KeyValueStorage::FilePath(name).c_str());
}

// The keys on the medium, as a fresh open sees them.
inline std::vector<std::string> KeysOnMedium(const std::string& name = kDatabaseName) {
    std::vector<std::string> keys = ara::per::KeyValueStorage(name).GetAllKeys();
    std::sort(keys.begin(), keys.end());
    return keys;
}

// Every item of the database; absent items keep their defaults.
struct DbSnapshot {
    bool hasSessionId = false;
    uint32_t sessionId = 0;
    bool hasState = false;
    SWupdateState state = SWupdateState::INVALID;
    bool hasPartition = false;
    PartitionEnum partition = PartitionEnum::INVALID;
    bool hasUpdatedBlocks = false;
    LogicalBlocks updatedBlocks;
    bool hasInstalledBlocks = false;
    LogicalBlocks installedBlocks;
    bool hasUpdatedEcuInfo = false;
    EcuInfo updatedEcuInfo = EcuInfo::ReprogrammableAndConsistent;
    bool hasInstalledEcuInfo = false;
    EcuInfo installedEcuInfo = EcuInfo::ReprogrammableAndConsistent;
    bool hasFormat = false;
    std::string format;

    bool operator==(const DbSnapshot& o) const {
        return hasSessionId == o.hasSessionId && sessionId == o.sessionId && hasState == o.hasState &&
               state == o.state && hasPartition == o.hasPartition && partition == o.partition &&
               hasUpdatedBlocks == o.hasUpdatedBlocks && updatedBlocks == o.updatedBlocks &&
               hasInstalledBlocks == o.hasInstalledBlocks && installedBlocks == o.installedBlocks &&
               hasUpdatedEcuInfo == o.hasUpdatedEcuInfo && updatedEcuInfo == o.updatedEcuInfo &&
               hasInstalledEcuInfo == o.hasInstalledEcuInfo && installedEcuInfo == o.installedEcuInfo &&
               hasFormat == o.hasFormat && format == o.format;
    }
    bool operator!=(const DbSnapshot& o) const { return !(*this == o); }

    static DbSnapshot Of(PersistentDataStorage& db) {
        DbSnapshot s;
        s.hasSessionId = db.ReadUcmSessionId(s.sessionId);
        s.hasState = db.ReadSWupdateState(s.state);
        s.hasPartition = db.ReadUpdateForPartition(s.partition);
        s.hasUpdatedBlocks = db.ReadUpdatedLogicalBlocks(s.updatedBlocks);
        s.hasInstalledBlocks = db.ReadInstalledLogicalBlocks(s.installedBlocks);
        s.hasUpdatedEcuInfo = db.ReadUpdatedEcuInfo(s.updatedEcuInfo);
        s.hasInstalledEcuInfo = db.ReadInstalledEcuInfo(s.installedEcuInfo);
        s.hasFormat = db.ReadDatabaseFormatIdentifier(s.format);
        return s;
    }
};

inline std::ostream& operator<<(std::ostream& out, const DbSnapshot& s) {
    out << "{session=" << (s.hasSessionId ? std::to_string(s.sessionId) : "-")
        << " state=" << (s.hasState ? toString(s.state) : "-")
        << " partition=" << (s.hasPartition ? toString(s.partition) : "-")
        << " updatedBlocks=" << (s.hasUpdatedBlocks ? std::to_string(s.updatedBlocks.size()) : "-")
        << " installedBlocks=" << (s.hasInstalledBlocks ? std::to_string(s.installedBlocks.size()) : "-")
        << " updatedEcu=" << (s.hasUpdatedEcuInfo ? std::to_string(static_cast<int>(s.updatedEcuInfo)) : "-")
        << " installedEcu=" << (s.hasInstalledEcuInfo ? std::to_string(static_cast<int>(s.installedEcuInfo)) : "-")
        << " format=" << (s.hasFormat ? s.format : "-") << "}";
    return out;
}

inline LogicalBlock TestBlock(uint8_t id, uint16_t attempts = 1) {
    LogicalBlock block;
    block.m_id = id;
    block.m_programmingAttempts = attempts;
    block.m_lockValue = 0x1234;
    block.m_fingerPrint.m_serial = {{1, 2, 3, 4, 5, id}};
    block.m_rfsMinVersion = {{'0', '1', '0', '2'}};
    return block;
}

// A raw storage that counts every operation and freezes the medium right
// after the operation numbered `cutAfter` (1-based): whatever is synced from
// then on never reaches the medium, as if the power had gone.
class PowerCutStorage : public PermanentStorage {
public:
    PowerCutStorage(std::shared_ptr<PermanentStorage> inner, std::size_t cutAfter)
        : m_inner(std::move(inner)), m_cutAfter(cutAfter) {}

    std::size_t Count() const { return m_count; }
    // The power is gone: the cut operation has passed.
    bool Frozen() const { return m_count >= m_cutAfter; }
    // Cuts the power after the `operations`-th operation from now.
    void CutAfter(std::size_t operations) {
        m_cutAfter = operations == kNoCutAfter ? operations : m_count + operations;
    }
    static constexpr std::size_t kNoCutAfter = std::numeric_limits<std::size_t>::max();
    // Writes of `key` fail while `remaining` is above 0, each counting it
    // down; shared, so that a storage opened by a reconnect goes on failing.
    void FailWritesOf(std::string key, std::shared_ptr<std::size_t> remaining) {
        m_failingKey = std::move(key);
        m_failingWrites = std::move(remaining);
    }

    bool IsEmpty() override { return Op(m_inner->IsEmpty()); }
    uint64_t GetSize() override { return Op(m_inner->GetSize()); }
    bool Has(const std::string& key) override { return Op(m_inner->Has(key)); }
    std::vector<std::string> GetAllKeys() override { return Op(m_inner->GetAllKeys()); }
    bool Get(const std::string& k, bool& v) override { return Op(m_inner->Get(k, v)); }
    bool Get(const std::string& k, uint8_t& v) override { return Op(m_inner->Get(k, v)); }
    bool Get(const std::string& k, uint16_t& v) override { return Op(m_inner->Get(k, v)); }
    bool Get(const std::string& k, uint32_t& v) override { return Op(m_inner->Get(k, v)); }
    bool Get(const std::string& k, uint64_t& v) override { return Op(m_inner->Get(k, v)); }
    bool Get(const std::string& k, int8_t& v) override { return Op(m_inner->Get(k, v)); }
    bool Get(const std::string& k, int16_t& v) override { return Op(m_inner->Get(k, v)); }
    bool Get(const std::string& k, int32_t& v) override { return Op(m_inner->Get(k, v)); }
    bool Get(const std::string& k, int64_t& v) override { return Op(m_inner->Get(k, v)); }
    bool Get(const std::string& k, float& v) override { return Op(m_inner->Get(k, v)); }
    bool Get(const std::string& k, double& v) override { return Op(m_inner->Get(k, v)); }
    bool Get(const std::string& k, std::string& v) override { return Op(m_inner->Get(k, v)); }
    bool Get(const std::string& k, std::vector<uint8_t>& v) override { return Op(m_inner->Get(k, v)); }
    bool Clear() override { return Op(m_inner->Clear()); }
    bool Remove(const std::string& k) override { return Op(m_inner->Remove(k)); }
    bool Set(const std::string& k, bool v) override { return Op(m_inner->Set(k, v)); }
    bool Set(const std::string& k, uint8_t v) override { return Op(m_inner->Set(k, v)); }
    bool Set(const std::string& k, uint16_t v) override { return Op(m_inner->Set(k, v)); }
    bool Set(const std::string& k, uint32_t v) override { return Op(m_inner->Set(k, v)); }
    bool Set(const std::string& k, uint64_t v) override { return Op(m_inner->Set(k, v)); }
    bool Set(const std::string& k, int8_t v) override { return Op(m_inner->Set(k, v)); }
    bool Set(const std::string& k, int16_t v) override { return Op(m_inner->Set(k, v)); }
    bool Set(const std::string& k, int32_t v) override { return Op(m_inner->Set(k, v)); }
    bool Set(const std::string& k, int64_t v) override { return Op(m_inner->Set(k, v)); }
    bool Set(const std::string& k, float v) override { return Op(m_inner->Set(k, v)); }
    bool Set(const std::string& k, double v) override { return Op(m_inner->Set(k, v)); }
    bool Set(const std::string& k, const std::string& v) override { return Op(m_inner->Set(k, v)); }
    bool Set(const std::string& k, const std::vector<uint8_t>& v) override {
        if (m_failingWrites && *m_failingWrites > 0 && k == m_failingKey) {
            --*m_failingWrites;
            return Op(false);
        }
        return Op(m_inner->Set(k, v));
    }
    bool Persist() override { return Op(m_inner->Persist()); }

private:
    template <typename T>
    T Op(T result) {
        if (++m_count == m_cutAfter) {
            ara::per::testhook::FreezeMedium(true);
        }
        return result;
    }

    std::shared_ptr<PermanentStorage> m_inner;
    std::size_t m_cutAfter;
    std::size_t m_count = 0;
    std::string m_failingKey;
    std::shared_ptr<std::size_t> m_failingWrites;
};

constexpr std::size_t kNoCut = PowerCutStorage::kNoCutAfter;

}  // namespace testsupport

#endif

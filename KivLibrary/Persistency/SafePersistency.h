// Storage wrapper that puts a two-byte strategy indicator in front of every
// encoded value and checks and removes it again on every read.
#ifndef KIVLIBRARY_PERSISTENCY_SAFEPERSISTENCY_H
#define KIVLIBRARY_PERSISTENCY_SAFEPERSISTENCY_H

#include "KivLibrary/Persistency/PermanentStorage.h"
#include "KivLibrary/Persistency/StorageStrategy.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

class SafePersistency : public PermanentStorage {
public:
    using StrategyMap = std::map<std::string, StorageStrategyType>;

    // Without an inner storage every operation fails.
    SafePersistency(const StrategyMap& strategies, std::shared_ptr<PermanentStorage> storage);

    // The strategy of a key: its map entry, else SimpleStorageStrategy.
    StorageStrategyType GetStrategyType(const std::string& key) const;

    bool IsEmpty() override;
    uint64_t GetSize() override;
    bool Has(const std::string& key) override;
    std::vector<std::string> GetAllKeys() override;

    bool Get(const std::string& key, bool& value) override;
    bool Get(const std::string& key, uint8_t& value) override;
    bool Get(const std::string& key, uint16_t& value) override;
    bool Get(const std::string& key, uint32_t& value) override;
    bool Get(const std::string& key, uint64_t& value) override;
    bool Get(const std::string& key, int8_t& value) override;
    bool Get(const std::string& key, int16_t& value) override;
    bool Get(const std::string& key, int32_t& value) override;
    bool Get(const std::string& key, int64_t& value) override;
    bool Get(const std::string& key, float& value) override;
    bool Get(const std::string& key, double& value) override;
    bool Get(const std::string& key, std::string& value) override;
    bool Get(const std::string& key, std::vector<uint8_t>& value) override;

    bool Clear() override;
    bool Remove(const std::string& key) override;

    bool Set(const std::string& key, bool value) override;
    bool Set(const std::string& key, uint8_t value) override;
    bool Set(const std::string& key, uint16_t value) override;
    bool Set(const std::string& key, uint32_t value) override;
    bool Set(const std::string& key, uint64_t value) override;
    bool Set(const std::string& key, int8_t value) override;
    bool Set(const std::string& key, int16_t value) override;
    bool Set(const std::string& key, int32_t value) override;
    bool Set(const std::string& key, int64_t value) override;
    bool Set(const std::string& key, float value) override;
    bool Set(const std::string& key, double value) override;
    bool Set(const std::string& key, const std::string& value) override;
    bool Set(const std::string& key, const std::vector<uint8_t>& value) override;

    bool Persist() override;

private:
    template <typename T>
    bool Store(const std::string& key, const T& value);
    template <typename T>
    bool Restore(const std::string& key, T& value);

    const StrategyMap m_strategies;
    const std::shared_ptr<PermanentStorage> m_storage;
};

#endif

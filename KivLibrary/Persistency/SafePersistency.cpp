#include "KivLibrary/Persistency/SafePersistency.h"

#include "KivLibrary/Helper/ByteFormat.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/Serialization.h"

SafePersistency::SafePersistency(const StrategyMap& strategies, std::shared_ptr<PermanentStorage> storage)
    : m_strategies(strategies), m_storage(std::move(storage)) {}

StorageStrategyType SafePersistency::GetStrategyType(const std::string& key) const {
    const auto it = m_strategies.find(key);
    return it != m_strategies.end() ? it->second : StorageStrategyType::SimpleStorageStrategy;
}

bool SafePersistency::IsEmpty() { return m_storage ? m_storage->IsEmpty() : true; }
uint64_t SafePersistency::GetSize() { return m_storage ? m_storage->GetSize() : 0; }
bool SafePersistency::Has(const std::string& key) { return m_storage && m_storage->Has(key); }
std::vector<std::string> SafePersistency::GetAllKeys() {
    return m_storage ? m_storage->GetAllKeys() : std::vector<std::string>();
}
bool SafePersistency::Clear() { return m_storage && m_storage->Clear(); }
bool SafePersistency::Remove(const std::string& key) { return m_storage && m_storage->Remove(key); }
bool SafePersistency::Persist() { return m_storage && m_storage->Persist(); }

template <typename T>
bool SafePersistency::Store(const std::string& key, const T& value) {
    LogInfo() << "Storing key '" << key << "' and value '" << value << "' ...";
    const std::vector<uint8_t> payload = EncodeValue(value);
    const StorageStrategyType type = GetStrategyType(key);
    const auto indicator = static_cast<uint8_t>(type);
    std::vector<uint8_t> stored{indicator, indicator};
    stored.reserve(2 + payload.size());
    bool ok = CreateStorageStrategy(type)->Encode(payload, stored);
    ok = ok && m_storage && m_storage->Set(key, stored);
    if (!ok) {
        LogError() << "Failed to store key '" << key << "' !";
        return false;
    }
    LogInfo() << "Stored key '" << key << "' with strategy '" << ToString(type) << "'. Data is '" << payload << "'.";
    return true;
}

template <typename T>
bool SafePersistency::Restore(const std::string& key, T& value) {
    LogInfo() << "Restoring key '" << key << "'";
    std::vector<uint8_t> stored;
    if (!m_storage || !m_storage->Get(key, stored)) {
        LogError() << "Unable to load key '" << key << "'";
        return false;
    }
    if (stored.size() < 2) {
        LogError() << "Data loaded for key '" << key << "' is too small!";
        return false;
    }
    if (stored[0] != stored[1]) {
        LogError() << "Detected error in strategy indicator! Unable to load data!";
        return false;
    }
    const auto type = static_cast<StorageStrategyType>(stored[0]);
    if (!RemoveStrategyIndicator(stored)) {
        return false;
    }
    std::vector<uint8_t> payload;
    if (!CreateStorageStrategy(type)->Decode(payload, stored)) {
        LogError() << "Unable to apply data validation by strategy '" << ToString(type) << "'";
        return false;
    }
    if (!DecodeValue(payload, value)) {
        LogError() << "Data loaded for key '" << key << "' is truncated or corrupt!";
        return false;
    }
    LogInfo() << "Restored key '" << key << "' with strategy '" << ToString(type) << "'. Value is '" << value << "'.";
    return true;
}

bool SafePersistency::Get(const std::string& key, bool& value) { return Restore(key, value); }
bool SafePersistency::Get(const std::string& key, uint8_t& value) { return Restore(key, value); }
bool SafePersistency::Get(const std::string& key, uint16_t& value) { return Restore(key, value); }
bool SafePersistency::Get(const std::string& key, uint32_t& value) { return Restore(key, value); }
bool SafePersistency::Get(const std::string& key, uint64_t& value) { return Restore(key, value); }
bool SafePersistency::Get(const std::string& key, int8_t& value) { return Restore(key, value); }
bool SafePersistency::Get(const std::string& key, int16_t& value) { return Restore(key, value); }
bool SafePersistency::Get(const std::string& key, int32_t& value) { return Restore(key, value); }
bool SafePersistency::Get(const std::string& key, int64_t& value) { return Restore(key, value); }
bool SafePersistency::Get(const std::string& key, float& value) { return Restore(key, value); }
bool SafePersistency::Get(const std::string& key, double& value) { return Restore(key, value); }
bool SafePersistency::Get(const std::string& key, std::string& value) { return Restore(key, value); }
bool SafePersistency::Get(const std::string& key, std::vector<uint8_t>& value) { return Restore(key, value); }
bool SafePersistency::Set(const std::string& key, bool value) { return Store(key, value); }
bool SafePersistency::Set(const std::string& key, uint8_t value) { return Store(key, value); }
bool SafePersistency::Set(const std::string& key, uint16_t value) { return Store(key, value); }
bool SafePersistency::Set(const std::string& key, uint32_t value) { return Store(key, value); }
bool SafePersistency::Set(const std::string& key, uint64_t value) { return Store(key, value); }
bool SafePersistency::Set(const std::string& key, int8_t value) { return Store(key, value); }
bool SafePersistency::Set(const std::string& key, int16_t value) { return Store(key, value); }
bool SafePersistency::Set(const std::string& key, int32_t value) { return Store(key, value); }
bool SafePersistency::Set(const std::string& key, int64_t value) { return Store(key, value); }
bool SafePersistency::Set(const std::string& key, float value) { return Store(key, value); }
bool SafePersistency::Set(const std::string& key, double value) { return Store(key, value); }
bool SafePersistency::Set(const std::string& key, const std::string& value) { return Store(key, value); }
bool SafePersistency::Set(const std::string& key, const std::vector<uint8_t>& value) { return Store(key, value); }

#include "KivLibrary/Persistency/OnChangeStorage.h"

#include "KivLibrary/Helper/ByteFormat.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/Serialization.h"

#include <algorithm>

OnChangeStorage::OnChangeStorage(std::shared_ptr<PermanentStorage> storage) : m_storage(std::move(storage)) {
    if (!m_storage) {
        throw MissingStorageException();
    }
}

bool OnChangeStorage::IsDataChanged(const std::vector<uint8_t>& existingData,
                                    const std::vector<uint8_t>& newUserData) const {
    LogInfo() << "OnChangeStorage::IsDataChanged existingData = " << existingData;
    LogInfo() << "OnChangeStorage::IsDataChanged newUserData = " << newUserData;
    if (existingData.size() != newUserData.size()) {
        return true;
    }
    const bool isEqual = std::equal(existingData.begin(), existingData.end(), newUserData.begin());
    LogInfo() << "OnChangeStorage::IsDataChanged isEqual = " << isEqual;
    return !isEqual;
}

bool OnChangeStorage::StoreKey(const std::string& key, const std::vector<uint8_t>& data) {
    LogInfo() << "Storing key '" << key << "' and value '" << data << "' ...";
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto cached = m_cache.find(key);
    if (cached == m_cache.end() || IsDataChanged(cached->second, data)) {
        if (!m_storage->Set(key, data)) {
            LogError() << "Failed to store key '" << key << "' !";
            return false;
        }
        m_cache[key] = data;
    }
    LogInfo() << "Stored key '" << key << "'. Data is '" << data << "'.";
    return true;
}

bool OnChangeStorage::LoadKey(const std::string& key, std::vector<uint8_t>& data) {
    LogInfo() << "Restoring key '" << key << "'";
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint8_t> loaded;
    if (!m_storage->Get(key, loaded)) {
        LogError() << "Unable to load key '" << key << "'";
        return false;
    }
    m_cache.emplace(key, loaded);
    data = std::move(loaded);
    return true;
}

bool OnChangeStorage::Has(const std::string& key) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool present = m_storage->Has(key);
    if (present) {
        std::vector<uint8_t> loaded;
        if (m_storage->Get(key, loaded)) {
            m_cache[key] = std::move(loaded);
            LogInfo() << "Key " << key << " exists in DB";
        }
    }
    return present;
}

bool OnChangeStorage::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool ok = m_storage->Clear();
    if (ok) {
        m_cache.clear();
        LogInfo() << "Map is cleared";
    }
    return ok;
}

bool OnChangeStorage::Remove(const std::string& key) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool ok = m_storage->Remove(key);
    if (ok && m_cache.erase(key) != 0) {
        LogInfo() << "Key " << key << " is removed";
    }
    return ok;
}

template <typename T>
bool OnChangeStorage::Store(const std::string& key, const T& value) {
    return StoreKey(key, EncodeValue(value));
}

template <typename T>
bool OnChangeStorage::Load(const std::string& key, T& value) {
    std::vector<uint8_t> bytes;
    if (!LoadKey(key, bytes)) {
        return false;
    }
    if (!DecodeValue(bytes, value)) {
        LogError() << "Data loaded for key '" << key << "' is truncated or corrupt!";
        return false;
    }
    return true;
}

bool OnChangeStorage::Get(const std::string& key, bool& value) { return Load(key, value); }
bool OnChangeStorage::Get(const std::string& key, uint8_t& value) { return Load(key, value); }
bool OnChangeStorage::Get(const std::string& key, uint16_t& value) { return Load(key, value); }
bool OnChangeStorage::Get(const std::string& key, uint32_t& value) { return Load(key, value); }
bool OnChangeStorage::Get(const std::string& key, uint64_t& value) { return Load(key, value); }
bool OnChangeStorage::Get(const std::string& key, int8_t& value) { return Load(key, value); }
bool OnChangeStorage::Get(const std::string& key, int16_t& value) { return Load(key, value); }
bool OnChangeStorage::Get(const std::string& key, int32_t& value) { return Load(key, value); }
bool OnChangeStorage::Get(const std::string& key, int64_t& value) { return Load(key, value); }
bool OnChangeStorage::Get(const std::string& key, float& value) { return Load(key, value); }
bool OnChangeStorage::Get(const std::string& key, double& value) { return Load(key, value); }
bool OnChangeStorage::Get(const std::string& key, std::string& value) { return Load(key, value); }
bool OnChangeStorage::Get(const std::string& key, std::vector<uint8_t>& value) { return LoadKey(key, value); }
bool OnChangeStorage::Set(const std::string& key, bool value) { return Store(key, value); }
bool OnChangeStorage::Set(const std::string& key, uint8_t value) { return Store(key, value); }
bool OnChangeStorage::Set(const std::string& key, uint16_t value) { return Store(key, value); }
bool OnChangeStorage::Set(const std::string& key, uint32_t value) { return Store(key, value); }
bool OnChangeStorage::Set(const std::string& key, uint64_t value) { return Store(key, value); }
bool OnChangeStorage::Set(const std::string& key, int8_t value) { return Store(key, value); }
bool OnChangeStorage::Set(const std::string& key, int16_t value) { return Store(key, value); }
bool OnChangeStorage::Set(const std::string& key, int32_t value) { return Store(key, value); }
bool OnChangeStorage::Set(const std::string& key, int64_t value) { return Store(key, value); }
bool OnChangeStorage::Set(const std::string& key, float value) { return Store(key, value); }
bool OnChangeStorage::Set(const std::string& key, double value) { return Store(key, value); }
bool OnChangeStorage::Set(const std::string& key, const std::string& value) { return Store(key, value); }
bool OnChangeStorage::Set(const std::string& key, const std::vector<uint8_t>& value) { return StoreKey(key, value); }

// Storage wrapper that remembers, per key, the bytes last written or first
// read, and writes a key through only when its bytes change. Reads always go
// to the storage below.
#ifndef KIVLIBRARY_PERSISTENCY_ONCHANGESTORAGE_H
#define KIVLIBRARY_PERSISTENCY_ONCHANGESTORAGE_H

#include "KivLibrary/Persistency/PermanentStorage.h"

#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class MissingStorageException : public std::exception {
public:
    const char* what() const noexcept override { return "Missing storage!"; }
};

class OnChangeStorage : public PermanentStorage {
public:
    // Throws MissingStorageException when the storage is empty.
    explicit OnChangeStorage(std::shared_ptr<PermanentStorage> storage);

    bool IsDataChanged(const std::vector<uint8_t>& existingData, const std::vector<uint8_t>& newUserData) const;
    bool StoreKey(const std::string& key, const std::vector<uint8_t>& data);
    bool LoadKey(const std::string& key, std::vector<uint8_t>& data);

    bool IsEmpty() override { return m_storage->IsEmpty(); }
    uint64_t GetSize() override { return m_storage->GetSize(); }
    bool Has(const std::string& key) override;
    std::vector<std::string> GetAllKeys() override { return m_storage->GetAllKeys(); }

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
    // The bytes as the storage below holds them, without a length field.
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

    bool Persist() override { return m_storage->Persist(); }

private:
    template <typename T>
    bool Store(const std::string& key, const T& value);
    template <typename T>
    bool Load(const std::string& key, T& value);

    // Database users call from several threads without serialisation; the
    // cache must stay equal to what the storage below holds, so each
    // compare-and-write runs under this lock.
    std::mutex m_mutex;
    std::map<std::string, std::vector<uint8_t>> m_cache;
    const std::shared_ptr<PermanentStorage> m_storage;
};

#endif

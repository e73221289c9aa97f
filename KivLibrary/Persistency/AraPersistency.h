// The bottom of the storage stack: typed access to the platform's key-value
// storage. Keeps no cache; every call goes to the platform, and every platform
// exception becomes a logged false.
#ifndef KIVLIBRARY_PERSISTENCY_ARAPERSISTENCY_H
#define KIVLIBRARY_PERSISTENCY_ARAPERSISTENCY_H

#include "KivLibrary/Persistency/PermanentStorage.h"
#include "platform/ara/per/key_value_storage.h"

#include <memory>
#include <string>
#include <vector>

template <typename KeyValueStorageType>
class AraPersistency : public PermanentStorage {
public:
    // Opens the storage; an exception of the platform passes to the caller.
    explicit AraPersistency(const std::string& database) : m_storage(database) {}

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

    bool GetKvsTypeValue(const std::string& key, ara::per::KvsType& value);
    bool SetKvsTypeValue(const std::string& key, const ara::per::KvsType& value);

private:
    template <typename T, typename Convert>
    bool GetTyped(const std::string& key, T& value, ara::per::KvsType::Type type, Convert convert);
    template <typename T>
    bool SetTyped(const std::string& key, const T& value);

    KeyValueStorageType m_storage;
};

extern template class AraPersistency<ara::per::KeyValueStorage>;

// Opens the platform storage of that name; an exception of the platform
// passes to the caller.
std::shared_ptr<PermanentStorage> CreateAraPersistency(const std::string& database);

// The bytes of a binary value; an array value (or any value that is not
// binary) gives the low byte of each array item.
std::vector<uint8_t> ConvertKvsTypeToBytes(ara::per::KvsType& value);

#endif

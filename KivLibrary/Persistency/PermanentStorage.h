// The untyped key-value interface of the lower storage layers. Every operation
// answers a failure with false (an empty list, 0) and never throws.
#ifndef KIVLIBRARY_PERSISTENCY_PERMANENTSTORAGE_H
#define KIVLIBRARY_PERSISTENCY_PERMANENTSTORAGE_H

#include <cstdint>
#include <string>
#include <vector>

class ReadableStorage {
public:
    virtual ~ReadableStorage() = default;

    virtual bool IsEmpty() = 0;
    virtual uint64_t GetSize() = 0;
    virtual bool Has(const std::string& key) = 0;
    virtual std::vector<std::string> GetAllKeys() = 0;

    // The output is left unchanged when a read fails.
    virtual bool Get(const std::string& key, bool& value) = 0;
    virtual bool Get(const std::string& key, uint8_t& value) = 0;
    virtual bool Get(const std::string& key, uint16_t& value) = 0;
    virtual bool Get(const std::string& key, uint32_t& value) = 0;
    virtual bool Get(const std::string& key, uint64_t& value) = 0;
    virtual bool Get(const std::string& key, int8_t& value) = 0;
    virtual bool Get(const std::string& key, int16_t& value) = 0;
    virtual bool Get(const std::string& key, int32_t& value) = 0;
    virtual bool Get(const std::string& key, int64_t& value) = 0;
    virtual bool Get(const std::string& key, float& value) = 0;
    virtual bool Get(const std::string& key, double& value) = 0;
    virtual bool Get(const std::string& key, std::string& value) = 0;
    virtual bool Get(const std::string& key, std::vector<uint8_t>& value) = 0;
};

class WritableStorage : public ReadableStorage {
public:
    virtual bool Clear() = 0;
    virtual bool Remove(const std::string& key) = 0;

    virtual bool Set(const std::string& key, bool value) = 0;
    virtual bool Set(const std::string& key, uint8_t value) = 0;
    virtual bool Set(const std::string& key, uint16_t value) = 0;
    virtual bool Set(const std::string& key, uint32_t value) = 0;
    virtual bool Set(const std::string& key, uint64_t value) = 0;
    virtual bool Set(const std::string& key, int8_t value) = 0;
    virtual bool Set(const std::string& key, int16_t value) = 0;
    virtual bool Set(const std::string& key, int32_t value) = 0;
    virtual bool Set(const std::string& key, int64_t value) = 0;
    virtual bool Set(const std::string& key, float value) = 0;
    virtual bool Set(const std::string& key, double value) = 0;
    virtual bool Set(const std::string& key, const std::string& value) = 0;
    virtual bool Set(const std::string& key, const std::vector<uint8_t>& value) = 0;
};

class PermanentStorage : public WritableStorage {
public:
    // Makes every write so far durable on the medium.
    virtual bool Persist() = 0;
};

#endif

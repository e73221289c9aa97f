// Stand-in for the platform's key-value storage value: one typed value (a
// number, a bool, a string, a binary blob or an array of values) together with
// the type code that the storage reports for it.
#ifndef PLATFORM_ARA_PER_KVS_TYPE_H
#define PLATFORM_ARA_PER_KVS_TYPE_H

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace ara {
namespace per {

// Every failure of the key-value storage is reported with this exception.
class KvsException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class KvsType {
public:
    // The numeric codes are part of the storage's interface.
    enum class Type : int32_t {
        kNotSet = 0,
        kFloat = 1,
        kDouble = 2,
        kSInt8 = 3,
        kSInt16 = 4,
        kSInt32 = 5,
        kSInt64 = 6,
        kUInt8 = 7,
        kUInt16 = 8,
        kUInt32 = 9,
        kUInt64 = 10,
        kString = 11,
        kBinary = 12,
        kBoolean = 13,
        kArray = 14,
    };

    KvsType() = default;
    explicit KvsType(bool value);
    explicit KvsType(uint8_t value);
    explicit KvsType(uint16_t value);
    explicit KvsType(uint32_t value);
    explicit KvsType(uint64_t value);
    explicit KvsType(int8_t value);
    explicit KvsType(int16_t value);
    explicit KvsType(int32_t value);
    explicit KvsType(int64_t value);
    explicit KvsType(float value);
    explicit KvsType(double value);
    explicit KvsType(const std::string& value);
    // Without this a string literal would silently become a bool.
    explicit KvsType(const char* value);
    // A binary value: the bytes are copied.
    KvsType(const void* data, std::size_t size);
    // An array of values.
    explicit KvsType(std::vector<KvsType> items);

    Type GetType() const { return type_; }
    bool IsArray() const { return type_ == Type::kArray; }

    // Getters throw KvsException when the value is not of a matching kind.
    // The integer getters accept every integer kind and truncate like a cast.
    bool GetBool() const;
    uint32_t GetUInt() const;
    uint64_t GetUInt64() const;
    int32_t GetSInt() const;
    int64_t GetSInt64() const;
    float GetFloat() const;
    double GetDouble() const;
    std::string GetString() const;
    std::vector<uint8_t> GetBinaryArray() const;

    // Array access: a cursor walks the items; past the end throws.
    std::size_t GetNumberOfArrayItems() const;
    KvsType GetNextArrayItem();
    void ResetArrayItemGetter();
    const std::vector<KvsType>& GetArrayItems() const { return items_; }

    // Raw bits of a number (bool 0/1, integers as two's complement, floating
    // point as its IEEE bit pattern); used by the storage's file format.
    uint64_t GetBits() const { return bits_; }
    static KvsType FromBits(Type type, uint64_t bits);

    bool operator==(const KvsType& other) const;
    bool operator!=(const KvsType& other) const { return !(*this == other); }

private:
    bool IsInteger() const;
    void Require(bool condition, const char* getter) const;

    Type type_ = Type::kNotSet;
    uint64_t bits_ = 0;
    std::string string_;
    std::vector<uint8_t> binary_;
    std::vector<KvsType> items_;
    std::size_t nextItem_ = 0;
};

const char* ToString(KvsType::Type type);

}  // namespace per
}  // namespace ara

#endif

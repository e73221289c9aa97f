#include "platform/ara/per/kvs_type.h"

#include <cstring>

namespace ara {
namespace per {
namespace {

template <typename To, typename From>
To BitCast(From from) {
    static_assert(sizeof(To) == sizeof(From), "sizes differ");
    To to;
    std::memcpy(&to, &from, sizeof(to));
    return to;
}

uint64_t SignExtend(int64_t value) { return static_cast<uint64_t>(value); }

}  // namespace

KvsType::KvsType(bool value) : type_(Type::kBoolean), bits_(value ? 1U : 0U) {}
KvsType::KvsType(uint8_t value) : type_(Type::kUInt8), bits_(value) {}
KvsType::KvsType(uint16_t value) : type_(Type::kUInt16), bits_(value) {}
KvsType::KvsType(uint32_t value) : type_(Type::kUInt32), bits_(value) {}
KvsType::KvsType(uint64_t value) : type_(Type::kUInt64), bits_(value) {}
KvsType::KvsType(int8_t value) : type_(Type::kSInt8), bits_(SignExtend(value)) {}
KvsType::KvsType(int16_t value) : type_(Type::kSInt16), bits_(SignExtend(value)) {}
KvsType::KvsType(int32_t value) : type_(Type::kSInt32), bits_(SignExtend(value)) {}
KvsType::KvsType(int64_t value) : type_(Type::kSInt64), bits_(SignExtend(value)) {}
KvsType::KvsType(float value) : type_(Type::kFloat), bits_(BitCast<uint32_t>(value)) {}
KvsType::KvsType(double value) : type_(Type::kDouble), bits_(BitCast<uint64_t>(value)) {}
KvsType::KvsType(const std::string& value) : type_(Type::kString), string_(value) {}
KvsType::KvsType(const char* value) : type_(Type::kString), string_(value != nullptr ? value : "") {}

KvsType::KvsType(const void* data, std::size_t size) : type_(Type::kBinary) {
    if (size != 0) {
        if (data == nullptr) {
            throw KvsException("KvsType: binary value without data");
        }
        const auto* bytes = static_cast<const uint8_t*>(data);
        binary_.assign(bytes, bytes + size);
    }
}

KvsType::KvsType(std::vector<KvsType> items) : type_(Type::kArray), items_(std::move(items)) {}

KvsType KvsType::FromBits(Type type, uint64_t bits) {
    switch (type) {
        case Type::kBoolean:
            return KvsType(bits != 0);
        case Type::kUInt8:
            return KvsType(static_cast<uint8_t>(bits));
        case Type::kUInt16:
            return KvsType(static_cast<uint16_t>(bits));
        case Type::kUInt32:
            return KvsType(static_cast<uint32_t>(bits));
        case Type::kUInt64:
            return KvsType(bits);
        case Type::kSInt8:
            return KvsType(static_cast<int8_t>(bits));
        case Type::kSInt16:
            return KvsType(static_cast<int16_t>(bits));
        case Type::kSInt32:
            return KvsType(static_cast<int32_t>(bits));
        case Type::kSInt64:
            return KvsType(static_cast<int64_t>(bits));
        case Type::kFloat:
            return KvsType(BitCast<float>(static_cast<uint32_t>(bits)));
        case Type::kDouble:
            return KvsType(BitCast<double>(bits));
        default:
            throw KvsException("KvsType: type has no numeric bits");
    }
}

bool KvsType::IsInteger() const {
    switch (type_) {
        case Type::kUInt8:
        case Type::kUInt16:
        case Type::kUInt32:
        case Type::kUInt64:
        case Type::kSInt8:
        case Type::kSInt16:
        case Type::kSInt32:
        case Type::kSInt64:
            return true;
        default:
            return false;
    }
}

void KvsType::Require(bool condition, const char* getter) const {
    if (!condition) {
        throw KvsException(std::string("KvsType::") + getter + " on a value of type " + ToString(type_));
    }
}

bool KvsType::GetBool() const {
    Require(type_ == Type::kBoolean, "GetBool");
    return bits_ != 0;
}

uint32_t KvsType::GetUInt() const {
    Require(IsInteger(), "GetUInt");
    return static_cast<uint32_t>(bits_);
}

uint64_t KvsType::GetUInt64() const {
    Require(IsInteger(), "GetUInt64");
    return bits_;
}

int32_t KvsType::GetSInt() const {
    Require(IsInteger(), "GetSInt");
    return static_cast<int32_t>(bits_);
}

int64_t KvsType::GetSInt64() const {
    Require(IsInteger(), "GetSInt64");
    return static_cast<int64_t>(bits_);
}

float KvsType::GetFloat() const {
    Require(type_ == Type::kFloat, "GetFloat");
    return BitCast<float>(static_cast<uint32_t>(bits_));
}

double KvsType::GetDouble() const {
    Require(type_ == Type::kDouble || type_ == Type::kFloat, "GetDouble");
    return type_ == Type::kFloat ? static_cast<double>(GetFloat()) : BitCast<double>(bits_);
}

std::string KvsType::GetString() const {
    Require(type_ == Type::kString, "GetString");
    return string_;
}

std::vector<uint8_t> KvsType::GetBinaryArray() const {
    Require(type_ == Type::kBinary, "GetBinaryArray");
    return binary_;
}

std::size_t KvsType::GetNumberOfArrayItems() const { return items_.size(); }

KvsType KvsType::GetNextArrayItem() {
    Require(type_ == Type::kArray, "GetNextArrayItem");
    if (nextItem_ >= items_.size()) {
        throw KvsException("KvsType::GetNextArrayItem past the last item");
    }
    return items_[nextItem_++];
}

void KvsType::ResetArrayItemGetter() { nextItem_ = 0; }

bool KvsType::operator==(const KvsType& other) const {
    return type_ == other.type_ && bits_ == other.bits_ && string_ == other.string_ && binary_ == other.binary_ &&
           items_ == other.items_;
}

const char* ToString(KvsType::Type type) {
    switch (type) {
        case KvsType::Type::kNotSet:
            return "not set";
        case KvsType::Type::kFloat:
            return "float";
        case KvsType::Type::kDouble:
            return "double";
        case KvsType::Type::kSInt8:
            return "int8";
        case KvsType::Type::kSInt16:
            return "int16";
        case KvsType::Type::kSInt32:
            return "int32";
        case KvsType::Type::kSInt64:
            return "int64";
        case KvsType::Type::kUInt8:
            return "uint8";
        case KvsType::Type::kUInt16:
            return "uint16";
        case KvsType::Type::kUInt32:
            return "uint32";
        case KvsType::Type::kUInt64:
            return "uint64";
        case KvsType::Type::kString:
            return "string";
        case KvsType::Type::kBinary:
            return "binary";
        case KvsType::Type::kBoolean:
            return "bool";
        case KvsType::Type::kArray:
            return "array";
    }
    return "unknown";
}

}  // namespace per
}  // namespace ara

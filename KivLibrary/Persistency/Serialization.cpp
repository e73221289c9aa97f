#include "KivLibrary/Persistency/Serialization.h"

#include <cstring>
#include <type_traits>

namespace {

template <typename To, typename From>
To BitCast(From from) {
    static_assert(sizeof(To) == sizeof(From), "sizes differ");
    To to;
    std::memcpy(&to, &from, sizeof(to));
    return to;
}

}  // namespace

uint8_t LengthFieldWidth(uint64_t value) {
    if (value < 0x100U) {
        return 1;
    }
    if (value < 0x10000U) {
        return 2;
    }
    if (value <= 0xFFFFFFFFU) {
        return 4;
    }
    return 8;
}

template <typename T>
Serializer& Serializer::WriteBigEndian(T value) {
    using Unsigned = typename std::make_unsigned<T>::type;
    const auto bits = static_cast<Unsigned>(value);
    for (std::size_t i = sizeof(T); i > 0; --i) {
        output_.push_back(static_cast<uint8_t>(bits >> (8 * (i - 1))));
    }
    return *this;
}

Serializer& Serializer::Write(bool value) { return WriteBigEndian<uint8_t>(value ? 0xFF : 0x00); }
Serializer& Serializer::Write(uint8_t value) { return WriteBigEndian(value); }
Serializer& Serializer::Write(int8_t value) { return WriteBigEndian(value); }
Serializer& Serializer::Write(uint16_t value) { return WriteBigEndian(value); }
Serializer& Serializer::Write(int16_t value) { return WriteBigEndian(value); }
Serializer& Serializer::Write(uint32_t value) { return WriteBigEndian(value); }
Serializer& Serializer::Write(int32_t value) { return WriteBigEndian(value); }
Serializer& Serializer::Write(uint64_t value) { return WriteBigEndian(value); }
Serializer& Serializer::Write(int64_t value) { return WriteBigEndian(value); }
Serializer& Serializer::Write(float value) { return WriteBigEndian(BitCast<uint32_t>(value)); }
Serializer& Serializer::Write(double value) { return WriteBigEndian(BitCast<uint64_t>(value)); }

Serializer& Serializer::Write(const std::vector<uint8_t>& value) {
    WriteLength(value.size());
    return WriteRaw(value.data(), value.size());
}

Serializer& Serializer::WriteLength(uint64_t value) {
    const uint8_t width = LengthFieldWidth(value);
    output_.push_back(width);
    switch (width) {
        case 1:
            return WriteBigEndian(static_cast<uint8_t>(value));
        case 2:
            return WriteBigEndian(static_cast<uint16_t>(value));
        case 4:
            return WriteBigEndian(static_cast<uint32_t>(value));
        default:
            return WriteBigEndian(value);
    }
}

Serializer& Serializer::WriteString(const std::string& value) {
    WriteLength(value.size());
    output_.insert(output_.end(), value.begin(), value.end());
    return *this;
}

Serializer& Serializer::WriteRaw(const uint8_t* data, std::size_t size) {
    if (size != 0) {
        output_.insert(output_.end(), data, data + size);
    }
    return *this;
}

bool Deserializer::Take(uint64_t size, const uint8_t*& bytes) {
    // Compared as 64 bits: a stored length must not wrap when narrowed.
    if (failed_ || static_cast<uint64_t>(end_ - cursor_) < size) {
        failed_ = true;
        return false;
    }
    bytes = cursor_;
    cursor_ += size;
    return true;
}

template <typename T>
bool Deserializer::ReadBigEndian(T& value) {
    using Unsigned = typename std::make_unsigned<T>::type;
    const uint8_t* bytes = nullptr;
    if (!Take(sizeof(T), bytes)) {
        return false;
    }
    Unsigned assembled = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        assembled = static_cast<Unsigned>((static_cast<uint64_t>(assembled) << 8) | bytes[i]);
    }
    value = static_cast<T>(assembled);
    return true;
}

bool Deserializer::Read(bool& value) {
    uint8_t byte = 0;
    if (!ReadBigEndian(byte)) {
        return false;
    }
    value = byte != 0;
    return true;
}

bool Deserializer::Read(uint8_t& value) { return ReadBigEndian(value); }
bool Deserializer::Read(int8_t& value) { return ReadBigEndian(value); }
bool Deserializer::Read(uint16_t& value) { return ReadBigEndian(value); }
bool Deserializer::Read(int16_t& value) { return ReadBigEndian(value); }
bool Deserializer::Read(uint32_t& value) { return ReadBigEndian(value); }
bool Deserializer::Read(int32_t& value) { return ReadBigEndian(value); }
bool Deserializer::Read(uint64_t& value) { return ReadBigEndian(value); }
bool Deserializer::Read(int64_t& value) { return ReadBigEndian(value); }

bool Deserializer::Read(float& value) {
    uint32_t bits = 0;
    if (!ReadBigEndian(bits)) {
        return false;
    }
    value = BitCast<float>(bits);
    return true;
}

bool Deserializer::Read(double& value) {
    uint64_t bits = 0;
    if (!ReadBigEndian(bits)) {
        return false;
    }
    value = BitCast<double>(bits);
    return true;
}

bool Deserializer::ReadLength(uint64_t& value) {
    uint8_t width = 0;
    if (!ReadBigEndian(width)) {
        return false;
    }
    switch (width) {
        case 1:
            return ReadWidened<uint8_t>(value);
        case 2:
            return ReadWidened<uint16_t>(value);
        case 4:
            return ReadWidened<uint32_t>(value);
        default:
            return ReadBigEndian(value);
    }
}

bool Deserializer::ReadRaw(uint8_t* target, std::size_t size) {
    const uint8_t* bytes = nullptr;
    if (!Take(size, bytes)) {
        return false;
    }
    if (size != 0) {
        std::memcpy(target, bytes, size);
    }
    return true;
}

bool Deserializer::Skip(uint64_t size) {
    const uint8_t* bytes = nullptr;
    return Take(size, bytes);
}

template <typename Container>
bool Deserializer::ReadLengthPrefixed(Container& value) {
    uint64_t length = 0;
    const uint8_t* bytes = nullptr;
    if (!ReadLength(length) || !Take(length, bytes)) {
        return false;
    }
    value.assign(bytes, bytes + length);
    return true;
}

bool Deserializer::Read(std::string& value) { return ReadLengthPrefixed(value); }
bool Deserializer::Read(std::vector<uint8_t>& value) { return ReadLengthPrefixed(value); }

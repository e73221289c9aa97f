// The stored byte encoding of typed values: big-endian, no type tags, strings
// and byte vectors prefixed with a length field (one width byte, then the
// length in 1, 2, 4 or 8 bytes).
//
// The reader checks every read against the end of the data: a value that ends
// early makes the read fail (and every read after it), and the target of a
// failed read is left untouched. Lengths and counts are checked against the
// bytes that are left before anything is reserved.
#ifndef KIVLIBRARY_PERSISTENCY_SERIALIZATION_H
#define KIVLIBRARY_PERSISTENCY_SERIALIZATION_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

// The width byte (1, 2, 4 or 8) of the length field holding the value.
uint8_t LengthFieldWidth(uint64_t value);

class Serializer {
public:
    explicit Serializer(std::vector<uint8_t>& output) : output_(output) {}

    Serializer& Write(bool value);
    Serializer& Write(uint8_t value);
    Serializer& Write(int8_t value);
    Serializer& Write(uint16_t value);
    Serializer& Write(int16_t value);
    Serializer& Write(uint32_t value);
    Serializer& Write(int32_t value);
    Serializer& Write(uint64_t value);
    Serializer& Write(int64_t value);
    Serializer& Write(float value);
    Serializer& Write(double value);
    Serializer& Write(const std::string& value) { return WriteString(value); }
    Serializer& Write(const std::vector<uint8_t>& value);
    // A string literal would otherwise be written as a bool.
    Serializer& Write(const char* value) = delete;

    Serializer& WriteLength(uint64_t value);
    Serializer& WriteString(const std::string& value);
    // Bytes as they are, without a length field.
    Serializer& WriteRaw(const uint8_t* data, std::size_t size);

private:
    template <typename T>
    Serializer& WriteBigEndian(T value);

    std::vector<uint8_t>& output_;
};

class Deserializer {
public:
    // The data must outlive the reader.
    explicit Deserializer(const std::vector<uint8_t>& data) : Deserializer(data.data(), data.size()) {}
    explicit Deserializer(std::vector<uint8_t>&&) = delete;
    Deserializer(const uint8_t* data, std::size_t size) : cursor_(data), end_(size != 0 ? data + size : data) {}

    bool Read(bool& value);
    bool Read(uint8_t& value);
    bool Read(int8_t& value);
    bool Read(uint16_t& value);
    bool Read(int16_t& value);
    bool Read(uint32_t& value);
    bool Read(int32_t& value);
    bool Read(uint64_t& value);
    bool Read(int64_t& value);
    bool Read(float& value);
    bool Read(double& value);
    bool Read(std::string& value);
    bool Read(std::vector<uint8_t>& value);

    // A width byte other than 1, 2 or 4 means 8 bytes follow.
    bool ReadLength(uint64_t& value);
    // Exactly `size` bytes without a length field.
    bool ReadRaw(uint8_t* target, std::size_t size);
    bool Skip(uint64_t size);

    std::size_t Remaining() const { return failed_ ? 0 : static_cast<std::size_t>(end_ - cursor_); }
    bool Failed() const { return failed_; }

private:
    template <typename T>
    bool ReadBigEndian(T& value);
    // Reads a T and widens it; the target is untouched on failure.
    template <typename T>
    bool ReadWidened(uint64_t& value) {
        T narrow = 0;
        if (!ReadBigEndian(narrow)) {
            return false;
        }
        value = narrow;
        return true;
    }
    // A length field and that many bytes, for strings and byte vectors.
    template <typename Container>
    bool ReadLengthPrefixed(Container& value);
    bool Take(uint64_t size, const uint8_t*& bytes);

    const uint8_t* cursor_;
    const uint8_t* end_;
    bool failed_ = false;
};

// Number of bytes the encoding of a value takes.
inline std::size_t EncodedSize(bool) { return 1; }
template <typename T>
std::size_t EncodedSize(T) {
    static_assert(std::is_arithmetic<T>::value, "fixed-width value expected");
    return sizeof(T);
}
inline std::size_t EncodedSize(const std::string& value) { return value.size() + LengthFieldWidth(value.size()) + 1; }
inline std::size_t EncodedSize(const std::vector<uint8_t>& value) {
    return value.size() + LengthFieldWidth(value.size()) + 1;
}

// The encoding of one value, sized exactly.
template <typename T>
std::vector<uint8_t> EncodeValue(const T& value) {
    std::vector<uint8_t> bytes;
    bytes.reserve(EncodedSize(value));
    Serializer(bytes).Write(value);
    return bytes;
}

// Decodes one value from the start of the bytes; bytes after it are ignored.
// On false the target is unchanged.
template <typename T>
bool DecodeValue(const std::vector<uint8_t>& bytes, T& value) {
    T decoded{};
    Deserializer reader(bytes);
    if (!reader.Read(decoded)) {
        return false;
    }
    value = std::move(decoded);
    return true;
}

#endif

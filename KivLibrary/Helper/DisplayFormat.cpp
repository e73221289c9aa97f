#include "KivLibrary/Helper/DisplayFormat.h"

#include "KivLibrary/Helper/ByteFormat.h"

namespace {

// "{decimal, 0xHEX}" with the hex part zero-filled to `digits`.
template <typename T>
std::string DecHex(T value, uint64_t bits, int digits) {
    return "{" + std::to_string(value) + ", 0x" + HexDigits(bits, digits) + "}";
}

}  // namespace

std::string FormatCharField(const uint8_t* bytes, size_t count) {
    return "{[" + PrintableText(bytes, count) + "] 0x(" + SpacedHex(bytes, count) + ")}";
}

std::string FormatCharField3(const uint8_t* bytes) { return FormatCharField(bytes, 3); }
std::string FormatCharField4(const uint8_t* bytes) { return FormatCharField(bytes, 4); }
std::string FormatCharField7(const uint8_t* bytes) { return FormatCharField(bytes, 7); }
std::string FormatCharField11(const uint8_t* bytes) { return FormatCharField(bytes, 11); }
std::string FormatCharField25(const uint8_t* bytes) { return FormatCharField(bytes, 25); }
std::string FormatBytes6(const uint8_t* bytes) { return FormatCharField(bytes, 6); }
std::string FormatBytes48(const uint8_t* bytes) { return FormatCharField(bytes, 48); }
std::string HashToDisplayString(const uint8_t* bytes) { return FormatCharField(bytes, 32); }

std::string ByteToDecHexString(uint8_t value) { return DecHex(value, value, 2); }

std::string FormatByteDecHex(uint8_t value) { return ByteToDecHexString(value); }

std::string FormatUint16DecHex(uint16_t value) { return DecHex(value, value, 4); }

std::string FormatIdValue(uint32_t value) { return DecHex(value, value, 8); }

std::string FormatInt32DecHex(int32_t value) { return DecHex(value, static_cast<uint32_t>(value), 8); }

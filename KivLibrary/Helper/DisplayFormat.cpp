#include "KivLibrary/Helper/DisplayFormat.h"

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

std::string Hex(uint64_t value, int digits) {
    std::string text(static_cast<size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i) {
        text[static_cast<size_t>(i)] = kHexDigits[value & 0x0F];
        value >>= 4;
    }
    return text;
}

}  // namespace

std::string FormatCharField(const uint8_t* bytes, size_t count) {
    std::string text = "{[";
    for (size_t i = 0; i < count; ++i) {
        const uint8_t byte = bytes[i];
        text += (byte < 32 || byte > 126) ? ' ' : static_cast<char>(byte);
    }
    text += "] 0x(";
    for (size_t i = 0; i < count; ++i) {
        if (i != 0) {
            text += ' ';
        }
        text += Hex(bytes[i], 2);
    }
    return text + ")}";
}

std::string FormatCharField3(const uint8_t* bytes) { return FormatCharField(bytes, 3); }
std::string FormatCharField4(const uint8_t* bytes) { return FormatCharField(bytes, 4); }
std::string FormatCharField7(const uint8_t* bytes) { return FormatCharField(bytes, 7); }
std::string FormatCharField11(const uint8_t* bytes) { return FormatCharField(bytes, 11); }
std::string FormatCharField25(const uint8_t* bytes) { return FormatCharField(bytes, 25); }
std::string FormatBytes6(const uint8_t* bytes) { return FormatCharField(bytes, 6); }
std::string FormatBytes48(const uint8_t* bytes) { return FormatCharField(bytes, 48); }
std::string HashToDisplayString(const uint8_t* bytes) { return FormatCharField(bytes, 32); }

std::string ByteToDecHexString(uint8_t value) { return "{" + std::to_string(value) + ", 0x" + Hex(value, 2) + "}"; }

std::string FormatByteDecHex(uint8_t value) { return ByteToDecHexString(value); }

std::string FormatUint16DecHex(uint16_t value) { return "{" + std::to_string(value) + ", 0x" + Hex(value, 4) + "}"; }

std::string FormatIdValue(uint32_t value) { return "{" + std::to_string(value) + ", 0x" + Hex(value, 8) + "}"; }

std::string FormatInt32DecHex(int32_t value) {
    return "{" + std::to_string(value) + ", 0x" + Hex(static_cast<uint32_t>(value), 8) + "}";
}

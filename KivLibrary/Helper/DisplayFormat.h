// Fixed display forms of numbers and byte fields in log lines. Hex digits are
// upper case, two per byte; characters outside 32..126 print as blanks.
#ifndef KIVLIBRARY_HELPER_DISPLAYFORMAT_H
#define KIVLIBRARY_HELPER_DISPLAYFORMAT_H

#include <cstddef>
#include <cstdint>
#include <string>

// "{[" text "] 0x(" hex bytes separated by one blank ")}" over count bytes.
std::string FormatCharField(const uint8_t* bytes, size_t count);

std::string FormatCharField3(const uint8_t* bytes);
std::string FormatCharField4(const uint8_t* bytes);
std::string FormatCharField7(const uint8_t* bytes);
std::string FormatCharField11(const uint8_t* bytes);
std::string FormatCharField25(const uint8_t* bytes);
std::string FormatBytes6(const uint8_t* bytes);
std::string FormatBytes48(const uint8_t* bytes);
// 32 bytes.
std::string HashToDisplayString(const uint8_t* bytes);

// "{" decimal ", 0x" hex digits "}"
std::string ByteToDecHexString(uint8_t value);   // two digits
std::string FormatByteDecHex(uint8_t value);     // two digits
std::string FormatUint16DecHex(uint16_t value);  // four digits
std::string FormatIdValue(uint32_t value);       // eight digits
std::string FormatInt32DecHex(int32_t value);    // decimal with sign, eight digits

#endif

// Byte sequences as log text, big-endian conversions and small string helpers.
// Stateless; nothing here logs.
#ifndef KIVLIBRARY_HELPER_BYTEFORMAT_H
#define KIVLIBRARY_HELPER_BYTEFORMAT_H

#include "KivLibrary/Logger/Logging.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

std::string ToHexString(const std::vector<uint8_t>& bytes);
std::string ToHexDump(const std::string& label, const uint8_t* data, uint32_t size);
std::string ToPrintableString(const std::vector<uint8_t>& bytes);
std::string BytesToHexString(const std::vector<uint8_t>& bytes);
// The low `digits` hex digits of the value, upper case, zero-filled.
std::string HexDigits(uint64_t value, int digits);
// The bytes as two hex digits each, separated by one blank.
std::string SpacedHex(const uint8_t* data, size_t size);
// The bytes as characters, each byte below 32 or above 126 as a blank.
std::string PrintableText(const uint8_t* data, size_t size);
std::string BytesToPrefixedHexString(const std::vector<uint8_t>& bytes);
void WriteHexByte(std::ostream& stream, uint8_t value);

// "size: n, data: {[..][..]...}" with at most ten bytes shown.
LoggingStream& operator<<(LoggingStream& stream, const std::vector<uint8_t>& bytes);
LoggingStream& operator<<(LoggingStream&& stream, const std::vector<uint8_t>& bytes);

uint64_t FromBigEndian(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> Uint32ToBigEndian(uint32_t value);
std::vector<uint8_t> Uint16ToBigEndian(uint16_t value);
uint32_t ReadUint32BigEndian(const std::vector<uint8_t>& bytes);
uint16_t ReadUint16BigEndian(const std::vector<uint8_t>& bytes);
uint16_t BytesToUint16(uint8_t high, uint8_t low);
uint8_t HighNibble(uint8_t value);
uint8_t LowNibble(uint8_t value);

std::vector<uint8_t> AppendBytes(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& more);
std::vector<uint8_t> PadBytes(const std::vector<uint8_t>& bytes, uint8_t value, size_t count);
std::string ReplaceAll(std::string& text, const std::string& from, const std::string& to);
void TrimLeft(std::string& text);
void TrimRight(std::string& text);
void Trim(std::string& text);
// ASCII letters only, byte by byte: names and flags, never locale text.
std::string ToLowerAscii(std::string text);
bool EqualsIgnoringAsciiCase(const std::string& left, const std::string& right);
bool TryExecuteSilently(const std::function<void()>& function);
// The text of an exception caught as std::exception_ptr, for log lines.
std::string ExceptionText(const std::exception_ptr& error);

#endif

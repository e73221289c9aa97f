#include "KivLibrary/Helper/ByteFormat.h"

#include <algorithm>
#include <iomanip>
#include <sstream>

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

void AppendHex(std::string& text, uint8_t value) {
    text += kHexDigits[value >> 4];
    text += kHexDigits[value & 0x0F];
}

char Printable(uint8_t value) { return (value < 32 || value > 126) ? ' ' : static_cast<char>(value); }

// The classic locale's whitespace set.
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

std::string HexDigits(uint64_t value, int digits) {
    std::string text(static_cast<size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i) {
        text[static_cast<size_t>(i)] = kHexDigits[value & 0x0F];
        value >>= 4;
    }
    return text;
}

std::string SpacedHex(const uint8_t* data, size_t size) {
    std::string text;
    text.reserve(size * 3);
    for (size_t i = 0; i < size; ++i) {
        if (i != 0) {
            text += ' ';
        }
        AppendHex(text, data[i]);
    }
    return text;
}

std::string PrintableText(const uint8_t* data, size_t size) {
    std::string text;
    text.reserve(size);
    for (size_t i = 0; i < size; ++i) {
        text += Printable(data[i]);
    }
    return text;
}

std::string ToHexString(const std::vector<uint8_t>& bytes) {
    return "{v_size=" + std::to_string(bytes.size()) + ", 0x(" + SpacedHex(bytes.data(), bytes.size()) + ")}";
}

std::string ToHexDump(const std::string& label, const uint8_t* data, uint32_t size) {
    std::string text = label + "  size=" + std::to_string(size) + " 0x[";
    if (data != nullptr) {
        for (uint32_t i = 0; i < size; ++i) {
            AppendHex(text, data[i]);
            text += ' ';
        }
    }
    return text + "]";
}

std::string ToPrintableString(const std::vector<uint8_t>& bytes) {
    return "{v_size=" + std::to_string(bytes.size()) + ", [" + PrintableText(bytes.data(), bytes.size()) + "]}";
}

std::string BytesToHexString(const std::vector<uint8_t>& bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (uint8_t byte : bytes) {
        AppendHex(text, byte);
    }
    return text;
}

std::string BytesToPrefixedHexString(const std::vector<uint8_t>& bytes) {
    return bytes.empty() ? std::string() : "0x" + BytesToHexString(bytes);
}

void WriteHexByte(std::ostream& stream, uint8_t value) {
    stream << std::hex << std::uppercase << std::setw(2) << std::setfill('0') << static_cast<unsigned>(value)
           << std::dec << std::nouppercase;
}

LoggingStream& operator<<(LoggingStream& stream, const std::vector<uint8_t>& bytes) {
    constexpr size_t kShown = 10;
    std::string text = "size: " + std::to_string(bytes.size()) + ", data: {";
    for (size_t i = 0; i < bytes.size() && i < kShown; ++i) {
        text += '[';
        AppendHex(text, bytes[i]);
        text += ']';
    }
    if (bytes.size() > kShown) {
        text += "...";
    }
    text += '}';
    return stream << text;
}

LoggingStream& operator<<(LoggingStream&& stream, const std::vector<uint8_t>& bytes) { return stream << bytes; }

uint64_t FromBigEndian(const std::vector<uint8_t>& bytes) {
    const size_t length = bytes.size() % 256;
    switch (length) {
        case 1:
        case 2:
        case 3:
        case 4:
        case 6:
        case 8: {
            uint64_t value = 0;
            for (size_t i = 0; i < length; ++i) {
                value = (value << 8) | bytes[i];
            }
            return value;
        }
        default:
            return 0;
    }
}

std::vector<uint8_t> Uint32ToBigEndian(uint32_t value) {
    return {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value)};
}

std::vector<uint8_t> Uint16ToBigEndian(uint16_t value) {
    return {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}

uint32_t ReadUint32BigEndian(const std::vector<uint8_t>& bytes) {
    return (static_cast<uint32_t>(bytes[0]) << 24) | (static_cast<uint32_t>(bytes[1]) << 16) |
           (static_cast<uint32_t>(bytes[2]) << 8) | static_cast<uint32_t>(bytes[3]);
}

uint16_t ReadUint16BigEndian(const std::vector<uint8_t>& bytes) { return BytesToUint16(bytes[0], bytes[1]); }

uint16_t BytesToUint16(uint8_t high, uint8_t low) {
    return static_cast<uint16_t>(((high & 0xFFu) << 8) | (low & 0xFFu));
}

uint8_t HighNibble(uint8_t value) { return static_cast<uint8_t>((value >> 4) & 0x0F); }
uint8_t LowNibble(uint8_t value) { return static_cast<uint8_t>(value & 0x0F); }

std::vector<uint8_t> AppendBytes(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& more) {
    std::vector<uint8_t> result;
    result.reserve(bytes.size() + more.size());
    result.insert(result.end(), bytes.begin(), bytes.end());
    result.insert(result.end(), more.begin(), more.end());
    return result;
}

std::vector<uint8_t> PadBytes(const std::vector<uint8_t>& bytes, uint8_t value, size_t count) {
    std::vector<uint8_t> result(bytes);
    result.insert(result.end(), count, value);
    return result;
}

std::string ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) {
        return text;
    }
    size_t position = 0;
    while ((position = text.find(from, position)) != std::string::npos) {
        text.replace(position, from.size(), to);
        position += to.size();
    }
    return text;
}

void TrimLeft(std::string& text) {
    text.erase(text.begin(), std::find_if(text.begin(), text.end(), [](char c) { return !IsSpace(c); }));
}

void TrimRight(std::string& text) {
    text.erase(std::find_if(text.rbegin(), text.rend(), [](char c) { return !IsSpace(c); }).base(), text.end());
}

void Trim(std::string& text) {
    TrimRight(text);
    TrimLeft(text);
}

std::string ToLowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

bool EqualsIgnoringAsciiCase(const std::string& left, const std::string& right) {
    return left.size() == right.size() && ToLowerAscii(left) == ToLowerAscii(right);
}

bool TryExecuteSilently(const std::function<void()>& function) {
    try {
        function();
        return true;
    } catch (...) {
        return false;
    }
}

std::string ExceptionText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown exception";
    }
}

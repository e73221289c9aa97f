// Bytes as lower-case hex digits without separators: the form in which
// published digests and test vectors are written.
#ifndef TESTS_SUPPORT_HEXTEXT_H
#define TESTS_SUPPORT_HEXTEXT_H

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

inline std::string LowerHex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 0x0F];
    }
    return text;
}

}  // namespace testsupport

#endif

#include "sim/KeyCalculator.h"

#include <cctype>
#include <stdexcept>

namespace sim {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    const int lower = std::tolower(static_cast<unsigned char>(c));
    if (lower >= 'a' && lower <= 'f') {
        return lower - 'a' + 10;
    }
    throw std::invalid_argument(std::string("not a hex digit: ") + c);
}

std::vector<uint8_t> Program(const std::string& text) {
    const std::string digits = text.size() % 2 == 0 ? text : "0" + text;
    std::vector<uint8_t> program;
    for (size_t i = 0; i + 1 < digits.size(); i += 2) {
        program.push_back(static_cast<uint8_t>(HexValue(digits[i]) * 16 + HexValue(digits[i + 1])));
    }
    return program;
}

}  // namespace

uint32_t TesterKey(uint32_t seed, const std::string& operationList) {
    const std::vector<uint8_t> p = Program(operationList);
    if (p.empty()) {
        throw std::invalid_argument("empty operation list");
    }
    struct Loop {
        size_t start;
        unsigned left;
    };
    std::vector<Loop> loops;
    uint64_t acc = seed;  // kept below 2^32 after every step
    bool carry = false;
    size_t pc = 0;
    unsigned long steps = 0;
    auto word = [&](size_t at) {
        return (uint64_t{p[at]} << 24) | (uint64_t{p[at + 1]} << 16) | (uint64_t{p[at + 2]} << 8) | p[at + 3];
    };
    while (pc < p.size() && p[pc] != 'L') {
        if (++steps > 1000000UL) {
            throw std::invalid_argument("operation limit");
        }
        if (pc + 1 >= p.size()) {
            throw std::invalid_argument("operation without its argument");
        }
        const uint8_t code = p[pc];
        const bool wide = code == 0x84 || code == 0x87 || code == 0x93;
        if (wide && pc + 6 > p.size()) {
            throw std::invalid_argument("operation without its four argument bytes");
        }
        switch (code) {
            case 0x81:  // rotate left through nothing, carry = the bit shifted out
                carry = (acc >> 31) & 1;
                acc = ((acc << 1) | (acc >> 31)) & 0xFFFFFFFFu;
                pc += 1;
                break;
            case 0x82:
                carry = acc & 1;
                acc = (acc >> 1) | ((acc & 1) << 31);
                pc += 1;
                break;
            case 0x87:
                acc ^= word(pc + 1);
                carry = false;
                pc += 5;
                break;
            case 0x93:
                acc += word(pc + 1);
                carry = acc > 0xFFFFFFFFu;
                acc &= 0xFFFFFFFFu;
                pc += 5;
                break;
            case 0x84: {
                const uint64_t operand = word(pc + 1);
                carry = acc < operand;
                acc = (acc + 0x100000000u - operand) & 0xFFFFFFFFu;
                pc += 5;
                break;
            }
            case 'k':
                pc += 2 + p[pc + 1];
                break;
            case 'J':
                pc += carry ? 2 : 2 + p[pc + 1];
                break;
            case 'h':
                if (p[pc + 1] == 0) {
                    throw std::invalid_argument("loop of zero rounds");
                }
                loops.push_back(Loop{pc + 2, p[pc + 1]});
                pc += 2;
                break;
            case 'I':
                if (loops.empty()) {
                    throw std::invalid_argument("loop end without loop");
                }
                if (--loops.back().left > 0) {
                    pc = loops.back().start;
                } else {
                    loops.pop_back();
                    pc += 1;
                }
                break;
            default:
                throw std::invalid_argument("unknown operation");
        }
    }
    return static_cast<uint32_t>(acc);
}

std::vector<uint8_t> TesterKeyBytes(const std::vector<uint8_t>& seed, const std::string& operationList) {
    if (seed.size() != 4) {
        throw std::invalid_argument("a seed has 4 bytes");
    }
    const uint32_t value = (uint32_t{seed[0]} << 24) | (uint32_t{seed[1]} << 16) | (uint32_t{seed[2]} << 8) | seed[3];
    const uint32_t key = TesterKey(value, operationList);
    return {static_cast<uint8_t>(key >> 24), static_cast<uint8_t>(key >> 16), static_cast<uint8_t>(key >> 8),
            static_cast<uint8_t>(key)};
}

}  // namespace sim

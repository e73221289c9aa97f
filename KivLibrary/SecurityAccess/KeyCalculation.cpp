#include "KivLibrary/SecurityAccess/KeyCalculation.h"

#include <cstring>
#include <functional>
#include <stack>
#include <stdexcept>
#include <unordered_map>

namespace {

constexpr uint8_t kEnd = 0x4C;
constexpr uint8_t kRotateLeft = 0x81;
constexpr uint8_t kRotateRight = 0x82;
constexpr uint8_t kExclusiveOr = 0x87;
constexpr uint8_t kAdd = 0x93;
constexpr uint8_t kSubtract = 0x84;
constexpr uint8_t kJump = 0x6B;
constexpr uint8_t kJumpIfCarryClear = 0x4A;
constexpr uint8_t kLoopStart = 0x68;
constexpr uint8_t kLoopEnd = 0x49;

struct LoopEntry {
    uint32_t bodyStart;
    int32_t remaining;
};

struct Machine {
    Machine(const std::vector<uint8_t>& list, uint32_t seed) : ops(list), accumulator(seed) {}

    const std::vector<uint8_t>& ops;
    uint32_t accumulator;
    uint32_t position = 0;
    bool carry = false;
    std::stack<LoopEntry> loops;

    uint8_t ByteOperand() const { return ops[position + 1]; }
    uint32_t WordOperand() const {
        return static_cast<uint32_t>(ops[position + 1]) << 24 | static_cast<uint32_t>(ops[position + 2]) << 16 |
               static_cast<uint32_t>(ops[position + 3]) << 8 | static_cast<uint32_t>(ops[position + 4]);
    }
};

using Operation = std::function<void(Machine&)>;

std::unordered_map<uint8_t, Operation> DispatchTable() {
    return {
        {kRotateLeft,
         [](Machine& m) {
             m.carry = (m.accumulator & 0x80000000u) != 0;
             m.accumulator = m.accumulator << 1 | m.accumulator >> 31;
             m.position += 1;
         }},
        {kRotateRight,
         [](Machine& m) {
             m.carry = (m.accumulator & 1u) != 0;
             m.accumulator = m.accumulator >> 1 | m.accumulator << 31;
             m.position += 1;
         }},
        {kExclusiveOr,
         [](Machine& m) {
             m.accumulator ^= m.WordOperand();
             m.carry = false;
             m.position += 5;
         }},
        {kAdd,
         [](Machine& m) {
             const uint32_t operand = m.WordOperand();
             const uint32_t sum = m.accumulator + operand;
             m.carry = sum < m.accumulator;
             m.accumulator = sum;
             m.position += 5;
         }},
        {kSubtract,
         [](Machine& m) {
             const uint32_t operand = m.WordOperand();
             m.carry = m.accumulator < operand;
             m.accumulator -= operand;
             m.position += 5;
         }},
        {kJump, [](Machine& m) { m.position += 2u + m.ByteOperand(); }},
        {kJumpIfCarryClear, [](Machine& m) { m.position += m.carry ? 2u : 2u + m.ByteOperand(); }},
        {kLoopStart,
         [](Machine& m) {
             const uint8_t count = m.ByteOperand();
             if (count == 0) {
                 throw std::invalid_argument("invalid loop encountered, loop counter must be > 0");
             }
             m.loops.push(LoopEntry{m.position + 2, count});
             m.position += 2;
         }},
        {kLoopEnd,
         [](Machine& m) {
             if (m.loops.empty()) {
                 throw std::invalid_argument("invalid loop encountered, loop end counter without stack");
             }
             LoopEntry& top = m.loops.top();
             const int32_t before = top.remaining--;
             if (before != 1) {
                 m.position = top.bodyStart;
             } else {
                 m.loops.pop();
                 m.position += 1;
             }
         }},
    };
}

bool HasWordOperand(uint8_t op) { return op == kSubtract || op == kExclusiveOr || op == kAdd; }

}  // namespace

std::vector<uint8_t> ParseKeyOperations(const std::string& text) {
    std::string digits = text;
    if (digits.size() % 2 != 0) {
        digits.insert(digits.begin(), '0');
    }
    std::vector<uint8_t> ops;
    ops.reserve(digits.size() / 2);
    try {
        for (size_t i = 0; i < digits.size(); i += 2) {
            ops.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
        }
    } catch (const std::exception&) {
        return {};
    }
    return ops;
}

uint32_t CalculateKey(int32_t seed, const std::string& operationList) {
    const std::vector<uint8_t> ops = ParseKeyOperations(operationList);
    const size_t n = ops.size();
    if (n == 0) {
        throw std::invalid_argument("no operations for calculating key");
    }
    // The seed's bit pattern, without an implementation-defined conversion.
    uint32_t pattern = 0;
    static_assert(sizeof(pattern) == sizeof(seed), "seed and key are 32 bits");
    std::memcpy(&pattern, &seed, sizeof(pattern));
    Machine machine(ops, pattern);
    const std::unordered_map<uint8_t, Operation> table = DispatchTable();
    for (uint32_t executed = 0;; ++executed) {
        if (machine.position >= n) {
            return machine.accumulator;
        }
        const uint8_t op = ops[machine.position];
        if (op == kEnd) {
            return machine.accumulator;
        }
        if (machine.position >= n - 1) {
            throw std::invalid_argument("too less arguments for operations");
        }
        if (HasWordOperand(op) && machine.position + 5 > n - 1) {
            throw std::invalid_argument("too less arguments for operation");
        }
        const auto entry = table.find(op);
        if (entry == table.end()) {
            throw std::invalid_argument("invalid operation found");
        }
        if (executed >= kMaxKeyOperations) {
            throw std::invalid_argument("too many operations for calculating key, limit is " +
                                        std::to_string(kMaxKeyOperations));
        }
        entry->second(machine);
    }
}

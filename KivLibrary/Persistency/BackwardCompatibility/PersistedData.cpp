#include "KivLibrary/Persistency/BackwardCompatibility/PersistedData.h"

#include <algorithm>

namespace {

template <std::size_t N, std::size_t M>
std::array<uint8_t, N> Slice(const std::array<uint8_t, M>& bytes, std::size_t offset) {
    static_assert(N <= M, "slice larger than the record");
    std::array<uint8_t, N> out{};
    std::copy_n(bytes.begin() + offset, N, out.begin());
    return out;
}

}  // namespace

uint32_t LegacyLogicalBlock::LogisticsVersion() const {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

uint8_t LegacyLogicalBlock::Id() const { return bytes[kIdOffset]; }

uint16_t LegacyLogicalBlock::ProgrammingAttempts() const {
    return static_cast<uint16_t>(bytes[kProgrammingAttemptsOffset] | (bytes[kProgrammingAttemptsOffset + 1] << 8));
}

uint16_t LegacyLogicalBlock::LockValue() const {
    return static_cast<uint16_t>(bytes[kLockValueOffset] | (bytes[kLockValueOffset + 1] << 8));
}

std::array<uint8_t, 6> LegacyLogicalBlock::Serial() const { return Slice<6>(bytes, kSerialOffset); }

std::array<uint8_t, 3> LegacyLogicalBlock::Date() const { return Slice<3>(bytes, kDateOffset); }

uint8_t LegacyLogicalBlock::Status() const { return bytes[kStatusOffset]; }

std::array<uint8_t, 4> LegacyLogicalBlock::RfsMinVersion() const { return Slice<4>(bytes, kRfsMinVersionOffset); }

// The interpreter of the configured key calculation of SecurityAccess: a
// byte-coded program on one 32-bit accumulator with a carry flag, forward
// jumps and counted loops. Stateless and reentrant.
#ifndef KIVLIBRARY_SECURITYACCESS_KEYCALCULATION_H
#define KIVLIBRARY_SECURITYACCESS_KEYCALCULATION_H

#include <cstdint>
#include <string>
#include <vector>

// A bound on executed operations, so that nested loops of a mistyped list
// end in a refusal instead of running for hours.
constexpr uint32_t kMaxKeyOperations = 1000000;

// Two hex digits per byte; an odd length reads as if a "0" stood in front;
// a pair that is not a number gives an empty list.
std::vector<uint8_t> ParseKeyOperations(const std::string& text);

// The seed is taken as its 32-bit pattern. Throws std::invalid_argument for a
// list that cannot be run.
uint32_t CalculateKey(int32_t seed, const std::string& operationList);

#endif

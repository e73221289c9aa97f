// The tester's own computation of the SecurityAccess key from a seed and the
// configured operation list, written apart from the product's interpreter so
// that tests and the console check it instead of trusting it. Stateless.
// Not part of the product.
#ifndef SIM_KEYCALCULATOR_H
#define SIM_KEYCALCULATOR_H

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// Throws std::invalid_argument for a list the ECU would refuse.
uint32_t TesterKey(uint32_t seed, const std::string& operationList);

// The key as the tester sends it: 4 bytes, most significant first; the seed
// is the 4-byte seed of the 67 11 response.
std::vector<uint8_t> TesterKeyBytes(const std::vector<uint8_t>& seed, const std::string& operationList);

}  // namespace sim

#endif

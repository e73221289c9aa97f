#ifndef SIGNATURE_SHA256_H
#define SIGNATURE_SHA256_H

#include <cstdint>
#include <vector>

// SHA-256 of the bytes: 32 bytes; empty (and logged) only when the hash is not
// available in the crypto library.
std::vector<uint8_t> CalculateSha256(const std::vector<uint8_t>& data);

#endif

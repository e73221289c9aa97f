#include "signature/Sha256.h"

#include "KivLibrary/Logger/Logging.h"

#include <botan/hash.h>

#include <memory>

std::vector<uint8_t> CalculateSha256(const std::vector<uint8_t>& data) {
    std::unique_ptr<Botan::HashFunction> hash = Botan::HashFunction::create("SHA-256", "");
    if (!hash) {
        LogError() << "SHA-256 is not available" << VLMR_FILE_LINE;
        return {};
    }
    hash->update(data.data(), data.size());
    std::vector<uint8_t> digest(hash->output_length());
    hash->final(digest.data());
    return digest;
}

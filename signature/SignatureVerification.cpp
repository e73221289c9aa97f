#include "signature/SignatureVerification.h"

#include <botan/pk_keys.h>
#include <botan/pubkey.h>
#include <botan/x509_key.h>

#include <stdexcept>
#include <string>

namespace SignatureCalculation {

namespace {

constexpr const char* kPadding = "EMSA4(SHA-256)";

std::unique_ptr<Botan::Public_Key> LoadRsaKey(const std::vector<uint8_t>& keyBytes) {
    std::unique_ptr<Botan::Public_Key> key(Botan::X509::load_key(keyBytes));
    if (!key) {
        throw std::invalid_argument("public key could not be loaded");
    }
    // Packages are signed with RSA-PSS only; other key types would accept the
    // padding name here and fail obscurely on every signature later.
    if (key->algo_name() != "RSA") {
        throw std::invalid_argument("public key is not an RSA key: " + key->algo_name());
    }
    return key;
}

}  // namespace

SignatureVerification::SignatureVerification(const std::vector<uint8_t>& keyBytes)
    : key_(LoadRsaKey(keyBytes)),
      verifier_(std::make_unique<Botan::PK_Verifier>(*key_, kPadding, Botan::IEEE_1363, "")) {}

SignatureVerification::~SignatureVerification() = default;

void SignatureVerification::Update(const uint8_t* data, size_t length) {
    if (length == 0) {
        return;
    }
    verifier_->update(data, length);
}

bool SignatureVerification::Verify(const uint8_t* signature, size_t length) {
    return verifier_->check_signature(signature, length);
}

}  // namespace SignatureCalculation

std::shared_ptr<SignatureVerificationInterface> CreateSignatureVerification(const std::vector<uint8_t>& keyBytes) {
    return std::make_shared<SignatureCalculation::SignatureVerification>(keyBytes);
}

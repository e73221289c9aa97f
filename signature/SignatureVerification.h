// Botan 2 implementation of SignatureVerificationInterface.
#ifndef SIGNATURE_SIGNATUREVERIFICATION_H
#define SIGNATURE_SIGNATUREVERIFICATION_H

#include "signature/SignatureVerificationInterface.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace Botan {
class Public_Key;
class PK_Verifier;
}  // namespace Botan

namespace SignatureCalculation {

class SignatureVerification : public SignatureVerificationInterface {
public:
    // Botan's exceptions for unreadable key bytes leave the constructor.
    explicit SignatureVerification(const std::vector<uint8_t>& keyBytes);
    ~SignatureVerification() override;
    SignatureVerification(const SignatureVerification&) = delete;
    SignatureVerification& operator=(const SignatureVerification&) = delete;

    void Update(const uint8_t* data, size_t length) override;
    bool Verify(const uint8_t* signature, size_t length) override;

private:
    // The verifier works on the key, so it is declared (and destroyed) after it.
    std::unique_ptr<Botan::Public_Key> key_;
    std::unique_ptr<Botan::PK_Verifier> verifier_;
};

}  // namespace SignatureCalculation

#endif

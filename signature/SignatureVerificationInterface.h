// One streamed signature computation over a public key: the signed bytes go in
// with Update as they arrive, Verify checks the signature once at the end.
#ifndef SIGNATURE_SIGNATUREVERIFICATIONINTERFACE_H
#define SIGNATURE_SIGNATUREVERIFICATIONINTERFACE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class SignatureVerificationInterface {
public:
    virtual ~SignatureVerificationInterface() = default;
    virtual void Update(const uint8_t* data, size_t length) = 0;
    // Ends the running computation: a later Verify checks an empty message.
    virtual bool Verify(const uint8_t* signature, size_t length) = 0;
};

// Loads an X.509 public key (DER or PEM) for RSA-PSS/SHA-256 verification.
// Throws when the key cannot be read or is not an RSA key.
std::shared_ptr<SignatureVerificationInterface> CreateSignatureVerification(const std::vector<uint8_t>& keyBytes);

#endif

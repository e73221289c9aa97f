// The session's signature verifier: re-initialised with the public key for
// every signed block, fed the block's bytes, asked once for the result.
// Failures are logged and answered with false; nothing throws.
#ifndef SIGNATURE_SIGNATUREVERIFIERINTERFACE_H
#define SIGNATURE_SIGNATUREVERIFIERINTERFACE_H

#include <cstdint>
#include <vector>

class SignatureVerifierInterface {
public:
    virtual bool IsInitialized() const = 0;
    virtual void Update(const std::vector<uint8_t>& data) = 0;
    virtual bool Verify(const std::vector<uint8_t>& signature) = 0;
    // Starts a new computation; bytes fed before are discarded.
    virtual bool Initialize(const std::vector<uint8_t>& publicKey) = 0;
    virtual ~SignatureVerifierInterface() = default;
};

#endif

#ifndef SIGNATURE_SIGNATUREVERIFIER_H
#define SIGNATURE_SIGNATUREVERIFIER_H

#include "signature/SignatureVerificationInterface.h"
#include "signature/SignatureVerifierInterface.h"

#include <cstdint>
#include <memory>
#include <vector>

class SignatureVerifier : public SignatureVerifierInterface {
public:
    SignatureVerifier() = default;

    bool IsInitialized() const override;
    void Update(const std::vector<uint8_t>& data) override;
    bool Verify(const std::vector<uint8_t>& signature) override;
    bool Initialize(const std::vector<uint8_t>& publicKey) override;
    ~SignatureVerifier() override = default;

protected:
    virtual void DoUpdate(const std::vector<uint8_t>& data);
    virtual bool DoVerify(const std::vector<uint8_t>& signature);
    virtual bool CreateVeryfierInstance(const std::vector<uint8_t>& publicKey);

private:
    std::shared_ptr<SignatureVerificationInterface> verification_;
};

#endif

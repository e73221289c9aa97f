#include "signature/SignatureVerifier.h"

#include "KivLibrary/Logger/Logging.h"

#include <exception>
#include <string>

bool SignatureVerifier::IsInitialized() const { return verification_ != nullptr; }

void SignatureVerifier::Update(const std::vector<uint8_t>& data) {
    if (!IsInitialized()) {
        LogError() << "SignatureVerifier is not initialized" << VLMR_FILE_LINE;
        return;
    }
    // A computation that lost bytes can never be trusted again: drop it so the
    // block's verification fails instead of checking an incomplete stream.
    try {
        DoUpdate(data);
    } catch (const std::exception& e) {
        verification_.reset();
        LogError() << "SignatureVerifier::update() got exception: " << std::string(e.what()) << VLMR_FILE_LINE;
    } catch (...) {
        verification_.reset();
        LogError() << "Unknown Exception in: "
                   << "update"
                   << ":" << static_cast<int32_t>(__LINE__) << VLMR_FILE_LINE;
    }
}

bool SignatureVerifier::Verify(const std::vector<uint8_t>& signature) {
    if (!IsInitialized()) {
        LogError() << "SignatureVerifier is not initialized" << VLMR_FILE_LINE;
        return false;
    }
    try {
        const bool result = DoVerify(signature);
        if (result) {
            LogInfo() << "check passed" << VLMR_FILE_LINE;
        } else {
            LogInfo() << "check failed" << VLMR_FILE_LINE;
        }
        return result;
    } catch (const std::exception& e) {
        LogError() << "SignatureVerifier::verify() got exception: " << std::string(e.what()) << VLMR_FILE_LINE;
    } catch (...) {
        LogError() << "Unknown Exception in: "
                   << "verify"
                   << ":" << static_cast<int32_t>(__LINE__) << VLMR_FILE_LINE;
    }
    return false;
}

bool SignatureVerifier::Initialize(const std::vector<uint8_t>& publicKey) { return CreateVeryfierInstance(publicKey); }

void SignatureVerifier::DoUpdate(const std::vector<uint8_t>& data) { verification_->Update(data.data(), data.size()); }

bool SignatureVerifier::DoVerify(const std::vector<uint8_t>& signature) {
    return verification_->Verify(signature.data(), signature.size());
}

bool SignatureVerifier::CreateVeryfierInstance(const std::vector<uint8_t>& publicKey) {
    verification_.reset();
    try {
        verification_ = CreateSignatureVerification(publicKey);
        return true;
    } catch (...) {
        LogError() << "SignatureCalculation::CreateVeryfierInstance() failed with exception." << VLMR_FILE_LINE;
        return false;
    }
}

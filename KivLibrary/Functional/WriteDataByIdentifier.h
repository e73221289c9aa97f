// UDS WriteDataByIdentifier (0x2E): only the tester fingerprint 0xF15A is
// writable; it goes into the session and unlocks RequestDownload. Runs on the
// binding's method threads; no state of its own.
#ifndef KIVLIBRARY_FUNCTIONAL_WRITEDATABYIDENTIFIER_H
#define KIVLIBRARY_FUNCTIONAL_WRITEDATABYIDENTIFIER_H

#include "KivLibrary/Functional/ServiceBase.h"
#include "uds/WriteDataByIdentifier.h"

class WriteDataByIdentifier : public CheckedService<UDS::WriteDataByIdentifierRequest> {
public:
    static constexpr uint8_t kSid = 0x2E;
    static constexpr uint16_t kTesterFingerprint = 0xF15A;
    // SID, identifier, 3 date bytes, 6 serial bytes.
    static constexpr size_t kFingerprintRequestLength = 12;

    WriteDataByIdentifier(std::shared_ptr<SessionData> sessionData,
                          std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor,
                          std::shared_ptr<PersistentDataStorage> storage);

    std::vector<uint8_t> Process(const UDS::Message& message) override;

private:
    using Request = UDS::WriteDataByIdentifierRequest;
    CheckResult CheckPrerequisites(const Request& request, std::vector<uint8_t>& response);
    CheckResult MinLengthCheck(const Request& request, std::vector<uint8_t>& response);
    CheckResult CheckDataIdentifierSupport(const Request& request, std::vector<uint8_t>& response);
    CheckResult TotalLengthCheck(const Request& request, std::vector<uint8_t>& response);
    CheckResult DataIdentifierTrigger(const Request& request, std::vector<uint8_t>& response);
};

#endif

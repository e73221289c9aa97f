// UDS CommunicationControl (0x28): validates the request and echoes the
// control type; it switches nothing and keeps no state. Runs on the binding's
// method threads.
#ifndef KIVLIBRARY_FUNCTIONAL_COMMUNICATIONCONTROL_H
#define KIVLIBRARY_FUNCTIONAL_COMMUNICATIONCONTROL_H

#include "KivLibrary/Functional/ServiceBase.h"
#include "uds/CommunicationControl.h"

class CommunicationControl : public CheckedService<UDS::CommunicationControlRequest> {
public:
    static constexpr uint8_t kSid = 0x28;

    CommunicationControl(std::shared_ptr<SessionData> sessionData, std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor,
                         std::shared_ptr<PersistentDataStorage> storage);

    std::vector<uint8_t> Process(const UDS::Message& message) override;

    // Control types 4 and 5 need a two-byte node id, every other type none.
    static bool CheckRequest(uint8_t controlType, const std::vector<uint8_t>& nodeId);
    static bool CheckNodeIdentification(const std::vector<uint8_t>& nodeId);
    static bool CheckCommunicationType(uint8_t communicationType);
    static bool CheckCorrectCommunicationType(uint8_t communicationType);

private:
    using Request = UDS::CommunicationControlRequest;
    CheckResult MinLengthCheck(const Request& request, std::vector<uint8_t>& response);
    CheckResult CheckSupportedSubfunctions(const Request& request, std::vector<uint8_t>& response);
    CheckResult CheckMessageLengthOrFormat(const Request& request, std::vector<uint8_t>& response);
    CheckResult CheckMissingParameter(const Request& request, std::vector<uint8_t>& response);
};

#endif

#include "KivLibrary/Functional/CommunicationControl.h"

#include "KivLibrary/Helper/ByteFormat.h"
#include "KivLibrary/Logger/Logging.h"
#include "uds/ServiceNames.h"

#include <string>

namespace {
constexpr uint8_t kLastEnumeratedControlType = 0x05;
// A vehicle-manufacturer-specific control type this ECU accepts.
constexpr uint8_t kManufacturerControlType = 0x40;
constexpr uint8_t kNormalCommunicationMessages = 0x01;
constexpr uint8_t kAllNetworksNormalMessages = 0xF1;
constexpr size_t kNodeIdLength = 2;
}  // namespace

CommunicationControl::CommunicationControl(std::shared_ptr<SessionData> sessionData,
                                           std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor,
                                           std::shared_ptr<PersistentDataStorage> storage)
    : CheckedService("CommunicationControl", kSid, std::move(sessionData), std::move(ucmAdaptor), std::move(storage)) {
    AddCheck("MinLengthCheck", UDS::Nrc::incorrectMessageLengthOrInvalidFormat, &CommunicationControl::MinLengthCheck);
    AddCheck("CheckSupportedSubfunctions", UDS::Nrc::subFunctionNotSupported,
             &CommunicationControl::CheckSupportedSubfunctions);
    AddCheck("CheckMessageLengthOrFormat", UDS::Nrc::incorrectMessageLengthOrInvalidFormat,
             &CommunicationControl::CheckMessageLengthOrFormat);
    AddCheck("CheckMissingParameter", UDS::Nrc::requestOutOfRange, &CommunicationControl::CheckMissingParameter);
}

std::vector<uint8_t> CommunicationControl::Process(const UDS::Message& message) {
    LogInfo() << "CommunicationControl: Process started!" << VLMR_FILE_LINE;
    const Request request(message);
    std::vector<uint8_t> response;
    if (!RunChecks(request, response)) {
        return response;
    }
    response = UDS::CommunicationControlResponse(request.GetSubFunction()).GetFrame();
    LogDebug() << "CommunicationControl:: processed!" << VLMR_FILE_LINE;
    return response;
}

bool CommunicationControl::CheckRequest(uint8_t controlType, const std::vector<uint8_t>& nodeId) {
    LogInfo() << "CommunicationControl: CheckRequest started!" << VLMR_FILE_LINE;
    const bool needsNodeId = controlType == 0x04 || controlType == 0x05;
    const bool valid = needsNodeId ? nodeId.size() == kNodeIdLength : nodeId.empty();
    if (valid) {
        LogDebug() << "CommunicationControl: CheckRequest succeeded!" << VLMR_FILE_LINE;
    } else {
        LogError() << "CommunicationControl: CheckRequest failed!" << VLMR_FILE_LINE;
    }
    return valid;
}

bool CommunicationControl::CheckNodeIdentification(const std::vector<uint8_t>& nodeId) {
    LogInfo() << "CheckNodeIdentification: nodeId is " << BytesToHexString(nodeId) << VLMR_FILE_LINE;
    return nodeId.empty() || nodeId.front() != 0;
}

bool CommunicationControl::CheckCommunicationType(uint8_t communicationType) {
    LogInfo() << "CheckCommunicationType: comtype is " << static_cast<uint32_t>(communicationType) << VLMR_FILE_LINE;
    return communicationType == kNormalCommunicationMessages || communicationType == kAllNetworksNormalMessages;
}

bool CommunicationControl::CheckCorrectCommunicationType(uint8_t communicationType) {
    LogInfo() << "CheckCorrectCommunicationType: comtype is " << static_cast<uint32_t>(communicationType)
              << VLMR_FILE_LINE;
    return communicationType == kNormalCommunicationMessages;
}

CheckResult CommunicationControl::MinLengthCheck(const Request& request, std::vector<uint8_t>&) {
    const size_t length = request.GetFrame().size();
    if (length < Request::kMinimumLength) {
        return CheckResult::Refuse("IncorrectMessageLengthOrInvalidFormat: acceptable length is less than " +
                                   std::to_string(Request::kMinimumLength) + " bytes! request size is " +
                                   std::to_string(length));
    }
    return CheckResult::Pass(" Message length is " + std::to_string(length) + " bytes");
}

CheckResult CommunicationControl::CheckSupportedSubfunctions(const Request& request, std::vector<uint8_t>&) {
    const uint8_t controlType = request.GetSubFunction();
    if (controlType > kLastEnumeratedControlType && controlType != kManufacturerControlType) {
        return CheckResult::Refuse(
            "SubfunctionNotSupported: the sub-function parameter is not supported! subfunction is " +
            UDS::CommunicationControlTypeToString(controlType));
    }
    return CheckResult::PassWithLine("CommunicationControl: CheckSupportedSubfunctions succeeded! Subfunction is " +
                                     std::to_string(controlType));
}

CheckResult CommunicationControl::CheckMessageLengthOrFormat(const Request& request, std::vector<uint8_t>&) {
    const uint8_t controlType = request.GetSubFunction();
    if (!CheckRequest(controlType, request.GetNodeIdentificationNumber())) {
        return CheckResult::Refuse(
            "IncorrectMessageLengthOrInvalidFormat: message has incorrect length or has an invalid Format! "
            "subfunction is " +
            UDS::CommunicationControlTypeToString(controlType));
    }
    return CheckResult::Pass();
}

CheckResult CommunicationControl::CheckMissingParameter(const Request& request, std::vector<uint8_t>&) {
    const uint8_t communicationType = request.GetCommunicationType();
    if (!CheckCommunicationType(communicationType) || !CheckNodeIdentification(request.GetNodeIdentificationNumber())) {
        return CheckResult::Refuse(UDS::Nrc::requestOutOfRange,
                                   "RequestOutOfRange: there is an error in the communicationType or the "
                                   "nodeIdentificationNumber parameter!");
    }
    if (request.GetSubFunction() == kManufacturerControlType && !CheckCorrectCommunicationType(communicationType)) {
        return CheckResult::Refuse(UDS::Nrc::conditionsNotCorrect,
                                   "ConditionsNotCorrect: there is an error in the communicationType !");
    }
    return CheckResult::Pass();
}

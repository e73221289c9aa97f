#include "KivLibrary/Functional/WriteDataByIdentifier.h"

#include "KivLibrary/GlobalLibrary/KivDMConversation.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Logger/Logging.h"

#include <string>

namespace {
constexpr size_t kDateLength = 3;
}  // namespace

WriteDataByIdentifier::WriteDataByIdentifier(std::shared_ptr<SessionData> sessionData,
                                             std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor,
                                             std::shared_ptr<PersistentDataStorage> storage)
    : CheckedService("WriteDataByIdentifier", kSid, std::move(sessionData), std::move(ucmAdaptor), std::move(storage)) {
    // Length checks come before every accessor that needs the length.
    AddCheck("CheckPrerequisites", UDS::Nrc::conditionsNotCorrect, &WriteDataByIdentifier::CheckPrerequisites);
    AddCheck("MinLengthCheck", UDS::Nrc::incorrectMessageLengthOrInvalidFormat, &WriteDataByIdentifier::MinLengthCheck);
    AddCheck("CheckDataIdentifierSupport", UDS::Nrc::requestOutOfRange,
             &WriteDataByIdentifier::CheckDataIdentifierSupport);
    AddCheck("TotalLengthCheck", UDS::Nrc::incorrectMessageLengthOrInvalidFormat,
             &WriteDataByIdentifier::TotalLengthCheck);
    AddCheck("DataIdentifierTrigger", UDS::Nrc::generalReject, &WriteDataByIdentifier::DataIdentifierTrigger);
}

std::vector<uint8_t> WriteDataByIdentifier::Process(const UDS::Message& message) {
    LogInfo() << "WriteDataByIdentifier: Process started!" << VLMR_FILE_LINE;
    LogCurrentStatus();
    const Request request(message);
    std::vector<uint8_t> response;
    if (!RunChecks(request, response)) {
        return response;
    }
    LogDebug() << "WriteDataByIdentifier processed!" << VLMR_FILE_LINE;
    return response;
}

CheckResult WriteDataByIdentifier::CheckPrerequisites(const Request&, std::vector<uint8_t>&) {
    if (!m_ucmAdaptor || !m_sessionData || !m_storage) {
        return CheckResult::Refuse("ConditionsNotCorrect: one of the services is down!");
    }
    // The fingerprint would be written into a session whose programming is
    // being reset; first, as the reset also ends the open download.
    if (!DiagStatusChangesHandled()) {
        return CheckResult::Refuse("ConditionsNotCorrect: the end of the previous diagnostic session is still handled");
    }
    if (!m_sessionData->IsRequestDownloadFinished()) {
        return CheckResult::Refuse("ConditionsNotCorrect: one of the services is down!");
    }
    return CheckResult::Pass();
}

CheckResult WriteDataByIdentifier::MinLengthCheck(const Request& request, std::vector<uint8_t>&) {
    const size_t length = request.GetFrame().size();
    if (length < Request::kMinimumLength) {
        return CheckResult::Refuse(
            "IncorrectMessageLengthOrInvalidFormat: the length of the request message is invalid or the client "
            "exceeded the maximum number of dataIdentifiers allowed to be requested at a time! request size is " +
            std::to_string(length));
    }
    return CheckResult::Pass(" request size is " + std::to_string(length));
}

CheckResult WriteDataByIdentifier::CheckDataIdentifierSupport(const Request& request, std::vector<uint8_t>&) {
    const uint16_t identifier = request.GetDataIdentifier();
    if (identifier != kTesterFingerprint) {
        return CheckResult::Refuse(
            "RequestOutOfRange: the requested dataIdentifiers are not supported! the requested dataIdentifier is " +
            std::to_string(identifier));
    }
    return CheckResult::Pass(" the requested dataIdentifier is " + std::to_string(identifier));
}

CheckResult WriteDataByIdentifier::TotalLengthCheck(const Request& request, std::vector<uint8_t>&) {
    const size_t length = request.GetFrame().size();
    if (length != kFingerprintRequestLength) {
        return CheckResult::Refuse(
            "IncorrectMessageLengthOrInvalidFormat: the length of the request message for DataIdentifier "
            "tester_fingerprint is invalid! request size is " +
            std::to_string(length));
    }
    m_sessionData->SetFingerprintFlag(true);
    return CheckResult::PassWithLine("WriteDataByIdentifier: TotalLengthCheck success!");
}

CheckResult WriteDataByIdentifier::DataIdentifierTrigger(const Request& request, std::vector<uint8_t>& response) {
    const std::vector<uint8_t> record = request.GetDataRecord();
    const std::vector<uint8_t> date(record.begin(), record.begin() + kDateLength);
    const std::vector<uint8_t> serial(record.begin() + kDateLength, record.end());
    m_sessionData->SetFingerprint(date, serial);
    response = UDS::WriteDataByIdentifierResponse(kTesterFingerprint).GetFrame();
    return CheckResult::PassWithLine("WriteDataByIdentifier: DataIdentifierTrigger processed!");
}

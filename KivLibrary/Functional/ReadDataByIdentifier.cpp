#include "KivLibrary/Functional/ReadDataByIdentifier.h"

#include "KivLibrary/Functional/DataIdentifiers/DataIdentifiers.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/KivConfiguration.h"

#include <cerrno>
#include <ctime>
#include <string>

namespace {

// The start-up phase is polled at this interval; a signal does not shorten it.
void SleepPollInterval() {
    timespec remaining{0, 100000000};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

template <typename Reader>
void AddReader(ReadDataByIdentifier::DidMap& map, const std::shared_ptr<SessionData>& sessionData,
               const std::shared_ptr<UCM::UCMAdaptorInterface>& ucmAdaptor,
               const std::shared_ptr<PersistentDataStorage>& storage) {
    map[Reader::kDid] = std::make_shared<Reader>(sessionData, ucmAdaptor, storage);
}

}  // namespace

ReadDataByIdentifier::ReadDataByIdentifier(std::shared_ptr<SessionData> sessionData,
                                           std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor,
                                           std::shared_ptr<PersistentDataStorage> storage)
    : CheckedService("ReadDataByIdentifier", kSid, sessionData, ucmAdaptor, storage) {
    // The download check comes first: during a download every request is
    // refused alike, whatever its length.
    AddCheck("CheckPreconditions", UDS::Nrc::conditionsNotCorrect, &ReadDataByIdentifier::CheckPreconditions);
    AddCheck("CheckMessageLength", UDS::Nrc::incorrectMessageLengthOrInvalidFormat,
             &ReadDataByIdentifier::CheckMessageLength);
    AddCheck("CheckDataIdentifierSupport", UDS::Nrc::requestOutOfRange,
             &ReadDataByIdentifier::CheckDataIdentifierSupport);
    AddCheck("MultipleDIDCheck", UDS::Nrc::generalReject, &ReadDataByIdentifier::MultipleDIDCheck);
    AddCheck("CheckResponseLength", UDS::Nrc::responseTooLong, &ReadDataByIdentifier::CheckResponseLength);
    InitializeDIDServices(sessionData, ucmAdaptor, storage);
}

void ReadDataByIdentifier::InitializeDIDServices(const std::shared_ptr<SessionData>& sessionData,
                                                 const std::shared_ptr<UCM::UCMAdaptorInterface>& ucmAdaptor,
                                                 const std::shared_ptr<PersistentDataStorage>& storage) {
    LogInfo() << "ReadDataByIdentifier: InitializeDIDServices started!" << VLMR_FILE_LINE;
    AddReader<Did_0xF1A2>(m_didMap, sessionData, ucmAdaptor, storage);
    AddReader<Did_0xF19E>(m_didMap, sessionData, ucmAdaptor, storage);
    AddReader<Did_0x0102>(m_didMap, sessionData, ucmAdaptor, storage);
    AddReader<Did_0x0411>(m_didMap, sessionData, ucmAdaptor, storage);
    AddReader<Did_0xF1DF>(m_didMap, sessionData, ucmAdaptor, storage);
    AddReader<Did_0xF195>(m_didMap, sessionData, ucmAdaptor, storage);
    AddReader<Did_0xF1D5>(m_didMap, sessionData, ucmAdaptor, storage);
    AddReader<Did_0xF15B>(m_didMap, sessionData, ucmAdaptor, storage);
    AddReader<Did_0xF189>(m_didMap, sessionData, ucmAdaptor, storage);
    AddReader<Did_0xF1AB>(m_didMap, sessionData, ucmAdaptor, storage);
    AddReader<Did_0xF187>(m_didMap, sessionData, ucmAdaptor, storage);
    AddReader<Did_0x0189>(m_didMap, sessionData, ucmAdaptor, storage);
    AddReader<Did_0x0407>(m_didMap, sessionData, ucmAdaptor, storage);
    AddReader<Did_0x040F>(m_didMap, sessionData, ucmAdaptor, storage);
    LogDebug() << "ReadDataByIdentifier: InitializeDIDServices processed!" << VLMR_FILE_LINE;
}

std::vector<uint8_t> ReadDataByIdentifier::Process(const UDS::Message& message) {
    const Request request(message);
    std::vector<uint8_t> response;
    if (m_sessionData) {
        LogCurrentStatus();
        // Answers given while UCM's state is still copied at start-up would
        // describe a state that is about to change.
        while (m_sessionData->IsUcmCopyInProgress()) {
            SleepPollInterval();
        }
    }
    (void)RunChecks(request, response);
    return response;
}

CheckResult ReadDataByIdentifier::CheckPreconditions(const Request&, std::vector<uint8_t>&) {
    if (!m_ucmAdaptor || !m_sessionData || !m_storage || !m_sessionData->IsRequestDownloadFinished()) {
        return CheckResult::Refuse("ConditionsNotCorrect: Check pre-conditions failed");
    }
    return CheckResult::Pass();
}

CheckResult ReadDataByIdentifier::CheckMessageLength(const Request& request, std::vector<uint8_t>&) {
    const size_t length = request.GetFrame().size();
    if (length < Request::kMinimumLength || length > Request::kMaximumLength || length % 2 == 0) {
        return CheckResult::Refuse("IncorrectMessageLengthOrInvalidFormat: incorrect message length: " +
                                   std::to_string(length));
    }
    return CheckResult::Pass(" Message length is " + std::to_string(length));
}

CheckResult ReadDataByIdentifier::CheckDataIdentifierSupport(const Request& request, std::vector<uint8_t>&) {
    for (const uint16_t did : request.GetDataIdentifiers()) {
        if (m_didMap.find(did) == m_didMap.end()) {
            return CheckResult::Refuse("RequestOutOfRange: dataIdentifier not supported: " + std::to_string(did));
        }
    }
    return CheckResult::Pass();
}

CheckResult ReadDataByIdentifier::MultipleDIDCheck(const Request& request, std::vector<uint8_t>& response) {
    std::map<uint16_t, std::vector<uint8_t>> records;
    for (const uint16_t did : request.GetDataIdentifiers()) {
        DidAnswer answer;
        if (!RunDataIdentifierSteps(*m_didMap.at(did), answer)) {
            return CheckResult::Refuse(answer.nrc, "ReadDataByIdentifier: MultipleDIDCheck failed!");
        }
        if (answer.refused) {
            return CheckResult::Refuse(answer.nrc,
                                       "RequestOutOfRange: dataIdentifier " + DidText(did) + " has no data to answer");
        }
        records[did] = std::move(answer.data);
    }
    response = UDS::ReadDataByIdentifierResponse(records).GetFrame();
    return CheckResult::Pass();
}

CheckResult ReadDataByIdentifier::CheckResponseLength(const Request&, std::vector<uint8_t>& response) {
    const std::shared_ptr<KivConfiguration>& configuration = m_sessionData->GetConfiguration();
    const int64_t limit = configuration ? configuration->transfer_size : 0;
    // A negative limit admits nothing, like a limit of zero.
    if (limit < 0 || response.size() > static_cast<uint64_t>(limit)) {
        return CheckResult::Refuse("ResponseTooLong: response length too long: " + std::to_string(response.size()));
    }
    return CheckResult::Pass(" response length is " + std::to_string(response.size()));
}

#include "KivLibrary/Functional/ServiceBase.h"

#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Logger/Logging.h"

ServiceBase::ServiceBase(std::shared_ptr<SessionData> sessionData, std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor,
                         std::shared_ptr<PersistentDataStorage> storage)
    : m_sessionData(std::move(sessionData)), m_ucmAdaptor(std::move(ucmAdaptor)), m_storage(std::move(storage)) {}

ServiceBase::~ServiceBase() = default;

void ServiceBase::LogCurrentStatus() const {
    if (m_sessionData) {
        LogInfo() << "CurrentStatus event " << m_sessionData->GetProgrammingStateText() << VLMR_FILE_LINE;
    }
}

std::vector<uint8_t> MakeNegativeFrame(uint8_t sid, UDS::Nrc nrc) {
    return UDS::NegativeResponse(sid, UDS::ToByte(nrc)).GetFrame();
}

void LogServiceCheckStarted(const std::string& service, const std::string& check) {
    LogInfo() << service << ": " << check << " started!" << VLMR_FILE_LINE;
}

void LogServiceCheckResult(const std::string& service, const std::string& check, const CheckResult& result) {
    if (!result.Passed()) {
        LogError() << result.Text() << VLMR_FILE_LINE;
    } else if (result.IsWholeLine()) {
        LogDebug() << result.Text() << VLMR_FILE_LINE;
    } else {
        LogDebug() << service << ": " << check << " succeeded!" << result.Text() << VLMR_FILE_LINE;
    }
}

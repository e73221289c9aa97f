#include "KivLibrary/Functional/ServiceProcessor.h"

#include "KivLibrary/Logger/Logging.h"

ServiceProcessor::ServiceProcessor(const UdsServiceDependencies& dependencies, AutonomousCheckSlot& autonomousCheck)
    : m_serviceHandler(std::make_shared<ServiceHandler>(dependencies, autonomousCheck)) {}

std::vector<uint8_t> ServiceProcessor::Process(uint8_t sid, const std::vector<uint8_t>& request) {
    LogInfo() << "processing ServiceProcessor" << VLMR_FILE_LINE;
    if (request.empty()) {
        return MakeNegativeResponse(sid, "Request data is empty", UDS::Nrc::incorrectMessageLengthOrInvalidFormat);
    }
    if (request.front() != sid) {
        return MakeNegativeResponse(sid, "SIDs don't match", UDS::Nrc::conditionsNotCorrect);
    }
    const std::shared_ptr<ServiceBase> handler = m_serviceHandler->Find(sid);
    if (!handler) {
        return MakeNegativeResponse(sid, "service not supported: " + std::to_string(sid),
                                    UDS::Nrc::serviceNotSupported);
    }
    LogInfo() << "finished ServiceProcessor: Service with sid " << static_cast<uint32_t>(sid) << " supported"
              << VLMR_FILE_LINE;
    return handler->Process(UDS::Message(std::vector<uint8_t>(request)));
}

std::vector<uint8_t> ServiceProcessor::MakeNegativeResponse(uint8_t sid, const std::string& reason, UDS::Nrc nrc) {
    LogError() << reason << VLMR_FILE_LINE;
    return MakeNegativeFrame(sid, nrc);
}

#include "KivLibrary/KivLibrary/GenericUdsServiceImpl.h"

#include "KivLibrary/GlobalLibrary/KivDMConversation.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Helper/ByteFormat.h"
#include "KivLibrary/Helper/HelperTypes.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "platform/testhook/UnexpectedException.h"

#include <algorithm>
#include <exception>
#include <stdexcept>

namespace {

using zov::dm::genericuds::GenericUDSService::UDSServiceFailed;

constexpr size_t kLoggedBytes = 241;
constexpr size_t kLogPieceLength = 180;

std::string InstanceId(const std::shared_ptr<SessionData>& sessionData) {
    if (!sessionData || !sessionData->GetConfiguration()) {
        throw std::invalid_argument("GenericUdsServiceImpl: no configuration for the service instance id");
    }
    return sessionData->GetConfiguration()->service_instance_id;
}

UdsServiceDependencies Bundle(std::shared_ptr<SessionData> sessionData,
                              std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor,
                              std::shared_ptr<PersistentDataStorage> storage,
                              std::shared_ptr<KivDMConversation> conversation,
                              std::shared_ptr<UCMSessionSelfRepairInterface> selfRepair,
                              std::shared_ptr<DTCService> cleanupErrorDtc, const UdsServiceSettings& settings) {
    return UdsServiceDependencies{std::move(sessionData),
                                  std::move(ucmAdaptor),
                                  std::move(storage),
                                  std::move(conversation),
                                  std::move(selfRepair),
                                  std::move(cleanupErrorDtc),
                                  settings};
}

}  // namespace

void LogBytes(const std::vector<uint8_t>& bytes, const std::string& label) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text = label + ": ";
    const size_t shown = std::min(bytes.size(), kLoggedBytes);
    text.reserve(text.size() + shown * 3 + 3);
    for (size_t i = 0; i < shown; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
        text += ' ';
    }
    if (bytes.size() >= kLoggedBytes) {
        text += "...";
    }
    for (size_t offset = 0; offset < text.size(); offset += kLogPieceLength) {
        LogInfo() << text.substr(offset, kLogPieceLength) << VLMR_FILE_LINE;
    }
}

GenericUdsServiceImpl::GenericUdsServiceImpl(ara::com::MethodCallProcessingMode mode,
                                             std::shared_ptr<SessionData> sessionData,
                                             std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor,
                                             std::shared_ptr<PersistentDataStorage> storage,
                                             std::shared_ptr<UCMSessionSelfRepairInterface> selfRepair,
                                             std::shared_ptr<DTCService> cleanupErrorDtc,
                                             std::shared_ptr<KivDMConversation> conversation,
                                             AutonomousCheckSlot& autonomousCheck, const UdsServiceSettings& settings)
    : GenericUDSServiceSkeleton(InstanceId(sessionData), mode),
      m_serviceProcessor(std::make_shared<ServiceProcessor>(
          Bundle(sessionData, std::move(ucmAdaptor), std::move(storage), conversation, std::move(selfRepair),
                 std::move(cleanupErrorDtc), settings),
          autonomousCheck)),
      m_conversation(std::move(conversation)) {}

GenericUdsServiceImpl::~GenericUdsServiceImpl() {
    // The calls still running use the processor: end them before it goes.
    StopOfferService();
    StopMethodDispatcher();
}

jux::com::Future<void> GenericUdsServiceImpl::Cancel(const zov::dm::types::MetaInfoType&) {
    LogInfo() << "GenericUdsServiceImpl:: Cancel started" << VLMR_FILE_LINE;
    jux::com::Promise<void> promise;
    promise.set_value();
    LogDebug() << "GenericUdsServiceImpl:: Cancel completed" << VLMR_FILE_LINE;
    return promise.get_future();
}

jux::com::Future<GenericUdsServiceImpl::HandleMessageOutput> GenericUdsServiceImpl::HandleMessage(
    uint8_t sid, const std::vector<uint8_t>& requestData, const zov::dm::types::MetaInfoType& metaInfo) {
    LogInfo() << "processing HandleMessage" << VLMR_FILE_LINE;
    jux::com::Promise<HandleMessageOutput> promise;
    // One exception boundary per call: a throwing collaborator must neither
    // leave the call unanswered nor reach the binding's thread.
    try {
        if (m_conversation) {
            m_conversation->registerConversation(metaInfo);
        } else {
            LogInfo() << "GenericUdsServiceImpl:: kivDMConversation NOT FOUND" << VLMR_FILE_LINE;
        }
        std::vector<uint8_t> request;
        request.reserve(requestData.size() + 1);
        request.push_back(sid);
        request.insert(request.end(), requestData.begin(), requestData.end());
        LogBytes(request, "request");
        const std::vector<uint8_t> response = m_serviceProcessor->Process(sid, request);
        LogBytes(response, "response");
        if (response.empty()) {
            throw std::logic_error("empty response from the dispatch");
        }
        if (response.front() == UDS::kNegativeResponseSid) {
            LogWarn() << "GenericUdsServiceImpl: Negative response for request!" << VLMR_FILE_LINE;
            const uint8_t nrc = response.size() > 2 ? response[2] : UDS::ToByte(UDS::Nrc::generalReject);
            promise.set_exception(std::make_exception_ptr(UDSServiceFailed(ConvertUdsNrcToDmCode(nrc))));
        } else {
            promise.set_value(HandleMessageOutput{std::vector<uint8_t>(response.begin() + 1, response.end())});
        }
    } catch (...) {
        LogError() << "GeneralReject: HandleMessage failed: " << ExceptionText(std::current_exception())
                   << VLMR_FILE_LINE;
        platform::testhook::ReportUnexpectedException("HandleMessage", std::current_exception());
        promise.set_exception(
            std::make_exception_ptr(UDSServiceFailed(ConvertUdsNrcToDmCode(UDS::ToByte(UDS::Nrc::generalReject)))));
    }
    LogInfo() << "finished HandleMessage" << VLMR_FILE_LINE;
    return promise.get_future();
}

#include "KivLibrary/SecurityAccess/SecurityAccessImpl.h"

#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/KivConfiguration.h"

#include <stdexcept>

namespace {

const std::string& Level9Instance(const std::shared_ptr<KivConfiguration>& configuration) {
    if (!configuration) {
        throw std::invalid_argument("SecurityAccessImpl: no configuration");
    }
    return configuration->securityAccessMapping.at(SecurityAccessImpl::kProgrammingSecurityLevel);
}

}  // namespace

SecurityAccessImpl::SecurityAccessImpl(ara::com::MethodCallProcessingMode mode,
                                       std::shared_ptr<SessionData> sessionData,
                                       std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor,
                                       std::shared_ptr<KivConfiguration> configuration,
                                       std::shared_ptr<KivDMConversation> conversation)
    : m_level9(std::make_shared<SecurityAccess_Level9_Impl>(Level9Instance(configuration), mode, std::move(sessionData),
                                                            std::move(ucmAdaptor), configuration,
                                                            std::move(conversation))) {}

void SecurityAccessImpl::OfferServices() {
    LogInfo() << "Offer Security Access Services" << VLMR_FILE_LINE;
    m_level9->OfferService();
}

void SecurityAccessImpl::StopOfferServices() {
    LogInfo() << "Stop Offering Security Access Services" << VLMR_FILE_LINE;
    m_level9->StopOfferService();
    m_level9->StopMethodDispatcher();
}

// Owns the SecurityAccess service of level 9 and offers and withdraws it for
// the runtime; called from the runtime thread only.
#ifndef KIVLIBRARY_SECURITYACCESS_SECURITYACCESSIMPL_H
#define KIVLIBRARY_SECURITYACCESS_SECURITYACCESSIMPL_H

#include "KivLibrary/SecurityAccess/SecurityAccess_Level9_Impl.h"

#include <memory>

class SecurityAccessImpl {
public:
    static constexpr int32_t kProgrammingSecurityLevel = 9;

    // Throws std::out_of_range ("map::at") when "SecurityAccessMapping" has
    // no instance for level 9.
    SecurityAccessImpl(ara::com::MethodCallProcessingMode mode, std::shared_ptr<SessionData> sessionData,
                       std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor,
                       std::shared_ptr<KivConfiguration> configuration,
                       std::shared_ptr<KivDMConversation> conversation);

    void OfferServices();
    void StopOfferServices();

private:
    std::shared_ptr<SecurityAccess_Level9_Impl> m_level9;
};

#endif

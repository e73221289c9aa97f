// Velmora's UDS entry composed over a sandbox as the runtime composes it:
// the shipped configuration, the database stack, the session, the
// conversation client, the generic UDS service and SecurityAccess, offered on
// the binding. For tests, the fuzz target and the benchmarks until the
// process entry runs the whole process. The host root must already point at
// the sandbox (HostPath). Construct and destroy on one thread.
// Not part of the product.
#ifndef SIM_UDSSERVICESTACK_H
#define SIM_UDSSERVICESTACK_H

#include "KivLibrary/Functional/UdsServiceDependencies.h"

#include <memory>
#include <string>

class GenericUdsServiceImpl;
class SecurityAccessImpl;
class KivConfiguration;

namespace sim {

class UdsServiceStack {
public:
    // Lays the sandbox out below root and offers both services; throws
    // std::runtime_error when the configuration or the database cannot be
    // opened. Without an adaptor, one that refuses every UCM operation (as
    // the real one does until UCM is found) stands in.
    explicit UdsServiceStack(const std::string& root, std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor = nullptr);
    ~UdsServiceStack();
    UdsServiceStack(const UdsServiceStack&) = delete;
    UdsServiceStack& operator=(const UdsServiceStack&) = delete;

    const std::shared_ptr<KivConfiguration>& Configuration() const { return m_configuration; }
    const std::shared_ptr<SessionData>& Session() const { return m_sessionData; }
    const std::shared_ptr<KivDMConversation>& Conversation() const { return m_conversation; }

private:
    std::shared_ptr<KivConfiguration> m_configuration;
    std::shared_ptr<PersistentDataStorage> m_storage;
    std::shared_ptr<SessionData> m_sessionData;
    std::shared_ptr<KivDMConversation> m_conversation;
    AutonomousCheckSlot m_autonomousCheck;
    std::shared_ptr<GenericUdsServiceImpl> m_uds;
    std::shared_ptr<SecurityAccessImpl> m_securityAccess;
};

}  // namespace sim

#endif

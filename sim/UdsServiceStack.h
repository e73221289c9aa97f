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

#include <chrono>
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
    explicit UdsServiceStack(const std::string& root, std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor = nullptr,
                             const UdsServiceSettings& settings = {});
    ~UdsServiceStack();
    UdsServiceStack(const UdsServiceStack&) = delete;
    UdsServiceStack& operator=(const UdsServiceStack&) = delete;

    const std::shared_ptr<KivConfiguration>& Configuration() const { return m_configuration; }
    const std::shared_ptr<SessionData>& Session() const { return m_sessionData; }
    const std::shared_ptr<KivDMConversation>& Conversation() const { return m_conversation; }
    const std::shared_ptr<PersistentDataStorage>& Storage() const { return m_storage; }
    const std::shared_ptr<UCM::UCMAdaptorInterface>& Ucm() const { return m_ucmAdaptor; }
    // Empty until a test puts a check in; handlers read it at use.
    AutonomousCheckSlot& AutonomousCheck() { return m_autonomousCheck; }

    // The product's UCM adaptor over the binding to the update manager
    // offered on `instance`; waits up to `connectTimeout` until its clients
    // found the services and throws std::runtime_error otherwise.
    static std::shared_ptr<UCM::UCMAdaptorInterface> ConnectUcm(
        const std::string& instance, std::chrono::milliseconds responseTimeout = std::chrono::seconds(5),
        std::chrono::milliseconds connectTimeout = std::chrono::seconds(5));

private:
    std::shared_ptr<KivConfiguration> m_configuration;
    std::shared_ptr<PersistentDataStorage> m_storage;
    std::shared_ptr<SessionData> m_sessionData;
    std::shared_ptr<KivDMConversation> m_conversation;
    std::shared_ptr<UCM::UCMAdaptorInterface> m_ucmAdaptor;
    AutonomousCheckSlot m_autonomousCheck;
    std::shared_ptr<GenericUdsServiceImpl> m_uds;
    std::shared_ptr<SecurityAccessImpl> m_securityAccess;
};

}  // namespace sim

#endif

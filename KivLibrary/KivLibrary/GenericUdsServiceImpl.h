// The one entry of every UDS request: the diagnostic manager's generic UDS
// service. Each HandleMessage registers the tester's conversation, rebuilds
// the frame, runs the dispatch and answers the positive response or fails
// with UDSServiceFailed. Runs in the binding's method threads, several at
// once; it keeps no state between requests and takes no lock.
#ifndef KIVLIBRARY_KIVLIBRARY_GENERICUDSSERVICEIMPL_H
#define KIVLIBRARY_KIVLIBRARY_GENERICUDSSERVICEIMPL_H

#include "KivLibrary/Functional/ServiceProcessor.h"
#include "KivLibrary/Functional/UdsServiceDependencies.h"
#include "platform/services/zov/dm/genericuds/GenericUDSService_skeleton.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class GenericUdsServiceImpl : public zov::dm::genericuds::skeleton::GenericUDSServiceSkeleton {
public:
    using HandleMessageOutput = zov::dm::genericuds::GenericUDSService::HandleMessage::Output;

    // The instance id is "general_settings" / "service_instance_id" of the
    // configuration that the session holds.
    GenericUdsServiceImpl(ara::com::MethodCallProcessingMode mode, std::shared_ptr<SessionData> sessionData,
                          std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor,
                          std::shared_ptr<PersistentDataStorage> storage,
                          std::shared_ptr<UCMSessionSelfRepairInterface> selfRepair,
                          std::shared_ptr<DTCService> cleanupErrorDtc, std::shared_ptr<KivDMConversation> conversation,
                          AutonomousCheckSlot& autonomousCheck, const UdsServiceSettings& settings = {});
    ~GenericUdsServiceImpl() override;

    jux::com::Future<void> Cancel(const zov::dm::types::MetaInfoType& metaInfo) override;
    jux::com::Future<HandleMessageOutput> HandleMessage(uint8_t sid, const std::vector<uint8_t>& requestData,
                                                        const zov::dm::types::MetaInfoType& metaInfo) override;

private:
    std::shared_ptr<ServiceProcessor> m_serviceProcessor;
    std::shared_ptr<KivDMConversation> m_conversation;
};

// "label: " and two lower-case hex digits and a blank per byte, at most 241
// bytes (then "..."), logged at info level in pieces of 180 characters.
void LogBytes(const std::vector<uint8_t>& bytes, const std::string& label);

#endif

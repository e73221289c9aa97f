#include "KivLibrary/Functional/ServiceHandler.h"

#include "KivLibrary/Functional/CommunicationControl.h"
#include "KivLibrary/Functional/WriteDataByIdentifier.h"

ServiceHandler::ServiceHandler(const UdsServiceDependencies& dependencies, AutonomousCheckSlot& autonomousCheck) {
    (void)autonomousCheck;  // for RequestDownload and EcuReset
    const auto& session = dependencies.sessionData;
    const auto& ucm = dependencies.ucmAdaptor;
    const auto& storage = dependencies.storage;
    // Created and registered in this order. ReadDataByIdentifier (0x22),
    // RequestTransferExit (0x37), RequestDownload (0x34), TransferData (0x36)
    // and EcuReset (0x11) take their places here as they are built; until
    // then their SIDs are answered as unknown ones.
    AddService(WriteDataByIdentifier::kSid, std::make_shared<WriteDataByIdentifier>(session, ucm, storage));
    AddService(CommunicationControl::kSid, std::make_shared<CommunicationControl>(session, ucm, storage));
}

void ServiceHandler::AddService(uint8_t sid, std::shared_ptr<ServiceBase> handler) {
    m_services[sid] = std::move(handler);
}

std::shared_ptr<ServiceBase> ServiceHandler::Find(uint8_t sid) const {
    const auto it = m_services.find(sid);
    return it == m_services.end() ? nullptr : it->second;
}

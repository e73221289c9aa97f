#include "KivLibrary/Functional/ServiceHandler.h"

#include "KivLibrary/Functional/CommunicationControl.h"
#include "KivLibrary/Functional/EcuReset.h"
#include "KivLibrary/Functional/ReadDataByIdentifier.h"
#include "KivLibrary/Functional/RequestDownload.h"
#include "KivLibrary/Functional/RequestTransferExit.h"
#include "KivLibrary/Functional/TransferData.h"
#include "KivLibrary/Functional/WriteDataByIdentifier.h"

ServiceHandler::ServiceHandler(const UdsServiceDependencies& dependencies, AutonomousCheckSlot& autonomousCheck) {
    const auto& session = dependencies.sessionData;
    const auto& ucm = dependencies.ucmAdaptor;
    const auto& storage = dependencies.storage;
    // Created and registered in this order; any other SID is answered as an
    // unknown one.
    AddService(ReadDataByIdentifier::kSid, std::make_shared<ReadDataByIdentifier>(session, ucm, storage));
    AddService(WriteDataByIdentifier::kSid, std::make_shared<WriteDataByIdentifier>(session, ucm, storage));
    AddService(CommunicationControl::kSid, std::make_shared<CommunicationControl>(session, ucm, storage));
    AddService(RequestTransferExit::kSid, std::make_shared<RequestTransferExit>(dependencies));
    AddService(RequestDownload::kSid, std::make_shared<RequestDownload>(dependencies, autonomousCheck));
    AddService(TransferData::kSid, std::make_shared<TransferData>(dependencies));
    AddService(EcuReset::kSid, std::make_shared<EcuReset>(dependencies, autonomousCheck));
}

void ServiceHandler::AddService(uint8_t sid, std::shared_ptr<ServiceBase> handler) {
    m_services[sid] = std::move(handler);
}

std::shared_ptr<ServiceBase> ServiceHandler::Find(uint8_t sid) const {
    const auto it = m_services.find(sid);
    return it == m_services.end() ? nullptr : it->second;
}

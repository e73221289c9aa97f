#include "KivLibrary/Routines/RID_0253_ClientProxyImpl.h"

#include "KivLibrary/Routines/RoutineLog.h"
#include "communication/Client.h"
#include "communication/Connect.h"
#include "platform/services/zenqo/services/diag/r_0253/RoutineService_CalculateIntegrityValidationData_proxy.h"

using AlienProxy = zenqo::services::diag::r_0253::proxy::RoutineService_CalculateIntegrityValidationDataProxy;

class RID_0253_ClientProxyImpl::Endpoint : public Client<AlienProxy> {
public:
    explicit Endpoint(const std::string& instance) : Client(instance, "Client") {}
    ~Endpoint() override { StopSearch(); }

    void ConnectOnce() {
        LogIvdInfo() << "Connect ClientProxy to Alien KIV";
        AttemptConnection(
            GetDescription(),
            [this] {
                LogIvdInfo() << "Connect ClientProxy to Alien KIV attempt";
                return FindOnce();
            },
            [this] {
                const bool connected = IsConnected();
                LogIvdInfo() << "Connect ClientProxy to Alien KIV done = " << (connected ? "1" : "0");
                return connected;
            });
    }

protected:
    // One attempt, never a wait for a later offer.
    void Create() override { ConnectOnce(); }
};

std::shared_ptr<RC0253Interface> RID_0253_ClientProxyImpl::Create(const std::string& instance) {
    return std::make_shared<RID_0253_ClientProxyImpl>(instance);
}

RID_0253_ClientProxyImpl::RID_0253_ClientProxyImpl(const std::string& instance)
    : m_endpoint(std::make_unique<Endpoint>(instance)) {
    LogInfo() << "RID_0253_ClientProxyImpl created..." << VLMR_FILE_LINE;
}

RID_0253_ClientProxyImpl::~RID_0253_ClientProxyImpl() {
    LogInfo() << "RID_0253_ClientProxyImpl deleted..." << VLMR_FILE_LINE;
}

bool RID_0253_ClientProxyImpl::Start() { return m_endpoint->Launch(); }

bool RID_0253_ClientProxyImpl::Stop() { return m_endpoint->Shutdown(); }

bool RID_0253_ClientProxyImpl::IsConnected() { return m_endpoint->IsConnected(); }

void RID_0253_ClientProxyImpl::Connect() { m_endpoint->ConnectOnce(); }

jux::com::Future<RC0253Interface::StartOutput> RID_0253_ClientProxyImpl::StartFunction(const MetaInfo& metaInfo,
                                                                                       uint8_t calculationType,
                                                                                       uint8_t hashType) {
    const std::shared_ptr<AlienProxy> proxy = m_endpoint->GetProxy();
    if (!proxy) {
        LogInfo() << "ClientProxy::StartFunction NO PROXY" << VLMR_FILE_LINE;
        return jux::com::MakeReadyFuture(DefaultStartOutput0253());
    }
    LogInfo() << "ClientProxy::StartFunction forward ..." << VLMR_FILE_LINE;
    return proxy->Start(metaInfo, calculationType, hashType);
}

jux::com::Future<void> RID_0253_ClientProxyImpl::CancelFunction(const MetaInfo& metaInfo) {
    const std::shared_ptr<AlienProxy> proxy = m_endpoint->GetProxy();
    if (!proxy) {
        LogInfo() << "ClientProxy::CancelFunction NO PROXY" << VLMR_FILE_LINE;
        return jux::com::MakeReadyFuture();
    }
    LogInfo() << "ClientProxy::CancelFunction forward ..." << VLMR_FILE_LINE;
    return proxy->Cancel(metaInfo);
}

// Client of routine 0x0253 on the other application instance. It never
// retries by itself: the routine asks for a new client when it finds this one
// disconnected. A call while no proxy exists is answered locally (Start: the
// default "incorrect" output; Cancel: no value).
//
// The endpoint (the Client base of every consumer) is a member rather than a
// base: its lifecycle steps Start/Stop would collide with the interface's.
//
// Threading: any thread; the proxy is read under the endpoint's mutex since
// discovery may set it from a binding thread.
#ifndef KIVLIBRARY_ROUTINES_RID_0253_CLIENTPROXYIMPL_H
#define KIVLIBRARY_ROUTINES_RID_0253_CLIENTPROXYIMPL_H

#include "KivLibrary/Routines/RC0253Interface.h"

#include <memory>
#include <string>

class RID_0253_ClientProxyImpl : public RC0253Interface {
public:
    static std::shared_ptr<RC0253Interface> Create(const std::string& instance);

    explicit RID_0253_ClientProxyImpl(const std::string& instance);
    ~RID_0253_ClientProxyImpl() override;

    bool Start() override;
    bool Stop() override;
    bool IsConnected() override;
    jux::com::Future<StartOutput> StartFunction(const MetaInfo& metaInfo, uint8_t calculationType,
                                                uint8_t hashType) override;
    jux::com::Future<void> CancelFunction(const MetaInfo& metaInfo) override;
    void Connect() override;

    class Endpoint;

private:
    std::unique_ptr<Endpoint> m_endpoint;
};

#endif

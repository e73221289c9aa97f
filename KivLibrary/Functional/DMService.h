// The offered DiagnosticMonitor instance behind one DTC: the skeleton adapter
// that answers InitMonitor, and the endpoint that creates, offers and
// withdraws it.
//
// Threading: Launch and Shutdown run one at a time (the endpoint's lifecycle
// gate); SendAction may be called from any thread, it works on a copy of the
// adapter pointer taken under the endpoint's own mutex. InitMonitor runs on a
// binding method thread and touches only the adapter.
#ifndef KIVLIBRARY_FUNCTIONAL_DMSERVICE_H
#define KIVLIBRARY_FUNCTIONAL_DMSERVICE_H

#include "communication/BasicEndpoint.h"
#include "platform/services/zov/dm/dem/DiagnosticMonitor_skeleton.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>

// What a DTCService needs of its monitor.
class DiagnosticMonitorServiceInterface {
public:
    virtual ~DiagnosticMonitorServiceInterface() = default;
    virtual bool start() = 0;
    virtual bool stop() = 0;
    // False when the instance is not offered (nothing was sent).
    virtual bool send(int action) = 0;
};

template <typename Skeleton>
class DMSAdapter;

template <>
class DMSAdapter<zov::dm::dem::skeleton::DiagnosticMonitorSkeleton>
    : public zov::dm::dem::skeleton::DiagnosticMonitorSkeleton {
public:
    DMSAdapter(const std::string& instance, std::function<void()> updateDTCcb);
    // Withdraws the offer and waits for a running InitMonitor before the
    // members go.
    ~DMSAdapter() override;

    jux::com::Future<void> InitMonitor(zov::dm::dem::InitMonitorReasonType reason) override;

private:
    const std::string m_instance;
    const std::function<void()> m_updateDTCcb;
};

using DiagnosticMonitorAdapter = DMSAdapter<zov::dm::dem::skeleton::DiagnosticMonitorSkeleton>;

class DMService : public BasicEndpoint, public DiagnosticMonitorServiceInterface {
public:
    DMService(const std::string& instance, std::function<void()> updateCallback);
    ~DMService() override;

    std::string GetServiceName() const override { return zov::dm::dem::DiagnosticMonitor::kServiceName; }
    std::string GetVersion() const override { return "1"; }

    bool start() override { return Launch(); }
    bool stop() override { return Shutdown(); }
    bool send(int action) override;

protected:
    void Create() override;
    void Delete() override;
    void Initialize() override;
    void Uninitialize() override {}
    void Start() override;
    void Stop() override;

private:
    std::shared_ptr<DiagnosticMonitorAdapter> Adapter() const;

    const std::function<void()> m_updateCallback;
    mutable std::mutex m_adapterMutex;
    std::shared_ptr<DiagnosticMonitorAdapter> m_adapter;
};

const char* MonitorActionName(int action);
const char* InitMonitorReasonName(int reason);

#endif

#include "KivLibrary/Functional/DMService.h"

#include "KivLibrary/Logger/Logging.h"

#include <iostream>
#include <stdexcept>
#include <utility>

namespace {

// The monitor's lines go to the log and to the standard error stream, where
// the platform's start-up console shows them.
void LogErrorAndConsole(const std::string& text) {
    LogError() << text << VLMR_FILE_LINE;
    std::cerr << text << std::endl;
}

}  // namespace

const char* MonitorActionName(int action) {
    static const char* const kNames[] = {
        "kPassed",          "kFailed",           "kPrepassed",       "kPrefailed", "kFdcThresholdReached",
        "kResetTestFailed", "kFreezeDebouncing", "kResetDebouncing", "kPrestore",  "kClearPrestore"};
    if (action < 0 || action >= static_cast<int>(sizeof(kNames) / sizeof(kNames[0]))) {
        return "unknown MonitorActionType";
    }
    return kNames[action];
}

const char* InitMonitorReasonName(int reason) {
    static const char* const kNames[] = {"kClear", "kRestart", "kReenabled", "kStorageReenabled"};
    if (reason < 0 || reason >= static_cast<int>(sizeof(kNames) / sizeof(kNames[0]))) {
        return "InitMonitor reason unknown";
    }
    return kNames[reason];
}

DMSAdapter<zov::dm::dem::skeleton::DiagnosticMonitorSkeleton>::DMSAdapter(const std::string& instance,
                                                                          std::function<void()> updateDTCcb)
    : DiagnosticMonitorSkeleton(instance), m_instance(instance), m_updateDTCcb(std::move(updateDTCcb)) {
    LogErrorAndConsole("+++++ DMSkeletonAdapter::constructor() is called for " + m_instance);
    LogErrorAndConsole("+++++ DMSkeletonAdapter::Set updateDTCcb for " + m_instance +
                       (m_updateDTCcb ? " valid Callback is set" : " No Callback available"));
}

DMSAdapter<zov::dm::dem::skeleton::DiagnosticMonitorSkeleton>::~DMSAdapter() {
    StopOfferService();
    StopMethodDispatcher();
}

jux::com::Future<void> DMSAdapter<zov::dm::dem::skeleton::DiagnosticMonitorSkeleton>::InitMonitor(
    zov::dm::dem::InitMonitorReasonType reason) {
    const int value = static_cast<int>(reason);
    LogErrorAndConsole("+++++ DMSkeletonAdapter::InitMonitor( " + std::to_string(value) + " = " +
                       InitMonitorReasonName(value) + ") is called for " + m_instance);
    if (m_updateDTCcb && (reason == zov::dm::dem::InitMonitorReasonType::kClear ||
                          reason == zov::dm::dem::InitMonitorReasonType::kRestart)) {
        // The callback belongs to the owner; whatever it throws stays here.
        TryExecute("DMSkeletonAdapter::InitMonitor updateDTCcb", m_updateDTCcb);
        LogErrorAndConsole("+++++ DMSkeletonAdapter::InitMonitor calls updateDTCcb for " + m_instance);
    }
    return jux::com::MakeReadyFuture();
}

DMService::DMService(const std::string& instance, std::function<void()> updateCallback)
    : BasicEndpoint(instance, "Service"), m_updateCallback(std::move(updateCallback)) {}

DMService::~DMService() {
    std::shared_ptr<DiagnosticMonitorAdapter> adapter;
    {
        std::lock_guard<std::mutex> lock(m_adapterMutex);
        adapter = std::move(m_adapter);
    }
}

std::shared_ptr<DiagnosticMonitorAdapter> DMService::Adapter() const {
    std::lock_guard<std::mutex> lock(m_adapterMutex);
    return m_adapter;
}

void DMService::Create() {
    auto adapter = std::make_shared<DiagnosticMonitorAdapter>(GetInstance(), m_updateCallback);
    std::lock_guard<std::mutex> lock(m_adapterMutex);
    m_adapter = std::move(adapter);
}

void DMService::Delete() {
    std::shared_ptr<DiagnosticMonitorAdapter> adapter;
    {
        std::lock_guard<std::mutex> lock(m_adapterMutex);
        adapter = std::move(m_adapter);
    }
    // Released outside the mutex: the adapter's destructor waits for a
    // running InitMonitor.
}

void DMService::Initialize() {
    if (!Adapter()) {
        throw std::logic_error("no DiagnosticMonitor adapter");
    }
    LogInfo() << "+++++ DiagnosticMonitorService::Initialize done ..." << VLMR_FILE_LINE;
}

void DMService::Start() {
    const auto adapter = Adapter();
    if (!adapter) {
        throw std::logic_error("no DiagnosticMonitor adapter");
    }
    adapter->OfferService();
}

void DMService::Stop() {
    const auto adapter = Adapter();
    if (adapter) {
        adapter->StopOfferService();
        adapter->StopMethodDispatcher();
    }
}

bool DMService::send(int action) {
    const auto adapter = Adapter();
    if (!adapter || !adapter->IsOffered()) {
        return false;
    }
    adapter->MonitorAction.Send(static_cast<zov::dm::dem::MonitorActionType>(action));
    return true;
}

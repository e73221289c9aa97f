#include "KivLibrary/Functional/DTCService.h"

#include "KivLibrary/Functional/DMService.h"
#include "KivLibrary/Functional/DTCServiceImpl.h"
#include "KivLibrary/Logger/Logging.h"

#include <iostream>
#include <utility>

std::string DTCStateName(int state) {
    static const char* const kNames[] = {"DTC_PASSED", "DTC_FAILED"};
    if (state < 0 || state >= static_cast<int>(sizeof(kNames) / sizeof(kNames[0]))) {
        return "DTC_STATE_UNKNOWN(" + std::to_string(state) + ")";
    }
    return kNames[state];
}

std::shared_ptr<DTCService> CreateDTCService(const std::string& instance, std::function<void()> updateCallback) {
    std::shared_ptr<DTCService> service;
    TryExecute("DTCService::CreateDTCService()", [&] {
        auto monitor = std::make_shared<DMService>(instance, std::move(updateCallback));
        service = std::make_shared<DTCServiceImpl>(std::move(monitor));
    });
    return service;
}

DTCServiceImpl::DTCServiceImpl(std::shared_ptr<DiagnosticMonitorServiceInterface> monitor)
    : m_monitor(std::move(monitor)) {}

DTCServiceImpl::~DTCServiceImpl() {
    bool started = false;
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        started = m_started;
    }
    if (started) {
        LogError() << "+++++ DTCServiceImpl not deactivated ... " << VLMR_FILE_LINE;
        const bool result = Shutdown();
        LogInfo() << "Result of shutdown for DTCService: " << (result ? "true" : "false") << VLMR_FILE_LINE;
    }
    LogInfo() << "+++++ DTCServiceImpl deleted ..." << VLMR_FILE_LINE;
}

bool DTCServiceImpl::Startup() {
    LogInfo() << "+++++ DTCServiceImpl::Startup() ... " << VLMR_FILE_LINE;
    std::lock_guard<std::mutex> lifecycle(m_lifecycleMutex);
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        if (m_started) {
            LogInfo() << "+++++ DTCServiceImpl::Startup() not executed, already started " << VLMR_FILE_LINE;
            return true;
        }
        m_known = false;
        m_started = true;
    }
    // A failed offer leaves the service started: SetDTCState then answers
    // false, because the monitor has nothing to send through.
    return m_monitor && m_monitor->start();
}

bool DTCServiceImpl::Shutdown() {
    LogInfo() << "+++++ DTCServiceImpl::Shutdown() ... " << VLMR_FILE_LINE;
    std::lock_guard<std::mutex> lifecycle(m_lifecycleMutex);
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        if (!m_started) {
            LogInfo() << "+++++ DTCServiceImpl::Shutdown() not executed, already stopped " << VLMR_FILE_LINE;
            return true;
        }
        m_known = false;
        m_started = false;
    }
    return !m_monitor || m_monitor->stop();
}

bool DTCServiceImpl::SetDTCState(int state, unsigned forceSet) {
    const unsigned force = forceSet & 0xFFU;
    const std::string text =
        "===== DTCServiceImpl::SetDTCState()  state: " + std::to_string(state) + " forceSet : " + std::to_string(force);
    LogError() << text << VLMR_FILE_LINE;
    std::cerr << text << std::endl;
    const std::string name = DTCStateName(state);

    std::lock_guard<std::mutex> lock(m_stateMutex);
    if (!m_started) {
        LogError() << "+++++ DTCServiceImpl::SetDTCState " << name << " not sent, because Service is not started "
                   << VLMR_FILE_LINE;
        return false;
    }
    const uint8_t value = static_cast<uint8_t>(state);
    const bool send = !m_known || force != 0 || value != m_lastState;
    if (!send) {
        LogInfo() << "+++++ DTCServiceImpl::SetDTCState " << name << " not sent " << VLMR_FILE_LINE;
        return true;
    }
    const int action = state != 0 ? 1 : 0;
    if (!m_monitor || !m_monitor->send(action)) {
        // The offer failed or was withdrawn: nothing reached the diagnostic
        // manager, so nothing is remembered as reported.
        LogError() << "+++++ DTCServiceImpl::SetDTCState " << name << " not sent, because Service is not offered "
                   << VLMR_FILE_LINE;
        return false;
    }
    m_lastState = value;
    m_known = true;
    std::cerr << text << " is sent to DM " << std::endl;
    LogInfo() << "+++++ DTCServiceImpl::SetDTCState " << name << " MonitorActionType = " << MonitorActionName(action)
              << " is sent to DM " << VLMR_FILE_LINE;
    return true;
}

bool DTCServiceImpl::GetDTCState(uint8_t& state) {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    if (m_known) {
        state = m_lastState;
    }
    return m_known;
}

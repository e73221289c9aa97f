// The DTCService over one DiagnosticMonitor instance.
//
// Threading: called from the runtime thread, the autonomous check's worker,
// method threads and the diagnostic-status thread. m_stateMutex guards the
// flags and the last state and is held while an action is sent; Startup and
// Shutdown are additionally serialised by m_lifecycleMutex, and they start or
// stop the monitor without m_stateMutex so that an InitMonitor callback that
// reports a state cannot deadlock with a Shutdown waiting for it.
#ifndef KIVLIBRARY_FUNCTIONAL_DTCSERVICEIMPL_H
#define KIVLIBRARY_FUNCTIONAL_DTCSERVICEIMPL_H

#include "KivLibrary/Functional/DMService.h"
#include "KivLibrary/Functional/DTCService.h"

#include <cstdint>
#include <memory>
#include <mutex>

class DTCServiceImpl : public DTCService {
public:
    explicit DTCServiceImpl(std::shared_ptr<DiagnosticMonitorServiceInterface> monitor);
    ~DTCServiceImpl() override;
    DTCServiceImpl(const DTCServiceImpl&) = delete;
    DTCServiceImpl& operator=(const DTCServiceImpl&) = delete;

    bool Startup() override;
    bool Shutdown() override;
    bool SetDTCState(int state, unsigned forceSet) override;
    bool GetDTCState(uint8_t& state) override;

private:
    uint8_t m_lastState = 0;
    bool m_known = false;
    bool m_started = false;
    std::shared_ptr<DiagnosticMonitorServiceInterface> m_monitor;

    std::mutex m_lifecycleMutex;
    std::mutex m_stateMutex;
};

// "DTC_PASSED", "DTC_FAILED", or a text naming the unknown value.
std::string DTCStateName(int state);

#endif

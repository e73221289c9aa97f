// One diagnostic trouble code monitor: keeps the last reported state and sends
// a passed/failed action to the diagnostic manager only when the state changed
// or the report is forced.
#ifndef KIVLIBRARY_FUNCTIONAL_DTCSERVICE_H
#define KIVLIBRARY_FUNCTIONAL_DTCSERVICE_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

enum DTCState : int {
    DTC_PASSED = 0,
    DTC_FAILED = 1,
};

class DTCService {
public:
    virtual ~DTCService() = default;

    virtual bool Startup() = 0;
    virtual bool Shutdown() = 0;
    // False while the service is not started; a non-zero forceSet sends an
    // unchanged state again.
    virtual bool SetDTCState(int state, unsigned forceSet) = 0;
    // False while no state was reported since the last start.
    virtual bool GetDTCState(uint8_t& state) = 0;
};

// Null when the monitor cannot be created.
std::shared_ptr<DTCService> CreateDTCService(const std::string& instance, std::function<void()> updateCallback);

#endif

// Interface description of the diagnostic manager's DiagnosticMonitor service:
// one offered instance per diagnostic trouble code the application reports.
#ifndef PLATFORM_SERVICES_ZOV_DM_DEM_DIAGNOSTICMONITOR_COMMON_H
#define PLATFORM_SERVICES_ZOV_DM_DEM_DIAGNOSTICMONITOR_COMMON_H

#include <cstdint>

namespace zov {
namespace dm {
namespace dem {

// Values of the MonitorAction event; other byte values may travel as well.
enum class MonitorActionType : uint8_t {
    kPassed = 0,
    kFailed = 1,
    kPrepassed = 2,
    kPrefailed = 3,
    kFdcThresholdReached = 4,
    kResetTestFailed = 5,
    kFreezeDebouncing = 6,
    kResetDebouncing = 7,
    kPrestore = 8,
    kClearPrestore = 9
};

// Why the diagnostic manager (re)initialises a monitor; other values may arrive.
enum class InitMonitorReasonType : uint8_t { kClear = 0, kRestart = 1, kReenabled = 2, kStorageReenabled = 3 };

namespace DiagnosticMonitor {

inline constexpr const char* kServiceName = "zov::dm::dem::DiagnosticMonitor";

struct InitMonitor {
    static constexpr const char* kName = "InitMonitor";
    using Signature = void(InitMonitorReasonType);
};

struct MonitorAction {
    static constexpr const char* kName = "MonitorAction";
    using EventType = MonitorActionType;
};

}  // namespace DiagnosticMonitor
}  // namespace dem
}  // namespace dm
}  // namespace zov

#endif

// What routine 0x0253 sees of the same routine on the other application
// instance: one connection attempt without waiting, whether it is connected,
// and Start/Cancel forwarded with the caller's meta-information.
//
// Threading: any thread; implementations guard their proxy themselves. The
// futures complete on binding threads (or are ready when returned).
#ifndef KIVLIBRARY_ROUTINES_RC0253INTERFACE_H
#define KIVLIBRARY_ROUTINES_RC0253INTERFACE_H

#include "platform/com/Future.h"
#include "platform/services/zenqo/services/diag/r_0253/RoutineService_CalculateIntegrityValidationData_common.h"
#include "platform/services/zov/dm/types/MetaInfoType.h"

#include <cstdint>

class RC0253Interface {
public:
    using StartOutput = zenqo::services::diag::r_0253::RoutineService_CalculateIntegrityValidationData::Start::Output;
    using MetaInfo = zov::dm::types::MetaInfoType;

    virtual ~RC0253Interface() = default;
    // Launches the client: one connection attempt; true when no step failed
    // (not whether the other instance was found).
    virtual bool Start() = 0;
    virtual bool Stop() = 0;
    virtual bool IsConnected() = 0;
    virtual jux::com::Future<StartOutput> StartFunction(const MetaInfo& metaInfo, uint8_t calculationType,
                                                        uint8_t hashType) = 0;
    virtual jux::com::Future<void> CancelFunction(const MetaInfo& metaInfo) = 0;
    virtual void Nop() {}
    virtual void Connect() = 0;
};

// The answer this instance builds itself: "incorrect", no hash.
inline RC0253Interface::StartOutput DefaultStartOutput0253() {
    RC0253Interface::StartOutput output;
    output.IVD_Result = 1;
    output.IVD_Flag = 1;
    return output;
}

#endif

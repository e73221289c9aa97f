// The negative answers of the routines, built once and shared: one constant
// per routine, method position and negative response code. Immutable, so any
// thread may copy them into a promise.
#ifndef KIVLIBRARY_ROUTINES_ROUTINENRC_H
#define KIVLIBRARY_ROUTINES_ROUTINENRC_H

#include "platform/services/zenqo/services/diag/r_0202/RoutineService_CheckMemory_common.h"
#include "platform/services/zenqo/services/diag/r_0203/RoutineService_CheckProgrammingPreconditions_common.h"
#include "platform/services/zenqo/services/diag/r_0253/RoutineService_CalculateIntegrityValidationData_common.h"
#include "platform/services/zenqo/services/diag/r_029a/RoutineService_CalculateModuleHashValue_common.h"
#include "platform/services/zenqo/services/diag/r_c010/RoutineService_StartUpdate_common.h"

#include "uds/Nrc.h"

#include <cstdint>

namespace RoutineNrc {

using UDS::Nrc;
constexpr uint8_t Code(Nrc nrc) { return UDS::ToByte(nrc); }

using Failed0202 = zenqo::services::diag::r_0202::RoutineService_CheckMemory::UDSServiceFailed;
using Failed0203 = zenqo::services::diag::r_0203::RoutineService_CheckProgrammingPreconditions::UDSServiceFailed;
using Failed0253 = zenqo::services::diag::r_0253::RoutineService_CalculateIntegrityValidationData::UDSServiceFailed;
using Failed029A = zenqo::services::diag::r_029a::RoutineService_CalculateModuleHashValue::UDSServiceFailed;
using FailedC010 = zenqo::services::diag::r_c010::RoutineService_StartUpdate::UDSServiceFailed;

// 0x0202 Start.
inline const Failed0202 k0202ConditionsNotCorrect{Code(Nrc::conditionsNotCorrect)};

// 0x0203 Start.
inline const Failed0203 k0203ConditionsNotCorrect{Code(Nrc::conditionsNotCorrect)};

// 0x0253 Start and Cancel (one byte).
inline const Failed0253 k0253RequestOutOfRange{Code(Nrc::requestOutOfRange)};
inline const Failed0253 k0253ConditionsNotCorrect{Code(Nrc::conditionsNotCorrect)};
inline const Failed0253 k0253GeneralReject{Code(Nrc::generalReject)};

// 0x029A: bytes RequestResults, Start, Stop; Cancel uses the Start byte.
inline const Failed029A k029AStartRequestOutOfRange{0, Code(Nrc::requestOutOfRange), 0};
inline const Failed029A k029AStartConditionsNotCorrect{0, Code(Nrc::conditionsNotCorrect), 0};
inline const Failed029A k029AStartGeneralReject{0, Code(Nrc::generalReject), 0};
inline const Failed029A k029ACancelConditionsNotCorrect{0, Code(Nrc::conditionsNotCorrect), 0};
inline const Failed029A k029AStopConditionsNotCorrect{0, 0, Code(Nrc::conditionsNotCorrect)};
inline const Failed029A k029AResultsSequenceError{Code(Nrc::requestSequenceError), 0, 0};
inline const Failed029A k029AResultsConditionsNotCorrect{Code(Nrc::conditionsNotCorrect), 0, 0};

// 0xC010: bytes RequestResults, Start, Stop.
inline const FailedC010 kC010StartConditionsNotCorrect{0, Code(Nrc::conditionsNotCorrect), 0};
inline const FailedC010 kC010StopConditionsNotCorrect{0, 0, Code(Nrc::conditionsNotCorrect)};
inline const FailedC010 kC010ResultsConditionsNotCorrect{Code(Nrc::conditionsNotCorrect), 0, 0};

}  // namespace RoutineNrc

#endif

// Standard types shared by the platform's update-manager interfaces.
#ifndef PLATFORM_SERVICES_ARA_STDTYPES_STDTYPES_H
#define PLATFORM_SERVICES_ARA_STDTYPES_STDTYPES_H

#include <cstdint>

namespace ara {
namespace stdtypes {

// Installation status: 0 IntegrityMismatch, 1 InvalidSessionId, 2 InvalidManifest,
// 3 ServiceNotSupported, 4 UpdateCancelled, 5 ErrorInHvUpdate, 6 UnknownError,
// 7 Success. A plain byte, as other values may arrive and must pass unchanged.
using InstallStatusType = uint8_t;

}  // namespace stdtypes
}  // namespace ara

#endif

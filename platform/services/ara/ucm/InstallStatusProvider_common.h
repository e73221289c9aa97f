// Interface description of the update manager's InstallStatusProvider service:
// after an installation, whether the installed software clusters are intact.
#ifndef PLATFORM_SERVICES_ARA_UCM_INSTALLSTATUSPROVIDER_COMMON_H
#define PLATFORM_SERVICES_ARA_UCM_INSTALLSTATUSPROVIDER_COMMON_H

#include <cstdint>
#include <vector>

#include "platform/services/ara/stdtypes/StdTypes.h"
#include "platform/services/ara/ucm/UcmTypes.h"

namespace ara {
namespace ucm {
namespace InstallStatusProvider {

inline constexpr const char* kServiceName = "ara::ucm::InstallStatusProvider";

struct GetInstallationStatus {
    static constexpr const char* kName = "GetInstallationStatus";
    struct Output {
        ara::stdtypes::InstallStatusType Status = 0;
        InstallationErrorType Error;
        std::vector<ClusterIntegrityDataType> IntegrityData;
    };
    using Signature = Output(uint32_t /*id*/);
};

}  // namespace InstallStatusProvider
}  // namespace ucm
}  // namespace ara

#endif

// Interface description of the update manager's ClusterIntegrityProvider
// service: integrity validation data of one software cluster, and its cancel.
#ifndef PLATFORM_SERVICES_ARA_UCM_CLUSTERINTEGRITYPROVIDER_COMMON_H
#define PLATFORM_SERVICES_ARA_UCM_CLUSTERINTEGRITYPROVIDER_COMMON_H

#include <cstdint>
#include <string>

#include "platform/services/ara/stdtypes/StdTypes.h"
#include "platform/services/ara/ucm/UcmTypes.h"

namespace ara {
namespace ucm {
namespace ClusterIntegrityProvider {

inline constexpr const char* kServiceName = "ara::ucm::ClusterIntegrityProvider";

struct GetSwClusterIntegrity {
    static constexpr const char* kName = "GetSwClusterIntegrity";
    struct Output {
        ara::stdtypes::InstallStatusType Status = 0;
        std::string Cluster;
        IntegrityDataType IntegrityData{};
        InstallationErrorType Error;
    };
    using Signature = Output(std::string /*cluster*/, bool /*readPartitionB*/);
};

struct Cancel {
    static constexpr const char* kName = "Cancel";
    struct Output {
        uint8_t Status = 0;
    };
    using Signature = Output(std::string /*cluster*/);
};

}  // namespace ClusterIntegrityProvider
}  // namespace ucm
}  // namespace ara

#endif

// Every service interface header compiles on its own terms, and no two
// interfaces share a registry name (they would refuse each other's offers).
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/services/ServiceSignature.h"
#include "platform/services/ara/stdtypes/StdTypes.h"
#include "platform/services/ara/ucm/ClusterIntegrityProvider_common.h"
#include "platform/services/ara/ucm/ClusterIntegrityProvider_proxy.h"
#include "platform/services/ara/ucm/ClusterIntegrityProvider_skeleton.h"
#include "platform/services/ara/ucm/InstallStatusProvider_common.h"
#include "platform/services/ara/ucm/InstallStatusProvider_proxy.h"
#include "platform/services/ara/ucm/InstallStatusProvider_skeleton.h"
#include "platform/services/ara/ucm/PackageManagement_common.h"
#include "platform/services/ara/ucm/PackageManagement_proxy.h"
#include "platform/services/ara/ucm/PackageManagement_skeleton.h"
#include "platform/services/ara/ucm/UcmTypes.h"
#include "platform/services/jux/swl/ProgrammingPreCondition_common.h"
#include "platform/services/jux/swl/ProgrammingPreCondition_proxy.h"
#include "platform/services/jux/swl/ProgrammingPreCondition_skeleton.h"
#include "platform/services/zenqo/services/diag/r_0202/RoutineService_CheckMemory_common.h"
#include "platform/services/zenqo/services/diag/r_0202/RoutineService_CheckMemory_proxy.h"
#include "platform/services/zenqo/services/diag/r_0202/RoutineService_CheckMemory_skeleton.h"
#include "platform/services/zenqo/services/diag/r_0203/RoutineService_CheckProgrammingPreconditions_common.h"
#include "platform/services/zenqo/services/diag/r_0203/RoutineService_CheckProgrammingPreconditions_proxy.h"
#include "platform/services/zenqo/services/diag/r_0203/RoutineService_CheckProgrammingPreconditions_skeleton.h"
#include "platform/services/zenqo/services/diag/r_0253/RoutineService_CalculateIntegrityValidationData_common.h"
#include "platform/services/zenqo/services/diag/r_0253/RoutineService_CalculateIntegrityValidationData_proxy.h"
#include "platform/services/zenqo/services/diag/r_0253/RoutineService_CalculateIntegrityValidationData_skeleton.h"
#include "platform/services/zenqo/services/diag/r_029a/RoutineService_CalculateModuleHashValue_common.h"
#include "platform/services/zenqo/services/diag/r_029a/RoutineService_CalculateModuleHashValue_proxy.h"
#include "platform/services/zenqo/services/diag/r_029a/RoutineService_CalculateModuleHashValue_skeleton.h"
#include "platform/services/zenqo/services/diag/r_c00e/RoutineService_CheckUpdate_common.h"
#include "platform/services/zenqo/services/diag/r_c00e/RoutineService_CheckUpdate_proxy.h"
#include "platform/services/zenqo/services/diag/r_c00e/RoutineService_CheckUpdate_skeleton.h"
#include "platform/services/zenqo/services/diag/r_c010/RoutineService_StartUpdate_common.h"
#include "platform/services/zenqo/services/diag/r_c010/RoutineService_StartUpdate_proxy.h"
#include "platform/services/zenqo/services/diag/r_c010/RoutineService_StartUpdate_skeleton.h"
#include "platform/services/zenqo/services/diag/r_ff00/RoutineService_EraseMemory_common.h"
#include "platform/services/zenqo/services/diag/r_ff00/RoutineService_EraseMemory_proxy.h"
#include "platform/services/zenqo/services/diag/r_ff00/RoutineService_EraseMemory_skeleton.h"
#include "platform/services/zenqo/services/diag/r_ff01/RoutineService_CheckProgrammingDependencies_common.h"
#include "platform/services/zenqo/services/diag/r_ff01/RoutineService_CheckProgrammingDependencies_proxy.h"
#include "platform/services/zenqo/services/diag/r_ff01/RoutineService_CheckProgrammingDependencies_skeleton.h"
#include "platform/services/zenqo/services/diagnosticinfo/DiagnosticInfo_common.h"
#include "platform/services/zenqo/services/diagnosticinfo/DiagnosticInfo_proxy.h"
#include "platform/services/zenqo/services/diagnosticinfo/DiagnosticInfo_skeleton.h"
#include "platform/services/zov/dm/dem/DiagnosticMonitor_common.h"
#include "platform/services/zov/dm/dem/DiagnosticMonitor_proxy.h"
#include "platform/services/zov/dm/dem/DiagnosticMonitor_skeleton.h"
#include "platform/services/zov/dm/genericuds/GenericUDSService_common.h"
#include "platform/services/zov/dm/genericuds/GenericUDSService_proxy.h"
#include "platform/services/zov/dm/genericuds/GenericUDSService_skeleton.h"
#include "platform/services/zov/dm/securityaccess/SecurityAccess_common.h"
#include "platform/services/zov/dm/securityaccess/SecurityAccess_proxy.h"
#include "platform/services/zov/dm/securityaccess/SecurityAccess_skeleton.h"
#include "platform/services/zov/dm/types/MetaInfoType.h"

namespace {

template <typename Skeleton, typename Proxy>
std::string NameOf() {
    EXPECT_STREQ(Skeleton::kServiceName, Proxy::kServiceName);
    return Skeleton::kServiceName;
}

TEST(ServiceInterfaces, SkeletonAndProxyAgreeAndNamesAreUnique) {
    namespace diag = zenqo::services::diag;
    const std::set<std::string> names{
        NameOf<zov::dm::genericuds::skeleton::GenericUDSServiceSkeleton,
               zov::dm::genericuds::proxy::GenericUDSServiceProxy>(),
        NameOf<zov::dm::securityaccess::skeleton::SecurityAccessSkeleton,
               zov::dm::securityaccess::proxy::SecurityAccessProxy>(),
        NameOf<zov::dm::dem::skeleton::DiagnosticMonitorSkeleton, zov::dm::dem::proxy::DiagnosticMonitorProxy>(),
        NameOf<zenqo::services::diagnosticinfo::skeleton::DiagnosticInfoSkeleton,
               zenqo::services::diagnosticinfo::proxy::DiagnosticInfoProxy>(),
        NameOf<diag::r_0202::skeleton::RoutineService_CheckMemorySkeleton,
               diag::r_0202::proxy::RoutineService_CheckMemoryProxy>(),
        NameOf<diag::r_0203::skeleton::RoutineService_CheckProgrammingPreconditionsSkeleton,
               diag::r_0203::proxy::RoutineService_CheckProgrammingPreconditionsProxy>(),
        NameOf<diag::r_c00e::skeleton::RoutineService_CheckUpdateSkeleton,
               diag::r_c00e::proxy::RoutineService_CheckUpdateProxy>(),
        NameOf<diag::r_c010::skeleton::RoutineService_StartUpdateSkeleton,
               diag::r_c010::proxy::RoutineService_StartUpdateProxy>(),
        NameOf<diag::r_ff00::skeleton::RoutineService_EraseMemorySkeleton,
               diag::r_ff00::proxy::RoutineService_EraseMemoryProxy>(),
        NameOf<diag::r_ff01::skeleton::RoutineService_CheckProgrammingDependenciesSkeleton,
               diag::r_ff01::proxy::RoutineService_CheckProgrammingDependenciesProxy>(),
        NameOf<diag::r_0253::skeleton::RoutineService_CalculateIntegrityValidationDataSkeleton,
               diag::r_0253::proxy::RoutineService_CalculateIntegrityValidationDataProxy>(),
        NameOf<diag::r_029a::skeleton::RoutineService_CalculateModuleHashValueSkeleton,
               diag::r_029a::proxy::RoutineService_CalculateModuleHashValueProxy>(),
        NameOf<jux::swl::skeleton::ProgrammingPreConditionSkeleton, jux::swl::proxy::ProgrammingPreConditionProxy>(),
        NameOf<ara::ucm::skeleton::PackageManagementSkeleton, ara::ucm::proxy::PackageManagementProxy>(),
        NameOf<ara::ucm::skeleton::InstallStatusProviderSkeleton, ara::ucm::proxy::InstallStatusProviderProxy>(),
        NameOf<ara::ucm::skeleton::ClusterIntegrityProviderSkeleton, ara::ucm::proxy::ClusterIntegrityProviderProxy>(),
    };
    EXPECT_EQ(names.size(), 16u);
}

}  // namespace

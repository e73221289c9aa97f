// Skeleton of the PackageManagement service (offered by the simulated update manager).
#ifndef PLATFORM_SERVICES_ARA_UCM_PACKAGEMANAGEMENT_SKELETON_H
#define PLATFORM_SERVICES_ARA_UCM_PACKAGEMANAGEMENT_SKELETON_H

#include <string>
#include <utility>

#include "platform/com/Skeleton.h"
#include "platform/services/ServiceSignature.h"
#include "platform/services/ara/ucm/PackageManagement_common.h"

namespace ara {
namespace ucm {
namespace skeleton {

class PackageManagementSkeleton : public ara::com::internal::skeleton::SkeletonBase {
public:
    static constexpr const char* kServiceName = PackageManagement::kServiceName;

    explicit PackageManagementSkeleton(
        std::string instance, ara::com::MethodCallProcessingMode mode = ara::com::MethodCallProcessingMode::kEvent)
        : SkeletonBase(kServiceName, std::move(instance), mode),
          CurrentStatus(*this, PackageManagement::CurrentStatus::kName) {
        RegisterMethod(PackageManagement::Start::kName, &PackageManagementSkeleton::Start);
        RegisterMethod(PackageManagement::TransferStart::kName, &PackageManagementSkeleton::TransferStart);
        RegisterMethod(PackageManagement::TransferData::kName, &PackageManagementSkeleton::TransferData);
        RegisterMethod(PackageManagement::TransferExit::kName, &PackageManagementSkeleton::TransferExit);
        RegisterMethod(PackageManagement::InstallUpdate::kName, &PackageManagementSkeleton::InstallUpdate);
        RegisterMethod(PackageManagement::CommitUpdate::kName, &PackageManagementSkeleton::CommitUpdate);
        RegisterMethod(PackageManagement::CancelUpdate::kName, &PackageManagementSkeleton::CancelUpdate);
        RegisterMethod(PackageManagement::Close::kName, &PackageManagementSkeleton::Close);
        RegisterMethod(PackageManagement::GetProgress::kName, &PackageManagementSkeleton::GetProgress);
        RegisterMethod(PackageManagement::GetLog::kName, &PackageManagementSkeleton::GetLog);
        RegisterMethod(PackageManagement::GetInstallationResult::kName,
                       &PackageManagementSkeleton::GetInstallationResult);
    }

    virtual jux::com::Future<PackageManagement::Start::Output> Start() = 0;
    virtual jux::com::Future<PackageManagement::TransferStart::Output> TransferStart(uint32_t id, uint32_t size) = 0;
    virtual jux::com::Future<PackageManagement::TransferData::Output> TransferData(uint32_t id,
                                                                                   const std::vector<uint8_t>& data,
                                                                                   uint32_t blockCounter) = 0;
    virtual jux::com::Future<PackageManagement::TransferExit::Output> TransferExit(uint32_t id) = 0;
    virtual jux::com::Future<void> InstallUpdate(uint32_t id) = 0;
    virtual jux::com::Future<void> CommitUpdate(uint32_t id) = 0;
    virtual jux::com::Future<void> CancelUpdate(uint32_t id) = 0;
    virtual jux::com::Future<void> Close(uint32_t id) = 0;
    virtual jux::com::Future<PackageManagement::GetProgress::Output> GetProgress(uint32_t id) = 0;
    virtual jux::com::Future<PackageManagement::GetLog::Output> GetLog(uint32_t id) = 0;
    virtual jux::com::Future<PackageManagement::GetInstallationResult::Output> GetInstallationResult(uint32_t id) = 0;

    ara::com::internal::skeleton::Field<PackageManagement::CurrentStatus::FieldType> CurrentStatus;
};

#define VLMR_CHECK_UCM_METHOD(name)                                                                             \
    static_assert(                                                                                              \
        platform::services::HasSignature<PackageManagement::name::Signature>(&PackageManagementSkeleton::name), \
        #name " differs from the interface")
VLMR_CHECK_UCM_METHOD(Start);
VLMR_CHECK_UCM_METHOD(TransferStart);
VLMR_CHECK_UCM_METHOD(TransferData);
VLMR_CHECK_UCM_METHOD(TransferExit);
VLMR_CHECK_UCM_METHOD(InstallUpdate);
VLMR_CHECK_UCM_METHOD(CommitUpdate);
VLMR_CHECK_UCM_METHOD(CancelUpdate);
VLMR_CHECK_UCM_METHOD(Close);
VLMR_CHECK_UCM_METHOD(GetProgress);
VLMR_CHECK_UCM_METHOD(GetLog);
VLMR_CHECK_UCM_METHOD(GetInstallationResult);
#undef VLMR_CHECK_UCM_METHOD

}  // namespace skeleton
}  // namespace ucm
}  // namespace ara

#endif

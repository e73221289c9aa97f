// Proxy of the update manager's PackageManagement service.
#ifndef PLATFORM_SERVICES_ARA_UCM_PACKAGEMANAGEMENT_PROXY_H
#define PLATFORM_SERVICES_ARA_UCM_PACKAGEMANAGEMENT_PROXY_H

#include "platform/com/Proxy.h"
#include "platform/services/ara/ucm/PackageManagement_common.h"

namespace ara {
namespace ucm {
namespace proxy {

class PackageManagementProxy : public ara::com::internal::proxy::ProxyBase<PackageManagementProxy> {
public:
    static constexpr const char* kServiceName = PackageManagement::kServiceName;

    explicit PackageManagementProxy(const HandleType& handle)
        : ProxyBase(handle),
          Start(*this, PackageManagement::Start::kName),
          TransferStart(*this, PackageManagement::TransferStart::kName),
          TransferData(*this, PackageManagement::TransferData::kName),
          TransferExit(*this, PackageManagement::TransferExit::kName),
          InstallUpdate(*this, PackageManagement::InstallUpdate::kName),
          CommitUpdate(*this, PackageManagement::CommitUpdate::kName),
          CancelUpdate(*this, PackageManagement::CancelUpdate::kName),
          Close(*this, PackageManagement::Close::kName),
          GetProgress(*this, PackageManagement::GetProgress::kName),
          GetLog(*this, PackageManagement::GetLog::kName),
          GetInstallationResult(*this, PackageManagement::GetInstallationResult::kName),
          CurrentStatus(*this, PackageManagement::CurrentStatus::kName) {}

    ara::com::internal::proxy::Method<PackageManagement::Start::Signature> Start;
    ara::com::internal::proxy::Method<PackageManagement::TransferStart::Signature> TransferStart;
    ara::com::internal::proxy::Method<PackageManagement::TransferData::Signature> TransferData;
    ara::com::internal::proxy::Method<PackageManagement::TransferExit::Signature> TransferExit;
    ara::com::internal::proxy::Method<PackageManagement::InstallUpdate::Signature> InstallUpdate;
    ara::com::internal::proxy::Method<PackageManagement::CommitUpdate::Signature> CommitUpdate;
    ara::com::internal::proxy::Method<PackageManagement::CancelUpdate::Signature> CancelUpdate;
    ara::com::internal::proxy::Method<PackageManagement::Close::Signature> Close;
    ara::com::internal::proxy::Method<PackageManagement::GetProgress::Signature> GetProgress;
    ara::com::internal::proxy::Method<PackageManagement::GetLog::Signature> GetLog;
    ara::com::internal::proxy::Method<PackageManagement::GetInstallationResult::Signature> GetInstallationResult;
    ara::com::internal::proxy::Field<PackageManagement::CurrentStatus::FieldType> CurrentStatus;
};

}  // namespace proxy
}  // namespace ucm
}  // namespace ara

#endif

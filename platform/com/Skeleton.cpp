#include "platform/com/Skeleton.h"

#include "platform/com/detail/Core.h"

namespace ara {
namespace com {
namespace internal {
namespace skeleton {

SkeletonBase::SkeletonBase(std::string serviceName, std::string instanceId, MethodCallProcessingMode mode)
    : m_core(std::make_shared<zov::com::detail::SkeletonCore>(std::move(serviceName), std::move(instanceId), mode)) {}

SkeletonBase::~SkeletonBase() {
    StopOfferService();
    m_core->Retire();
}

void SkeletonBase::OfferService() {
    const auto fields = m_core->Fields();
    for (const auto& field : fields) {
        if (!field.second->HasValueOrGetHandler()) {
            throw std::logic_error("Field " + field.first + " of " + GetServiceName() +
                                   " has neither a value nor a get handler");
        }
    }
    for (const auto& field : fields) {
        field.second->NewOffer();
    }
    m_core->StartDispatcher();
    zov::com::detail::Registry::Instance().Offer(m_core);
    m_core->SetOffered(true);
    for (const auto& field : fields) {
        field.second->SendCurrentToAll();
    }
}

void SkeletonBase::StopOfferService() {
    m_core->SetOffered(false);
    zov::com::detail::Registry::Instance().StopOffer(m_core.get());
}

void SkeletonBase::StartMethodDispatcher() { m_core->StartDispatcher(); }

bool SkeletonBase::StopMethodDispatcher() { return m_core->StopDispatcher(); }

bool SkeletonBase::IsOffered() const { return m_core->IsOffered(); }

const std::string& SkeletonBase::GetServiceName() const { return m_core->ServiceName(); }

const std::string& SkeletonBase::GetInstanceId() const { return m_core->InstanceId(); }

}  // namespace skeleton
}  // namespace internal
}  // namespace com
}  // namespace ara

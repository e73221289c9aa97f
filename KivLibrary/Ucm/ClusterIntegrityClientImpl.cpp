#include "KivLibrary/Ucm/ClusterIntegrityClientImpl.h"

#include <utility>

#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Ucm/UcmContinuation.h"

namespace {

using Output = ara::ucm::ClusterIntegrityProvider::GetSwClusterIntegrity::Output;
using CancelOutput = ara::ucm::ClusterIntegrityProvider::Cancel::Output;

SwClusterIntegrity Convert(const Output& out) {
    SwClusterIntegrity value;
    value.status = out.Status;
    value.clusterName = out.Cluster;
    value.ivd = out.IntegrityData;
    value.errorTexts = {out.Error.Cluster, out.Error.Container, out.Error.File, out.Error.ExpectedHash,
                        out.Error.CalculatedHash};
    return value;
}

// The callback runs once per answer; what it throws stays here.
template <typename Callback, typename Value>
void Deliver(const Callback& callback, Value value, const char* what) {
    try {
        callback(std::move(value));
    } catch (const std::exception& e) {
        LogError() << what << " callback threw: " << e.what();
    } catch (...) {
        LogError() << what << " callback threw an unknown exception";
    }
}

}  // namespace

ClusterIntegrityClientImpl::ClusterIntegrityClientImpl(std::string instance)
    : Client<ara::ucm::proxy::ClusterIntegrityProviderProxy>(std::move(instance), "Client") {}

ClusterIntegrityClientImpl::~ClusterIntegrityClientImpl() { StopSearch(); }

bool ClusterIntegrityClientImpl::GetSwClusterIntegrity(std::string clusterName, bool readPartitionB,
                                                       std::function<void(SwClusterIntegrity)> callback) {
    const auto proxy = GetProxy();
    if (!proxy) {
        return false;
    }
    auto answer = proxy->GetSwClusterIntegrity(clusterName, readPartitionB);
    auto onValue = [callback](const Output& out) { Deliver(callback, Convert(out), "GetSwClusterIntegrity"); };
    // An error answer still ends the request for the caller: no data, the cluster it asked for.
    auto onError = [callback, clusterName](const std::exception& e) {
        LogError() << "GetSwClusterIntegrity for " << clusterName << " failed: " << e.what();
        SwClusterIntegrity empty;
        empty.status = kErrorAnswerStatus;
        empty.clusterName = clusterName;
        Deliver(callback, std::move(empty), "GetSwClusterIntegrity");
    };
    answer.then(UCM::detail::MakeContinuation<Output>(std::move(onValue), std::move(onError)));
    return true;
}

bool ClusterIntegrityClientImpl::Cancel(std::string clusterName, std::function<void(CancelStatusType)> callback) {
    const auto proxy = GetProxy();
    if (!proxy) {
        return false;
    }
    auto answer = proxy->Cancel(clusterName);
    auto onValue = [callback](const CancelOutput& out) { Deliver(callback, out.Status, "Cancel"); };
    auto onError = [callback, clusterName](const std::exception& e) {
        LogError() << "Cancel of the integrity request for " << clusterName << " failed: " << e.what();
        Deliver(callback, kCancelErrorStatus, "Cancel");
    };
    answer.then(UCM::detail::MakeContinuation<CancelOutput>(std::move(onValue), std::move(onError)));
    return true;
}

std::shared_ptr<ClusterIntegrityClient> CreateClusterIntegrityClient(const std::string& instance) {
    auto client = std::make_shared<ClusterIntegrityClientImpl>(instance);
    client->ConnectAsynchronously();
    return client;
}

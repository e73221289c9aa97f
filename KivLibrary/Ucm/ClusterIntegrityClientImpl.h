// Client of the update manager's ClusterIntegrityProvider service: integrity
// validation data of one software cluster of partition A or B, and the cancel
// of such a request. Requests come from any thread without waiting; the
// answers (an error answer included) reach the callbacks on binding threads.
#ifndef KIVLIBRARY_UCM_CLUSTERINTEGRITYCLIENTIMPL_H
#define KIVLIBRARY_UCM_CLUSTERINTEGRITYCLIENTIMPL_H

#include <functional>
#include <memory>
#include <string>

#include "KivLibrary/Ucm/UcmClientInterfaces.h"
#include "communication/Client.h"
#include "platform/services/ara/ucm/ClusterIntegrityProvider_proxy.h"

class ClusterIntegrityClientImpl : public ClusterIntegrityClient,
                                   public Client<ara::ucm::proxy::ClusterIntegrityProviderProxy> {
public:
    // Status handed over for an error answer: no data, move on.
    static constexpr uint8_t kErrorAnswerStatus = 2;
    static constexpr uint8_t kCancelErrorStatus = 0xFF;

    explicit ClusterIntegrityClientImpl(std::string instance);
    ~ClusterIntegrityClientImpl() override;

    bool GetSwClusterIntegrity(std::string clusterName, bool readPartitionB,
                               std::function<void(SwClusterIntegrity)> callback) override;
    bool Cancel(std::string clusterName, std::function<void(CancelStatusType)> callback) override;

protected:
    void Create() override {}
};

std::shared_ptr<ClusterIntegrityClient> CreateClusterIntegrityClient(const std::string& instance);

#endif

// Client of the update manager's InstallStatusProvider service: whether the
// clusters of an installation are intact, with their integrity data. Connects
// asynchronously; until the service is found the operation returns false.
// The answer (value or error) arrives on a binding thread.
#ifndef KIVLIBRARY_UCM_INSTALLATIONSTATUSPROVIDER_H
#define KIVLIBRARY_UCM_INSTALLATIONSTATUSPROVIDER_H

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "KivLibrary/Ucm/UcmClientInterfaces.h"
#include "KivLibrary/Ucm/UcmContinuation.h"
#include "communication/Client.h"
#include "platform/services/ara/ucm/InstallStatusProvider_proxy.h"

template <typename Proxy>
class InstallationStatusProvider : public InstallStatusProvider, public Client<Proxy> {
public:
    explicit InstallationStatusProvider(std::string instance) : Client<Proxy>(std::move(instance), "Client") {}
    ~InstallationStatusProvider() override { this->StopSearch(); }

    bool GetInstallationStatus(uint32_t id, std::function<void(InstallationStatusResult)> callback,
                               UcmErrorCallback error) override {
        const std::shared_ptr<Proxy> proxy = this->GetProxy();
        if (!proxy) {
            return false;
        }
        auto answer = proxy->GetInstallationStatus(id);
        using Output = decltype(answer.get());
        auto deliver = [callback = std::move(callback)](const Output& out) { callback(Convert(out)); };
        jux::com::Future<void> continuation =
            answer.then(UCM::detail::MakeContinuation<Output>(std::move(deliver), std::move(error)));
        std::lock_guard<std::mutex> lock(m_holderMutex);
        m_holder = std::move(continuation);
        return true;
    }

    template <typename Output>
    static InstallationStatusResult Convert(const Output& out) {
        InstallationStatusResult result;
        result.Status = out.Status;
        result.Error.Cluster = out.Error.Cluster;
        result.Error.Container = out.Error.Container;
        result.Error.File = out.Error.File;
        result.Error.ExpectedHash = out.Error.ExpectedHash;
        result.Error.CalculatedHash = out.Error.CalculatedHash;
        result.IntegrityData.reserve(out.IntegrityData.size());
        for (const auto& entry : out.IntegrityData) {
            InstallationStatusResult::IntegrityEntry copy;
            copy.clusterName = entry.Cluster;
            copy.data = entry.Data;
            result.IntegrityData.push_back(std::move(copy));
        }
        return result;
    }

protected:
    void Create() override {}

private:
    std::mutex m_holderMutex;
    jux::com::Future<void> m_holder;  // keeps the last continuation alive; never read
};

std::shared_ptr<InstallStatusProvider> CreateInstallationStatusProvider(const std::string& instance);

#endif

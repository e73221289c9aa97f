// Client of the update manager's PackageManagement service: one callback-style
// operation per method, plus the CurrentStatus subscription whose values go to
// the callback given at construction. Connects asynchronously; until the
// service is found every operation returns false. Operations may be called
// from any thread; answers and notifications arrive on binding threads with no
// lock of the client held.
#ifndef KIVLIBRARY_UCM_PACKAGEMANAGEMENTCLIENT_H
#define KIVLIBRARY_UCM_PACKAGEMANAGEMENTCLIENT_H

#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Ucm/UcmClientInterfaces.h"
#include "KivLibrary/Ucm/UcmContinuation.h"
#include "communication/Client.h"
#include "communication/Handler.h"
#include "platform/services/ara/ucm/PackageManagement_proxy.h"

// Adapts one proxy field to a std::function. Holds a non-owning pointer into
// the proxy: the owner drops it before the proxy goes.
template <typename FieldSpec, typename FieldType>
class FieldHandler : public Handler {
public:
    using Value = typename FieldSpec::FieldType;

    FieldHandler(FieldType* field, std::function<void(const Value&)> handler)
        : m_field(field), m_handler(std::move(handler)) {
        FieldType* target = m_field;
        auto onValue = m_handler;
        m_field->SetReceiveHandler([target, onValue] {
            target->GetNewSamples(
                [&onValue](const ara::com::SamplePtr<const Value>& sample) {
                    if (sample && onValue) {
                        onValue(*sample);
                    }
                },
                1);
        });
    }

    ~FieldHandler() override {
        m_field->Unsubscribe();
        m_field->UnsetReceiveHandler();
    }

    FieldHandler(const FieldHandler&) = delete;
    FieldHandler& operator=(const FieldHandler&) = delete;

    void Subscribe() override { m_field->Subscribe(1); }
    void Unsubscribe() override { m_field->Unsubscribe(); }

private:
    FieldType* m_field;
    std::function<void(const Value&)> m_handler;
};

template <typename Proxy>
class PackageManagementClient : public PackageManagement, public Client<Proxy> {
public:
    using CurrentStatusCallback = std::function<void(CurrentStatusType)>;
    // The endpoint's lifecycle Start() stays reachable beside UCM's Start.
    using Client<Proxy>::Start;

    PackageManagementClient(std::string instance, CurrentStatusCallback currentStatusCallback)
        : Client<Proxy>(std::move(instance), "Client"), m_currentStatusCallback(std::move(currentStatusCallback)) {}

    ~PackageManagementClient() override {
        this->StopSearch();
        const std::string description = this->GetDescription();
        LogSuccessOrFailure(this->Shutdown(), "Did shutdown of " + description, "Failed to shutdown " + description);
    }

    bool CancelUpdate(uint32_t id, std::function<void()> result, UcmErrorCallback error) override {
        return Send(
            kCancelUpdate, [id](Proxy& p) { return p.CancelUpdate(id); }, std::move(result), std::move(error));
    }
    bool Close(uint32_t id, std::function<void()> result, UcmErrorCallback error) override {
        return Send(
            kClose, [id](Proxy& p) { return p.Close(id); }, std::move(result), std::move(error));
    }
    bool CommitUpdate(uint32_t id, std::function<void()> result, UcmErrorCallback error) override {
        return Send(
            kCommitUpdate, [id](Proxy& p) { return p.CommitUpdate(id); }, std::move(result), std::move(error));
    }
    bool InstallUpdate(uint32_t id, std::function<void()> result, UcmErrorCallback error) override {
        return Send(
            kInstallUpdate, [id](Proxy& p) { return p.InstallUpdate(id); }, std::move(result), std::move(error));
    }
    bool GetInstallationResult(uint32_t id, std::function<void(GetInstallationResultType)> result,
                               UcmErrorCallback error) override {
        return SendFirstField(
            kGetInstallationResult, [id](Proxy& p) { return p.GetInstallationResult(id); }, std::move(result),
            std::move(error), [](const auto& out) { return out.result; });
    }
    bool GetLog(uint32_t id, std::function<void(std::vector<LogEntryType>)> result, UcmErrorCallback error) override {
        return SendFirstField(
            kGetLog, [id](Proxy& p) { return p.GetLog(id); }, std::move(result), std::move(error),
            [](const auto& out) {
                std::vector<LogEntryType> entries;
                entries.reserve(out.log.size());
                for (const auto& entry : out.log) {
                    entries.push_back(LogEntryType{entry.value, entry.text});
                }
                return entries;
            });
    }
    bool GetProgress(uint32_t id, std::function<void(unsigned char)> result, UcmErrorCallback error) override {
        return SendFirstField(
            kGetProgress, [id](Proxy& p) { return p.GetProgress(id); }, std::move(result), std::move(error),
            [](const auto& out) { return out.progress; });
    }
    bool Start(std::function<void(unsigned int)> result, UcmErrorCallback error) override {
        return SendFirstField(
            kStart, [](Proxy& p) { return p.Start(); }, std::move(result), std::move(error),
            [](const auto& out) { return out.id; });
    }
    bool TransferData(uint32_t id, const std::vector<unsigned char>& block, uint32_t blockCounter,
                      std::function<void(TransferDataReturnType)> result, UcmErrorCallback error) override {
        return SendFirstField(
            kTransferData, [id, &block, blockCounter](Proxy& p) { return p.TransferData(id, block, blockCounter); },
            std::move(result), std::move(error), [](const auto& out) { return out.result; });
    }
    bool TransferExit(uint32_t id, std::function<void(TransferExitReturnType)> result,
                      UcmErrorCallback error) override {
        return SendFirstField(
            kTransferExit, [id](Proxy& p) { return p.TransferExit(id); }, std::move(result), std::move(error),
            [](const auto& out) { return out.result; });
    }
    bool TransferStart(uint32_t id, uint32_t size, std::function<void(TransferStartReturnType)> result,
                       UcmErrorCallback error) override {
        return SendFirstField(
            kTransferStart, [id, size](Proxy& p) { return p.TransferStart(id, size); }, std::move(result),
            std::move(error), [](const auto& out) { return out.result; });
    }
    bool GetCurrentStatus(std::function<void(CurrentStatusType)> result, UcmErrorCallback error) override {
        return SendFirstField(
            kGetCurrentStatus, [](Proxy& p) { return p.CurrentStatus.Get(); }, std::move(result), std::move(error),
            [](CurrentStatusType status) { return status; });
    }

protected:
    void Create() override {}

    // The subscription; runs inside the endpoint's lifecycle gate, after the
    // endpoint dropped the handlers of an earlier proxy.
    void Initialize() override {
        const std::shared_ptr<Proxy> proxy = this->GetProxy();
        if (!proxy) {
            LogError() << "Proxy Not set";
            return;
        }
        // The handler owns a copy of the callback, never the client.
        const CurrentStatusCallback callback = m_currentStatusCallback;
        this->AddHandler(
            std::make_shared<FieldHandler<ara::ucm::PackageManagement::CurrentStatus, decltype(proxy->CurrentStatus)>>(
                &proxy->CurrentStatus, [callback](const CurrentStatusType& status) {
                    if (callback) {
                        callback(status);
                    }
                }));
    }

private:
    enum Operation : std::size_t {
        kStart,
        kClose,
        kGetLog,
        kGetProgress,
        kTransferExit,
        kTransferData,
        kCommitUpdate,
        kCancelUpdate,
        kTransferStart,
        kInstallUpdate,
        kGetInstallationResult,
        kGetCurrentStatus,
        kOperationCount
    };

    template <typename Call, typename Deliver>
    bool Attach(Operation operation, Call&& call, Deliver deliver, UcmErrorCallback error) {
        const std::shared_ptr<Proxy> proxy = this->GetProxy();
        if (!proxy) {
            return false;
        }
        auto answer = call(*proxy);  // a not-available throw leaves the operation
        using Answer = decltype(answer.get());
        jux::com::Future<void> continuation =
            answer.then(UCM::detail::MakeContinuation<Answer>(std::move(deliver), std::move(error)));
        std::lock_guard<std::mutex> lock(m_holderMutex);
        m_holders[operation] = std::move(continuation);
        return true;
    }

    template <typename Call>
    bool Send(Operation operation, Call&& call, std::function<void()> result, UcmErrorCallback error) {
        return Attach(
            operation, std::forward<Call>(call), [result] { result(); }, std::move(error));
    }

    template <typename Call, typename Result, typename Convert>
    bool SendFirstField(Operation operation, Call&& call, Result result, UcmErrorCallback error, Convert convert) {
        return Attach(
            operation, std::forward<Call>(call),
            [result = std::move(result), convert](const auto& out) { result(convert(out)); }, std::move(error));
    }

    CurrentStatusCallback m_currentStatusCallback;
    // Keep each operation's last continuation alive; never read.
    std::mutex m_holderMutex;
    std::array<jux::com::Future<void>, kOperationCount> m_holders;
};

// Starts the search and returns at once.
std::shared_ptr<PackageManagement> CreatePackageManagementClient(
    const std::string& instance, std::function<void(CurrentStatusType)> currentStatusCallback);

#endif

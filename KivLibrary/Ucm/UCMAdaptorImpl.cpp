#include "KivLibrary/Ucm/UCMAdaptorImpl.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <thread>
#include <utility>

#include "KivLibrary/Helper/TerminationFlag.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/Ucm/ClusterIntegrityClientImpl.h"
#include "KivLibrary/Ucm/InstallationStatusProvider.h"
#include "KivLibrary/Ucm/PackageManagementClient.h"
#include "KivLibrary/Ucm/UCMClientImpl.h"
#include "KivLibrary/Ucm/UcmNames.h"
#include "platform/services/ara/ucm/PackageManagement_common.h"

namespace UCM {
namespace {

using ara::ucm::PackageManagement::UCMServiceFailed;

enum class WaitOutcome { kAnswered, kTimedOut, kCancelled };

int64_t Ms(std::chrono::milliseconds duration) { return static_cast<int64_t>(duration.count()); }

// Logs why a call got no answer; false for the caller to return.
bool NoAnswer(const char* name, WaitOutcome outcome, std::chrono::milliseconds timeout) {
    if (outcome == WaitOutcome::kCancelled) {
        LogError() << name << ": waiting for UCM given up, termination requested";
    } else {
        LogError() << name << ": no answer from UCM within " << Ms(timeout) << " ms";
    }
    return false;
}

// The answer of one blocking call, owned by the waiting caller and by the
// callbacks alike; only the first outcome counts.
template <typename T>
class PendingAnswer {
public:
    void SetValue(T value) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_done) {
            return;
        }
        m_value = std::move(value);
        m_done = true;
        m_cv.notify_all();
    }

    void SetError(std::exception_ptr error) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_done) {
            return;
        }
        m_error = std::move(error);
        m_done = true;
        m_cv.notify_all();
    }

    // kAnswered, or why the wait ended without an answer. Termination is
    // looked at every `poll`, so it ends the wait within about that long.
    WaitOutcome WaitUntil(std::chrono::steady_clock::time_point deadline, const std::function<bool()>& cancelRequested,
                          std::chrono::milliseconds poll) {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_done) {
            if (cancelRequested()) {
                return WaitOutcome::kCancelled;
            }
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) {
                return WaitOutcome::kTimedOut;
            }
            m_cv.wait_until(lock, std::min(deadline, now + poll));
        }
        return WaitOutcome::kAnswered;
    }

    // After WaitFor succeeded: the value, or the stored error rethrown.
    T Take() {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_error) {
            std::rethrow_exception(m_error);
        }
        return std::move(m_value);
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_done = false;
    T m_value{};
    std::exception_ptr m_error;
};

template <typename T>
using Pending = std::shared_ptr<PendingAnswer<T>>;

template <typename T>
std::function<void(T)> ValueInto(const Pending<T>& pending) {
    return [pending](T value) { pending->SetValue(std::move(value)); };
}

// The adaptor reports a failed answer as a plain exception.
template <typename T>
UcmErrorCallback PlainErrorInto(const Pending<T>& pending) {
    return [pending](const std::exception&) { pending->SetError(std::make_exception_ptr(std::exception())); };
}

bool CloseErrorOutcome(const std::exception& error, uint32_t sessionId, bool ignoreInvalidSession) {
    const auto* failed = dynamic_cast<const UCMServiceFailed*>(&error);
    if (failed == nullptr) {
        LogError() << "operator()"
                   << "Exception: " << error.what();
        return false;
    }
    const uint8_t code = failed->GetField(UCMServiceFailed::kCloseIndex);
    LogError() << "Received exception for Close: " << UcmErrorCodeToString(code);
    if (ignoreInvalidSession && code == 3) {
        LogInfo() << "Close : Ignoring invalid SessionId= " << sessionId;
        return true;
    }
    LogError() << "Close failed : Wrong invalid SessionId= " << sessionId;
    return false;
}

bool CommitErrorOutcome(const std::exception& error, bool ignoreNotSupported) {
    const auto* failed = dynamic_cast<const UCMServiceFailed*>(&error);
    if (failed == nullptr) {
        LogError() << "operator()"
                   << "Exception: " << error.what();
        return false;
    }
    const uint8_t code = failed->GetField(UCMServiceFailed::kCommitUpdateIndex);
    LogError() << "Received UCM exception for CommitUpdate: " << UcmErrorCodeToString(code);
    if (ignoreNotSupported && code == 4) {
        LogInfo() << "Ignoring CommitUpdate error";
        return true;
    }
    LogError() << "CommitUpdate failed";
    return false;
}

void CancellableSleep(std::chrono::milliseconds pause, const std::function<bool()>& cancelRequested,
                      std::chrono::milliseconds slice) {
    const auto deadline = std::chrono::steady_clock::now() + pause;
    while (!cancelRequested()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return;
        }
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(slice, deadline - now));
    }
}

UCMAdaptorSettings Completed(UCMAdaptorSettings settings) {
    if (!settings.cancelRequested) {
        settings.cancelRequested = [] { return IsTerminationRequested(); };
    }
    if (settings.cancelPollInterval <= std::chrono::milliseconds::zero()) {
        settings.cancelPollInterval = UCMAdaptorSettings().cancelPollInterval;
    }
    if (!settings.sleep) {
        const auto cancel = settings.cancelRequested;
        const auto slice = settings.cancelPollInterval;
        settings.sleep = [cancel, slice](std::chrono::milliseconds pause) { CancellableSleep(pause, cancel, slice); };
    }
    if (settings.responseTimeout <= std::chrono::milliseconds::zero()) {
        settings.responseTimeout = UCMAdaptorSettings::kDefaultResponseTimeout;
    }
    if (settings.installTimeout <= std::chrono::milliseconds::zero()) {
        settings.installTimeout = UCMAdaptorSettings::kDefaultInstallTimeout;
    }
    return settings;
}

}  // namespace

UCMAdaptorSettings UCMAdaptorSettings::FromConfiguration(const KivConfiguration& configuration) {
    UCMAdaptorSettings settings;
    if (configuration.ucmResponseTimeout_msec != 0) {
        settings.responseTimeout = std::chrono::milliseconds(configuration.ucmResponseTimeout_msec);
    }
    return settings;
}

UCMAdaptorImpl::UCMAdaptorImpl(const std::string& serviceInstanceId, CurrentStatusCallback currentStatusCallback,
                               UCMAdaptorSettings settings)
    : UCMAdaptorImpl(CreateUCMClient(CreatePackageManagementClient(serviceInstanceId, std::move(currentStatusCallback)),
                                     CreateInstallationStatusProvider(serviceInstanceId),
                                     CreateClusterIntegrityClient(serviceInstanceId)),
                     std::move(settings)) {}

UCMAdaptorImpl::UCMAdaptorImpl(std::shared_ptr<UCMClient> client, UCMAdaptorSettings settings)
    : m_client(std::move(client)),
      m_settings(Completed(std::move(settings))),
      m_install(std::make_shared<InstallState>()) {}

UCMAdaptorImpl::~UCMAdaptorImpl() = default;

UCMAdaptorImpl::Clock::time_point UCMAdaptorImpl::DeadlineFromNow() const {
    return Clock::now() + m_settings.responseTimeout;
}

UCMAdaptorImpl::Turn::~Turn() {
    if (m_owner == nullptr) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_owner->m_turnMutex);
        m_owner->m_turnTaken = false;
    }
    m_owner->m_turnFree.notify_one();
}

bool UCMAdaptorImpl::Acquire(Turn& turn, const char* name, Clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(m_turnMutex);
    // The holder ends within its own time-out, or at once on termination.
    while (!m_settings.cancelRequested()) {
        const auto now = Clock::now();
        if (!m_turnTaken) {
            m_turnTaken = true;
            turn.m_owner = this;
            return true;
        }
        if (now >= deadline) {
            LogError() << name << ": UCM still busy with another request of this process after "
                       << Ms(m_settings.responseTimeout) << " ms";
            return false;
        }
        // Woken by the holder's release, which may come from a termination
        // requested while this call waited: the loop looks at it again first.
        m_turnFree.wait_until(lock, std::min<Clock::time_point>(now + m_settings.cancelPollInterval, deadline));
    }
    LogError() << name << ": not sent to UCM, termination requested";
    return false;
}

template <typename T, typename Send, typename Take>
bool UCMAdaptorImpl::Exchange(const char* name, const char* noProxyLine, Clock::time_point deadline, Send&& send,
                              Take&& take) {
    Turn turn;
    if (!Acquire(turn, name, deadline)) {
        return false;
    }
    return TryExecuteBool(name, [&]() -> bool {
        const auto pending = std::make_shared<PendingAnswer<T>>();
        if (!send(pending)) {
            LogError() << noProxyLine;
            return false;
        }
        const WaitOutcome outcome =
            pending->WaitUntil(deadline, m_settings.cancelRequested, m_settings.cancelPollInterval);
        if (outcome != WaitOutcome::kAnswered) {
            return NoAnswer(name, outcome, m_settings.responseTimeout);
        }
        return take(pending->Take());
    });
}

bool UCMAdaptorImpl::Start(StartOutput& output) {
    LogInfo() << "Using Ucm to start a session";
    return Exchange<uint32_t>(
        "Start", "Start failed UcmClient:PackageManagement", DeadlineFromNow(),
        [this](const Pending<uint32_t>& p) {
            return m_client->Start([p](unsigned int id) { p->SetValue(id); }, PlainErrorInto(p));
        },
        [&output](uint32_t id) {
            output.id = id;
            LogInfo() << "Start: Success! New session id " << id;
            return true;
        });
}

bool UCMAdaptorImpl::TransferStart(const uint32_t& sessionId, const uint32_t& size) {
    LogInfo() << "Using Ucm to start transfer data for session " << sessionId;
    return Exchange<TransferStartReturnType>(
        "TransferStart", "TransferStart failed UcmClient:PackageManagement", DeadlineFromNow(),
        [&](const Pending<TransferStartReturnType>& p) {
            return m_client->TransferStart(sessionId, size, ValueInto(p), PlainErrorInto(p));
        },
        [](TransferStartReturnType) {
            LogInfo() << "TransferStart: Success!";
            return true;
        });
}

bool UCMAdaptorImpl::TransferData(const uint32_t& sessionId, const std::vector<uint8_t>& block,
                                  const uint32_t& blockCounter) {
    LogInfo() << "Using Ucm to transfer data for session " << sessionId;
    return Exchange<TransferDataReturnType>(
        "TransferData", "TransferData failed UcmClient:PackageManagement", DeadlineFromNow(),
        [&](const Pending<TransferDataReturnType>& p) {
            return m_client->TransferData(sessionId, block, blockCounter, ValueInto(p), PlainErrorInto(p));
        },
        [](TransferDataReturnType result) { return LogTransferDataResult(result); });
}

bool UCMAdaptorImpl::TransferExit(const uint32_t& sessionId) {
    LogInfo() << "Using Ucm to exit the transfer for session " << sessionId;
    return Exchange<TransferExitReturnType>(
        "TransferExit", "TransferExit failed UcmClient:PackageManagement", DeadlineFromNow(),
        [&](const Pending<TransferExitReturnType>& p) {
            return m_client->TransferExit(sessionId, ValueInto(p), PlainErrorInto(p));
        },
        [](TransferExitReturnType result) { return LogTransferExitResult(result); });
}

bool UCMAdaptorImpl::InstallUpdateAsync(const uint32_t& sessionId) {
    LogInfo() << "Using Ucm to install the update for session " << sessionId;
    Turn turn;
    if (!Acquire(turn, "InstallUpdateAsync", DeadlineFromNow())) {
        return false;
    }
    const std::shared_ptr<InstallState> install = m_install;
    uint64_t request = 0;
    {
        std::lock_guard<std::mutex> installLock(install->mutex);
        request = ++install->request;
        install->sentAt = Clock::now();
        install->state = InstallUpdateState::kRunning;
    }
    // Only the answer to the latest request moves the state on.
    auto settle = [install, request](InstallUpdateState state) {
        std::lock_guard<std::mutex> installLock(install->mutex);
        if (install->request == request) {
            install->state = state;
        }
    };
    const uint32_t id = sessionId;
    const bool sent = TryExecuteBool("InstallUpdateAsync", [&] {
        if (!m_client->InstallUpdate(
                id,
                [settle, id] {
                    LogInfo() << "InstallUpdate: InstallUpdateResultCallback Success" << id;
                    settle(InstallUpdateState::kSucceeded);
                },
                [settle](const std::exception& error) {
                    const auto* failed = dynamic_cast<const UCMServiceFailed*>(&error);
                    if (failed != nullptr) {
                        LogError() << "Received exception for installUpdate: "
                                   << UcmErrorCodeToString(failed->GetField(UCMServiceFailed::kInstallUpdateIndex));
                        settle(InstallUpdateState::kUcmError);
                    } else {
                        LogError() << "InstallUpdate got exception: " << error.what();
                        settle(InstallUpdateState::kOtherError);
                    }
                })) {
            LogError() << "InstallUpdateAsync failed UcmClient:PackageManagement";
            return false;
        }
        return true;
    });
    if (!sent) {
        // Whatever stopped the request, no installation runs.
        settle(InstallUpdateState::kIdle);
        return false;
    }
    LogInfo() << "InstallUpdateAsync: Success!";
    return true;
}

uint8_t UCMAdaptorImpl::GetInstallUpdateState() {
    InstallState& install = *m_install;
    std::lock_guard<std::mutex> lock(install.mutex);
    if (install.state == InstallUpdateState::kRunning && Clock::now() - install.sentAt >= m_settings.installTimeout) {
        // A lost answer must not hold the installation open until the next
        // start: it ends as failed, and a late answer no longer counts.
        LogError() << "InstallUpdate: no answer from UCM within " << Ms(m_settings.installTimeout)
                   << " ms; the installation counts as failed";
        ++install.request;
        install.state = InstallUpdateState::kOtherError;
    }
    return static_cast<uint8_t>(install.state);
}

bool UCMAdaptorImpl::Close(const uint32_t& sessionId, bool ignoreInvalidSession) {
    return CloseUntil(sessionId, ignoreInvalidSession, DeadlineFromNow());
}

bool UCMAdaptorImpl::CloseUntil(uint32_t sessionId, bool ignoreInvalidSession, Clock::time_point deadline) {
    LogInfo() << "Using Ucm to close the update for session " << sessionId;
    const uint32_t id = sessionId;
    return Exchange<bool>(
        "Close", "Close failed UcmClient:PackageManagement", deadline,
        [&](const Pending<bool>& p) {
            return m_client->Close(
                id, [p] { p->SetValue(true); },
                [p, id, ignoreInvalidSession](const std::exception& error) {
                    p->SetValue(CloseErrorOutcome(error, id, ignoreInvalidSession));
                });
        },
        [](bool ok) {
            if (ok) {
                LogInfo() << "Close: Success";
            }
            return ok;
        });
}

bool UCMAdaptorImpl::DOClose(const uint32_t& sessionId, bool ignoreInvalidSession) {
    const uint32_t id = sessionId;
    return Retry("DOClose", [this, id, ignoreInvalidSession](Clock::time_point deadline) {
        return CloseUntil(id, ignoreInvalidSession, deadline);
    });
}

bool UCMAdaptorImpl::GetProgress(uint32_t sessionId, GetProgressOutput& output) {
    LogInfo() << "Using Ucm to get the progress of the update for session " << sessionId;
    return Exchange<unsigned char>(
        "GetProgress", "GetProgress failed UcmClient:PackageManagement", DeadlineFromNow(),
        [&](const Pending<unsigned char>& p) {
            return m_client->GetProgress(sessionId, ValueInto(p), PlainErrorInto(p));
        },
        [&output](unsigned char progress) {
            output.progress = progress;
            LogInfo() << "GetProgress: Success!";
            return true;
        });
}

bool UCMAdaptorImpl::GetLog(uint32_t sessionId, GetLogOutput& output) {
    LogInfo() << "Using Ucm to get the log of the update for session " << sessionId;
    const auto deadline = DeadlineFromNow();
    Turn turn;
    if (!Acquire(turn, "GetLog", deadline)) {
        return false;
    }
    try {
        const auto pending = std::make_shared<PendingAnswer<std::vector<LogEntryType>>>();
        if (!m_client->GetLog(sessionId, ValueInto(pending), PlainErrorInto(pending))) {
            LogError() << "GetLog failed UcmClient:PackageManagement";
            return false;
        }
        const WaitOutcome outcome =
            pending->WaitUntil(deadline, m_settings.cancelRequested, m_settings.cancelPollInterval);
        if (outcome != WaitOutcome::kAnswered) {
            return NoAnswer("GetLog", outcome, m_settings.responseTimeout);
        }
        output.log = pending->Take();
        LogInfo() << "GetLog: Success!";
        return true;
    } catch (const std::exception& e) {
        LogError() << "GetLog got exception from ucm: " << e.what();
    } catch (...) {
        LogError() << "Unknown UCM-GetLog Exception in: "
                   << "GetLog"
                   << ":" << static_cast<int32_t>(__LINE__);
    }
    return false;
}

bool UCMAdaptorImpl::CommitUpdate(uint32_t sessionId, bool ignoreNotSupported) {
    return CommitUpdateUntil(sessionId, ignoreNotSupported, DeadlineFromNow());
}

bool UCMAdaptorImpl::CommitUpdateUntil(uint32_t sessionId, bool ignoreNotSupported, Clock::time_point deadline) {
    LogInfo() << "Using Ucm to commit the update for session " << sessionId;
    return Exchange<bool>(
        "CommitUpdate", "CommitUpdate failed UcmClient:PackageManagement", deadline,
        [&](const Pending<bool>& p) {
            return m_client->CommitUpdate(
                sessionId, [p] { p->SetValue(true); },
                [p, ignoreNotSupported](const std::exception& error) {
                    p->SetValue(CommitErrorOutcome(error, ignoreNotSupported));
                });
        },
        [](bool ok) {
            if (ok) {
                LogInfo() << "CommitUpdate: Success";
            }
            return ok;
        });
}

bool UCMAdaptorImpl::GetInstallationResult(uint32_t sessionId, GetInstallationResultOutput& output) {
    LogInfo() << "Using Ucm to get the installation result for session " << sessionId;
    return Exchange<GetInstallationResultType>(
        "GetInstallationResult", "GetInstallationResult failed UcmClient:PackageManagement", DeadlineFromNow(),
        [&](const Pending<GetInstallationResultType>& p) {
            return m_client->GetInstallationResult(sessionId, ValueInto(p), PlainErrorInto(p));
        },
        [&output](GetInstallationResultType result) {
            output.result = result;
            LogInfo() << "GetInstallationResult: Success!";
            return true;
        });
}

bool UCMAdaptorImpl::GetInstallationStatus(uint32_t sessionId, GetInstallationStatusOutput& output) {
    LogInfo() << "Using Ucm to get the installation status for session " << sessionId;
    return Exchange<InstallationStatusResult>(
        "GetInstallationStatus", "GetInstallationStatus failed UcmClient:InstallationStatusProvider", DeadlineFromNow(),
        [&](const Pending<InstallationStatusResult>& p) {
            return m_client->GetInstallationStatus(
                sessionId,
                [p](InstallationStatusResult result) {
                    LogInfo() << "GetInstallationStatus: result.Status" << static_cast<int32_t>(result.Status);
                    p->SetValue(std::move(result));
                },
                PlainErrorInto(p));
        },
        [&output](InstallationStatusResult result) {
            output = std::move(result);
            LogInfo() << "GetInstallationStatus: Success!";
            return true;
        });
}

bool UCMAdaptorImpl::GetSwClusterIntegrity(std::string clusterName, bool readPartitionB,
                                           std::function<void(SwClusterIntegrity)> callback) {
    LogInfo() << "Using Ucm to GetSwClusterIntegrity for " << clusterName
              << " inactive partition =  " << static_cast<int32_t>(readPartitionB ? 1 : 0);
    // The caller is a state-machine action: nothing may escape to it.
    return TryExecuteBool("GetSwClusterIntegrity", [&] {
        return m_client->GetSwClusterIntegrity(clusterName, readPartitionB, std::move(callback));
    });
}

bool UCMAdaptorImpl::CancelSwClusterIntegrity(std::string clusterName, std::function<void(CancelStatusType)> callback) {
    LogInfo() << "Cancel Ucm request for SwClusterIntegrity for " << clusterName;
    return TryExecuteBool("CancelSwClusterIntegrity",
                          [&] { return m_client->Cancel(clusterName, std::move(callback)); });
}

bool UCMAdaptorImpl::CancelUpdate(uint32_t sessionId) {
    LogInfo() << "Using Ucm to cancel the update for session " << sessionId;
    return Exchange<bool>(
        "CancelUpdate", "CancelUpdate failed UcmClient:PackageManagement", DeadlineFromNow(),
        [&](const Pending<bool>& p) {
            return m_client->CancelUpdate(
                sessionId, [p] { p->SetValue(true); }, PlainErrorInto(p));
        },
        [](bool) {
            LogInfo() << "CancelUpdate: Success!";
            return true;
        });
}

bool UCMAdaptorImpl::commitUpdate(const uint32_t& sessionId, bool ignoreNotSupported) {
    const uint32_t id = sessionId;
    return Retry("commitUpdate", [this, id, ignoreNotSupported](Clock::time_point deadline) {
        return CommitUpdateUntil(id, ignoreNotSupported, deadline);
    });
}

bool UCMAdaptorImpl::GetCurrentStatus(CurrentStatusEventDataType& status) {
    LogInfo() << "GetCurrentStatus";
    return Exchange<CurrentStatusType>(
        "GetCurrentStatus", "GetCurrentStatus: failed to get status!", DeadlineFromNow(),
        [&](const Pending<CurrentStatusType>& p) {
            return m_client->GetCurrentStatus(ValueInto(p), PlainErrorInto(p));
        },
        [&status](CurrentStatusType value) {
            status = value;
            LogInfo() << "GetCurrentStatus: status updated!";
            return true;
        });
}

bool UCMAdaptorImpl::Retry(const char* name, const std::function<bool(Clock::time_point)>& attempt) {
    // All attempts share one deadline: a silent UCM costs one time-out, not one per attempt.
    const auto deadline = DeadlineFromNow();
    for (uint32_t number = 1; number <= m_settings.retryAttempts; ++number) {
        if (m_settings.cancelRequested()) {
            LogWarn() << name << " stopped: termination requested";
            return false;
        }
        const bool ok = attempt(deadline);
        LogInfo() << name << " attempt = " << number << ";return value = " << static_cast<int32_t>(ok ? 1 : 0);
        if (ok) {
            LogInfo() << name << " successfully done";
            return true;
        }
        if (number == m_settings.retryAttempts) {
            LogError() << "fail to " << name << " with attempt = " << number
                       << "return value = " << static_cast<int32_t>(0);
            break;  // no pause after the last attempt: nothing follows it
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            LogError() << "fail to " << name << " with attempt = " << number
                       << "return value = " << static_cast<int32_t>(0) << "; no attempt left within "
                       << Ms(m_settings.responseTimeout) << " ms";
            break;
        }
        // The mutex is free here.
        m_settings.sleep(
            std::min(m_settings.retryPause, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now)));
    }
    return false;
}

}  // namespace UCM

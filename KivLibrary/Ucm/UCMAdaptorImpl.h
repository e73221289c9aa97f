// The blocking adaptor over the update manager's clients. Every blocking
// operation holds one mutex from its request until its answer (or its
// time-out), so UCM sees at most one blocking request of this process at a
// time. Each operation, the wait for the mutex included, ends within the
// configured response time-out; DOClose and commitUpdate keep all their
// attempts within one such time-out. Every wait ends as soon as termination
// is requested, with false. The shared state of a call belongs to its
// callbacks, so an answer after the time-out lands nowhere.
// InstallUpdateAsync, GetInstallUpdateState, GetSwClusterIntegrity and
// CancelSwClusterIntegrity never wait; an installation without an answer
// within the installation time-out counts as failed. Callable from any thread.
#ifndef KIVLIBRARY_UCM_UCMADAPTORIMPL_H
#define KIVLIBRARY_UCM_UCMADAPTORIMPL_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "KivLibrary/Ucm/UCMAdaptorInterface.h"
#include "KivLibrary/Ucm/UcmClientInterfaces.h"

class KivConfiguration;

namespace UCM {

// The installation state as GetInstallUpdateState reports it.
enum class InstallUpdateState : uint8_t {
    kIdle = 0,       // none running (also after a refused request)
    kSucceeded = 1,  // the last installation request succeeded
    kRunning = 2,
    kUcmError = 3,    // ended with UCMServiceFailed
    kOtherError = 4,  // ended with any other error
};

struct UCMAdaptorSettings {
    static constexpr std::chrono::milliseconds kDefaultResponseTimeout{30000};
    static constexpr std::chrono::milliseconds kDefaultInstallTimeout{600000};

    // Bounds each blocking operation, and each retry loop as a whole.
    std::chrono::milliseconds responseTimeout = kDefaultResponseTimeout;
    // From InstallUpdateAsync to the installation's answer.
    std::chrono::milliseconds installTimeout = kDefaultInstallTimeout;
    // DOClose and commitUpdate.
    uint32_t retryAttempts = 10;
    std::chrono::milliseconds retryPause{1000};
    // Sleeps between retries; the default wakes early once `cancelRequested` holds.
    std::function<void(std::chrono::milliseconds)> sleep;
    // Every wait and retry loop ends when it holds; the process termination
    // flag by default. Polled, so it may be any cheap predicate.
    std::function<bool()> cancelRequested;
    // How often a waiting call looks at `cancelRequested`.
    std::chrono::milliseconds cancelPollInterval{20};

    // Production values, with a non-zero "UCMSettings"/"ResponseTimeout_msec".
    static UCMAdaptorSettings FromConfiguration(const KivConfiguration& configuration);
};

class UCMAdaptorImpl : public UCMAdaptorInterface {
public:
    using CurrentStatusCallback = std::function<void(CurrentStatusType)>;

    // Creates the three service clients on `serviceInstanceId`; they connect asynchronously.
    UCMAdaptorImpl(const std::string& serviceInstanceId, CurrentStatusCallback currentStatusCallback,
                   UCMAdaptorSettings settings = UCMAdaptorSettings());
    explicit UCMAdaptorImpl(std::shared_ptr<UCMClient> client, UCMAdaptorSettings settings = UCMAdaptorSettings());
    ~UCMAdaptorImpl() override;

    bool Start(StartOutput& output) override;
    bool TransferStart(const uint32_t& sessionId, const uint32_t& size) override;
    bool TransferData(const uint32_t& sessionId, const std::vector<uint8_t>& block,
                      const uint32_t& blockCounter) override;
    bool TransferExit(const uint32_t& sessionId) override;
    bool InstallUpdateAsync(const uint32_t& sessionId) override;
    uint8_t GetInstallUpdateState() override;
    bool Close(const uint32_t& sessionId, bool ignoreInvalidSession) override;
    bool DOClose(const uint32_t& sessionId, bool ignoreInvalidSession) override;
    bool GetProgress(uint32_t sessionId, GetProgressOutput& output) override;
    bool GetLog(uint32_t sessionId, GetLogOutput& output) override;
    bool CommitUpdate(uint32_t sessionId, bool ignoreNotSupported) override;
    bool GetInstallationResult(uint32_t sessionId, GetInstallationResultOutput& output) override;
    bool GetInstallationStatus(uint32_t sessionId, GetInstallationStatusOutput& output) override;
    bool GetSwClusterIntegrity(std::string clusterName, bool readPartitionB,
                               std::function<void(SwClusterIntegrity)> callback) override;
    bool CancelSwClusterIntegrity(std::string clusterName, std::function<void(CancelStatusType)> callback) override;
    bool CancelUpdate(uint32_t sessionId) override;
    bool commitUpdate(const uint32_t& sessionId, bool ignoreNotSupported) override;
    bool GetCurrentStatus(CurrentStatusEventDataType& status) override;

private:
    using Clock = std::chrono::steady_clock;

    // One request under the mutex, a wait until `deadline`, `take` on the answer.
    // `send(pending)` hands the request to the client (false: not connected).
    template <typename T, typename Send, typename Take>
    bool Exchange(const char* name, const char* noProxyLine, Clock::time_point deadline, Send&& send, Take&& take);
    // The adaptor's one request at a time: held from the request until its
    // answer or time-out. A flag under a plain mutex rather than a timed
    // mutex, whose timed lock ThreadSanitizer does not see.
    class Turn {
    public:
        Turn() = default;
        ~Turn();
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;

    private:
        friend class UCMAdaptorImpl;
        UCMAdaptorImpl* m_owner = nullptr;
    };
    // The turn, unless the deadline passes or termination is requested first.
    bool Acquire(Turn& turn, const char* name, Clock::time_point deadline);
    bool CloseUntil(uint32_t sessionId, bool ignoreInvalidSession, Clock::time_point deadline);
    bool CommitUpdateUntil(uint32_t sessionId, bool ignoreNotSupported, Clock::time_point deadline);
    Clock::time_point DeadlineFromNow() const;

    bool Retry(const char* name, const std::function<bool(Clock::time_point)>& attempt);

    std::shared_ptr<UCMClient> m_client;
    UCMAdaptorSettings m_settings;
    std::mutex m_turnMutex;
    std::condition_variable m_turnFree;
    bool m_turnTaken = false;  // m_turnMutex
    // Shared with the answer callbacks of InstallUpdate, which outlive no one's `this`.
    struct InstallState {
        std::mutex mutex;  // guards the members below; never held while calling out
        InstallUpdateState state = InstallUpdateState::kIdle;
        uint64_t request = 0;  // identity of the latest request
        Clock::time_point sentAt;
    };
    std::shared_ptr<InstallState> m_install;
};

}  // namespace UCM

#endif

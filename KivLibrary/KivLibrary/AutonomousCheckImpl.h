// The autonomous integrity check over the update manager's cluster-integrity
// requests. See AutonomousCheck.h for the threading contract: the members
// below that are not atomic are touched on the worker thread only.
#ifndef KIVLIBRARY_KIVLIBRARY_AUTONOMOUSCHECKIMPL_H
#define KIVLIBRARY_KIVLIBRARY_AUTONOMOUSCHECKIMPL_H

#include "KivLibrary/GlobalLibrary/LogicalBlockCacheData.h"
#include "KivLibrary/KivLibrary/AutonomousCheck.h"
#include "KivLibrary/Logger/Logging.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

class KivConfiguration;

class AutonomousCheckImpl : public AutonomousCheck, public std::enable_shared_from_this<AutonomousCheckImpl> {
public:
    AutonomousCheckImpl(const AutonomousCheckDependencies& dependencies, const AutonomousCheckSettings& settings);

    bool Stop() override;
    bool Start() override;
    bool IsRunning() override;
    bool AllIvdDataFetched() override;
    void StartIvdTimer() override;
    void FetchingIVDFromUCMFinished() override;
    void RequestIVDForLB() override;
    void HandleIVDDataForLB() override;
    void PauseIVD() override;
    std::function<void()> GetSendEventCallback(unsigned event) override;
    void SendEventToStateMachine(unsigned event) override;
    bool InvokeTask(std::function<void()> function) override;
    bool StartDelayStartTimer(std::function<void()> function, unsigned long intervalMs) override;
    bool StartStartTimer(std::function<void()> function, unsigned long intervalMs) override;
    void CancelAC() override;
    void CancelACTask() override;
    void StoreIVDForCluster(SwClusterIntegrity integrity, Clock::time_point startTime) override;
    void StoreIVDForClusterTask(SwClusterIntegrity integrity, Clock::time_point startTime) override;
    void CancelCluster(CancelStatusType status, std::string clusterName) override;
    void CancelClusterTask(CancelStatusType status, std::string clusterName) override;
    void PauseForFastShutdown() override;
    void ResumeAfterFastShutdown() override;

    bool FindAndRequestIVDForLBFromPartition(bool active);
    void triggerCancelClusterRetrieval(const std::string& reason);
    void evaluateDTCofIVD();
    void storeIVDOnPersistentDb();

private:
    // An integrity request or cancel at UCM whose answer is awaited; the
    // token tells a current answer from a late one of an abandoned request.
    struct Pending {
        uint64_t token = 0;  // 0: none
        std::string cluster;
        bool active = true;    // the partition asked for
        bool givenUp = false;  // the block was given up before this request
        uint16_t id = 0;       // the block asked for
    };

    LoggingBackend& Backend() const;
    LoggingStream Info() const;
    LoggingStream Error() const;
    void Trace(char sign, const char* name) const;

    uint64_t StartTimeoutMs() const;
    uint64_t ResumeTimeoutMs() const;
    uint64_t DelayTimeoutMs() const;
    uint16_t CurrentState() const;
    std::string StatusName() const;
    bool IsIdle() const;
    // Triggers on the machine from a worker task (never from inside a trigger).
    void TriggerNow(unsigned event);
    void StopTimer(const std::shared_ptr<ITimer>& timer);
    // Copies of the records of a partition's cache, taken under its lock.
    std::vector<LogicalBlockCache> Snapshot(bool active) const;
    bool HasEntryWithoutIvd(bool active) const;

    void OnIntegrityAnswer(uint64_t token, SwClusterIntegrity integrity, Clock::time_point startTime);
    void OnCancelAnswer(uint64_t token, CancelStatusType status, std::string clusterName);
    void StoreAnswer(const SwClusterIntegrity& integrity, Clock::time_point startTime, const Pending* request);
    void SuperviseRequest(uint64_t token);
    void SuperviseCancel(uint64_t token);
    bool PostDelayed(std::function<void()> function, uint64_t delayMs);
    std::function<void()> Guarded(const char* name, std::function<void(AutonomousCheckImpl&)> body);

    const AutonomousCheckDependencies m_deps;
    const AutonomousCheckSettings m_settings;
    std::shared_ptr<KivConfiguration> m_configuration;
    std::atomic<bool> m_firstStart{true};

    // Worker thread only.
    uint64_t m_lastToken = 0;
    Pending m_request;
    Pending m_cancel;
    // Blocks given up without any answer from UCM, as (active, id): their
    // cache records carry no verdict, so they must not decide a DTC. A
    // partition's marks last for one run: its first request with every
    // attempt counter at zero drops them.
    std::set<std::pair<bool, uint16_t>> m_unanswered;
};

#endif

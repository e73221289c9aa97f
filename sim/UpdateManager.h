// A simulated update manager (UCM): offers PackageManagement,
// InstallStatusProvider and ClusterIntegrityProvider on one instance over the
// in-process binding and behaves like a real one (transfer sessions, an
// asynchronous installation, commit/cancel/close, cluster integrity), with
// fault hooks per method, a call log, and a check that the process never has
// two blocking requests outstanding at once. Its session table lives in a
// file, so a restarted process finds the session it left open.
// Thread-safe: the hooks may be set from any thread while calls arrive on the
// binding's method threads. Not part of the product.
#ifndef SIM_UPDATEMANAGER_H
#define SIM_UPDATEMANAGER_H

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/services/ara/ucm/ClusterIntegrityProvider_skeleton.h"
#include "platform/services/ara/ucm/InstallStatusProvider_skeleton.h"
#include "platform/services/ara/ucm/PackageManagement_skeleton.h"
#include "sim/SandboxBuilder.h"

namespace sim {

enum class UcmMethod {
    kStart,
    kTransferStart,
    kTransferData,
    kTransferExit,
    kInstallUpdate,
    kCommitUpdate,
    kCancelUpdate,
    kClose,
    kGetProgress,
    kGetLog,
    kGetInstallationResult,
    kGetCurrentStatus,
    kGetInstallationStatus,
    kGetSwClusterIntegrity,
    kCancel,
};

const char* UcmMethodName(UcmMethod method);
// By the name UcmMethodName gives; false for an unknown name.
bool ParseUcmMethod(const std::string& name, UcmMethod& method);

// What the next call(s) of one method get instead of the normal answer.
struct UcmFault {
    enum class Kind {
        kNone,
        kError,         // application error: PackageManagement's UCMServiceFailed with `value` in the
                        // method's field, a plain error for the other two services
        kDelay,         // the normal answer, `delay` later
        kDrop,          // no answer until ReleaseDropped
        kNotAvailable,  // answered with the binding's service-not-available error
        kAnswer,        // the result byte is `value` (methods with a one-byte result), state unchanged
    };
    Kind kind = Kind::kNone;
    uint8_t value = 0;
    std::chrono::milliseconds delay{0};

    static UcmFault Error(uint8_t code) { return {Kind::kError, code, {}}; }
    static UcmFault Delay(std::chrono::milliseconds delay) { return {Kind::kDelay, 0, delay}; }
    static UcmFault Drop() { return {Kind::kDrop, 0, {}}; }
    static UcmFault NotAvailable() { return {Kind::kNotAvailable, 0, {}}; }
    static UcmFault Answer(uint8_t value) { return {Kind::kAnswer, value, {}}; }
};

struct UcmCall {
    std::string method;
    std::string arguments;  // payload bytes as a count
    std::string answer;
    std::string ToString() const { return method + "(" + arguments + ") -> " + answer; }
};

class UpdateManager {
public:
    using Bytes = std::vector<uint8_t>;
    using IntegrityValue = std::array<uint8_t, 32>;

    struct Options {
        std::string instance = "1";
        // The session table; empty keeps it in memory only.
        std::string sessionTablePath;
        // Used when the table holds no later id.
        uint32_t firstSessionId = 1;
        // Offered at construction; otherwise Offer() later ("late offering").
        bool offer = true;
        // Progress moves 0..100 in steps of 10, one step per this time.
        std::chrono::milliseconds installStepTime{1};
        // The partition an installation writes (its clusters' integrity data).
        bool inactivePartitionIsB = true;
        // False: transferred bytes are counted, not kept (ReceivedBlocks stay
        // empty), so a long download costs no memory here.
        bool keepReceivedData = true;
    };

    struct SessionInfo {
        uint32_t id = 0;
        std::string state;  // "open", "installing", "installed", "install-failed", "committed", "cancelled", "closed"
        uint32_t announced = 0;
        uint32_t received = 0;
        uint32_t lastCounter = 0;
        bool transferOpen = false;
        uint8_t progress = 0;
    };

    UpdateManager();
    explicit UpdateManager(Options options);
    ~UpdateManager();
    UpdateManager(const UpdateManager&) = delete;
    UpdateManager& operator=(const UpdateManager&) = delete;

    void Offer();
    // Calls made while withdrawn throw zov::com::Service_not_available_exception.
    void Withdraw();
    bool IsOffered() const;
    // After the binding's registry was reset (the process restarted within a
    // test process), whose reset retired the skeletons: offers new ones over
    // the same state (sessions, blocks, faults, call log). Not while a call
    // of the process may still arrive.
    void Reconnect();

    // The next `times` calls of `method` get the fault (a negative count: until cleared).
    void SetFault(UcmMethod method, UcmFault fault, int times = 1);
    void ClearFaults();
    // Answers the dropped calls now, oldest first; returns how many.
    size_t ReleaseDropped();

    // Installations wait before they finish while held.
    void HoldInstallations(bool hold);
    // Installation status of the next installations (7 Success; others fail).
    void SetInstallationStatus(uint8_t status);
    // On a successful installation the directory's files are replaced by these.
    void SetInstallLogistics(std::string directory, std::vector<NamedLogisticsFile> files);
    // Files of the inactive partition after an A/B install of `installed`:
    // the active partition's files, each replaced by the package's file of the same name.
    static std::vector<NamedLogisticsFile> MergeLogistics(const std::vector<NamedLogisticsFile>& active,
                                                          const std::vector<NamedLogisticsFile>& installed);

    void SetClusterIntegrity(const std::string& cluster, bool readPartitionB, uint8_t status, IntegrityValue value);

    // ---- observation ----
    std::vector<UcmCall> Calls() const;
    size_t CountCalls(UcmMethod method) const;
    void ClearCalls();
    // Each TransferStart opens a block; the bytes received in it.
    std::vector<Bytes> ReceivedBlocks(uint32_t sessionId) const;
    std::optional<SessionInfo> Session(uint32_t sessionId) const;
    uint8_t CurrentStatus() const;
    // Most blocking requests outstanding at once since construction.
    uint32_t MaxOutstandingBlocking() const;
    uint32_t OutstandingBlocking() const;
    // Waits until the session's installation has ended.
    bool WaitForInstallation(uint32_t sessionId, std::chrono::milliseconds timeout) const;

private:
    class PackageManagementService;
    class InstallStatusService;
    class ClusterIntegrityService;
    struct SessionRecord {
        SessionInfo info;
        bool installDone = false;
        uint8_t installResult = 0xFF;  // 0 success, 1 failed, 0xFF none
        uint8_t installStatus = 0xFF;
        std::vector<Bytes> blocks;
        std::vector<ara::ucm::LogEntryType> log;
    };
    struct FaultSlot {
        UcmFault fault;
        int remaining = 0;
    };

    template <typename T>
    jux::com::Future<T> Answer(UcmMethod method, std::string arguments, std::function<T(const UcmFault&)> compute);

    UcmFault TakeFault(UcmMethod method);
    void Record(UcmMethod method, const std::string& arguments, const std::string& answer);
    void LeaveBlocking(UcmMethod method);
    bool Waiting(std::chrono::milliseconds delay);  // false when stopping

    // Under m_mutex.
    SessionRecord& Find(uint32_t id, UcmMethod method, size_t errorField);
    void UpdateStatusLocked();
    void SaveLocked() const;
    void Load();
    void RunInstallation(uint32_t id, std::shared_ptr<jux::com::Promise<void>> promise);

    // Method implementations (under m_mutex where they touch the table).
    ara::ucm::PackageManagement::Start::Output DoStart();
    uint8_t DoTransferStart(uint32_t id, uint32_t size);
    uint8_t DoTransferData(uint32_t id, const Bytes& data, uint32_t counter);
    uint8_t DoTransferExit(uint32_t id);
    void DoCommit(uint32_t id);
    void DoCancel(uint32_t id);
    void DoClose(uint32_t id);

    Options m_options;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    bool m_stopping = false;
    bool m_holdInstallations = false;
    uint8_t m_installationStatus = 7;
    uint32_t m_nextId = 1;
    std::map<uint32_t, SessionRecord> m_sessions;
    uint8_t m_currentStatus = 0;
    std::map<UcmMethod, FaultSlot> m_faults;
    std::vector<std::function<void()>> m_dropped;
    std::vector<UcmCall> m_calls;
    uint32_t m_outstanding = 0;
    uint32_t m_maxOutstanding = 0;
    std::map<std::pair<std::string, bool>, std::pair<uint8_t, IntegrityValue>> m_integrity;
    std::string m_logisticsDirectory;
    std::vector<NamedLogisticsFile> m_logisticsFiles;
    std::vector<std::thread> m_installers;

    std::unique_ptr<PackageManagementService> m_packageManagement;
    std::unique_ptr<InstallStatusService> m_installStatus;
    std::unique_ptr<ClusterIntegrityService> m_clusterIntegrity;
};

}  // namespace sim

#endif

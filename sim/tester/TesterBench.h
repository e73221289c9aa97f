// What the tester console plays against: a sandbox laid out from the shipped
// configuration (signed by the bench's own key), the simulated update manager
// on the configured UCM instance, the simulated diagnostic manager, and
// Velmora's process entry (RunVelmora) on a thread of its own over the
// sandbox. The process can be ended and started again over the same sandbox,
// cleanly or as after a power cut; the peers stay, as they would on a vehicle.
//
// One bench per process at a time (the process entry is not reentrant); all
// members on one thread. The DM may also be used from other threads.
// Not part of the product.
#ifndef SIM_TESTER_TESTERBENCH_H
#define SIM_TESTER_TESTERBENCH_H

#include "KivLibrary/GlobalLibrary/SWupdateState.h"
#include "KivLibrary/PartitionHandler/PartitionEnum.h"
#include "sim/DiagnosticManager.h"
#include "sim/PackageBuilder.h"
#include "sim/SandboxBuilder.h"
#include "sim/UpdateManager.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class KivConfiguration;
class KivRuntime;

namespace sim {

class TesterBench {
public:
    struct Options {
        // Empty: a fresh directory below the system's temporary directory,
        // removed at the end unless keepRoot.
        std::string root;
        bool keepRoot = false;
        // Up to this long for the process to report kRunning.
        std::chrono::milliseconds startTimeout{30000};
        // The simulated installation moves 10 % per step.
        std::chrono::milliseconds installStepTime{20};
        // False: the process leaves the logging backend as it is (a test's capture).
        bool installLogging = true;
    };

    // RFS version of every installed block in the bench's sandbox (its
    // packages list the blocks at it: their downgrade-protection minimum).
    static constexpr const char* kInstalledRfs = "0005";
    // Versions (AppSW, LogicalBlock) a package gives the blocks it carries.
    static constexpr const char* kPackageVersion = "0200";

    // Lays the sandbox out and starts the peers; throws std::runtime_error.
    explicit TesterBench(Options options);
    TesterBench();
    // Ends a running process, withdraws the peers, removes a fresh sandbox.
    ~TesterBench();
    TesterBench(const TesterBench&) = delete;
    TesterBench& operator=(const TesterBench&) = delete;

    // Starts the process and returns once it reported kRunning; throws
    // std::runtime_error when it ends or does not get there in time.
    void Start();
    // Ends the process cleanly (as execution management does) and waits.
    void Stop();
    // Stop, then Start over the same sandbox.
    void Restart();
    // Ends the process with the storage medium frozen (its shutdown writes
    // are lost), then starts it again.
    void PowerCut();
    // The next start boots the other partition, as the boot loader does
    // after an installation and a reset.
    void SwitchPartition();
    bool Running() const;
    // Blocks until the process ends by itself (a signal, its own decision)
    // and returns its exit code.
    int WaitForEnd();

    // Builds the session's package: the downloaded blocks (id, size) in
    // this order with deterministic payloads and kPackageVersion, the other
    // configured blocks of the host listed at their installed versions; and
    // hands the simulated UCM the logistics an installation of it writes.
    // Throws std::invalid_argument for a package that cannot be built.
    const Package& BuildPackage(const std::vector<std::pair<uint16_t, uint32_t>>& downloaded, Defect defect);
    // The last package built, or nullptr.
    const Package* CurrentPackage() const;

    DiagnosticManager& Dm() { return *m_dm; }
    UpdateManager& Ucm() { return *m_ucm; }
    const SandboxBuilder& Sandbox() const { return m_sandbox; }
    const KivConfiguration& Configuration() const { return *m_configuration; }
    // The SW update state the running process holds; empty when none runs.
    std::optional<SWupdateState> SwUpdateState() const;

private:
    void Prepare();
    void RemoveOwnRoot() const;
    void Launch();
    void End(bool powercut);
    std::vector<NamedLogisticsFile> InstalledLogistics(PartitionEnum partition) const;

    Options m_options;
    bool m_ownRoot = false;
    SandboxBuilder m_sandbox;
    std::shared_ptr<KivConfiguration> m_configuration;
    std::unique_ptr<UpdateManager> m_ucm;
    std::unique_ptr<DiagnosticManager> m_dm;
    std::unique_ptr<Package> m_package;

    std::thread m_process;
    mutable std::mutex m_mutex;
    std::condition_variable m_ended;
    bool m_running = false;               // m_mutex
    int m_exitCode = 0;                   // m_mutex
    std::weak_ptr<KivRuntime> m_runtime;  // m_mutex
};

}  // namespace sim

#endif

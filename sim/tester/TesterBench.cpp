#include "sim/tester/TesterBench.h"

#include "KivLibrary/GlobalLibrary/KivConfigParser.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Helper/TerminationFlag.h"
#include "KivLibrary/KivLibrary/KivRuntime.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "platform/HostPath.h"
#include "platform/ara/exec/application_client.h"
#include "platform/ara/per/key_value_storage.h"
#include "velmora/src/RunVelmora.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace sim {

namespace fs = std::filesystem;

namespace {

std::string MakeRoot(const TesterBench::Options& options, bool& own) {
    own = options.root.empty();
    if (!own) {
        fs::create_directories(options.root);
        return options.root;
    }
    std::string pattern = (fs::temp_directory_path() / "velmora-tester-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary directory below " + fs::temp_directory_path().string());
    }
    return pattern;
}

// Key generation takes a while: one key signs every sandbox and package of
// the process.
PackageBuilder& Signer() {
    static PackageBuilder signer;
    return signer;
}

// "\"0101\"" -> "0101"
std::string Unquote(const std::string& fragment) {
    if (fragment.size() >= 2 && fragment.front() == '"' && fragment.back() == '"') {
        return fragment.substr(1, fragment.size() - 2);
    }
    return fragment;
}

Version VersionOf(const std::string& text) {
    Version version{{'0', '0', '0', '0'}};
    for (size_t i = 0; i < version.size() && i < text.size(); ++i) {
        version[i] = static_cast<uint8_t>(text[i]);
    }
    return version;
}

// Deterministic and different per block.
Bytes Payload(uint16_t id, uint32_t size) {
    Bytes payload(size);
    for (uint32_t i = 0; i < size; ++i) {
        payload[i] = static_cast<uint8_t>((i * 31U + id * 7U + (i >> 8)) & 0xFFU);
    }
    return payload;
}

// UCM's cluster-integrity status of a valid value.
constexpr uint8_t kIntegrityValid = 7;

PartitionEnum Other(PartitionEnum partition) {
    return partition == PartitionEnum::A ? PartitionEnum::B : PartitionEnum::A;
}

}  // namespace

TesterBench::TesterBench() : TesterBench(Options{}) {}

TesterBench::TesterBench(Options options) : m_options(std::move(options)), m_sandbox(MakeRoot(m_options, m_ownRoot)) {
    try {
        Prepare();
    } catch (...) {
        m_dm.reset();
        m_ucm.reset();
        platform::testhook::SetHostRoot("");
        RemoveOwnRoot();
        throw;
    }
}

void TesterBench::RemoveOwnRoot() const {
    if (m_ownRoot && !m_options.keepRoot) {
        std::error_code error;
        fs::remove_all(m_sandbox.Root(), error);
    }
}

void TesterBench::Prepare() {
    // Every system path of the process (database, "/sys/swupd/" files) goes
    // below the sandbox.
    platform::testhook::SetHostRoot(m_sandbox.Root());
    // A fresh process state: the binding's registry too, before the peers offer.
    ResetProcessState();
    ara::per::testhook::Reset();

    m_sandbox.SetPublicKeyPem(Signer().PublicKeyPem());
    for (PartitionEnum partition : {PartitionEnum::A, PartitionEnum::B}) {
        m_sandbox.SetLogistics(partition, InstalledLogistics(partition));
    }
    m_sandbox.WriteAll();

    std::ifstream file(m_sandbox.ConfigPath());
    m_configuration = std::make_shared<KivConfiguration>();
    KivConfigParser parser(file);
    if (!parser.parse(m_configuration)) {
        throw std::runtime_error("the sandbox's configuration " + m_sandbox.ConfigPath() + " does not parse");
    }

    UpdateManager::Options ucm;
    ucm.instance = m_configuration->ucmServiceInstanceId;
    ucm.sessionTablePath = m_sandbox.Root() + "/sim/ucm_sessions.json";
    ucm.installStepTime = m_options.installStepTime;
    ucm.inactivePartitionIsB = m_sandbox.ActivePartition() == PartitionEnum::A;
    fs::create_directories(m_sandbox.Root() + "/sim");
    m_ucm = std::make_unique<UpdateManager>(ucm);
    // Every configured cluster is intact in both partitions; an installation
    // reports the same integrity values.
    for (const NamedLogisticsFile& file : m_sandbox.Logistics(PartitionEnum::A)) {
        const std::string cluster = Unquote(file.second.name);
        if (cluster.empty()) {
            continue;
        }
        UpdateManager::IntegrityValue value{};
        for (size_t i = 0; i < value.size(); ++i) {
            value[i] = static_cast<uint8_t>(cluster[i % cluster.size()] + i);
        }
        for (bool partitionB : {false, true}) {
            m_ucm->SetClusterIntegrity(cluster, partitionB, kIntegrityValid, value);
        }
    }
    m_dm = std::make_unique<DiagnosticManager>(DiagnosticManager::Options::FromConfiguration(*m_configuration));
}

TesterBench::~TesterBench() {
    if (Running()) {
        // Calls held back by `@ucm drop` would hold the shutdown up.
        m_ucm->ReleaseDropped();
        End(false);
    }
    m_dm.reset();
    m_ucm.reset();
    ResetProcessState();
    ara::exec::testhook::Reset();
    platform::testhook::SetHostRoot("");
    RemoveOwnRoot();
}

std::vector<NamedLogisticsFile> TesterBench::InstalledLogistics(PartitionEnum partition) const {
    std::vector<NamedLogisticsFile> files = m_sandbox.DefaultLogistics(partition);
    for (auto& file : files) {
        file.second.Rfs(kInstalledRfs);
    }
    return files;
}

void TesterBench::Start() { Launch(); }

void TesterBench::Launch() {
    if (Running()) {
        throw std::logic_error("the process runs already");
    }
    if (m_process.joinable()) {
        m_process.join();
    }
    ara::exec::testhook::Reset();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = true;
        m_exitCode = 0;
        m_runtime.reset();
    }
    VelmoraEntryDependencies deps = ProductionEntryDependencies();
    if (!m_options.installLogging) {
        deps.initializeLogging = [] {};
    }
    deps.runtimeCreated = [this](std::weak_ptr<KivRuntime> runtime) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_runtime = std::move(runtime);
    };
    const std::string config = m_sandbox.ConfigPath();
    m_process = std::thread([this, deps, config] {
        std::string program = "velmora";
        std::string argument = config;
        char* argv[] = {program.data(), argument.data(), nullptr};
        const int code = RunVelmora(2, argv, deps);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_exitCode = code;
        m_running = false;
        m_ended.notify_all();
    });

    const auto deadline = std::chrono::steady_clock::now() + m_options.startTimeout;
    while (!ara::exec::testhook::WaitForReport(ara::exec::ApplicationState::kRunning, std::chrono::milliseconds(20))) {
        if (!Running()) {
            m_process.join();
            throw std::runtime_error("Velmora ended during its start-up with exit code " + std::to_string(m_exitCode));
        }
        if (std::chrono::steady_clock::now() > deadline) {
            End(false);
            throw std::runtime_error("Velmora did not report kRunning within " +
                                     std::to_string(m_options.startTimeout.count()) + " ms");
        }
    }
}

void TesterBench::End(bool powercut) {
    if (powercut) {
        ara::per::testhook::FreezeMedium(true);
    }
    RequestTermination();
    if (m_process.joinable()) {
        m_process.join();
    }
    if (powercut) {
        ara::per::testhook::FreezeMedium(false);
    }
}

void TesterBench::Stop() { End(false); }

void TesterBench::Restart() {
    End(false);
    // The next run starts from a fresh process state; the peers, whose
    // skeletons and searches the registry reset retired, come back first
    // with the state they had.
    ResetProcessState();
    m_ucm->Reconnect();
    m_dm->Reconnect();
    Launch();
}

void TesterBench::PowerCut() {
    End(true);
    ResetProcessState();
    m_ucm->Reconnect();
    m_dm->Reconnect();
    Launch();
}

void TesterBench::SwitchPartition() {
    m_sandbox.SetActivePartition(Other(m_sandbox.ActivePartition()));
    m_sandbox.WriteKernelCommandLine();
    m_sandbox.WriteSysfsFlags();
}

bool TesterBench::Running() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_running;
}

int TesterBench::WaitForEnd() {
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_ended.wait(lock, [this] { return !m_running; });
    }
    if (m_process.joinable()) {
        m_process.join();
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_exitCode;
}

std::optional<SWupdateState> TesterBench::SwUpdateState() const {
    std::shared_ptr<KivRuntime> runtime;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_running) {
            return std::nullopt;
        }
        runtime = m_runtime.lock();
    }
    if (!runtime || !runtime->Context().sessionData) {
        return std::nullopt;
    }
    return runtime->Context().sessionData->GetSWupdateState();
}

const Package& TesterBench::BuildPackage(const std::vector<std::pair<uint16_t, uint32_t>>& downloaded, Defect defect) {
    PackageBuilder& builder = Signer();
    builder.ClearBlocks();
    builder.SetDptBlockId(static_cast<uint16_t>(m_configuration->logicalBlockId_dpt));
    builder.SetAddressWidth(static_cast<size_t>(m_configuration->length_of_logicalBlockId));

    // As the partition stands now: after an earlier session's installation
    // and a partition switch, the active files are the ones UCM wrote.
    const PartitionEnum active = m_sandbox.ActivePartition();
    const std::vector<NamedLogisticsFile> installed = m_sandbox.ReadLogistics(active);
    std::vector<NamedLogisticsFile> written;
    for (const auto& [id, size] : downloaded) {
        if (id > 0xFF) {
            throw std::invalid_argument("block id " + std::to_string(id) + " does not fit a package record");
        }
        builder.AddBlock(BlockDefinition{static_cast<uint8_t>(id), Payload(id, size), VersionOf(kInstalledRfs),
                                         VersionOf(kPackageVersion)});
    }
    for (const NamedLogisticsFile& file : installed) {
        const auto id = static_cast<uint16_t>(std::stoul(file.second.id));
        bool carried = false;
        for (const auto& block : downloaded) {
            carried = carried || block.first == id;
        }
        if (carried) {
            LogisticsFile updated = file.second;
            updated.AppSw(kPackageVersion)
                .BlockVersion(kPackageVersion)
                .Revision("rev_package_" + std::string(kPackageVersion));
            written.emplace_back(file.first, updated);
        } else {
            builder.AddBlock(BlockDefinition{static_cast<uint8_t>(id),
                                             {},
                                             VersionOf(Unquote(file.second.rfs)),
                                             VersionOf(Unquote(file.second.logicalBlock))});
        }
    }
    builder.SetDefect(defect);
    auto package = std::make_unique<Package>(builder.Build());
    m_ucm->SetInstallLogistics(m_sandbox.LogisticsDirectory(Other(active)),
                               UpdateManager::MergeLogistics(installed, written));
    m_package = std::move(package);
    return *m_package;
}

const Package* TesterBench::CurrentPackage() const { return m_package.get(); }

}  // namespace sim

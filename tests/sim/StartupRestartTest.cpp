// The start-up of the configuration, session-state and database layers in the
// order of the process entry, through the real code over a sandbox laid out
// like an ECU; then the same start-up again over what the first run left.
#include "KivLibrary/GlobalLibrary/KivConfigParser.h"
#include "KivLibrary/GlobalLibrary/PartitionHandlerExecution.h"
#include "KivLibrary/GlobalLibrary/SWupdateStatus.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Helper/SignalHandlerRegistration.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/PartitionHandler/PartitionHandler.h"
#include "KivLibrary/Persistency/AraPersistency.h"
#include "KivLibrary/Persistency/CreatePersistentDataStorage.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/Persistency/LogisticFileHandler.h"
#include "platform/ara/per/key_value_storage.h"
#include "signature/SignatureVerifier.h"
#include "sim/SandboxBuilder.h"
#include "tests/KivLibrary/Persistency/DatabaseStackSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using testsupport::DbSnapshot;
using testsupport::Level;

constexpr uint32_t kUcmSession = 0x2A17;

// One line per record, so that a difference names the block.
std::vector<std::string> Describe(const LogicalBlockCacheData& cache) {
    std::vector<std::string> lines;
    for (const LogicalBlockCache& block : cache.blocks) {
        lines.push_back(std::to_string(block.id) + " " + block.name + " " +
                        std::string(block.version.begin(), block.version.end()) + " rfs " +
                        std::string(block.rfsCurrentVersion.begin(), block.rfsCurrentVersion.end()));
    }
    return lines;
}

std::string EcuVersion(const ecuInfoCache& ecu) {
    return std::string(ecu.begin() + EcuInfoLayout::kVersionOffset,
                       ecu.begin() + EcuInfoLayout::kVersionOffset + EcuInfoLayout::kVersionSize);
}

std::vector<uint8_t> Ids(const LogicalBlocks& blocks) {
    std::vector<uint8_t> ids;
    for (const LogicalBlock& block : blocks) {
        ids.push_back(block.m_id);
    }
    return ids;
}

// What a start-up reached.
struct StartupState {
    std::string hostname;
    uint8_t vmId = 0;
    std::vector<uint32_t> flashBlocks;
    std::string portName;
    std::string publicKeyPath;
    std::string activePartition;
    std::string inactivePartition;
    std::string activeLogisticsPath;
    std::string inactiveLogisticsPath;
    std::map<uint32_t, PartitionEnum> activePartitionMap;
    bool sysfsValid = false;
    SWupdateState restoredStatus = SWupdateState::INVALID;
    DbSnapshot database;
    std::vector<std::string> activeBlocks;
    std::vector<std::string> mirrorBlocks;
    ecuInfoCache activeEcu{};
    ecuInfoCache mirrorEcu{};
};

void ExpectSameState(const StartupState& expected, const StartupState& actual) {
    EXPECT_EQ(actual.hostname, expected.hostname);
    EXPECT_EQ(actual.vmId, expected.vmId);
    EXPECT_EQ(actual.flashBlocks, expected.flashBlocks);
    EXPECT_EQ(actual.portName, expected.portName);
    EXPECT_EQ(actual.publicKeyPath, expected.publicKeyPath);
    EXPECT_EQ(actual.activePartition, expected.activePartition);
    EXPECT_EQ(actual.inactivePartition, expected.inactivePartition);
    EXPECT_EQ(actual.activeLogisticsPath, expected.activeLogisticsPath);
    EXPECT_EQ(actual.inactiveLogisticsPath, expected.inactiveLogisticsPath);
    EXPECT_EQ(actual.activePartitionMap, expected.activePartitionMap);
    EXPECT_EQ(actual.sysfsValid, expected.sysfsValid);
    EXPECT_EQ(toString(actual.restoredStatus), toString(expected.restoredStatus));
    EXPECT_EQ(actual.database, expected.database);
    EXPECT_EQ(actual.activeBlocks, expected.activeBlocks);
    EXPECT_EQ(actual.mirrorBlocks, expected.mirrorBlocks);
    EXPECT_EQ(actual.activeEcu, expected.activeEcu);
    EXPECT_EQ(actual.mirrorEcu, expected.mirrorEcu);
}

// One run of the process up to the end of these layers' start-up. The objects
// are held as the process entry and the runtime hold them and are released in
// reverse order of creation.
class ProcessRun {
public:
    explicit ProcessRun(std::string configPath) : m_configPath(std::move(configPath)) {}
    ~ProcessRun() { Stop(); }
    ProcessRun(const ProcessRun&) = delete;
    ProcessRun& operator=(const ProcessRun&) = delete;

    void Start() {
        // Logging first, as the process entry does; the capture goes on top so
        // that the run's messages can be checked.
        InitializeLogging("Prog", "Velmora_application");
        capture = std::make_unique<testsupport::LogCapture>();

        signals = std::make_unique<SignalHandlerRegistration>([] { return GetSystemCallApi(); });

        std::ifstream file(m_configPath);
        configuration = std::make_shared<KivConfiguration>();
        KivConfigParser parser(file);
        ASSERT_TRUE(parser.parse(configuration)) << capture->Dump();

        // The handler is not kept after the partition information is stored.
        ASSERT_TRUE(
            PartitionHandlerExecution::DetermineGlobalAbSettings(CreatePartitionHandler(configuration), configuration))
            << capture->Dump();

        // The communication runtime, created here by the process entry, is not needed by these layers.
        database = CreatePersistentDataStorage(configuration, StorageFactory(CreateAraPersistency));
        ASSERT_TRUE(database) << capture->Dump();

        // The runtime's share: the session first, the update status last.
        session = std::make_shared<SessionData>(configuration, database, std::make_shared<SignatureVerifier>());
        status = std::make_shared<SWupdateStatus>(database);
        session->SetSWupdateStatus(status);

        // The persisted state comes back before any other state change.
        status->ReadStatus(restoredStatus);

        LogisticFileHandler logistics(configuration, database, session);
        logistics.ReadActiveLogistics();
        imported = !database->HasInstalledLogicalBlocks();
        if (imported) {
            ImportInstalledLogistics(logistics);
        }
        logistics.ReadInactiveLogistics();
    }

    void Stop() {
        if (session) {
            session->SetSWupdateStatus(nullptr);
        }
        status.reset();
        session.reset();
        // Nothing else may keep the storage open: its unsynced changes must go now.
        EXPECT_TRUE(!database || database.use_count() == 1);
        database.reset();
        configuration.reset();
        signals.reset();
        capture.reset();
    }

    StartupState State() const {
        StartupState state;
        state.hostname = configuration->hostname;
        state.vmId = configuration->vmId;
        state.flashBlocks = configuration->flashBlocks;
        state.portName = configuration->port_name;
        state.publicKeyPath = configuration->Public_key_path;
        state.activePartition = configuration->activePartitionName;
        state.inactivePartition = configuration->inactivePartitionName;
        state.activeLogisticsPath = configuration->activeLogisticsPath;
        state.inactiveLogisticsPath = configuration->inactiveLogisticsPath;
        state.activePartitionMap = configuration->activePartitionMap;
        state.sysfsValid = configuration->sysfsValid;
        state.restoredStatus = restoredStatus;
        state.database = DbSnapshot::Of(*database);
        const auto active = session->GetInstalledLogistics();
        const auto mirror = session->GetUpdatedLogistics();
        state.activeBlocks = Describe(*active);
        state.mirrorBlocks = Describe(*mirror);
        state.activeEcu = active->ecuInfo;
        state.mirrorEcu = mirror->ecuInfo;
        return state;
    }

    // An update that reached INSTALL_COMPLETE for the inactive partition, made durable.
    void RecordInstalledUpdate() {
        session->SetUcmSessionId(kUcmSession);
        ASSERT_TRUE(database->WriteUcmSessionId(kUcmSession));
        ASSERT_TRUE(status->SetStatus(SWupdateState::TRANSFER_IN_PROGRESS));
        ASSERT_TRUE(status->SetStatus(SWupdateState::INSTALL_IN_PROGRESS));
        ASSERT_TRUE(database->WriteUpdateForPartition(PartitionEnum::B));
        ASSERT_TRUE(status->SetStatus(SWupdateState::INSTALL_COMPLETE));
        ASSERT_TRUE(database->SyncToStorage());
    }

    std::unique_ptr<testsupport::LogCapture> capture;
    std::unique_ptr<SignalHandlerRegistration> signals;
    std::shared_ptr<KivConfiguration> configuration;
    std::shared_ptr<PersistentDataStorage> database;
    std::shared_ptr<SessionData> session;
    std::shared_ptr<SWupdateStatus> status;
    SWupdateState restoredStatus = SWupdateState::INVALID;
    bool imported = false;

private:
    // As the runtime's start-up step does when the database holds no installed
    // blocks: the ACTIVE logistics become the installed and updated records.
    void ImportInstalledLogistics(LogisticFileHandler& logistics) {
        LogicalBlocks list;
        database->ReadInstalledLogicalBlocks(list);
        const auto active = session->GetInstalledLogistics();
        logistics.PopulateCaches(*active, list);
        const auto ecu = static_cast<EcuInfo>(active->ecuInfo[EcuInfoLayout::kProgrammingInfoOffset]);
        database->WriteUpdatedEcuInfo(ecu);
        database->WriteInstalledEcuInfo(ecu);
        database->WriteUpdatedLogicalBlocks(list);
        database->WriteInstalledLogicalBlocks(list);
    }

    std::string m_configPath;
};

class StartupRestartTest : public ::testing::Test {
protected:
    StartupRestartTest() {
        ara::per::testhook::Reset();
        builder.WriteAll();
    }
    ~StartupRestartTest() override {
        ara::per::testhook::Reset();
        // Every run installs the ara::log backend; later cases of the binary get the one they had.
        SetLoggingBackend(previousLogging);
    }

    std::unique_ptr<ProcessRun> StartRun() {
        auto run = std::make_unique<ProcessRun>(builder.ConfigPath());
        run->Start();
        return run;
    }

    static void ExpectNoErrors(const ProcessRun& run) {
        for (const auto& message : run.capture->Messages()) {
            EXPECT_NE(message.level, Level::kError) << message.text;
            EXPECT_NE(message.level, Level::kFatal) << message.text;
        }
    }

    std::shared_ptr<LoggingBackend> previousLogging = GetLoggingBackend();
    testsupport::Sandbox box{true};
    sim::SandboxBuilder builder{box.Root()};
};

TEST_F(StartupRestartTest, AFreshEcuStartsAndARestartFindsTheSameStateWithTheRecordedUpdate) {
    auto first = StartRun();
    ASSERT_FALSE(HasFatalFailure());
    const StartupState fresh = first->State();

    // Configuration and partitions, from the sandbox's files.
    EXPECT_EQ(fresh.hostname, "vm_adaptive");
    EXPECT_EQ(fresh.flashBlocks, (std::vector<uint32_t>{1, 2, 3, 4}));
    EXPECT_EQ(fresh.portName, "KivDatabase");
    EXPECT_EQ(fresh.publicKeyPath, builder.PublicKeyPath());
    EXPECT_TRUE(first->capture->Contains(Level::kInfo, "key loaded from: " + builder.PublicKeyPath()));
    EXPECT_EQ(fresh.activePartition, "a");
    EXPECT_EQ(fresh.inactivePartition, "b");
    EXPECT_EQ(fresh.activeLogisticsPath, builder.LogisticsDirectory(PartitionEnum::A));
    EXPECT_EQ(fresh.inactiveLogisticsPath, builder.LogisticsDirectory(PartitionEnum::B));
    EXPECT_TRUE(fresh.sysfsValid);
    EXPECT_EQ(fresh.activePartitionMap,
              (std::map<uint32_t, PartitionEnum>{
                  {1, PartitionEnum::A}, {2, PartitionEnum::A}, {3, PartitionEnum::A}, {4, PartitionEnum::A}}));

    // An empty database: stamped, IDLE, and the ACTIVE logistics imported.
    EXPECT_TRUE(first->imported);
    EXPECT_EQ(fresh.restoredStatus, SWupdateState::IDLE);
    EXPECT_EQ(fresh.database.format, "Serialization-Layout_1.0");
    EXPECT_EQ(fresh.database.state, SWupdateState::IDLE);
    EXPECT_FALSE(fresh.database.hasSessionId);
    EXPECT_FALSE(fresh.database.hasPartition);
    EXPECT_EQ(Ids(fresh.database.installedBlocks), (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(fresh.database.updatedBlocks, fresh.database.installedBlocks);
    EXPECT_EQ(fresh.database.installedEcuInfo, EcuInfo::ReprogrammableAndConsistent);
    for (const LogicalBlock& block : fresh.database.installedBlocks) {
        EXPECT_EQ(std::string(block.m_rfsMinVersion.begin(), block.m_rfsMinVersion.end()), "0001");
    }

    // Each cache from its own partition's files.
    EXPECT_EQ(fresh.activeBlocks,
              (std::vector<std::string>{"1 vm_adaptive_lb1 0101 rfs 0001", "2 vm_adaptive_lb2 0101 rfs 0001",
                                        "3 vm_adaptive_lb3 0101 rfs 0001", "4 vm_adaptive_lb4 0101 rfs 0001"}));
    EXPECT_EQ(fresh.mirrorBlocks,
              (std::vector<std::string>{"1 vm_adaptive_lb1 0102 rfs 0001", "2 vm_adaptive_lb2 0102 rfs 0001",
                                        "3 vm_adaptive_lb3 0102 rfs 0001", "4 vm_adaptive_lb4 0102 rfs 0001"}));
    EXPECT_EQ(EcuVersion(fresh.activeEcu), "0101");
    EXPECT_EQ(EcuVersion(fresh.mirrorEcu), "0102");
    EXPECT_EQ(fresh.activeEcu[0], 0x40);
    EXPECT_EQ(fresh.mirrorEcu[0], 0x40);

    ASSERT_NO_FATAL_FAILURE(first->RecordInstalledUpdate());
    EXPECT_EQ(box.ReadFile("sys/swupd/vm_status"), "install_comp");
    ExpectNoErrors(*first);
    StartupState expected = fresh;
    expected.database = DbSnapshot::Of(*first->database);
    expected.restoredStatus = SWupdateState::INSTALL_COMPLETE;
    first->Stop();
    first.reset();

    auto second = StartRun();
    ASSERT_FALSE(HasFatalFailure());
    ExpectNoErrors(*second);
    EXPECT_FALSE(second->imported);
    const StartupState restarted = second->State();
    ExpectSameState(expected, restarted);
    EXPECT_EQ(restarted.database.sessionId, kUcmSession);
    EXPECT_EQ(restarted.database.partition, PartitionEnum::B);
    EXPECT_EQ(second->status->GetStatus(), SWupdateState::INSTALL_COMPLETE);
    EXPECT_EQ(second->session->GetSWupdateState(), SWupdateState::INSTALL_COMPLETE);
}

TEST_F(StartupRestartTest, ARestartWithoutAnySyncImportsTheSameLogisticsAgain) {
    auto first = StartRun();
    ASSERT_FALSE(HasFatalFailure());
    const StartupState fresh = first->State();
    first.reset();

    auto second = StartRun();
    ASSERT_FALSE(HasFatalFailure());
    ExpectNoErrors(*second);
    // Only the format stamp was made durable; the start-up's own writes are redone.
    EXPECT_TRUE(second->imported);
    ExpectSameState(fresh, second->State());
}

TEST_F(StartupRestartTest, ARestartAfterAPowerCutFindsThePreviousCompleteState) {
    auto first = StartRun();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_NO_FATAL_FAILURE(first->RecordInstalledUpdate());
    StartupState complete = first->State();
    complete.restoredStatus = SWupdateState::INSTALL_COMPLETE;
    first.reset();

    // The next run moves on towards the commit, but the power goes before its sync lands.
    auto second = StartRun();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(second->status->SetStatus(SWupdateState::UPDATE_IN_PROGRESS_COMMIT));
    ASSERT_TRUE(second->database->RemoveUcmSessionId());
    ASSERT_TRUE(second->database->WriteUpdateForPartition(PartitionEnum::A));
    ara::per::testhook::FreezeMedium(true);
    EXPECT_TRUE(second->database->SyncToStorage());
    second.reset();
    ara::per::testhook::FreezeMedium(false);

    auto third = StartRun();
    ASSERT_FALSE(HasFatalFailure());
    ExpectNoErrors(*third);
    EXPECT_FALSE(third->imported);
    ExpectSameState(complete, third->State());
    EXPECT_EQ(third->status->GetStatus(), SWupdateState::INSTALL_COMPLETE);
}

}  // namespace

// The routine services over the real session state, database stack and
// binding, in a sandbox laid out like an ECU; UCM is scripted. Tests call the
// routines through their proxies as the diagnostic manager does.
#ifndef TESTS_KIVLIBRARY_ROUTINES_ROUTINEHARNESS_H
#define TESTS_KIVLIBRARY_ROUTINES_ROUTINEHARNESS_H

#include "KivLibrary/GlobalLibrary/KivConfigParser.h"
#include "KivLibrary/GlobalLibrary/PartitionHandlerExecution.h"
#include "KivLibrary/GlobalLibrary/RFS.h"
#include "KivLibrary/GlobalLibrary/SWupdateStatus.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/KivLibrary/RoutineServicesImpl.h"
#include "KivLibrary/PartitionHandler/PartitionHandler.h"
#include "KivLibrary/Persistency/AraPersistency.h"
#include "KivLibrary/Persistency/CreatePersistentDataStorage.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/Persistency/LogisticFileHandler.h"
#include "platform/ara/per/key_value_storage.h"
#include "platform/com/Runtime.h"
#include "signature/SignatureVerifier.h"
#include "sim/PackageBuilder.h"
#include "sim/SandboxBuilder.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"
#include "tests/support/ScriptedUcm.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace routinetest {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kUcmSession = 0x17;
constexpr uint8_t kFormat = 0x42;  // 4 size bytes, 2 address bytes

// One key pair for the whole binary: generating it takes a while.
inline sim::PackageBuilder& Signer() {
    static sim::PackageBuilder builder;
    return builder;
}

template <typename Proxy>
std::unique_ptr<Proxy> Connect(const std::string& instance = "1") {
    const auto handles = Proxy::FindService(instance);
    return handles.empty() ? nullptr : std::make_unique<Proxy>(handles.front());
}

// The NRC bytes of a failed three-byte routine call; all 0xFF when the call
// did not fail with the routine's application error.
template <typename Error, typename Future>
std::array<uint8_t, 3> NrcOf(Future&& future) {
    try {
        future.get();
    } catch (const Error& error) {
        return {error.GetRequestResultsCode(), error.GetStartCode(), error.GetStopCode()};
    } catch (...) {
    }
    return {0xFF, 0xFF, 0xFF};
}

class RoutineHarness : public ::testing::Test {
public:
    void SetUp() override {
        ara::per::testhook::Reset();
        zov::com::testing::ResetRegistry();
        ucm = std::make_shared<testsupport::ScriptedUcm>();
        sim::SandboxBuilder layout(box.Root());
        layout.SetPublicKeyPem(Signer().PublicKeyPem());
        layout.WriteAll();

        std::ifstream file(layout.ConfigPath());
        configuration = std::make_shared<KivConfiguration>();
        KivConfigParser parser(file);
        ASSERT_TRUE(parser.parse(configuration)) << capture.Dump();
        ASSERT_TRUE(
            PartitionHandlerExecution::DetermineGlobalAbSettings(CreatePartitionHandler(configuration), configuration));
        database = CreatePersistentDataStorage(configuration, StorageFactory(CreateAraPersistency));
        ASSERT_TRUE(database);
        session = std::make_shared<SessionData>(configuration, database, std::make_shared<SignatureVerifier>());
        status = std::make_shared<SWupdateStatus>(database);
        session->SetSWupdateStatus(status);
        SWupdateState restored = SWupdateState::INVALID;
        status->ReadStatus(restored);

        LogisticFileHandler logistics(configuration, database, session);
        logistics.ReadActiveLogistics();
        LogicalBlocks list;
        logistics.PopulateCaches(*session->GetInstalledLogistics(), list);
        ASSERT_TRUE(database->WriteInstalledLogicalBlocks(list));
        ASSERT_TRUE(database->WriteUpdatedLogicalBlocks(list));
        ASSERT_TRUE(database->WriteInstalledEcuInfo(EcuInfo::ReprogrammableAndConsistent));
        logistics.ReadInactiveLogistics();

        RoutineDependencies dependencies{session, ucm, database, nullptr, nullptr, configuration, nullptr};
        routines = std::make_unique<RoutineServicesImpl>(1, dependencies, stateMachine);
        routines->OfferServices();
    }

    void TearDown() override {
        if (routines) {
            routines->StopOfferServices();
        }
        routines.reset();
        if (session) {
            session->SetSWupdateStatus(nullptr);
        }
        zov::com::testing::ResetRegistry();
        ara::per::testhook::Reset();
    }

    // RequestDownload, TransferData and RequestTransferExit of one block as
    // the session records them.
    void Download(const sim::SignedBlock& block) {
        session->SetSignatureResult(0);
        session->StartBlockTransfer(block.memorySize, block.memoryAddress, kFormat);
        session->SetRequestDownloadFinished(false);
        session->DecreaseRemainingSize(true, block.memorySize);
        session->AddTransferredData(block.payload);
        session->FinishBlockTransfer(true);
        session->SetRequestDownloadFinished(true);
    }

    // The DPT block goes into the RFS record instead of a logical block.
    void DownloadDpt(const sim::SignedBlock& dpt) {
        const auto rfs = session->GetRFS();
        rfs->ClearData();
        rfs->SetTransferActive(true);
        Download(dpt);
        rfs->SetTransferActive(false);
    }

    void OpenUcmSession() {
        session->SetUcmSessionId(kUcmSession);
        ASSERT_TRUE(status->SetStatus(SWupdateState::TRANSFER_IN_PROGRESS));
    }

    testsupport::Sandbox box{true};
    testsupport::LogCapture capture;
    std::shared_ptr<testsupport::ScriptedUcm> ucm = std::make_shared<testsupport::ScriptedUcm>();
    std::shared_ptr<KivConfiguration> configuration;
    std::shared_ptr<PersistentDataStorage> database;
    std::shared_ptr<SessionData> session;
    std::shared_ptr<SWupdateStatus> status;
    RoutineServicesImpl::StateMachineSlot stateMachine;
    std::unique_ptr<RoutineServicesImpl> routines;
};

}  // namespace routinetest

#endif

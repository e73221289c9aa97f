// ReadDataByIdentifier, its data identifiers and EcuReset end to end: frames
// through the simulated diagnostic manager, the real binding and the generic
// UDS service over a sandbox with the real database; EcuReset during a
// download against the simulated update manager. Also the DiagnosticInfo
// service as each VM kind publishes it.
#include "KivLibrary/Functional/DiagnosticInfoServiceImpl.h"
#include "KivLibrary/Functional/FlashingThread.h"
#include "KivLibrary/GlobalLibrary/KivDMConversation.h"
#include "KivLibrary/GlobalLibrary/LogicalBlockCacheData.h"
#include "KivLibrary/GlobalLibrary/SWupdateStatus.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/KivLibrary/AutonomousCheck.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/Persistency/PersistentDataStorage.h"
#include "KivLibrary/Ucm/UCMAdaptorImpl.h"
#include "platform/com/Runtime.h"
#include "sim/DiagnosticManager.h"
#include "sim/UdsServiceStack.h"
#include "sim/UpdateManager.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using sim::Bytes;
using testsupport::Level;

using testsupport::WaitUntil;

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

LogicalBlock Block(uint8_t id, uint16_t attempts, uint16_t lock) {
    LogicalBlock block;
    block.m_id = id;
    block.m_programmingAttempts = attempts;
    block.m_lockValue = lock;
    block.m_fingerPrint.m_date = {0x24, 0x03, 0x15};
    block.m_fingerPrint.m_serial = {1, 2, 3, 4, 5, 6};
    block.m_fingerPrint.m_status = 0x07;
    block.m_rfsMinVersion = {'0', '2', '0', '0'};
    return block;
}

void PutText(ecuInfoCache& ecu, size_t offset, const std::string& text) {
    std::memcpy(ecu.data() + offset, text.data(), text.size());
}

class CountingCheck : public AutonomousCheck {
public:
    bool Stop() override { return true; }
    bool Start() override { return true; }
    bool IsRunning() override { return false; }
    bool AllIvdDataFetched() override { return false; }
    void StartIvdTimer() override { ++timerStarts; }
    void FetchingIVDFromUCMFinished() override {}
    void RequestIVDForLB() override {}
    void HandleIVDDataForLB() override {}
    void PauseIVD() override {}
    std::function<void()> GetSendEventCallback(unsigned) override {
        return [] {};
    }
    void SendEventToStateMachine(unsigned) override {}
    bool InvokeTask(std::function<void()>) override { return false; }
    bool StartDelayStartTimer(std::function<void()>, unsigned long) override { return false; }
    bool StartStartTimer(std::function<void()>, unsigned long) override { return false; }
    void CancelAC() override {}
    void CancelACTask() override {}
    void StoreIVDForCluster(SwClusterIntegrity, Clock::time_point) override {}
    void StoreIVDForClusterTask(SwClusterIntegrity, Clock::time_point) override {}
    void CancelCluster(CancelStatusType, std::string) override {}
    void CancelClusterTask(CancelStatusType, std::string) override {}
    void PauseForFastShutdown() override {}
    void ResumeAfterFastShutdown() override {}
    std::atomic<int> timerStarts{0};
};

class ReadAndResetTest : public ::testing::Test {
protected:
    ReadAndResetTest() {
        session->SetSWupdateStatus(status);
        // vm_adaptive: blocks 1 2 3 4; block 1 is stored, 2 has a corrupt IVD.
        session->ReplaceLogistics(true, [](LogicalBlockCacheData& cache) {
            cache.blocks.clear();
            for (uint16_t id = 1; id <= 2; ++id) {
                LogicalBlockCache record;
                record.id = id;
                record.version = {'A', '0', '0', static_cast<uint8_t>('0' + id)};
                record.rfsCurrentVersion = {'0', '3', '0', static_cast<uint8_t>('0' + id)};
                record.IVD_IsCorrupt = id == 2;
                cache.blocks.push_back(record);
            }
            cache.ecuInfo = {};
            cache.ecuInfo[0] = 0x40;
            PutText(cache.ecuInfo, EcuInfoLayout::kVersionOffset, "1234");
            PutText(cache.ecuInfo, EcuInfoLayout::kProjectDataOffset, "PRJDATA");
            PutText(cache.ecuInfo, EcuInfoLayout::kOdxIdentifierOffset, "ODX");
            PutText(cache.ecuInfo, EcuInfoLayout::kOdxFileVersionOffset, "010203");
            PutText(cache.ecuInfo, EcuInfoLayout::kRevisionOffset, "SUP");
            PutText(cache.ecuInfo, EcuInfoLayout::kSparePartNumberOffset, "12345678901");
        });
        EXPECT_TRUE(storage->WriteUpdatedLogicalBlocks({Block(1, 0x0102, 0x0A0B)}));
        EXPECT_TRUE(storage->WriteInstalledLogicalBlocks({Block(1, 0x0102, 0x0A0B)}));
        EXPECT_TRUE(storage->WriteUpdatedEcuInfo(EcuInfo::ReprogrammableAndConsistent));
    }
    ~ReadAndResetTest() override { zov::com::testing::ResetRegistry(); }

    void EnterProgrammingSession() {
        ASSERT_EQ(dm.Uds({0x10, 0x02}).front(), 0x50);
        ASSERT_EQ(dm.Uds({0x3E, 0x00}).front(), 0x7E);
        // Any request registers the conversation and sees the session it was
        // sent in, also right after a cancel.
        (void)dm.Uds({0x22, 0x01, 0x02});
        ASSERT_EQ(stack.Conversation()->GetConversationState().diagnosticSession, "2");
    }

    void SetState(SWupdateState state) {
        if (state != SWupdateState::IDLE) {
            (void)status->SetStatus(SWupdateState::TRANSFER_IN_PROGRESS);
        }
        ASSERT_TRUE(status->SetStatus(state)) << toString(state);
    }

    testsupport::Sandbox box{true};
    testsupport::LogCapture capture;
    sim::UpdateManager ucm;
    std::shared_ptr<UCM::UCMAdaptorImpl> adaptor = std::make_shared<UCM::UCMAdaptorImpl>(
        "1", [](CurrentStatusType) {}, UCM::UCMAdaptorSettings());
    sim::UdsServiceStack stack{box.Root(), adaptor};
    std::shared_ptr<SessionData> session = stack.Session();
    std::shared_ptr<PersistentDataStorage> storage = stack.Storage();
    std::shared_ptr<SWupdateStatus> status = std::make_shared<SWupdateStatus>(storage);
    sim::DiagnosticManager dm;
};

TEST_F(ReadAndResetTest, EveryIdentifierAloneAndSeveralInAscendingOrder) {
    struct Case {
        uint16_t did;
        Bytes data;
    };
    const Bytes fingerprintDefault{0x00, 0x01, 0x01, 0, 0, 0, 0, 0, 0, 0};
    const Bytes fingerprint1{0x24, 0x03, 0x15, 1, 2, 3, 4, 5, 6, 0x07};
    Bytes supplier = Text("SUP");
    supplier.resize(48, 0x00);
    Bytes description(1 + 18 * 0x34, 0x00);
    description[0] = 0x34;
    const Case cases[] = {
        {0x0102, {0x00}},
        {0x0189, Cat({{0x01}, Text("02000301"), Text("00010302"), Text("00010001"), Text("00010001")})},
        {0x0407, {0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {0x040F, {0x0A, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {0x0411, description},
        {0xF15B, Cat({fingerprint1, fingerprintDefault, fingerprintDefault, fingerprintDefault})},
        {0xF187, Text("12345678901")},
        {0xF189, Text("1234")},
        {0xF195, supplier},
        {0xF19E, Cat({Text("ODX"), {0x00}})},
        {0xF1A2, Text("010203")},
        {0xF1AB, Cat({Text("A001"), Text("----"), Text("----"), Text("----")})},
        {0xF1D5, Text("PRJDATA")},
        {0xF1DF, {0x40}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.did);
        const Bytes did{static_cast<uint8_t>(c.did >> 8), static_cast<uint8_t>(c.did)};
        EXPECT_EQ(dm.Uds(Cat({{0x22}, did})), Cat({{0x62}, did, c.data}));
    }
    // Ascending order, a DID named twice answered once.
    EXPECT_EQ(dm.Uds({0x22, 0xF1, 0x89, 0x01, 0x02, 0xF1, 0x89}),
              Cat({{0x62, 0x01, 0x02, 0x00, 0xF1, 0x89}, Text("1234")}));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "processing did 0xF189"));
    // The spare part number of 11 characters leaves no room for a NUL; a
    // shorter one is terminated.
    session->ReplaceLogistics(true, [](LogicalBlockCacheData& cache) {
        std::fill_n(cache.ecuInfo.begin() + EcuInfoLayout::kSparePartNumberOffset, 11, 0);
        PutText(cache.ecuInfo, EcuInfoLayout::kSparePartNumberOffset, "ABCDE");
    });
    EXPECT_EQ(dm.Uds({0x22, 0xF1, 0x87}), Cat({{0x62, 0xF1, 0x87}, Text("ABCDE"), {0x00}}));
}

TEST_F(ReadAndResetTest, RefusalsAndTheResponseLengthLimit) {
    struct Case {
        const char* name;
        Bytes request;
        Bytes expected;
        const char* refusal;
    };
    const Case cases[] = {
        {"even length", {0x22, 0xF1, 0x87, 0xF1}, {0x7F, 0x22, 0x13}, "incorrect message length: 4"},
        {"eight identifiers", Cat({{0x22}, Bytes(16, 0xF1)}), {0x7F, 0x22, 0x13}, "incorrect message length: 17"},
        {"unknown identifier", {0x22, 0xF1, 0x87, 0x12, 0x34}, {0x7F, 0x22, 0x31}, "not supported: 4660"},
        // 0x0411 answers 3 + 937 bytes.
        {"seven identifiers",
         {0x22, 0x04, 0x11, 0xF1, 0x95, 0x01, 0x02, 0xF1, 0x89, 0xF1, 0x87, 0xF1, 0x9E, 0xF1, 0xA2},
         {},
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes response = dm.Uds(c.request);
        if (c.refusal) {
            EXPECT_EQ(response, c.expected);
            EXPECT_TRUE(capture.Contains(Level::kError, c.refusal));
        } else {
            EXPECT_EQ(response.front(), 0x62);
        }
    }
    // The limit is inclusive; one byte more is refused (0x14 reaches the
    // tester as the DM's 0xFF).
    const size_t length = dm.Uds({0x22, 0x04, 0x11}).size();
    stack.Configuration()->transfer_size = static_cast<int32_t>(length);
    EXPECT_EQ(dm.Uds({0x22, 0x04, 0x11}).size(), length);
    stack.Configuration()->transfer_size = static_cast<int32_t>(length - 1);
    EXPECT_EQ(dm.Uds({0x22, 0x04, 0x11}), (Bytes{0x7F, 0x22, 0xFF}));
    EXPECT_TRUE(
        capture.Contains(Level::kError, "ResponseTooLong: response length too long: " + std::to_string(length)));

    // No stored blocks: the project data is out of range for the whole request.
    EXPECT_TRUE(storage->RemoveUpdatedLogicalBlocks());
    EXPECT_TRUE(storage->RemoveInstalledLogicalBlocks());
    EXPECT_EQ(dm.Uds({0x22, 0xF1, 0x89, 0xF1, 0xD5}), (Bytes{0x7F, 0x22, 0x31}));
    // A download under way refuses every read first.
    session->SetRequestDownloadFinished(false);
    EXPECT_EQ(dm.Uds({0x22, 0xF1}), (Bytes{0x7F, 0x22, 0x22}));
}

TEST_F(ReadAndResetTest, ReadsFollowTheUpdateStateAndWaitForTheStartUp) {
    // After the download the UPDATED logistics answer; when there are none the
    // INSTALLED ones stand in.
    SetState(SWupdateState::INSTALL_COMPLETE);
    session->ReplaceLogistics(false, [](LogicalBlockCacheData& cache) {
        cache.blocks.clear();
        LogicalBlockCache record;
        record.id = 1;
        record.version = {'B', '0', '0', '1'};
        cache.blocks.push_back(record);
        cache.ecuInfo = {};
        PutText(cache.ecuInfo, EcuInfoLayout::kVersionOffset, "5678");
    });
    if (session->GetUpdatedLogistics()) {
        EXPECT_EQ(dm.Uds({0x22, 0xF1, 0x89}), Cat({{0x62, 0xF1, 0x89}, Text("5678")}));
        EXPECT_EQ(dm.Uds({0x22, 0xF1, 0xAB}),
                  Cat({{0x62, 0xF1, 0xAB}, Text("B001"), Text("----"), Text("----"), Text("----")}));
    }
    // Rollback: never consistent, whatever is stored; nothing stored: not consistent.
    SetState(SWupdateState::ROLLBACK_IN_PROGRESS);
    EXPECT_EQ(dm.Uds({0x22, 0xF1, 0xDF}), (Bytes{0x62, 0xF1, 0xDF, 0x44}));
    SetState(SWupdateState::IDLE);
    EXPECT_TRUE(storage->RemoveUpdatedEcuInfo());
    EXPECT_EQ(dm.Uds({0x22, 0xF1, 0xDF}), (Bytes{0x62, 0xF1, 0xDF, 0x44}));

    // During the start-up phase a read is held until the phase ends.
    session->SetUcmCopyInProgress(true);
    auto answer = std::async(std::launch::async, [&] { return dm.Uds({0x22, 0x01, 0x02}); });
    EXPECT_TRUE(WaitUntil([&] { return capture.Contains(Level::kInfo, "CurrentStatus event"); }));
    EXPECT_EQ(answer.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    session->SetUcmCopyInProgress(false);
    ASSERT_EQ(answer.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(answer.get(), (Bytes{0x62, 0x01, 0x02, 0x00}));
}

TEST_F(ReadAndResetTest, EcuResetInEveryUpdateState) {
    auto check = std::make_shared<CountingCheck>();
    stack.AutonomousCheck() = check;
    SetState(SWupdateState::IDLE);
    EXPECT_EQ(dm.Uds({0x11}), (Bytes{0x7F, 0x11, 0x13}));
    EXPECT_EQ(dm.Uds({0x11, 0x01, 0x00}), (Bytes{0x7F, 0x11, 0x13}));
    EXPECT_EQ(dm.Uds({0x11, 0x03}), (Bytes{0x7F, 0x11, 0x12}));
    EXPECT_TRUE(capture.Contains(Level::kError, "Subfunction is SoftReset"));

    // Default session, idle: HardReset is refused (memory flag cleared),
    // KeyOffOnReset restarts the conversation.
    session->SetMemoryFailureFlag(true);
    EXPECT_EQ(dm.Uds({0x11, 0x01}), (Bytes{0x7F, 0x11, 0x7E}));
    EXPECT_FALSE(session->GetMemoryFailureFlag());
    ASSERT_EQ(stack.Conversation()->GetConversationState().diagnosticSession, "1");
    const int cancels = dm.CancelCount();
    EXPECT_EQ(dm.Uds({0x11, 0x02}), (Bytes{0x51, 0x02}));
    EXPECT_TRUE(WaitUntil([&] { return dm.CancelCount() == cancels + 1; }));

    // Programming session: a fake HardReset in every state without an update
    // to undo; KeyOffOnReset is refused in all of them.
    for (SWupdateState state : {SWupdateState::IDLE, SWupdateState::COPY_IN_PROGRESS, SWupdateState::UNDO_DOWNLOAD,
                                SWupdateState::UPDATE_IN_PROGRESS_COMMIT, SWupdateState::ROLLBACK_IN_PROGRESS}) {
        SCOPED_TRACE(toString(state));
        EnterProgrammingSession();
        SetState(state);
        EXPECT_EQ(dm.Uds({0x11, 0x02}), (Bytes{0x7F, 0x11, 0x22}));
        const int before = dm.CancelCount();
        EXPECT_EQ(dm.Uds({0x11, 0x81}), (Bytes{0x51, 0x01}));
        EXPECT_TRUE(WaitUntil([&] { return dm.CancelCount() == before + 1; }));
        EXPECT_EQ(status->GetStatus(), state);
    }
    // After the installation the HardReset ends the conversation, whatever the session.
    SetState(SWupdateState::INSTALL_COMPLETE);
    int before = dm.CancelCount();
    EXPECT_EQ(dm.Uds({0x11, 0x01}), (Bytes{0x51, 0x01}));
    EXPECT_TRUE(WaitUntil([&] { return dm.CancelCount() == before + 1; }));
    EXPECT_EQ(status->GetStatus(), SWupdateState::INSTALL_COMPLETE);

    // A download at UCM with its worker running: the worker is stopped, the
    // transfer ended and the session closed at UCM, the state back to idle and
    // the autonomous check restarted.
    UCM::StartOutput started;
    ASSERT_TRUE(WaitUntil([&] { return adaptor->Start(started); }));
    ASSERT_TRUE(adaptor->TransferStart(started.id, 64));
    session->SetUcmSessionId(started.id);
    ASSERT_TRUE(storage->WriteUcmSessionId(started.id));
    SetState(SWupdateState::TRANSFER_IN_PROGRESS);
    session->StartBlockTransfer(64, {0x01}, 0x00);
    session->SetRequestDownloadFinished(false);
    auto worker = std::make_shared<FlashingThread>(session, adaptor);
    session->SetFlashingThread(worker);
    ASSERT_TRUE(worker->waitForAvailableBuffer(Bytes(32, 0xAB), 1));
    before = dm.CancelCount();
    EXPECT_EQ(dm.Uds({0x11, 0x01}), (Bytes{0x51, 0x01}));
    EXPECT_EQ(session->GetFlashingThread(), nullptr);
    EXPECT_EQ(status->GetStatus(), SWupdateState::IDLE);
    EXPECT_TRUE(session->IsRequestDownloadFinished());
    ASSERT_TRUE(ucm.Session(started.id).has_value());
    EXPECT_EQ(ucm.Session(started.id)->state, "closed");
    EXPECT_EQ(check->timerStarts.load(), 1);
    EXPECT_TRUE(WaitUntil([&] { return dm.CancelCount() == before + 1; }));
    // The next reads answer again.
    EXPECT_EQ(dm.Uds({0x22, 0x01, 0x02}), (Bytes{0x62, 0x01, 0x02, 0x00}));
}

// Two HardResets at once during a download: the second waits for the first,
// so the download is undone at UCM once and the second finds the idle state.
TEST_F(ReadAndResetTest, TwoEcuResetsAtOnceRunOneAfterTheOther) {
    stack.AutonomousCheck() = std::make_shared<CountingCheck>();
    EnterProgrammingSession();
    UCM::StartOutput started;
    ASSERT_TRUE(WaitUntil([&] { return adaptor->Start(started); }));
    ASSERT_TRUE(adaptor->TransferStart(started.id, 64));
    session->SetUcmSessionId(started.id);
    ASSERT_TRUE(storage->WriteUcmSessionId(started.id));
    SetState(SWupdateState::TRANSFER_IN_PROGRESS);

    // The first reset is held at UCM until the second has arrived.
    ucm.SetFault(sim::UcmMethod::kTransferExit, sim::UcmFault::Drop());
    const size_t entered = capture.Count("EcuReset: Process will be started!");
    Bytes first;
    Bytes second;
    std::thread firstReset([&] { first = dm.Uds({0x11, 0x01}); });
    EXPECT_TRUE(WaitUntil([&] { return ucm.OutstandingBlocking() == 1; }));
    std::thread secondReset([&] { second = dm.Uds({0x11, 0x01}); });
    EXPECT_TRUE(WaitUntil([&] { return capture.Count("EcuReset: Process will be started!") == entered + 2; }));
    EXPECT_EQ(ucm.ReleaseDropped(), 1U);
    firstReset.join();
    secondReset.join();

    EXPECT_EQ(first, (Bytes{0x51, 0x01}));
    EXPECT_TRUE(second == (Bytes{0x51, 0x01}) || second == (Bytes{0x7F, 0x11, 0x7E})) << capture.Dump();
    EXPECT_EQ(ucm.CountCalls(sim::UcmMethod::kTransferExit), 1U);
    EXPECT_EQ(ucm.CountCalls(sim::UcmMethod::kClose), 1U);
    EXPECT_EQ(status->GetStatus(), SWupdateState::IDLE);
}

TEST(DiagnosticInfoTest, PublishedOnTheHousekeepingAndJavaVmsOnly) {
    testsupport::Sandbox box{true};
    struct Case {
        const char* hostname;
        std::optional<uint16_t> address;
    };
    for (const Case& c : {Case{"vm_housekeeping", 0xC003}, Case{"vm_java", 0x8124}, Case{"vm_adaptive", {}}}) {
        SCOPED_TRACE(c.hostname);
        sim::UdsServiceStack stack{box.Root()};
        stack.Configuration()->vmId = c.hostname == std::string("vm_adaptive") ? 1 : (c.address == 0xC003 ? 3 : 2);
        stack.Session()->ReplaceLogistics(true, [](LogicalBlockCacheData& cache) {
            cache.ecuInfo = {};
            PutText(cache.ecuInfo, EcuInfoLayout::kVersionOffset, "\x01\x02\x03\x04");
            PutText(cache.ecuInfo, EcuInfoLayout::kSparePartNumberOffset, "ABC");
        });
        const std::shared_ptr<DiagnosticInfoServiceImpl> service = InitDiagnosticInfoService(stack.Session());
        sim::DiagnosticManager::Options options;
        options.callTimeout = std::chrono::milliseconds(500);
        sim::DiagnosticManager dm(options);
        if (!c.address) {
            EXPECT_EQ(service, nullptr);
            EXPECT_FALSE(dm.IdentificationData().has_value());
            continue;
        }
        ASSERT_NE(service, nullptr);
        ASSERT_TRUE(service->Launch());
        const auto data = dm.IdentificationData();
        ASSERT_TRUE(data.has_value());
        ASSERT_EQ(data->size(), 1u);
        const auto& element = data->front();
        EXPECT_EQ(element.recordVersion, 1u);
        EXPECT_EQ(element.diagAddress, *c.address);
        EXPECT_EQ(element.softwareVersion, (Bytes{1, 2, 3, 4}));
        // The sandbox's peer holds the hardware id "HW1": least significant byte first.
        EXPECT_EQ(element.hardwareVersion, (Bytes{'1', 'W', 'H'}));
        EXPECT_EQ(element.sparePartNumber, (Bytes{'A', 'B', 'C', 0, 0, 0, 0, 0, 0, 0, 0}));
        EXPECT_TRUE(service->Shutdown());
        zov::com::testing::ResetRegistry();
    }
}

}  // namespace

// Downloads end to end (also run under ThreadSanitizer): frames through the simulated diagnostic manager, the
// real binding, the generic UDS service, RequestDownload, TransferData,
// RequestTransferExit, the FlashingThread and the product's UCM adaptor into
// the simulated update manager, whose call log tells what reached UCM.
#include "KivLibrary/GlobalLibrary/KivDMConversation.h"
#include "KivLibrary/GlobalLibrary/RFS.h"
#include "KivLibrary/GlobalLibrary/SWupdateStatus.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/Persistency/PersistentDataStorage.h"
#include "KivLibrary/Ucm/UCMAdaptorInterface.h"
#include "platform/ara/per/key_value_storage.h"
#include "platform/com/Runtime.h"
#include "sim/DiagnosticManager.h"
#include "sim/KeyCalculator.h"
#include "sim/UdsServiceStack.h"
#include "sim/UpdateManager.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using sim::Bytes;
using sim::UcmFault;
using sim::UcmMethod;
using namespace std::chrono_literals;

constexpr uint16_t kDpt = 15;
constexpr uint16_t kBlockA = 1;
constexpr uint16_t kBlockB = 2;
constexpr size_t kPiece = 4093;  // the shipped "transfer_size"
const Bytes kDownloadAccepted = {0x74, 0x20, 0x0F, 0xFD};

using testsupport::WaitUntil;

Bytes RequestDownloadFrame(uint16_t id, uint32_t size) {
    return {0x34,
            0x00,
            0x42,
            static_cast<uint8_t>(id >> 8),
            static_cast<uint8_t>(id),
            static_cast<uint8_t>(size >> 24),
            static_cast<uint8_t>(size >> 16),
            static_cast<uint8_t>(size >> 8),
            static_cast<uint8_t>(size)};
}

Bytes Payload(size_t size, uint8_t seed) {
    Bytes payload(size);
    for (size_t i = 0; i < size; ++i) {
        payload[i] = static_cast<uint8_t>(seed + i * 7);
    }
    return payload;
}

Bytes Piece(uint8_t counter, const Bytes& payload, size_t offset, size_t length) {
    Bytes frame = {0x36, counter};
    frame.insert(frame.end(), payload.begin() + static_cast<std::ptrdiff_t>(offset),
                 payload.begin() + static_cast<std::ptrdiff_t>(offset + length));
    return frame;
}

Bytes Nrc(uint8_t sid, uint8_t nrc) { return {0x7F, sid, nrc}; }

// One programming session: the simulated UCM, the UDS entry over it and the
// tester's diagnostic manager, unlocked and with the fingerprint written.
struct Rig {
    explicit Rig(bool unlock = true, bool fingerprint = true) {
        Enter(unlock, fingerprint);
        // What the package check routine takes from the record.
        Session()->GetRFS()->SetDowngradeTable({{kBlockA, {{'0', '0', '0', '1'}}}, {kBlockB, {{'0', '0', '0', '1'}}}});
    }

    void Enter(bool unlock = true, bool fingerprint = true) {
        if (unlock) {
            EXPECT_EQ(dm.Uds({0x10, 0x02}).at(0), 0x50);
            const Bytes seed = dm.Uds({0x27, 0x11});
            Bytes key = {0x27, 0x12};
            const Bytes computed =
                sim::TesterKeyBytes(Bytes(seed.begin() + 2, seed.end()), stack.Configuration()->KeyCalculation);
            key.insert(key.end(), computed.begin(), computed.end());
            EXPECT_EQ(dm.Uds(key), (Bytes{0x67, 0x12}));
            EXPECT_TRUE(WaitUntil([&] { return stack.Conversation()->checkSecurityLevel(9); }));
        }
        if (fingerprint) {
            EXPECT_EQ(dm.Uds({0x2E, 0xF1, 0x5A, 0x24, 0x03, 0x15, 0, 0, 0, 0x12, 0x34, 0x56}),
                      (Bytes{0x6E, 0xF1, 0x5A}));
        }
    }

    const std::shared_ptr<SessionData>& Session() const { return stack.Session(); }

    // Sends `payload` from `offset` in pieces of at most `piece` bytes, the
    // first with `counter`; expects each to be accepted.
    uint8_t Send(const Bytes& payload, size_t offset = 0, uint8_t counter = 1, size_t piece = kPiece) {
        for (; offset < payload.size(); offset += piece, ++counter) {
            const size_t length = std::min(piece, payload.size() - offset);
            EXPECT_EQ(dm.Uds(Piece(counter, payload, offset, length)), (Bytes{0x76, counter})) << offset;
        }
        return counter;
    }

    void Download(uint16_t id, const Bytes& payload, size_t piece = kPiece) {
        ASSERT_EQ(dm.Uds(RequestDownloadFrame(id, static_cast<uint32_t>(payload.size()))), kDownloadAccepted);
        Send(payload, 0, 1, piece);
        ASSERT_EQ(dm.Uds({0x37}), (Bytes{0x77}));
    }

    std::vector<std::string> Methods() const {
        std::vector<std::string> methods;
        for (const auto& call : ucm.Calls()) {
            if (call.method.rfind("Transfer", 0) == 0 || call.method == "Start" || call.method == "Close") {
                methods.push_back(call.method);
            }
        }
        return methods;
    }

    std::vector<Bytes> Received() const { return ucm.ReceivedBlocks(Session()->GetUcmSessionId()); }

    LogicalBlocks Updated() const {
        LogicalBlocks blocks;
        (void)stack.Storage()->ReadUpdatedLogicalBlocks(blocks);
        return blocks;
    }
    // The stored UPDATED entry of a block: {attempts, lock value}, {0, 0} when none.
    std::pair<uint16_t, uint16_t> Attempts(uint8_t id) const {
        for (const LogicalBlock& block : Updated()) {
            if (block.m_id == id) {
                return {block.m_programmingAttempts, block.m_lockValue};
            }
        }
        return {0, 0};
    }
    void SetAttempts(uint8_t id, uint16_t attempts, uint16_t lock) {
        LogicalBlocks blocks = Updated();
        auto entry = std::find_if(blocks.begin(), blocks.end(), [id](const LogicalBlock& b) { return b.m_id == id; });
        if (entry == blocks.end()) {
            blocks.emplace_back();
            entry = blocks.end() - 1;
            entry->m_id = id;
        }
        entry->m_programmingAttempts = attempts;
        entry->m_lockValue = lock;
        ASSERT_TRUE(stack.Storage()->WriteUpdatedLogicalBlocks(blocks));
    }

    static UdsServiceSettings Settings() {
        UdsServiceSettings settings;
        settings.flashing.freeBuffer = 2s;
        settings.flashing.ucmCall = 5s;
        settings.ivdWait.maxWait = 200ms;
        settings.ivdWait.pollInterval = 2ms;
        return settings;
    }

    testsupport::Sandbox box{true};
    sim::UpdateManager ucm;
    sim::UdsServiceStack stack{box.Root(), sim::UdsServiceStack::ConnectUcm("1"), Settings()};
    sim::DiagnosticManager dm;
};

class DownloadTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (HasFailure()) {
            for (const testsupport::LogMessage& message : capture.Messages()) {
                if (message.level >= testsupport::Level::kError) {
                    std::cerr << message.text << "\n";
                }
            }
        }
        rig.reset();
        zov::com::testing::ResetRegistry();
    }
    Rig& Make(bool unlock = true, bool fingerprint = true) {
        rig.reset();
        zov::com::testing::ResetRegistry();
        capture.Clear();
        rig = std::make_unique<Rig>(unlock, fingerprint);
        return *rig;
    }

    // The "RequestDownload: <check> started!" lines in the order they were logged.
    std::vector<std::string> ChecksRun() const {
        std::vector<std::string> checks;
        const std::string prefix = "RequestDownload: ";
        for (const std::string& text : capture.Texts()) {
            const auto end = text.find(" started!");
            if (text.rfind(prefix, 0) == 0 && end != std::string::npos && text.find("Process") == std::string::npos) {
                checks.push_back(text.substr(prefix.size(), end - prefix.size()));
            }
        }
        return checks;
    }

    testsupport::LogCapture capture;
    std::unique_ptr<Rig> rig;
};

TEST_F(DownloadTest, DptThenTwoLogicalBlocksReachUcmInOrder) {
    Rig& r = Make();
    const Bytes record = Payload(300, 3);
    r.Download(kDpt, record);
    EXPECT_EQ(r.Session()->GetRFS()->GetData(), record);
    EXPECT_FALSE(r.Session()->GetRFS()->IsTransferActive());
    EXPECT_TRUE(r.Methods().empty()) << "the dpt never reaches UCM";

    const Bytes a = Payload(8192, 11);
    const Bytes b = Payload(4093, 29);
    r.Download(kBlockA, a);
    r.Download(kBlockB, b);
    const std::vector<std::string> expected = {"Start",         "TransferStart", "TransferData",
                                               "TransferData",  "TransferData",  "TransferExit",
                                               "TransferStart", "TransferData",  "TransferExit"};
    EXPECT_EQ(r.Methods(), expected);
    EXPECT_EQ(r.Received(), (std::vector<Bytes>{a, b}));
    EXPECT_EQ(r.Session()->GetSWupdateState(), SWupdateState::TRANSFER_IN_PROGRESS);
    uint32_t stored = 0;
    EXPECT_TRUE(r.stack.Storage()->ReadUcmSessionId(stored));
    EXPECT_EQ(stored, r.Session()->GetUcmSessionId());
    EXPECT_EQ(r.Session()->GetDownloadedLogicalBlocks().size(), 2u);

    // 300 pieces: the UDS counter wraps 0xFF -> 0x00 while UCM, which accepts
    // only the next 32-bit counter, counts on to 300.
    const Bytes wrapped = Payload(300, 5);
    ASSERT_EQ(r.dm.Uds(RequestDownloadFrame(kBlockA, 300)), kDownloadAccepted);
    EXPECT_EQ(r.Send(wrapped, 0, 1, 1), static_cast<uint8_t>(301 % 256));
    EXPECT_EQ(r.dm.Uds({0x37}), (Bytes{0x77}));
    EXPECT_EQ(r.Received().back(), wrapped);
    EXPECT_EQ(r.ucm.Session(r.Session()->GetUcmSessionId())->lastCounter, 300u);
}

TEST_F(DownloadTest, EveryFaultOfATransferAnswersItsNrcAndKeepsUcmConsistent) {
    struct Case {
        const char* name;
        std::function<void(Rig&)> run;
    };
    const Bytes a = Payload(8192, 1);
    const Case cases[] = {
        {"a repeated piece is answered again, not counted",
         [&](Rig& r) {
             ASSERT_EQ(r.dm.Uds(RequestDownloadFrame(kBlockA, 8192)), kDownloadAccepted);
             r.Send(Bytes(a.begin(), a.begin() + 4093));
             EXPECT_EQ(r.dm.Uds(Piece(1, a, 0, 4093)), (Bytes{0x76, 0x01}));
             r.Send(a, 4093, 2);
             EXPECT_EQ(r.dm.Uds(Piece(3, a, 8186, 6)), (Bytes{0x76, 0x03})) << "retry of the last piece";
             EXPECT_EQ(r.dm.Uds({0x37}), (Bytes{0x77}));
             EXPECT_EQ(r.Received(), (std::vector<Bytes>{a}));
         }},
        {"a skipped counter and a first counter 0",
         [&](Rig& r) {
             ASSERT_EQ(r.dm.Uds(RequestDownloadFrame(kBlockA, 8192)), kDownloadAccepted);
             EXPECT_EQ(r.dm.Uds(Piece(0, a, 0, 10)), Nrc(0x36, 0x73));
             EXPECT_EQ(r.dm.Uds(Piece(1, a, 0, 10)), (Bytes{0x76, 0x01}));
             EXPECT_EQ(r.dm.Uds(Piece(3, a, 10, 10)), Nrc(0x36, 0x73));
             EXPECT_EQ(r.Session()->GetRemainingSize(true), 8182u);
         }},
        {"a piece above transfer_size",
         [&](Rig& r) {
             ASSERT_EQ(r.dm.Uds(RequestDownloadFrame(kBlockA, 8192)), kDownloadAccepted);
             EXPECT_EQ(r.dm.Uds(Piece(1, a, 0, 4094)), Nrc(0x36, 0x31));
             EXPECT_EQ(r.ucm.CountCalls(UcmMethod::kTransferData), 0u);
         }},
        {"an overrun of memorySize is suspended; UCM refuses the early TransferExit and the transfer goes on",
         [&](Rig& r) {
             ASSERT_EQ(r.dm.Uds(RequestDownloadFrame(kBlockA, 10)), kDownloadAccepted);
             EXPECT_EQ(r.dm.Uds(Piece(1, a, 0, 11)), Nrc(0x36, 0x71));
             ASSERT_EQ(r.ucm.CountCalls(UcmMethod::kTransferExit), 1u);
             EXPECT_EQ(r.ucm.Calls().back().ToString(), "TransferExit(1) -> 1") << "no byte of the 10 arrived";
             EXPECT_TRUE(r.ucm.Session(1)->transferOpen);
             // Neither side ended it: the block arrives whole in the same transfer.
             EXPECT_EQ(r.dm.Uds(Piece(1, a, 0, 10)), (Bytes{0x76, 0x01}));
             EXPECT_EQ(r.dm.Uds({0x37}), (Bytes{0x77}));
             EXPECT_EQ(r.Received(), (std::vector<Bytes>{Bytes(a.begin(), a.begin() + 10)}));
             EXPECT_FALSE(r.ucm.Session(1)->transferOpen);
         }},
        {"an oversize dpt piece makes no UCM call and keeps the dpt local",
         [&](Rig& r) {
             ASSERT_EQ(r.dm.Uds(RequestDownloadFrame(kDpt, 10)), kDownloadAccepted);
             EXPECT_EQ(r.dm.Uds(Piece(1, a, 0, 11)), Nrc(0x36, 0x71));
             EXPECT_EQ(r.dm.Uds(Piece(1, a, 0, 10)), (Bytes{0x76, 0x01}));
             EXPECT_EQ(r.dm.Uds({0x37}), (Bytes{0x77}));
             EXPECT_EQ(r.Session()->GetRFS()->GetData(), Bytes(a.begin(), a.begin() + 10));
             EXPECT_TRUE(r.Methods().empty());
         }},
        {"RequestTransferExit too early, then the rest",
         [&](Rig& r) {
             ASSERT_EQ(r.dm.Uds(RequestDownloadFrame(kBlockA, 8192)), kDownloadAccepted);
             r.Send(Bytes(a.begin(), a.begin() + 4093));
             EXPECT_EQ(r.dm.Uds({0x37}), Nrc(0x37, 0x24));
             EXPECT_EQ(r.dm.Uds({0x37, 0x00}), Nrc(0x37, 0x13));
             EXPECT_EQ(r.ucm.CountCalls(UcmMethod::kTransferExit), 1u) << "none for the malformed request";
             r.Send(a, 4093, 2);
             EXPECT_EQ(r.dm.Uds({0x37}), (Bytes{0x77}));
             EXPECT_EQ(r.dm.Uds({0x37}), Nrc(0x37, 0x24));
             EXPECT_EQ(r.Received(), (std::vector<Bytes>{a}));
         }},
        {"a dpt download without UCM call on early exit",
         [&](Rig& r) {
             ASSERT_EQ(r.dm.Uds(RequestDownloadFrame(kDpt, 20)), kDownloadAccepted);
             EXPECT_EQ(r.dm.Uds({0x37}), Nrc(0x37, 0x24));
             EXPECT_TRUE(r.Methods().empty());
         }},
        {"a RequestDownload while a dpt is open is refused and the dpt goes on",
         [&](Rig& r) {
             const Bytes record = Payload(100, 1);
             ASSERT_EQ(r.dm.Uds(RequestDownloadFrame(kDpt, 100)), kDownloadAccepted);
             r.Send(Bytes(record.begin(), record.begin() + 50));
             EXPECT_EQ(r.dm.Uds(RequestDownloadFrame(kBlockA, 8192)), Nrc(0x34, 0x22));
             r.Send(record, 50, 2, 50);
             EXPECT_EQ(r.dm.Uds({0x37}), (Bytes{0x77}));
             EXPECT_EQ(r.Session()->GetRFS()->GetData(), record);
             EXPECT_TRUE(r.Methods().empty());
             r.Download(kBlockA, a);
         }},
        {"a refused UCM TransferData answers 0x72 on the next request",
         [&](Rig& r) {
             ASSERT_EQ(r.dm.Uds(RequestDownloadFrame(kBlockA, 8192)), kDownloadAccepted);
             r.ucm.SetFault(UcmMethod::kTransferData, UcmFault::Error(2));
             EXPECT_EQ(r.dm.Uds(Piece(1, a, 0, 4093)), (Bytes{0x76, 0x01}));
             // The worker has kept the refusal.
             ASSERT_TRUE(capture.WaitFor("FlashingThread::flashDataToUcm: m_flashingStop=true"));
             EXPECT_EQ(r.dm.Uds(Piece(2, a, 4093, 4093)), Nrc(0x36, 0x72));
             EXPECT_EQ(r.dm.Uds(Piece(3, a, 8186, 6)), Nrc(0x36, 0x72));
             // The block cannot be started over: it stays open, also after
             // an exit refused for the missing bytes, until the session ends.
             EXPECT_EQ(r.dm.Uds(RequestDownloadFrame(kBlockA, 8192)), Nrc(0x34, 0x22));
             EXPECT_EQ(r.dm.Uds({0x37}), Nrc(0x37, 0x24));
             EXPECT_EQ(r.dm.Uds(RequestDownloadFrame(kBlockA, 8192)), Nrc(0x34, 0x22));
             EXPECT_EQ(r.Attempts(kBlockA).first, 1u);
             EXPECT_EQ(r.ucm.CountCalls(UcmMethod::kTransferStart), 1u);
             r.Session()->ResetProgramming(r.stack.Ucm(), r.stack.Storage(), r.stack.Conversation(), nullptr);
             EXPECT_TRUE(r.Session()->IsRequestDownloadFinished());
             EXPECT_EQ(r.ucm.Session(1)->state, "closed");
         }},
        {"after a piece refused by UCM and the end of the session, the next session downloads",
         [&](Rig& r) {
             ASSERT_EQ(r.dm.Uds(RequestDownloadFrame(kBlockA, 8192)), kDownloadAccepted);
             r.ucm.SetFault(UcmMethod::kTransferData, UcmFault::Error(2));
             EXPECT_EQ(r.dm.Uds(Piece(1, a, 0, 4093)), (Bytes{0x76, 0x01}));
             ASSERT_TRUE(capture.WaitFor("FlashingThread::flashDataToUcm: m_flashingStop=true"));
             EXPECT_EQ(r.dm.Uds(Piece(2, a, 4093, 4093)), Nrc(0x36, 0x72));
             // The tester leaves; the status thread resets the programming.
             EXPECT_EQ(r.dm.Uds({0x10, 0x01}).at(0), 0x50);
             r.Session()->ResetProgramming(r.stack.Ucm(), r.stack.Storage(), r.stack.Conversation(), nullptr);
             r.Enter();
             r.Download(kBlockA, Payload(10, 2));
         }},
        {"UCM refuses TransferExit: the block stays open until the session ends",
         [&](Rig& r) {
             ASSERT_EQ(r.dm.Uds(RequestDownloadFrame(kBlockA, 10)), kDownloadAccepted);
             r.Send(Bytes(a.begin(), a.begin() + 10));
             r.ucm.SetFault(UcmMethod::kTransferExit, UcmFault::Error(1));
             EXPECT_EQ(r.dm.Uds({0x37}), Nrc(0x37, 0x72));
             EXPECT_EQ(r.dm.Uds(RequestDownloadFrame(kBlockB, 10)), Nrc(0x34, 0x22));
             EXPECT_EQ(r.Methods(),
                       (std::vector<std::string>{"Start", "TransferStart", "TransferData", "TransferExit"}));
             r.Session()->AbortLocalTransfer();
             EXPECT_TRUE(r.Session()->IsRequestDownloadFinished());
         }},
        {"the attempt lock lets the last allowed attempt through and refuses the next",
         [&](Rig& r) {
             r.SetAttempts(kBlockB, 2, 3);
             r.SetAttempts(kBlockA, 0xFFFF, 0);  // no lock: the saturated counter stays
             r.Download(kBlockB, Payload(5, 9));
             r.Download(kBlockA, Payload(5, 9));
             EXPECT_EQ(r.Attempts(kBlockB), std::make_pair(uint16_t{3}, uint16_t{3}));
             EXPECT_EQ(r.Attempts(kBlockA), std::make_pair(uint16_t{0xFFFF}, uint16_t{0}));
             EXPECT_EQ(r.dm.Uds(RequestDownloadFrame(kBlockB, 5)), Nrc(0x34, 0x70));
             EXPECT_TRUE(capture.Contains(testsupport::Level::kError, "programming counter reaches the lock value: 3"));
             EXPECT_EQ(r.Attempts(kBlockB), std::make_pair(uint16_t{3}, uint16_t{3}));
             EXPECT_EQ(r.ucm.CountCalls(UcmMethod::kTransferStart), 2u);
         }},
        {"a failure after UCM Start closes the session UCM opened",
         [&](Rig& r) {
             // Neither the session id nor the state can be stored.
             ara::per::testhook::InjectFailure(ara::per::testhook::Operation::kSetValue, 1000);
             EXPECT_EQ(r.dm.Uds(RequestDownloadFrame(kBlockA, 10)), Nrc(0x34, 0x22));
             ara::per::testhook::Reset();
             EXPECT_EQ(r.Methods(), (std::vector<std::string>{"Start", "Close"}));
             EXPECT_EQ(r.ucm.Session(1)->state, "closed");
             EXPECT_EQ(r.Session()->GetUcmSessionId(), SessionData::kNoUcmSession);
             EXPECT_EQ(r.Session()->GetSWupdateState(), SWupdateState::IDLE);
             // The next request opens a session of its own.
             r.Download(kBlockA, Payload(10, 1));
             EXPECT_EQ(r.Session()->GetUcmSessionId(), 2u);
         }},
        {"a failed sync of the opened UCM session closes it",
         [&](Rig& r) {
             ara::per::testhook::InjectFailure(ara::per::testhook::Operation::kSyncToStorage, 1);
             EXPECT_EQ(r.dm.Uds(RequestDownloadFrame(kBlockA, 10)), Nrc(0x34, 0x22));
             EXPECT_EQ(r.Methods(), (std::vector<std::string>{"Start", "Close"}));
             EXPECT_EQ(r.ucm.Session(1)->state, "closed");
             EXPECT_EQ(r.Session()->GetUcmSessionId(), SessionData::kNoUcmSession);
             EXPECT_EQ(r.Session()->GetSWupdateState(), SWupdateState::IDLE);
             EXPECT_FALSE(r.stack.Storage()->HasUcmSessionId());
             r.Download(kBlockA, Payload(10, 1));
             EXPECT_EQ(r.Session()->GetUcmSessionId(), 2u);
         }},
        {"cancel of the download mid-block ends it here and at UCM",
         [&](Rig& r) {
             ASSERT_EQ(r.dm.Uds(RequestDownloadFrame(kBlockA, 8192)), kDownloadAccepted);
             r.Send(Bytes(a.begin(), a.begin() + 4093));
             r.Session()->ResetProgramming(r.stack.Ucm(), r.stack.Storage(), r.stack.Conversation(), nullptr);
             EXPECT_EQ(r.Session()->GetSWupdateState(), SWupdateState::IDLE);
             EXPECT_TRUE(r.Session()->IsRequestDownloadFinished());
             EXPECT_EQ(r.dm.Uds(Piece(2, a, 4093, 4093)), Nrc(0x36, 0x24));
         }},
        {"the end of the session mid-dpt leaves nothing open",
         [&](Rig& r) {
             ASSERT_EQ(r.dm.Uds(RequestDownloadFrame(kDpt, 100)), kDownloadAccepted);
             r.Send(Payload(50, 1));
             r.Session()->AbortLocalTransfer();
             EXPECT_FALSE(r.Session()->GetRFS()->IsTransferActive());
             EXPECT_EQ(r.dm.Uds({0x37}), Nrc(0x37, 0x24));
             EXPECT_EQ(r.dm.Uds({0x2E, 0xF1, 0x5A, 0x24, 0x03, 0x15, 0, 0, 0, 0x12, 0x34, 0x56}),
                       (Bytes{0x6E, 0xF1, 0x5A}));
             r.Download(kBlockA, a);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.run(Make());
    }
}

TEST_F(DownloadTest, RequestDownloadNeedsTheFingerprintAndTheUnlock) {
    Rig& noFingerprint = Make(true, false);
    EXPECT_EQ(noFingerprint.dm.Uds(RequestDownloadFrame(kBlockA, 10)), Nrc(0x34, 0x22));
    Rig& locked = Make(false, true);
    EXPECT_EQ(locked.dm.Uds(RequestDownloadFrame(kBlockA, 10)), Nrc(0x34, 0x33));
    EXPECT_EQ(locked.ucm.Calls().size(), 0u);

    // Neither integrity routine may see its blocks replaced while it runs.
    for (std::atomic<bool> SessionData::*running : {&SessionData::Rid029ARunning, &SessionData::Rid0253Running}) {
        Rig& busy = Make();
        (*busy.Session()).*running = true;
        EXPECT_EQ(busy.dm.Uds(RequestDownloadFrame(kBlockA, 10)), Nrc(0x34, 0x22));
        EXPECT_EQ(busy.ucm.Calls().size(), 0u);
    }

    // The refusals of the block itself, after every check passed: no attempt
    // is counted and UCM is not asked.
    const std::pair<std::function<void(Rig&)>, uint16_t> refused[] = {
        {[](Rig& r) { r.Session()->SetMemoryFailureFlag(true); }, kBlockA},
        {nullptr, 3},  // not announced by the record
    };
    for (const auto& refusal : refused) {
        Rig& r = Make();
        if (refusal.first) {
            refusal.first(r);
        }
        EXPECT_EQ(r.dm.Uds(RequestDownloadFrame(refusal.second, 10)), Nrc(0x34, 0x70));
        EXPECT_TRUE(r.Updated().empty());
        EXPECT_EQ(r.ucm.Calls().size(), 0u);
    }
}

// Each refusal of a RequestDownload by its checks, in their order, while a
// block is half downloaded, the open block itself the last: the refused
// request changes nothing, and that block goes on to its end.
TEST_F(DownloadTest, ARefusedRequestDownloadLeavesTheOpenTransferAsItWas) {
    const std::vector<std::string> checks = {
        "SessionUCMCheck", "MinLengthCheck",     "DataFormatIdentifierCheck", "AddressAndLengthFormatCheck",
        "FullLengthCheck", "MemoryAddressCheck", "MemorySizeCheck",           "MemorySizeRangeCheck",
        "SecurityCheck",   "ConditionCheck"};
    struct Case {
        const char* name;
        std::function<void(Rig&)> before;  // also undone by the case itself, where the block needs it
        Bytes request;
        uint8_t nrc;
        size_t checksRun;
        const char* refusal;  // start of the error line
    };
    const Case cases[] = {
        {"an integrity routine running", [](Rig& r) { r.Session()->Rid029ARunning = true; },
         RequestDownloadFrame(kBlockB, 10), 0x22, 1, "ConditionsNotCorrect:: CalcModuleHash_029A is running"},
        {"a bare 34, which needs no unlock",
         nullptr,
         {0x34},
         0x13,
         2,
         "IncorrectMessageLengthOrInvalidFormat: the length of the request message is invalid"},
        {"four bytes, with a wrong format too", nullptr, {0x34, 0x10, 0x00, 0x00}, 0x13, 2, nullptr},
        {"compression, and no address format either",
         nullptr,
         {0x34, 0x10, 0x00, 0x00, 0x01},
         0x31,
         3,
         "RequestOutOfRange: compressionMethod or encryptingMethod not supported !"},
        {"no address and length format, which no length fits",
         nullptr,
         {0x34, 0x00, 0x00, 0x00, 0x01},
         0x31,
         4,
         "RequestOutOfRange: AddressAndLengthFormatCheck not valid"},
        {"one byte more than the format announces, a 1-byte address",
         nullptr,
         {0x34, 0x00, 0x41, 0x02, 0x00, 0x00, 0x00, 0x10, 0x00},
         0x13,
         5,
         "IncorrectMessageLengthOrInvalidFormat: Wrong request size! request message length is 9"},
        {"a 3-byte address and a 3-byte size",
         nullptr,
         {0x34, 0x00, 0x33, 0x00, 0x00, 0x02, 0x00, 0x00, 0x10},
         0x31,
         6,
         "RequestOutOfRange: numMemoryAddressBytes != 2 is not handled! memory address size is 3"},
        {"a 3-byte size of 0",
         nullptr,
         {0x34, 0x00, 0x32, 0x00, 0x02, 0x00, 0x00, 0x00},
         0x31,
         7,
         "RequestOutOfRange: numMemorySizeBytes != 4 is not handled! memory size is 3"},
        {"a logical block of 0 bytes", nullptr, RequestDownloadFrame(kBlockB, 0), 0x31, 8,
         "RequestOutOfRange: memorySize 0 of block 2"},
        {"a dpt of 4 GiB", nullptr, RequestDownloadFrame(kDpt, 0xFFFFFFFF), 0x31, 8,
         "RequestOutOfRange: memorySize 4294967295 of the dpt exceeds the longest record of 786433 bytes"},
        {"a dpt one byte longer than the longest record", nullptr,
         RequestDownloadFrame(kDpt, static_cast<uint32_t>(RFS::kMaxRecordSize + 1)), 0x31, 8, nullptr},
        {"locked again",
         [](Rig& r) {
             EXPECT_EQ(r.dm.Uds({0x10, 0x02}).at(0), 0x50);
             EXPECT_TRUE(WaitUntil([&] { return !r.stack.Conversation()->checkSecurityLevel(9); }));
         },
         RequestDownloadFrame(kBlockB, 10), 0x33, 9, "ConditionsNotCorrect: wrong security access!"},
        {"no fingerprint", [](Rig& r) { r.Session()->SetFingerprintFlag(false); }, RequestDownloadFrame(kBlockB, 10),
         0x22, 10, "ConditionsNotCorrect: Download or Upload session already active or SW Update NOT Allowed!"},
        // One download at a time: no TransferStart, no attempt, whatever comes next.
        {"the open block again", nullptr, RequestDownloadFrame(kBlockA, 8192), 0x22, 10,
         "ConditionsNotCorrect: Download or Upload session already active or SW Update NOT Allowed!"},
        {"another block", nullptr, RequestDownloadFrame(kBlockB, 10), 0x22, 10,
         "ConditionsNotCorrect: Download or Upload session already active or SW Update NOT Allowed!"},
        {"a dpt", nullptr, RequestDownloadFrame(kDpt, 10), 0x22, 10,
         "ConditionsNotCorrect: Download or Upload session already active or SW Update NOT Allowed!"},
        {"a block that would be refused itself", [](Rig& r) { r.SetAttempts(kBlockB, 3, 3); },
         RequestDownloadFrame(kBlockB, 10), 0x22, 10,
         "ConditionsNotCorrect: Download or Upload session already active or SW Update NOT Allowed!"},
    };
    const Bytes a = Payload(8192, 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig& r = Make();
        ASSERT_EQ(r.dm.Uds(RequestDownloadFrame(kBlockA, 8192)), kDownloadAccepted);
        r.Send(Bytes(a.begin(), a.begin() + 4093));
        if (c.before) {
            c.before(r);
        }
        // The update manager counts the bytes before it records the call.
        ASSERT_TRUE(WaitUntil([&] {
            const std::vector<std::string> methods = r.Methods();
            return r.ucm.Session(1)->received == 4093 && !methods.empty() && methods.back() == "TransferData";
        }));
        const LogicalBlocks updated = r.Updated();
        const std::vector<std::string> ucmCalls = r.Methods();
        capture.Clear();

        EXPECT_EQ(r.dm.Uds(c.request), Nrc(0x34, c.nrc));
        EXPECT_EQ(ChecksRun(), std::vector<std::string>(checks.begin(), checks.begin() + c.checksRun));
        if (c.refusal != nullptr) {
            EXPECT_TRUE(capture.Contains(testsupport::Level::kError, c.refusal)) << capture.Dump();
        }
        EXPECT_EQ(r.Updated(), updated) << "no attempt counted";
        EXPECT_EQ(r.Methods(), ucmCalls);

        r.Session()->Rid029ARunning = false;
        r.Send(a, 4093, 2);
        EXPECT_EQ(r.dm.Uds({0x37}), (Bytes{0x77}));
        EXPECT_EQ(r.Received(), (std::vector<Bytes>{a}));
        EXPECT_FALSE(r.ucm.Session(1)->transferOpen);
    }
}

// The end of a session aborts a download, or RequestTransferExit ends it (a
// tester that gave up on the exit's answer goes on), while its worker is
// still in a UCM call. A RequestDownload sent meanwhile waits until the
// worker is joined and the programming reset or the transfer ended at UCM, so
// neither the old piece nor the reset or the exit reaches the transfer it
// opens.
TEST_F(DownloadTest, ARequestDownloadWaitsForTheAbortOfThePreviousOne) {
    const Bytes a = Payload(kPiece, 1);
    const Bytes b = Payload(10, 2);
    struct Case {
        const char* name;
        std::function<void(Rig&)> abort;
        Bytes request;
        Bytes answer;
        std::function<void(Rig&)> after;
    };
    const Case cases[] = {
        {"the end of the session, then a dpt", [](Rig& r) { r.Session()->AbortLocalTransfer(); },
         RequestDownloadFrame(kDpt, 10), kDownloadAccepted,
         [&](Rig& r) {
             r.Send(b);
             EXPECT_TRUE(WaitUntil([&] { return r.Session()->GetRFS()->GetData() == b; }));
             EXPECT_TRUE(r.Session()->GetRFS()->IsTransferActive());
         }},
        // The reset cancels the conversation: the request was sent in a
        // session that ended while it waited, and nothing of it reaches UCM.
        {"the reset of the programming",
         [](Rig& r) {
             r.Session()->ResetProgramming(r.stack.Ucm(), r.stack.Storage(), r.stack.Conversation(), nullptr);
         },
         RequestDownloadFrame(kBlockB, 10), Nrc(0x34, 0x22),
         [](Rig& r) {
             EXPECT_EQ(r.Session()->GetSWupdateState(), SWupdateState::IDLE);
             EXPECT_EQ(r.Session()->GetUcmSessionId(), SessionData::kNoUcmSession);
             EXPECT_EQ(r.Methods(),
                       (std::vector<std::string>{"Start", "TransferStart", "TransferData", "TransferExit", "Close"}));
         }},
        {"the exit of the block", [](Rig& r) { EXPECT_EQ(r.dm.Uds({0x37}), (Bytes{0x77})); },
         RequestDownloadFrame(kBlockB, 10), kDownloadAccepted,
         [&](Rig& r) {
             EXPECT_EQ(r.Methods(), (std::vector<std::string>{"Start", "TransferStart", "TransferData", "TransferExit",
                                                              "TransferStart"}));
             r.Send(b);
             EXPECT_EQ(r.dm.Uds({0x37}), (Bytes{0x77}));
             EXPECT_EQ(r.Received(), (std::vector<Bytes>{a, b}));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig& r = Make();
        ASSERT_EQ(r.dm.Uds(RequestDownloadFrame(kBlockA, kPiece)), kDownloadAccepted);
        r.ucm.SetFault(UcmMethod::kTransferData, UcmFault::Drop());
        r.Send(a);
        ASSERT_TRUE(WaitUntil([&] { return r.ucm.CountCalls(UcmMethod::kTransferData) == 1; }));

        std::thread abort([&] { c.abort(r); });
        EXPECT_TRUE(WaitUntil([&] { return capture.Contains("+ FlashingThread::stopAndJoin"); }));
        Bytes answer;
        std::thread request([&] { answer = r.dm.Uds(c.request); });
        EXPECT_TRUE(WaitUntil(
            [&] { return capture.Contains("RequestDownload: waiting for the previous download step to end"); }));
        EXPECT_EQ(r.ucm.ReleaseDropped(), 1u);
        abort.join();
        request.join();

        EXPECT_EQ(answer, c.answer);
        c.after(r);
    }
}

// While the diagnostic-status thread still acts on the end of a session (it
// cancels the download), the requests that would act on that download or
// session are refused, also after their wait for it ran out; once it is
// done the download goes on.
TEST_F(DownloadTest, RequestsAreRefusedWhileTheEndOfTheSessionIsHandled) {
    Rig& r = Make();
    const Bytes a = Payload(10, 1);
    ASSERT_EQ(r.dm.Uds(RequestDownloadFrame(kBlockA, 10)), kDownloadAccepted);
    r.stack.Conversation()->SetAnswerTimeout(50ms);
    {
        // Stands for the status thread, which has taken the change.
        const DiagStatusHandlerScope handler;
        r.stack.Conversation()->NotifyDiagStatusChanged();
        {
            std::lock_guard<std::mutex> lock(DiagStatusMutex);
            DiagStatusHandlerScope::TakeChangesLocked();
        }
        capture.Clear();
        EXPECT_EQ(r.dm.Uds(Piece(1, a, 0, a.size())), Nrc(0x36, 0x22));
        EXPECT_EQ(r.dm.Uds(RequestDownloadFrame(kBlockB, 10)), Nrc(0x34, 0x22));
        EXPECT_EQ(r.dm.Uds({0x2E, 0xF1, 0x5A, 0x24, 0x03, 0x15, 0, 0, 0, 0x12, 0x34, 0x56}), Nrc(0x2E, 0x22));
        size_t refusals = 0;
        for (const std::string& text : capture.Texts()) {
            refusals +=
                text.find("ConditionsNotCorrect: the end of the previous diagnostic session is still handled") !=
                std::string::npos;
        }
        EXPECT_EQ(refusals, 3u);
        EXPECT_EQ(r.Methods(), (std::vector<std::string>{"Start", "TransferStart"}));
        DiagStatusHandlerScope::ChangesHandled();
    }
    r.Send(a);
    EXPECT_EQ(r.dm.Uds({0x37}), (Bytes{0x77}));
    EXPECT_EQ(r.Received(), (std::vector<Bytes>{a}));
}

// The dpt stays in this process: the longest record there can be is taken,
// and whatever abandons an unfinished one gives its memory back.
TEST_F(DownloadTest, AnAbandonedDptGivesItsMemoryBack) {
    const uint32_t longest = static_cast<uint32_t>(RFS::kMaxRecordSize);
    const Bytes part = Payload(50 * kPiece, 3);
    struct Case {
        const char* name;
        std::function<void(Rig&)> abandon;
    };
    const Case cases[] = {
        {"the end of the session", [](Rig& r) { r.Session()->AbortLocalTransfer(); }},
        {"a reset",
         [](Rig& r) {
             EXPECT_EQ(r.dm.Uds({0x11, 0x01}), (Bytes{0x51, 0x01}));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig& r = Make();
        ASSERT_EQ(r.dm.Uds(RequestDownloadFrame(kDpt, longest)), kDownloadAccepted);
        r.Send(part);
        const std::shared_ptr<RFS> rfs = r.Session()->GetRFS();
        ASSERT_TRUE(WaitUntil([&] { return rfs->GetData().size() == part.size(); }));
        EXPECT_GE(rfs->HeldBytes(), part.size());
        c.abandon(r);
        EXPECT_FALSE(rfs->IsTransferActive());
        EXPECT_EQ(rfs->HeldBytes(), 0u);
    }
}

}  // namespace

// A memory check sent while the exit of a block still drains waits for the
// transfer lock; the diagnostic manager gives up on it and the tester goes on.
// What the tester does next must not be spoilt by that check when it runs
// late. The order in which the lock is handed out is forced: the check is
// held just before its wait until the tester's next steps are done.
#include "sim/tester/Player.h"
#include "tests/support/HexText.h"
#include "tests/support/LogCapture.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

constexpr const char* kCheckWaits = "checkMemory: waiting for the previous download step to end";

// Unlocked, the DPT of a two-block package checked, the three pieces of block
// 0x01 sent while UCM holds on to the first.
constexpr const char* kBlockSentUcmHolding =
    "10 02 => 50 02 ..\n"
    "27 11 => 67 11 ?? ?? ?? ??\n"
    "27 12 {key} => 67 12\n"
    "2E F1 5A 24 05 17 00 00 00 12 34 56 => 6E F1 5A\n"
    "@package blocks=0x01:12000,0x02:3000\n"
    "34 00 42 00 0F {size:dpt} => 74 20 0F FD\n"
    "36 01 {piece:dpt:1} => 76 01\n"
    "37 => 77\n"
    "31 01 02 02 {sig:dpt} => 71 01 02 02 00\n"
    "34 00 42 00 01 {size:0x01} => 74 ..\n"
    "@ucm drop TransferData\n"
    "36 01 {piece:0x01:1} => 76 01\n"
    "36 02 {piece:0x01:2} => 76 02\n"
    "36 03 {piece:0x01:3} => 76 03\n";

int Play(sim::TesterBench& bench, const std::string& script, std::ostringstream& out) {
    std::istringstream in(script);
    return sim::PlayScript(sim::ParseScript(in), bench, out);
}

std::function<void(sim::TesterBench&)> Plays(const char* script) {
    return [script](sim::TesterBench& bench) {
        std::ostringstream out;
        EXPECT_EQ(Play(bench, script, out), sim::kTesterPassed) << out.str();
    };
}

const sim::SignedBlock& Block(sim::TesterBench& bench, uint8_t id) {
    for (const sim::SignedBlock& block : bench.CurrentPackage()->blocks) {
        if (block.memoryAddress.back() == id) {
            return block;
        }
    }
    throw std::invalid_argument("no such block");
}

sim::Bytes Frame(sim::Bytes head, const sim::Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

sim::Bytes CheckFrame(const sim::SignedBlock& block) { return Frame({0x31, 0x01, 0x02, 0x02}, block.signature); }

TEST(LateCheckTest, ACheckWhoseTurnWasTakenLeavesTheNextStepsAlone) {
    struct Case {
        const char* name;
        std::function<void(sim::TesterBench&)> next;   // while the check is held
        std::function<void(sim::TesterBench&)> after;  // once it has run
    };
    const Case cases[] = {
        {"the next block",
         [](sim::TesterBench& bench) {
             const sim::SignedBlock& block = Block(bench, 0x02);
             const uint32_t size = block.memorySize;
             const sim::Bytes sizeBytes = {static_cast<uint8_t>(size >> 24), static_cast<uint8_t>(size >> 16),
                                           static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size)};
             EXPECT_EQ(bench.Dm().Uds(Frame(Frame({0x34, 0x00, 0x42}, block.memoryAddress), sizeBytes)).at(0), 0x74);
             EXPECT_EQ(bench.Dm().Uds(Frame({0x36, 0x01}, block.payload)), (sim::Bytes{0x76, 0x01}));
             EXPECT_EQ(bench.Dm().Uds({0x37}), (sim::Bytes{0x77}));
         },
         [](sim::TesterBench& bench) {
             EXPECT_EQ(bench.Dm().Uds(CheckFrame(Block(bench, 0x02))), (sim::Bytes{0x71, 0x01, 0x02, 0x02, 0x00}));
         }},
        {"the end of the session, then a new one",
         Plays("10 01 => 50 01 ..\n"
               "@state => 1\n"),
         Plays("10 02 => 50 02 ..\n"
               "27 11 => 67 11 ?? ?? ?? ??\n"
               "27 12 {key} => 67 12\n"
               "2E F1 5A 24 05 17 00 00 00 12 34 56 => 6E F1 5A\n"
               "34 00 42 00 0F {size:dpt} => 74 20 0F FD\n")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::LogCapture capture;
        sim::TesterBench::Options options;
        options.installLogging = false;
        sim::TesterBench bench(options);
        bench.Start();
        std::ostringstream out;
        ASSERT_EQ(Play(bench, kBlockSentUcmHolding, out), sim::kTesterPassed) << out.str();

        // The exit's answer is not looked at: the manager may have given up on it.
        capture.Clear();
        capture.HoldAt(kCheckWaits);
        std::thread exit([&] { bench.Dm().Uds({0x37}); });
        EXPECT_TRUE(testsupport::WaitUntil([&] { return capture.Contains("+ FlashingThread::stopAndJoin"); }));
        sim::Bytes late;
        std::thread check([&] { late = bench.Dm().Uds(CheckFrame(Block(bench, 0x01))); });
        EXPECT_TRUE(capture.WaitFor(kCheckWaits)) << capture.Dump();
        EXPECT_EQ(bench.Ucm().ReleaseDropped(), 1u);
        exit.join();
        c.next(bench);
        capture.Release();
        check.join();
        // Refused (7F 31 22), or given up on by the manager (7F 31 10): never a status.
        EXPECT_EQ(late.at(0), 0x7F) << testsupport::LowerHex(late);
        EXPECT_TRUE(testsupport::WaitUntil([&] {
            return capture.Contains("Start checkMemory completed") || capture.Contains("checkMemory: a later request");
        }));
        c.after(bench);
    }
}

}  // namespace

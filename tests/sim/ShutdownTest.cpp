// Ending the process while tester requests wait on an update manager or a
// diagnostic manager that no longer answers: the stop must neither wait for
// their time-outs nor free a service under a call that still runs (the
// sanitizer build watches that).
#include "sim/tester/Player.h"
#include "tests/support/LogCapture.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

std::vector<sim::Step> Parse(const std::string& text) {
    std::istringstream in(text);
    return sim::ParseScript(in);
}

// Joins the players however the test ends.
struct Players {
    std::vector<std::thread> threads;
    ~Players() {
        for (std::thread& thread : threads) {
            thread.join();
        }
    }
};

// Plays one script on a thread of its own; its outcome is not checked (the
// process ends under it). A package of an earlier script is not known to it.
std::thread PlayInBackground(sim::TesterBench& bench, std::string script) {
    return std::thread([&bench, script] {
        std::ostringstream out;
        sim::PlayScript(Parse(script), bench, out);
    });
}

// Unlocked, fingerprint written, the DPT of a one-block package downloaded and checked.
constexpr const char* kUnlockedWithTheDpt =
    "10 02 => 50 02 ..\n"
    "27 11 => 67 11 ?? ?? ?? ??\n"
    "27 12 {key} => 67 12\n"
    "2E F1 5A 24 05 17 00 00 00 12 34 56 => 6E F1 5A\n"
    "@package blocks=0x01:6000\n"
    "34 00 42 00 0F {size:dpt} => 74 20 0F FD\n"
    "36 01 {piece:dpt:1} => 76 01\n"
    "37 => 77\n"
    "31 01 02 02 {sig:dpt} => 71 01 02 02 00\n";

int64_t StopMs(sim::TesterBench& bench) {
    const auto stopping = std::chrono::steady_clock::now();
    bench.Stop();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - stopping).count();
}

TEST(ShutdownTest, StopsWithinTwoSecondsWhileARoutineAndADownloadWaitOnASilentUcm) {
    testsupport::LogCapture capture;
    sim::TesterBench::Options options;
    options.installLogging = false;
    sim::TesterBench bench(options);
    bench.Start();
    std::ostringstream out;
    ASSERT_EQ(sim::PlayScript(Parse(std::string(kUnlockedWithTheDpt) + "@ucm drop GetProgress\n"
                                                                       "@ucm drop Start\n"),
                              bench, out),
              sim::kTesterPassed)
        << out.str();

    // 0xC010's results wait for UCM's answer, the download for the adaptor behind it.
    Players players;
    players.threads.push_back(PlayInBackground(bench, "31 03 C0 10\n"));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return bench.Ucm().CountCalls(sim::UcmMethod::kGetProgress) == 1; }));
    players.threads.push_back(PlayInBackground(bench, "34 00 42 00 01 00 00 17 70\n"));  // 6000 bytes
    ASSERT_TRUE(testsupport::WaitUntil([&] { return capture.Contains("Using Ucm to start a session"); }))
        << capture.Dump();

    // Far below UCM's 30 s response time-out, with room for a loaded machine.
    EXPECT_LT(StopMs(bench), 10000) << capture.Dump();
    EXPECT_TRUE(capture.Contains("GetProgress: waiting for UCM given up, termination requested")) << capture.Dump();
    EXPECT_FALSE(capture.Contains("did not end within")) << capture.Dump();
}

TEST(ShutdownTest, StopsWithinTwoSecondsWhileTheStatusThreadAndTheWorkerWaitOnASilentDm) {
    testsupport::LogCapture capture;
    sim::TesterBench::Options options;
    options.installLogging = false;
    sim::TesterBench bench(options);
    bench.Start();
    std::ostringstream out;
    ASSERT_EQ(sim::PlayScript(Parse(std::string(kUnlockedWithTheDpt) +
                                    "34 00 42 00 01 00 00 17 70 => 74 ..\n"),  // UCM session open
                              bench, out),
              sim::kTesterPassed)
        << out.str();

    bench.Dm().StopAnswering();
    capture.Clear();
    // Leaving the programming session ends the conversation: the status
    // thread cancels the download and waits for the DM's Cancel answer.
    ASSERT_EQ(sim::PlayScript(Parse("10 01 => 50 01 ..\n"), bench, out), sim::kTesterPassed) << out.str();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return capture.Contains("KivDMConversation::cancel"); }))
        << capture.Dump();
    // The worker registers the next conversation for 0x0253 and waits for its status.
    Players players;
    players.threads.push_back(PlayInBackground(bench, "31 01 02 53 00 01\n"));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return capture.Contains("registering diagnosticconversation with DM"); }))
        << capture.Dump();

    // Far below the sum of the DM's answer time-outs, with room for a loaded machine.
    EXPECT_LT(StopMs(bench), 10000) << capture.Dump();
    EXPECT_TRUE(
        capture.Contains("KivDMConversation::cancel: Cancel failed: waiting for the diagnostic manager given "
                         "up, termination requested"))
        << capture.Dump();
    EXPECT_FALSE(capture.Contains("did not end within")) << capture.Dump();
}

}  // namespace

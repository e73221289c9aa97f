// The tester console over Velmora running in-process: its exit codes for a
// script whose expectations hold, one that does not, and a wrong script; and
// a restart, after which the unlock is needed again.
#include "sim/tester/Player.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<sim::Step> Parse(const std::string& text) {
    std::istringstream in(text);
    return sim::ParseScript(in);
}

TEST(TesterConsoleTest, ExitCodeAndOutputPerScript) {
    struct Case {
        const char* name;
        const char* script;
        int code;
        std::vector<const char*> output;  // in this order
        const char* absent;               // nullptr: no check
    };
    const Case cases[] = {
        {"every expectation holds",
         "10 03 => 50 03 ..   # extended session\n"
         "31 01 02 03 => 71 01 02 03\n"
         "27 11 => 67 11 ?? ?? ?? ??\n"
         "@state => 1\n",
         sim::kTesterPassed,
         {"extended session: 10 03 -> 50 03 00 32 01 F4", "31 01 02 03 -> 71 01 02 03", "@state => 1 -> 1 (IDLE)",
          "PASSED: 4 expectations held"},
         nullptr},
        {"the first mismatch ends the script",
         "10 03 => 50 03 ..\n"
         "10 02 => 50 03 ?? ..\n"
         "3E 00 => 7E 00\n",
         sim::kTesterMismatch,
         {"10 02 -> 50 02 00 32 01 F4", "MISMATCH at s.session:2: expected 50 03 ?? .."},
         "3E 00"},
        {"a response longer than expected",
         "3E 00 => 7E\n",
         sim::kTesterMismatch,
         {"MISMATCH at s.session:1: expected 7E"},
         nullptr},
        {"a fast tester: each request sees the session and level it was sent in",
         "@package blocks=0x01:10\n"
         "10 02 => 50 02 ..\n"
         "27 11 => 67 11 ?? ?? ?? ??\n"
         "27 12 {key} => 67 12\n"
         "2E F1 5A 24 03 15 00 00 00 12 34 56 => 6E F1 5A\n"
         "34 00 42 00 0F {size:dpt} => 74 20 0F FD\n"
         "10 01 => 50 01 ..   # ends the conversation, and with it the download\n"
         "10 02 => 50 02 ..\n"
         "27 11 => 67 11 ?? ?? ?? ??\n"
         "27 12 {key} => 67 12\n"
         "2E F1 5A 24 03 15 00 00 00 12 34 56 => 6E F1 5A\n"
         "34 00 42 00 0F {size:dpt} => 74 20 0F FD\n"
         "10 01 => 50 01 ..   # ends the conversation, and with it the download\n"
         "10 02 => 50 02 ..\n",
         sim::kTesterPassed,
         {"PASSED"},
         nullptr},
        {"{key} before any seed",
         "3E 00\n27 12 {key} => 67 12\n",
         sim::kTesterScriptError,
         {"3E 00 -> 7E 00", "SCRIPT ERROR s.session:2: {key} before any 67 11 response"},
         nullptr},
        {"a block before any package",
         "31 01 02 02 {sig:0x01}\n",
         sim::kTesterScriptError,
         {"SCRIPT ERROR s.session:1: {...:0x01} before any @package"},
         nullptr},
        {"a block the package does not carry",
         "@package blocks=0x01:10\n34 00 42 00 02 {size:0x02}\n",
         sim::kTesterScriptError,
         {"DPT ", "SCRIPT ERROR s.session:2: the package carries no block 0x02"},
         nullptr},
        {"a power cut right after the first block opened the UCM session",
         "10 02 => 50 02 ..\n"
         "27 11 => 67 11 ?? ?? ?? ??\n"
         "27 12 {key} => 67 12\n"
         "2E F1 5A 24 05 17 00 00 00 12 34 56 => 6E F1 5A\n"
         "@package blocks=0x01:6000\n"
         "34 00 42 00 0F {size:dpt} => 74 20 0F FD\n"
         "36 01 {piece:dpt:1} => 76 01\n"
         "37 => 77\n"
         "31 01 02 02 {sig:dpt} => 71 01 02 02 00\n"
         "34 00 42 00 01 {size:0x01} => 74 20 0F FD\n"
         "@powercut\n"
         "@state => 1\n",
         sim::kTesterPassed,
         // The stored session is undone: closed at UCM, nothing committed.
         {"ucm: Start() -> ", "ucm: TransferStart(1, 6000) -> 0", "@powercut -> Velmora running again",
          "ucm: Close(1) -> ", "@state => 1 -> 1 (IDLE)", "PASSED"},
         "CommitUpdate"},
        {"a power cut right after 0xFF01 answered 0",
         "10 02 => 50 02 ..\n"
         "27 11 => 67 11 ?? ?? ?? ??\n"
         "27 12 {key} => 67 12\n"
         "2E F1 5A 24 05 17 00 00 00 12 34 56 => 6E F1 5A\n"
         "@package blocks=0x01:3000\n"
         "34 00 42 00 0F {size:dpt} => 74 20 0F FD\n"
         "36 01 {piece:dpt:1} => 76 01\n"
         "37 => 77\n"
         "31 01 02 02 {sig:dpt} => 71 01 02 02 00\n"
         "34 00 42 00 01 {size:0x01} => 74 20 0F FD\n"
         "36 01 {piece:0x01:1} => 76 01\n"
         "37 => 77\n"
         "31 01 02 02 {sig:0x01} => 71 01 02 02 00\n"
         "31 01 C0 10 00 44 00 00 00 01 => 71 01 C0 10 01\n"
         "31 03 C0 10 =>* 71 03 C0 10 24 ..\n"
         "31 01 FF 01 => 71 01 FF 01 00\n"
         "@switch-partition\n"
         "@powercut\n"
         "@state => 1\n",
         sim::kTesterPassed,
         // The medium held INSTALL_COMPLETE and the partition to update: the
         // partition that came up is the one updated, so the update is committed.
         {"71 01 FF 01 00", "@powercut -> Velmora running again", "ucm: CommitUpdate(1) -> ", "ucm: Close(1) -> ",
          "@state => 1 -> 1 (IDLE)", "PASSED"},
         "Rollback"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::TesterBench bench;
        bench.Start();
        std::ostringstream out;
        sim::PlayerOptions options;
        options.scriptName = "s.session";
        EXPECT_EQ(sim::PlayScript(Parse(c.script), bench, out, options), c.code);
        const std::string text = out.str();
        size_t at = 0;
        for (const char* line : c.output) {
            const size_t found = text.find(line, at);
            EXPECT_NE(found, std::string::npos) << line << "\n" << text;
            at = found == std::string::npos ? at : found;
        }
        if (c.absent != nullptr) {
            EXPECT_EQ(text.find(c.absent), std::string::npos) << text;
        }
    }
}

TEST(TesterConsoleTest, WrongScriptsAreRefusedBeforeVelmoraStartsWithFileLineAndTheChoices) {
    struct Case {
        const char* script;
        const char* told;  // after "SCRIPT ERROR FILE:"
    };
    const Case cases[] = {
        {"10 03 => 50 03\n@reboot\n", "2: unknown directive @reboot"},
        {"10 0302\n", "1: \"0302\" is not a hex byte"},
        {"10 03 => .. 50\n", "1: `..` must end"},
        {"31 01 {piece:0x01:0}\n", "1: pieces count from 1"},
        {"36 01 {piece:dpt}\n", "1: {piece:dpt} needs a block and a piece number: {piece:ID:N}"},
        {"@package blocks=0x01:10 defect=odd\n", "1: unknown defect \"odd\"; known: downgrade duplicate-block"},
        {"\n@ucm error Frobnicate 1\n", "2: unknown UCM method \"Frobnicate\"; known: Start TransferStart"},
        {"@dtc major => broken\n", "1: @dtc takes"},
    };
    testsupport::Sandbox box;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        const std::string path = box.WriteFile("wrong.session", c.script);
        std::string program = "velmora-tester";
        std::vector<char*> argv{program.data(), const_cast<char*>(path.c_str()), nullptr};
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(sim::RunTesterConsole(2, argv.data(), out, err), sim::kTesterScriptError);
        EXPECT_NE(out.str().find("SCRIPT ERROR " + path + ":" + c.told), std::string::npos) << out.str();
        EXPECT_EQ(out.str().find("Velmora running"), std::string::npos) << out.str();
    }
    std::ostringstream out;
    std::ostringstream err;
    char program[] = "velmora-tester";
    char* noScript[] = {program, nullptr};
    EXPECT_EQ(sim::RunTesterConsole(1, noScript, out, err), sim::kTesterScriptError);
    EXPECT_NE(err.str().find("usage"), std::string::npos);
}

TEST(TesterConsoleTest, AfterARestartTheUnlockIsNeededAgain) {
    testsupport::LogCapture capture;
    sim::TesterBench::Options options;
    options.installLogging = false;
    sim::TesterBench bench(options);
    bench.Start();
    std::ostringstream out;
    ASSERT_EQ(sim::PlayScript(Parse("10 02 => 50 02 ..\n"
                                    "27 11 => 67 11 ?? ?? ?? ??\n"
                                    "27 12 {key} => 67 12\n"
                                    "27 11 => 67 11 ?? ?? ?? ??   # a seed the DM passes a key for\n"
                                    "@restart\n"
                                    "27 12 {key} => 7F 27 35   # the restarted process has no seed\n"
                                    "31 03 C0 10 => 7F 31 22   # no installation; asks the update manager\n"),
                              bench, out),
              sim::kTesterPassed)
        << out.str();
    EXPECT_NE(out.str().find("@restart -> Velmora running again"), std::string::npos) << out.str();
    // The peers came back with the process: the update manager answers it,
    // and it reads the DM's conversation.
    EXPECT_NE(out.str().find("ucm: GetProgress(4294967295) -> "), std::string::npos) << out.str();
    EXPECT_FALSE(capture.Contains("has no method")) << capture.Dump();
    // The DM's conversation began anew with the process: default session, locked.
    EXPECT_EQ(bench.Dm().Status().diagnosticSession, sim::DiagnosticManager::kDefaultSession);
    EXPECT_EQ(bench.Dm().Status().diagnosticSecurityLevel, sim::DiagnosticManager::kLocked);

    ASSERT_EQ(sim::PlayScript(Parse("10 02 => 50 02 ..\n"
                                    "27 11 => 67 11 ?? ?? ?? ??\n"
                                    "27 12 {key} => 67 12\n"),
                              bench, out),
              sim::kTesterPassed)
        << out.str();
    EXPECT_EQ(bench.Dm().Status().diagnosticSecurityLevel, "9");
}

}  // namespace

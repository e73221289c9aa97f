// The tester console: plays a script (sim/tester/Script.h) against a
// TesterBench, one output line per step (request and response, or the
// directive and its outcome) and one line per UCM request the step caused
// ("  ucm: METHOD(ARGS) -> ANSWER"). Stops at the first expectation that did
// not hold and prints it. Not part of the product.
#ifndef SIM_TESTER_PLAYER_H
#define SIM_TESTER_PLAYER_H

#include "sim/tester/Script.h"
#include "sim/tester/TesterBench.h"

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

namespace sim {

enum TesterExitCode {
    kTesterPassed = 0,       // every expectation held
    kTesterMismatch = 1,     // an expectation did not hold (or Velmora did not start)
    kTesterScriptError = 2,  // the script (or the command line) is wrong
};

struct PlayerOptions {
    // `=>*` resends this often, at most pollLimit times.
    std::chrono::milliseconds pollInterval{100};
    int pollLimit = 600;
    // @state and @dtc wait this long for the expected value before failing.
    std::chrono::milliseconds settleTime{2000};
    // Longer frames are printed as their first bytes and their length.
    size_t shownBytes = 16;
    // The script's file: errors and mismatches name FILE:LINE; empty: "line LINE".
    std::string scriptName;
};

// Plays the steps in order against a started bench.
int PlayScript(const std::vector<Step>& steps, TesterBench& bench, std::ostream& out,
               const PlayerOptions& options = PlayerOptions());

// `velmora-tester [--root DIR] [--keep] [--verbose] SCRIPT`: parses the
// script, builds a bench (a fresh temporary sandbox unless --root), starts
// Velmora and plays. Velmora's own log goes to a file whose path is printed
// first (ROOT/velmora.log with --root, else a temporary file kept only when
// the script fails or with --keep), or to standard error with --verbose. With `--doip PORT` it serves the
// bench's DM to an outside tester instead (sim/tester/DoIpConsole.h).
int RunTesterConsole(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace sim

#endif

// The console's bench served over DoIP: an outside tester drives the
// simulated diagnostic manager in front of Velmora over a socket instead of
// a script. Optionally a package is built first, signed by the key the
// sandbox trusts, and its wire form written below the sandbox so that such a
// tester can download it. Used by `velmora-doip` and `velmora-tester --doip`.
// Not part of the product.
#ifndef SIM_TESTER_DOIPCONSOLE_H
#define SIM_TESTER_DOIPCONSOLE_H

#include <cstdint>
#include <ostream>
#include <string>

namespace sim {

struct DoIpConsoleOptions {
    // 0 takes a free port.
    uint16_t port = 0;
    // Empty: a fresh temporary sandbox, removed at the end unless keepRoot.
    std::string root;
    bool keepRoot = false;
    // As after `@package`: "blocks=ID:SIZE[,...] [defect=KIND]"; empty for none.
    std::string package;
    // The process log to stderr instead of a file (sim/tester/ProcessLog.h).
    bool verbose = false;
};

// The file below the sandbox that describes the built package (JSON: the
// transfer size, then the DPT and each downloaded block with its address,
// size, payload and signature in hex).
constexpr const char* kDoIpPackageFile = "doip-package.json";

// Starts Velmora over the bench, builds the package, serves the DM on
// 127.0.0.1 and prints "process log PATH" (unless verbose), then
// "listening on 127.0.0.1:PORT" (after "package PATH" when one was built); returns once the process ends (SIGINT,
// SIGTERM) with its exit code, 1 when it did not come up, 2 for a bad package description.
int ServeOverDoIp(const DoIpConsoleOptions& options, std::ostream& out, std::ostream& err);

}  // namespace sim

#endif

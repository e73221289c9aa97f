// velmora-doip PORT [ROOT] [--package SPEC] [--verbose]: lays out a simulated
// ECU from the shipped configuration below ROOT (a fresh temporary directory,
// removed at the end, when none is given), starts the simulated update manager and
// diagnostic manager and the process entry over it, and once the process runs
// serves the diagnostic manager over DoIP on 127.0.0.1:PORT (0: a free port)
// until SIGINT or SIGTERM ends the process. The ECU is the tester console's
// bench, so a package of `--package blocks=ID:SIZE[,...]` (as after the
// console's `@package`) is signed by the key the sandbox trusts; its wire form
// goes to ROOT/doip-package.json, announced by "package PATH". Prints
// "listening on 127.0.0.1:PORT" when a tester may connect. The process log
// goes to the file it names in "process log PATH" (ROOT/velmora.log), or to
// stderr with --verbose. Exit code: the process's, 1 when it did not come
// up, 2 for a usage error.
#include "sim/tester/DoIpConsole.h"

#include <exception>
#include <iostream>
#include <string>

namespace {

bool ParsePort(const std::string& text, uint16_t& port) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const unsigned long value = std::stoul(text);
    if (value > 65535) {
        return false;
    }
    port = static_cast<uint16_t>(value);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const char* usage =
        "usage: velmora-doip PORT [ROOT] [--package blocks=ID:SIZE[,...]] [--verbose]\n"
        "  PORT       TCP port on 127.0.0.1 (0: a free one, printed)\n"
        "  ROOT       directory to lay the simulated ECU out in, kept afterwards\n"
        "             (default: a fresh temporary directory, removed at the end)\n"
        "  --package  build a package signed with the key the sandbox trusts, written to ROOT/doip-package.json\n"
        "  --verbose  the process log goes to stderr instead of a file\n";
    sim::DoIpConsoleOptions options;
    bool havePort = false;
    bool haveRoot = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::cout << usage;
            return 0;
        }
        if (argument == "--verbose") {
            options.verbose = true;
        } else if (argument == "--package" && i + 1 < argc) {
            options.package = argv[++i];
        } else if (!havePort && ParsePort(argument, options.port)) {
            havePort = true;
        } else if (havePort && !haveRoot && !argument.empty() && argument.front() != '-') {
            options.root = argument;
            haveRoot = true;
        } else {
            std::cerr << usage;
            return 2;
        }
    }
    if (!havePort) {
        std::cerr << usage;
        return 2;
    }
    try {
        return sim::ServeOverDoIp(options, std::cout, std::cerr);
    } catch (const std::exception& error) {
        std::cerr << "velmora-doip: " << error.what() << "\n";
        return 1;
    }
}

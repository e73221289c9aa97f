// velmora-sandbox ROOT: lays out a simulated ECU below ROOT from the shipped
// configuration (kernel command line, sysfs flags, logistics of both
// partitions, public key, peer files) and prints the configuration path to
// pass to the process, which must run with VELMORA_ROOT=ROOT.
#include "sim/SandboxBuilder.h"

#include <exception>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    const char* usage =
        "usage: velmora-sandbox ROOT\n"
        "Lays out a simulated ECU below the directory ROOT (created when missing) and prints the path of its\n"
        "configuration. Run the process on it with the host paths below ROOT:\n"
        "  VELMORA_ROOT=ROOT velmora \"$(velmora-sandbox ROOT)\"\n";
    const std::string argument = argc == 2 ? argv[1] : "";
    if (argument == "--help" || argument == "-h") {
        std::cout << usage;
        return 0;
    }
    // An option is never taken for a directory name.
    if (argc != 2 || argument.empty() || argument.front() == '-') {
        std::cerr << usage;
        return 2;
    }
    try {
        sim::SandboxBuilder builder(argument);
        builder.WriteAll();
        std::cout << builder.ConfigPath() << "\n";
        return 0;
    } catch (const std::exception& exception) {
        std::cerr << "velmora-sandbox: " << exception.what() << "\n";
        return 1;
    }
}

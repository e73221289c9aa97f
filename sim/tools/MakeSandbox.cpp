// velmora-sandbox ROOT: lays out a simulated ECU below ROOT from the shipped
// configuration (kernel command line, sysfs flags, logistics of both
// partitions, public key, peer files) and prints the configuration path to
// pass to the process, which must run with VELMORA_ROOT=ROOT.
#include "sim/SandboxBuilder.h"

#include <exception>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: velmora-sandbox ROOT\n";
        return 2;
    }
    try {
        sim::SandboxBuilder builder(argv[1]);
        builder.WriteAll();
        std::cout << builder.ConfigPath() << "\n";
        return 0;
    } catch (const std::exception& exception) {
        std::cerr << "velmora-sandbox: " << exception.what() << "\n";
        return 1;
    }
}

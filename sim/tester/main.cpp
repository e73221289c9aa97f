// velmora-tester SCRIPT: plays a tester script against Velmora running over a
// fresh simulated ECU (sim/tester/Player.h). Exit code 0 when every
// expectation held, 1 at the first that did not, 2 for a script error.
#include "sim/tester/Player.h"

#include <iostream>

int main(int argc, char** argv) { return sim::RunTesterConsole(argc, argv, std::cout, std::cerr); }

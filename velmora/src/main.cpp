#include "velmora/src/RunVelmora.h"

int main(int argc, char** argv) { return RunVelmora(argc, argv); }

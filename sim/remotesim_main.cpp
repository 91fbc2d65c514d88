// remotesim: plays a script of remote-control frames on a pseudo-terminal
// whose path it prints first.
#include "sim/peer_sim.h"

int main(int argc, char** argv) { return sim::run_peer_program(argc, argv, true); }

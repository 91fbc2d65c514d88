// touchsim: plays a script of touch-panel packets on a pseudo-terminal whose
// path it prints first.
#include "sim/peer_sim.h"

int main(int argc, char** argv) { return sim::run_peer_program(argc, argv, false); }

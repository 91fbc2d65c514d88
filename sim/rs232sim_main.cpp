// rs232sim: a target's RS-232 bootloader on a pseudo-terminal.  Prints the
// device path to give the programming library as the port (or as
// VASLAB_COM<n> for "COMn"), then serves until stopped.  Settings come from
// OVRS232_SIM_CONFIG or the first argument ("key=value;..."; see
// sim/rs232_boot.h), the trace goes to OVRS232_SIM_TRACE when set.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "sim/rs232_boot.h"

namespace {

volatile sig_atomic_t g_quit = 0;
void on_signal(int) { g_quit = 1; }

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 || (argc == 2 && std::string(argv[1]) == "--help")) {
    std::fputs("usage: rs232sim [settings]\n", argc == 2 ? stdout : stderr);
    return argc == 2 ? 0 : 2;
  }
  sim::Rs232Boot boot(argc == 2 ? argv[1] : env("OVRS232_SIM_CONFIG"), env("OVRS232_SIM_TRACE"));
  if (!boot.start()) {
    std::perror("rs232sim: pseudo-terminal");
    return 1;
  }
  std::printf("%s\n", boot.slave_path().c_str());
  std::fflush(stdout);
  signal(SIGINT, on_signal);
  signal(SIGTERM, on_signal);
  while (!g_quit) pause();
  boot.stop();
  return 0;
}

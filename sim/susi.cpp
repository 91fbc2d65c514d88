// A stand-in for the embedded-board I/O library, with the six entry points
// the workstation binds.  Its four input lines read 15 (no front-panel key)
// unless a test sets them, and it counts what was written through the extra
// SusiSim* entries.  Built a second time without SusiIOWriteMulti, so that
// tests can see a missing entry point.
#include <cstdint>

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Board {
  bool initialised = false;
  std::uint32_t inputs = 15;
  std::uint32_t outputs = 0;
  int writes = 0;
  int init_result = 1;
};

Board& board() {
  static Board b;
  return b;
}

}  // namespace

EXPORT int SusiInit() {
  board().initialised = board().init_result != 0;
  return board().init_result;
}
EXPORT int SusiIOAvailable() { return board().initialised ? 1 : 0; }
EXPORT int SusiIOInitial(std::uint32_t) { return board().initialised ? 1 : 0; }
EXPORT int SusiIOReadMulti(std::uint32_t mask, std::uint32_t* value) {
  if (!board().initialised || !value) return 0;
  *value = board().inputs & mask;
  return 1;
}
#ifndef SUSI_WITHOUT_WRITE
EXPORT int SusiIOWriteMulti(std::uint32_t mask, std::uint32_t value) {
  if (!board().initialised) return 0;
  board().outputs = (board().outputs & ~mask) | (value & mask);
  ++board().writes;
  return 1;
}
#endif
EXPORT int SusiUnInit() {
  board().initialised = false;
  return 1;
}

// Test entries.
EXPORT void SusiSimReset() { board() = Board{}; }
EXPORT void SusiSimSetInputs(std::uint32_t v) { board().inputs = v; }
EXPORT void SusiSimSetInitResult(int r) { board().init_result = r; }
EXPORT int SusiSimWrites() { return board().writes; }
EXPORT std::uint32_t SusiSimOutputs() { return board().outputs; }
EXPORT int SusiSimInitialised() { return board().initialised ? 1 : 0; }

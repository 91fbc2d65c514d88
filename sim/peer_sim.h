// The touch-panel and remote simulators: packets built as the devices send
// them, and a writer that plays a script of packets and pauses on a
// pseudo-terminal.
//
// Script lines (one step each, '#' starts a comment):
//   touch X Y      a press at raw panel position X, Y (panel types 0 and 1)
//   release        the pen lifted
//   key N          a remote frame for key index N (0..31)
//   bytes B ...    raw bytes, in hex ("bytes 55 54 ff"), for noise and
//                  broken packets
//   wait MS        a pause
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "sim/pty.h"

namespace sim {

// Panel type 0: lead byte with the high bits, then x and y low seven bits.
// Released, the lead byte is a pen-up byte.
std::array<std::uint8_t, 3> touch_packet_type0(int raw_x, int raw_y, bool pressed);
// Panel type 1: "U" "T" status, x, 4095 - y, a spare byte, 0, checksum.
std::array<std::uint8_t, 10> touch_packet_type1(int raw_x, int raw_y, int status);
// Remote: 0xFF, code, 255 - code; the code of key index n is n * 8.
std::array<std::uint8_t, 3> remote_frame(int key_index);

struct ScriptStep {
  std::vector<std::uint8_t> bytes;
  int wait_ms = 0;
};
// Parses a script for a touch panel of `touch_type` (0 or 1; the remote
// ignores it).  False with a message naming the line on a fault.
bool parse_script(const std::string& text, int touch_type, std::vector<ScriptStep>& steps, std::string& error);

// Plays steps on a pseudo-terminal in a thread.
class ScriptedPeer {
 public:
  ScriptedPeer() = default;
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  bool open();  // the pseudo-terminal; device_path() is valid after
  const std::string& device_path() const { return pty_.slave_path(); }
  // Starts playing (again) in the background.
  void play(std::vector<ScriptStep> steps);
  bool finished() const { return done_; }
  void wait();
  void close();

 private:
  Pty pty_;
  std::thread thread_;
  std::atomic<bool> done_{true};
  std::atomic<bool> stop_{false};
};

// The body of the touchsim and remotesim programs.
int run_peer_program(int argc, char** argv, bool remote);

}  // namespace sim

// A CAN bootloader node: it takes the frames the programming library sends
// to its seven identifiers (CRIS * 16 + 0..6) and answers as the bootloader
// would, in the frame set of the CAN protocol or, with paged=1, of the paged
// one (memory and page chosen by a frame on base + 6).
//
// Settings, "key=value" separated by ';' (numbers decimal unless said):
//   cris, node          its CRIS and node number (hex; 0, 2A)
//   flash, data         sizes of memories 0 and 1 (131072, 4096)
//   paged=1             the paged frame set
//   closed=1            a select-node frame finds the node closed
//   version, hardware   bootloader version and hardware byte (hex; 12, FF)
//   frame=N             data bytes a display reply frame carries (8)
//   error_frame=N       the N-th frame received is answered with an error
//                       frame on base + 6
//   wrong_id=N          the N-th frame received is answered on another
//                       identifier
//   silent=1            nothing is ever answered
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace sim {

struct CanFrame {
  std::uint32_t id = 0;
  std::vector<std::uint8_t> data;
};

class CanNode {
 public:
  explicit CanNode(const std::string& settings = "");

  // The node's answers to one frame (none for frames not its own).
  std::vector<CanFrame> receive(const CanFrame& frame);

  std::vector<std::uint8_t>& memory(int number) { return memories_[number]; }
  bool open() const { return open_; }
  int security_level() const { return security_; }
  std::uint8_t special(unsigned key) const;
  int frames() const { return frames_; }
  // One line per frame received and answered since the last call.
  std::string take_trace() { return std::exchange(trace_, {}); }

 private:
  std::vector<CanFrame> answer(unsigned kind, const std::vector<std::uint8_t>& d);
  std::vector<CanFrame> answerPaged(unsigned kind, const std::vector<std::uint8_t>& d);
  std::vector<CanFrame> display(unsigned kind, std::vector<std::uint8_t>& m, std::uint32_t from, std::uint32_t to);
  CanFrame reply(unsigned kind, std::vector<std::uint8_t> data) const;
  void erase(std::vector<std::uint8_t>& m, std::uint32_t from, std::uint32_t to);

  unsigned cris_ = 0;
  unsigned node_ = 0x2A;
  bool paged_ = false;
  bool closed_ = false;
  unsigned frame_bytes_ = 8;
  int error_frame_ = 0;
  int wrong_id_ = 0;
  bool silent_ = false;

  bool open_ = false;
  int security_ = 0;
  int frames_ = 0;
  std::map<int, std::vector<std::uint8_t>> memories_;
  std::map<unsigned, std::uint8_t> special_;
  // The range a program start opened and where the next data byte goes.
  int program_memory_ = -1;
  std::uint32_t program_next_ = 0;
  std::uint32_t program_end_ = 0;
  int selected_memory_ = 0;
  std::uint32_t page_base_ = 0;
  std::string trace_;
};

}  // namespace sim

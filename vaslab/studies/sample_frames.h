// What the study screens exchange with the measuring module: single command
// bytes (some with one argument byte) going out, 7-byte measurement frames
// coming in, the software low-pass that matches the module's hardware
// filter, and the command tables for gain, volume and cutoff.
//
// Frame: header byte (bit 7 set; type in bits 6-4; bits 8-7 of value 2 in
// bits 3-2 and of value 1 in bits 1-0), then six 7-bit bytes: value 1 low,
// value 2 low, value 3 high and low, value 4 high and low.  Values 1 and 2
// are the 9-bit cuff pressures, 3 and 4 the 14-bit waveform samples; a
// waveform value of 1000 or more is a status word.
#pragma once

#include <cstdint>

#include "vaslab/core/links/serial_links.h"

namespace vaslab {

struct StudyPage;

// The byte transport the screens use: the module link unless a test
// installs its own.
class ModuleBytes {
 public:
  virtual ~ModuleBytes() = default;
  virtual void send(int byte) = 0;
  // 0..255, or 0xFFFF when nothing waits; never waits.
  virtual std::uint16_t receive() = 0;
  virtual void drain() = 0;
  // The descriptor that turns readable when a byte waits, so that a live
  // screen can wait for it; kCannotWatch makes it look again at once.
  virtual int wait_descriptor() { return kCannotWatch; }
};
void set_module_bytes(ModuleBytes* bytes);  // nullptr: the module link
void drain_module_bytes();

// The command byte, then the argument's low byte when the argument (taken
// as a signed 16-bit value) is 0 or more.
void send_module_command(int command, int argument = -1);

constexpr int kFrameType0 = 0;
struct FrameReader {
  int step = 0;  // 0 idle, 1..6 the data byte expected next
  std::uint8_t header = 0;
  std::int16_t value[4] = {};  // values 1..4
};
// Takes waiting bytes until a measurement frame (type 0) is complete: 1 then,
// 0 when no more bytes wait.  A header inside a frame starts it over.
int read_frame(FrameReader& r);
// The alignment screen's raw frames: every header restarts the reader, and
// a header whose bits 5-4 are 01 starts a frame.
int read_raw_frame(FrameReader& r);

// The software third-order low-pass matching the hardware filter.
struct IirLowPass {
  double input[4] = {};   // newest first, each already divided by the gain
  double output[3] = {};  // newest first, unrounded
  double gain = 1;
  double c1 = 0, c2 = 0, c3 = 0;
  int mode = 0;           // 2..5, 0 off
  bool reset = false;
};
// Mode flags m (mode in bits 0-2, bit 3 the hardware's high range) and
// cutoff code k: sends 208 and the hardware argument, and loads the
// software filter when the mode reaches the cutoff.
void select_filter(int mode_flags, int cutoff, IirLowPass& f);
// One sample through the filter: 0..256 in range, 257 off scale.
int filter_sample(int x, IirLowPass& f);

// The filter rows: G, c1 (output three back), c2, c3 (the last output).
struct FilterRow {
  int mode, s;
  double gain, c1, c2, c3;
};
extern const FilterRow kFilterRows[10];

// Command tables.
constexpr int kRingSamples = 2960;
inline int gain_command_ch1(int step) { return 31 + step; }
inline int gain_command_ch2(int step) { return 6 + step; }
inline int cutoff_command(int code) { return 61 + code; }
// Volume 0..10 (0 muted); out-of-range volumes are clamped.
int volume_command(int volume);

// A waveform value of a complete frame into the page: a status word sets
// the page status and restarts the trace (returns -1); a sample is filtered
// (when `f` is given), stored in channel 1 at the next ring index and
// returned.
int take_waveform_sample(StudyPage& page, int value, IirLowPass* f);

}  // namespace vaslab

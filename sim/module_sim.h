// The measuring-module simulator: what the module does on the wire.
//
// - "S" (0x53) is answered with the firmware version.
// - 0x52 right after "S" (or right after an earlier 0x52 taken this way, a
//   retry) starts a firmware download: answered with 0x00, then block frames
//   [n][256 bytes][CRC high][CRC low] are checked and the next missing block
//   is asked for (a bad block again), until 0xAA says all arrived.  The new
//   version is reported from then on.  Anywhere else 0x52 is the cuff
//   selector command it also is.
// - A download can be made to go wrong: the module may drop out of it after
//   its first block request and stream measurement frames (as a module that
//   fell back to its old firmware), go silent for good after a block, or
//   restart with its old version after a block, forgetting the download.
// - Every other byte is a command, some with one argument byte; each is
//   logged with its argument.  Any command but 0 starts the stream of 7-byte
//   measurement frames (type 1, the alignment's raw frames, after command 1);
//   command 0 stops it.
// - Cuff pressures follow the inflate, deflate and hold commands (the stop
//   commands 93, 95, 87, 89 end a hold where the cuff stands); command 0
//   vents both cuffs, and a cuff that is neither inflating nor deflating
//   leaks slowly.  The waveforms are a pulse of 72 per minute that a cuff
//   above the side's systolic pressure stops.
// - 49 turns channel 1's Doppler wave over about its rest level (48 turns it
//   back), 24 and 23 channel 2's: the Doppler screen's Invert.
// - Each channel's waveform follows the probe set-ups the screens send:
//   42 photoplethysmography on channel 1, 17 on channel 2, 46 Doppler on
//   channel 1, 44 pulse volume on both; the wave options are where they
//   start.  A pulse-volume wave grows with its held cuff pressure up to
//   65 mmHg and fades above systolic.
// - Command 3 switches both channels to a steady test level (channel 1 100,
//   channel 2 130), 4 feeds value 3 from channel 2, 5 from channel 1; a
//   probe set-up or command 0 ends the test level.
// - Status words go out in channel 1 (value 3) or channel 2 (value 4).
// - Each channel has a pressure transducer: in the raw frames (type 1)
//   values 3 and 4 are 6144 + its zero + the applied pressure times its
//   counts per mmHg, and values 1 and 2 the pressures derived from them with
//   the zero offset and slope code last sent (194/195 channel 1, 196/197
//   channel 2), so a true alignment reads back the applied pressure.
//
// The protocol is a plain object fed with bytes and time, so tests can drive
// it directly; ModuleSimulator runs it on a pseudo-terminal in a thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sim/pty.h"

namespace sim {

enum class Wave { kPressure, kDoppler, kPpg, kPvr };

struct ModuleOptions {
  int version = 5;                 // answered to "S"
  int new_version = 5;             // answered after a completed download
  double reply_delay_ms = 10;      // before each answer of the link protocol
  bool wire_time = false;          // each byte sent takes 1.04 ms, as at 9600 baud
  std::set<int> bad_blocks;        // each arrives with a CRC error once
  bool stream_in_download = false; // streams instead of asking past block 0
  int silent_after_block = -1;     // after this block: never a byte again
  int restart_after_block = -1;    // after this block: the old version, no download
  int noise_per_mille = 0;         // frames with a stray byte or cut short
  int status_word = -1;            // 0..8191: sent in channel 1 at stream start,
                                   // and on a pulse volume channel whose cuff
                                   // has come to a hold after inflating
  int status_every = 0;            // ... and every this many frames (0: once)
  int status_word2 = -1;           // the same in channel 2
  int status_every2 = 0;
  int systolic1 = 120;             // mmHg: a cuff above it stops the channel's pulse
  int systolic2 = 110;
  double frame_rate = 100;         // frames per second
  int frame_type = -1;             // 0..7 forces the type of every frame
  Wave wave1 = Wave::kDoppler;
  Wave wave2 = Wave::kPpg;
  std::uint32_t seed = 1;
  int zero1 = 30, zero2 = 40;          // transducer counts at 0 mmHg
  double counts1 = 10, counts2 = 10.25; // transducer counts per mmHg
};

struct LogEntry {
  double seconds;  // since the simulator started
  int command;
  int argument;    // -1 when the command takes none
};

// The commands that carry one argument byte.
bool command_takes_argument(int command);

// One 7-byte measurement frame.
std::array<std::uint8_t, 7> encode_frame(int type, int v1, int v2, int v3, int v4);
// The block check: CRC-16, reflected polynomial 0x8408, register from 0,
// over the block number and the data.
std::uint16_t block_crc(int block, const std::uint8_t* data, std::size_t size);
// A firmware image file of 8193 bytes: the version, then a pattern that
// holds every byte value.
std::vector<std::uint8_t> make_firmware_file(int version);

class ModuleProtocol {
 public:
  explicit ModuleProtocol(const ModuleOptions& options);

  // A byte from the workstation, at `now` seconds.
  void receive(std::uint8_t byte, double now);
  // Advances time: frames, the download's gap time-out.
  void tick(double now);
  // The bytes due by `now`, in order.
  std::vector<std::uint8_t> take_output(double now);
  // When the next output byte is due, or a negative value when none waits.
  double next_due() const;

  int version() const { return version_; }
  bool streaming() const { return streaming_; }
  bool downloading() const { return mode_ != Mode::kCommand; }
  const std::vector<LogEntry>& log() const { return log_; }
  // Blocks in the order their frames arrived, good or bad.
  const std::vector<int>& blocks_seen() const { return blocks_seen_; }
  int crc_errors() const { return crc_errors_; }
  // Measurement frames sent since the simulator started, over every stream.
  long frames_total() const { return frames_total_; }
  // Every byte the workstation sent.
  long bytes_received() const { return bytes_received_; }
  const std::array<std::uint8_t, 8192>& image() const { return image_; }
  int cuff_pressure(int channel) const;
  // The pressure on a channel's transducer (mmHg).
  void apply_pressure(int channel, int mmhg);
  // The calibration last sent for a channel: zero offset and slope code.
  int bp_offset(int channel) const { return bp_offset_[channel == 2 ? 1 : 0]; }
  int bp_span(int channel) const { return bp_span_[channel == 2 ? 1 : 0]; }

 private:
  enum class Mode { kCommand, kBlocks };
  static constexpr int kVenting = -2;
  struct Cuff {
    double pressure = 0;
    int target = 0;
    int motion = 0;  // +1 inflating, -1 deflating, 0 holding (leaking), kVenting
    bool to_target = false;
  };

  void command(int cmd, double now);
  void block_byte(std::uint8_t byte, double now);
  void finish_block(double now);
  void request_next(double now);
  void reply(std::uint8_t byte, double now);
  void queue(std::uint8_t byte, double due);
  void cuff_command(Cuff& cuff, int offset);
  void move_cuffs(double dt);
  int wave_value(Wave wave, double phase, const Cuff& cuff, int systolic, bool inverted) const;
  // The status word due in this frame (or -1) of a channel's status options.
  int status_due(int channel, int word, int every);
  void emit_frame(double when);

  ModuleOptions opt_;
  int version_;
  Mode mode_ = Mode::kCommand;
  int last_command_ = -1;
  bool last_was_download_start_ = false;
  int pending_argument_for_ = -1;
  std::vector<std::uint8_t> frame_;  // block frame being received
  double last_block_byte_ = 0;
  std::array<std::uint8_t, 8192> image_{};
  std::array<bool, 32> have_{};
  std::set<int> bad_left_;
  std::vector<int> blocks_seen_;
  int crc_errors_ = 0;
  bool streaming_ = false;
  int stream_type_ = 0;
  double next_frame_ = 0;
  long frames_sent_ = 0;  // in this stream
  long frames_total_ = 0;
  long bytes_received_ = 0;
  bool silent_ = false;
  double last_tick_ = 0;
  Cuff cuff_[2];
  bool held_[2] = {};  // a cuff came to a hold after inflating; its status word is due
  Wave wave_[2];
  bool test_level_ = false;
  bool inverted_[2] = {};
  int value3_channel_ = 1;  // the channel that feeds value 3
  int applied_[2] = {};
  int bp_offset_[2] = {};
  int bp_span_[2] = {};
  int transducer_raw(int side) const;
  int derived_pressure(int side) const;
  std::deque<std::pair<double, std::uint8_t>> out_;
  double wire_free_ = 0;
  std::vector<LogEntry> log_;
  std::mt19937 rng_;
};

// The protocol on a pseudo-terminal, served by a thread.
class ModuleSimulator {
 public:
  explicit ModuleSimulator(const ModuleOptions& options = {});
  ~ModuleSimulator();
  ModuleSimulator(const ModuleSimulator&) = delete;
  ModuleSimulator& operator=(const ModuleSimulator&) = delete;

  // Opens the pseudo-terminal and starts serving; false when no pair could
  // be had.
  bool start();
  void stop();
  // The device the workstation opens.
  const std::string& device_path() const { return pty_.slave_path(); }

  // Snapshots, safe while running.
  int version();
  bool downloading();
  bool streaming();
  // Frames sent (and on the line) so far; tests wait on it rather than on
  // time, which a loaded machine may not give the simulator's thread.
  long frames_total();
  long bytes_received();
  std::vector<LogEntry> log();
  std::vector<int> blocks_seen();
  std::array<std::uint8_t, 8192> image();
  int cuff_pressure(int channel);  // mmHg
  void apply_pressure(int channel, int mmhg);
  int bp_offset(int channel);
  int bp_span(int channel);
  // When set, every command is also written to this file as a line.
  void set_log_file(std::FILE* f) { log_file_ = f; }

 private:
  void run();

  ModuleProtocol protocol_;
  Pty pty_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::FILE* log_file_ = nullptr;
};

}  // namespace sim

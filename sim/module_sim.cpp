#include "sim/module_sim.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <utility>

namespace sim {
namespace {

constexpr int kBlocks = 32;
constexpr std::size_t kBlockSize = 256;
constexpr std::size_t kBlockFrameSize = 1 + kBlockSize + 2;
constexpr std::uint8_t kVersionQuery = 0x53;
constexpr std::uint8_t kDownloadStart = 0x52;
constexpr std::uint8_t kAllReceived = 0xAA;
constexpr double kByteTime = 0.00104;      // one byte at 9600 baud, 8N1
constexpr double kBlockGap = 0.1;          // a block frame pausing this long is abandoned
constexpr double kHeartRate = 72.0 / 60;   // beats per second
constexpr double kPvrFullCuff = 65;        // mmHg: the pulse volume is fullest from here
constexpr int kTestLevel1 = 100, kTestLevel2 = 130;
constexpr double kInflateRate = 40;        // mmHg per second
constexpr double kDeflateRate = 5;
constexpr double kVentRate = 60;           // the valve open: a cuff is empty within seconds
constexpr double kLeakRate = 0.1;          // a cuff left holding loses this much a second
constexpr double kMaxCuff = 300;
constexpr double kDopplerRest = 128;       // an inverted Doppler wave turns over about its rest

double bump(double x, double centre, double width) {
  const double d = (x - centre) / width;
  return std::exp(-0.5 * d * d);
}

}  // namespace

bool command_takes_argument(int command) {
  switch (command) {
    case 178: case 153:                    // baselines
    case 194: case 195: case 196: case 197: // pressure offsets and spans
    case 183: case 158:                    // cuff targets
    case 204: case 205:                    // step values
    case 208:                              // hardware filter
      return true;
    default: return false;
  }
}

std::array<std::uint8_t, 7> encode_frame(int type, int v1, int v2, int v3, int v4) {
  return {static_cast<std::uint8_t>(0x80 | (type & 7) << 4 | ((v2 >> 7) & 3) << 2 | ((v1 >> 7) & 3)),
          static_cast<std::uint8_t>(v1 & 0x7F),
          static_cast<std::uint8_t>(v2 & 0x7F),
          static_cast<std::uint8_t>((v3 >> 7) & 0x7F),
          static_cast<std::uint8_t>(v3 & 0x7F),
          static_cast<std::uint8_t>((v4 >> 7) & 0x7F),
          static_cast<std::uint8_t>(v4 & 0x7F)};
}

std::uint16_t block_crc(int block, const std::uint8_t* data, std::size_t size) {
  std::uint16_t crc = 0;
  auto add = [&crc](std::uint8_t b) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = static_cast<std::uint16_t>((crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1);
  };
  add(static_cast<std::uint8_t>(block));
  for (std::size_t i = 0; i < size; ++i) add(data[i]);
  return crc;
}

std::vector<std::uint8_t> make_firmware_file(int version) {
  std::vector<std::uint8_t> file(1 + kBlocks * kBlockSize);
  file[0] = static_cast<std::uint8_t>(version);
  for (std::size_t i = 1; i < file.size(); ++i) file[i] = static_cast<std::uint8_t>((i - 1) * 7 + (i - 1) / 256);
  return file;
}

// --- The protocol ------------------------------------------------------------

ModuleProtocol::ModuleProtocol(const ModuleOptions& options)
    : opt_(options), version_(options.version), bad_left_(options.bad_blocks), wave_{options.wave1, options.wave2},
      rng_(options.seed) {}

void ModuleProtocol::apply_pressure(int channel, int mmhg) { applied_[channel == 2 ? 1 : 0] = mmhg; }

int ModuleProtocol::transducer_raw(int side) const {
  const int zero = side ? opt_.zero2 : opt_.zero1;
  const double counts = side ? opt_.counts2 : opt_.counts1;
  return 6144 + zero + static_cast<int>(std::lround(applied_[side] * counts));
}

// As the module converts: counts above the zero offset over 9.5 + slope/256
// counts per mmHg.
int ModuleProtocol::derived_pressure(int side) const {
  const double per_mmhg = 9.5 + bp_span_[side] / 256.0;
  const long p = std::lround((transducer_raw(side) - 6144 - bp_offset_[side]) / per_mmhg);
  return static_cast<int>(std::clamp(p, 0L, 511L));
}

int ModuleProtocol::cuff_pressure(int channel) const {
  return static_cast<int>(std::lround(cuff_[channel == 2 ? 1 : 0].pressure));
}

void ModuleProtocol::queue(std::uint8_t byte, double due) {
  if (opt_.wire_time) {
    due = std::max(due, wire_free_);
    wire_free_ = due + kByteTime;
  }
  auto at = std::upper_bound(out_.begin(), out_.end(), due,
                             [](double d, const std::pair<double, std::uint8_t>& e) { return d < e.first; });
  out_.insert(at, {due, byte});
}

void ModuleProtocol::reply(std::uint8_t byte, double now) { queue(byte, now + opt_.reply_delay_ms / 1000.0); }

std::vector<std::uint8_t> ModuleProtocol::take_output(double now) {
  std::vector<std::uint8_t> bytes;
  while (!out_.empty() && out_.front().first <= now) {
    bytes.push_back(out_.front().second);
    out_.pop_front();
  }
  return bytes;
}

double ModuleProtocol::next_due() const { return out_.empty() ? -1 : out_.front().first; }

void ModuleProtocol::receive(std::uint8_t byte, double now) {
  ++bytes_received_;
  if (silent_) return;
  if (mode_ == Mode::kBlocks) {
    // A frame starts with a block number: anything else ends the download
    // and is a command again.
    if (!frame_.empty() || byte < kBlocks) {
      block_byte(byte, now);
      return;
    }
    mode_ = Mode::kCommand;
  }
  if (pending_argument_for_ >= 0) {
    const int cmd = pending_argument_for_;
    pending_argument_for_ = -1;
    log_.push_back({now, cmd, byte});
    if (cmd == 183) cuff_[0].target = byte;
    if (cmd == 158) cuff_[1].target = byte;
    if (cmd >= 194 && cmd <= 197) (cmd % 2 == 0 ? bp_offset_ : bp_span_)[(cmd - 194) / 2] = byte;
    last_command_ = cmd;
    last_was_download_start_ = false;
    return;
  }
  if (command_takes_argument(byte)) {
    pending_argument_for_ = byte;
    return;
  }
  log_.push_back({now, byte, -1});
  const bool download = byte == kDownloadStart && (last_command_ == kVersionQuery || last_was_download_start_);
  if (byte == kVersionQuery) {
    reply(static_cast<std::uint8_t>(version_), now);
  } else if (download) {
    streaming_ = false;
    mode_ = Mode::kBlocks;
    have_.fill(false);
    frame_.clear();
    reply(0x00, now);
    if (opt_.stream_in_download) {
      // Back in its measuring firmware: what follows are commands.
      mode_ = Mode::kCommand;
      streaming_ = true;
      next_frame_ = now + opt_.reply_delay_ms / 1000.0;
      frames_sent_ = 0;
    }
  } else if (byte != kAllReceived) {
    command(byte, now);
  }
  last_command_ = byte;
  last_was_download_start_ = download;
}

void ModuleProtocol::command(int cmd, double now) {
  if (cmd == 0) {
    streaming_ = false;
    stream_type_ = 0;
    test_level_ = false;
    // A screen that is left lets both cuffs down, whatever they were doing.
    for (Cuff& c : cuff_) c.motion = kVenting;
    return;
  }
  if (cmd == 1) stream_type_ = 1;
  switch (cmd) {
    case 42: wave_[0] = Wave::kPpg; test_level_ = false; break;
    case 17: wave_[1] = Wave::kPpg; test_level_ = false; break;
    case 46: wave_[0] = Wave::kDoppler; test_level_ = false; break;
    case 44: wave_[0] = wave_[1] = Wave::kPvr; test_level_ = false; break;
    case 3: test_level_ = true; break;
    case 4: value3_channel_ = 2; break;
    case 5: value3_channel_ = 1; break;
    case 49: inverted_[0] = true; break;
    case 48: inverted_[0] = false; break;
    case 24: inverted_[1] = true; break;
    case 23: inverted_[1] = false; break;
    default: break;
  }
  if (cmd >= 90 && cmd <= 95) cuff_command(cuff_[0], cmd - 90);
  if (cmd >= 84 && cmd <= 89) cuff_command(cuff_[1], cmd - 84);
  if (!streaming_) {
    streaming_ = true;
    next_frame_ = now;
    frames_sent_ = 0;
  }
}

void ModuleProtocol::cuff_command(Cuff& cuff, int offset) {
  switch (offset) {
    case 0: cuff.motion = +1; cuff.to_target = true; break;  // inflate to target
    case 1: cuff.motion = -1; cuff.to_target = true; break;  // deflate to target
    case 2: cuff.motion = +1; cuff.to_target = false; break; // inflate while held
    case 4: cuff.motion = -1; cuff.to_target = false; break; // deflate while held
    default:                                                 // stop: the hold ends where it is
      if (cuff.motion > 0) held_[&cuff - cuff_] = true;
      if (cuff.motion != kVenting) cuff.motion = 0;
      break;
  }
}

void ModuleProtocol::move_cuffs(double dt) {
  for (int i = 0; i < 2; ++i) {
    Cuff& c = cuff_[i];
    if (c.motion == kVenting) {
      c.pressure = std::max(c.pressure - kVentRate * dt, 0.0);
      if (c.pressure == 0) c.motion = 0;
    } else if (c.motion > 0) {
      c.pressure += kInflateRate * dt;
      const double top = c.to_target ? c.target : kMaxCuff;
      if (c.pressure >= top) {
        c.pressure = std::min(std::max(top, 0.0), kMaxCuff);
        c.motion = 0;
        held_[i] = true;
      }
    } else if (c.motion < 0) {
      c.pressure -= kDeflateRate * dt;
      const double bottom = c.to_target ? c.target : 0;
      if (c.pressure <= bottom) {
        c.pressure = std::max(bottom, 0.0);
        c.motion = 0;
      }
    } else {
      c.pressure = std::max(c.pressure - kLeakRate * dt, 0.0);
    }
  }
}

void ModuleProtocol::block_byte(std::uint8_t byte, double now) {
  frame_.push_back(byte);
  last_block_byte_ = now;
  if (frame_.size() == kBlockFrameSize) finish_block(now);
}

void ModuleProtocol::finish_block(double now) {
  const int n = frame_[0];
  const std::uint16_t sent = static_cast<std::uint16_t>(frame_[257] << 8 | frame_[258]);
  bool good = block_crc(n, &frame_[1], kBlockSize) == sent;
  if (good && bad_left_.erase(n) != 0) good = false;  // the injected error
  blocks_seen_.push_back(n);
  if (good) {
    std::copy(frame_.begin() + 1, frame_.begin() + 1 + kBlockSize, image_.begin() + n * kBlockSize);
    have_[n] = true;
  } else {
    ++crc_errors_;
  }
  frame_.clear();
  if (!good) {
    reply(static_cast<std::uint8_t>(n), now);
    return;
  }
  if (n == opt_.silent_after_block) {
    silent_ = true;
    return;
  }
  if (n == opt_.restart_after_block) {
    version_ = opt_.version;
    mode_ = Mode::kCommand;
    return;
  }
  request_next(now);
}

void ModuleProtocol::request_next(double now) {
  for (int n = 0; n < kBlocks; ++n) {
    if (!have_[n]) {
      reply(static_cast<std::uint8_t>(n), now);
      return;
    }
  }
  reply(kAllReceived, now);
  version_ = opt_.new_version;
  mode_ = Mode::kCommand;
}

int ModuleProtocol::wave_value(Wave wave, double phase, const Cuff& cuff, int systolic, bool inverted) const {
  const double a = std::clamp((systolic - cuff.pressure) / 20, 0.0, 1.0);
  double v = 0;
  switch (wave) {
    case Wave::kPressure: v = 80 + 40 * a * (bump(phase, 0.15, 0.06) + 0.3 * bump(phase, 0.42, 0.07)); break;
    case Wave::kDoppler:
      v = kDopplerRest + a * (100 * bump(phase, 0.10, 0.03) - 25 * bump(phase, 0.20, 0.025) +
                              15 * bump(phase, 0.30, 0.04));
      // Flow towards the probe or away from it: Invert turns the wave over.
      if (inverted) v = 2 * kDopplerRest - v;
      break;
    case Wave::kPpg: v = 60 + a * (120 * bump(phase, 0.25, 0.09) + 40 * bump(phase, 0.55, 0.07)); break;
    case Wave::kPvr: {
      // The cuff picks up the limb's pulse volume once it holds pressure.
      const double held = a * std::clamp(cuff.pressure / kPvrFullCuff, 0.0, 1.0);
      v = 70 + held * (110 * bump(phase, 0.22, 0.08) + 35 * bump(phase, 0.50, 0.08));
      break;
    }
  }
  return std::clamp(static_cast<int>(std::lround(v)), 0, 256);
}

int ModuleProtocol::status_due(int channel, int word, int every) {
  // The module measures a pulse volume amplitude once its cuff holds
  // pressure and reports it then.
  const bool held = std::exchange(held_[channel], false) && wave_[channel] == Wave::kPvr;
  if (word < 0 || !(held || frames_sent_ == 0 || (every > 0 && frames_sent_ % every == 0))) return -1;
  // A value of 1000 or more is a status word carried in its low 13 bits.
  const int s = word & 0x1FFF;
  return s >= 1000 ? s : s + 0x2000;
}

void ModuleProtocol::emit_frame(double when) {
  const double phase = std::fmod(when * kHeartRate, 1.0);
  int ch1 = test_level_ ? kTestLevel1 : wave_value(wave_[0], phase, cuff_[0], opt_.systolic1, inverted_[0]);
  int v4 = test_level_ ? kTestLevel2 : wave_value(wave_[1], phase, cuff_[1], opt_.systolic2, inverted_[1]);
  int v3 = value3_channel_ == 2 ? v4 : ch1;
  if (const int s = status_due(0, opt_.status_word, opt_.status_every); s >= 0) v3 = s;
  if (const int s = status_due(1, opt_.status_word2, opt_.status_every2); s >= 0) v4 = s;
  ++frames_sent_;
  ++frames_total_;
  const int type = opt_.frame_type >= 0 ? opt_.frame_type : stream_type_;
  int v1 = cuff_pressure(1), v2 = cuff_pressure(2);
  if (type == 1) {
    v1 = derived_pressure(0);
    v2 = derived_pressure(1);
    v3 = transducer_raw(0);
    v4 = transducer_raw(1);
  }
  const auto f = encode_frame(type, v1, v2, v3, v4);
  std::vector<std::uint8_t> bytes(f.begin(), f.end());
  if (opt_.noise_per_mille > 0 && static_cast<int>(rng_() % 1000) < opt_.noise_per_mille) {
    if (rng_() % 2) {
      bytes.insert(bytes.begin() + 1 + rng_() % 6, static_cast<std::uint8_t>(rng_() % 256));
    } else {
      bytes.resize(1 + rng_() % 6);
    }
  }
  for (std::uint8_t b : bytes) queue(b, when);
}

void ModuleProtocol::tick(double now) {
  if (silent_) {
    out_.clear();
    return;
  }
  if (now > last_tick_) {
    move_cuffs(now - last_tick_);
    last_tick_ = now;
  }
  if (mode_ == Mode::kBlocks && !frame_.empty() && now - last_block_byte_ > kBlockGap) {
    frame_.clear();
    mode_ = Mode::kCommand;
  }
  if (!streaming_ || opt_.frame_rate <= 0) return;
  const double period = 1.0 / opt_.frame_rate;
  if (next_frame_ < now - 1) next_frame_ = now;  // never catch up on a stall
  while (next_frame_ <= now) {
    emit_frame(next_frame_);
    next_frame_ += period;
  }
}

// --- On a pseudo-terminal ------------------------------------------------------

ModuleSimulator::ModuleSimulator(const ModuleOptions& options) : protocol_(options) {}

ModuleSimulator::~ModuleSimulator() { stop(); }

bool ModuleSimulator::start() {
  if (thread_.joinable()) return true;
  if (!pty_.open()) return false;
  stop_ = false;
  thread_ = std::thread([this] { run(); });
  return true;
}

void ModuleSimulator::stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  pty_.close();
}

void ModuleSimulator::run() {
  using Clock = std::chrono::steady_clock;
  const auto t0 = Clock::now();
  auto seconds = [&t0] { return std::chrono::duration<double>(Clock::now() - t0).count(); };
  std::vector<std::uint8_t> pending;  // output the pty did not take yet
  std::size_t logged = 0;
  const int fd = pty_.master();
  while (!stop_) {
    int wait_ms = 2;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const double due = protocol_.next_due();
      if (!pending.empty() || protocol_.streaming() || protocol_.downloading())
        wait_ms = 1;
      else if (due >= 0)
        wait_ms = std::clamp(static_cast<int>((due - seconds()) * 1000), 0, 2);
    }
    pollfd p{fd, POLLIN, 0};
    const int r = ::poll(&p, 1, wait_ms);
    std::uint8_t buf[512];
    ssize_t n = 0;
    if (r > 0 && (p.revents & POLLIN)) n = ::read(fd, buf, sizeof buf);
    if (r > 0 && n <= 0 && (p.revents & (POLLHUP | POLLERR))) ::usleep(1000);  // no one on the line
    std::lock_guard<std::mutex> lock(mutex_);
    const double now = seconds();
    for (ssize_t i = 0; i < n; ++i) protocol_.receive(buf[i], now);
    protocol_.tick(now);
    const auto out = protocol_.take_output(now);
    pending.insert(pending.end(), out.begin(), out.end());
    while (!pending.empty()) {
      const ssize_t w = ::write(fd, pending.data(), pending.size());
      if (w <= 0) break;
      pending.erase(pending.begin(), pending.begin() + w);
    }
    if (log_file_) {
      const auto& log = protocol_.log();
      for (; logged < log.size(); ++logged) {
        const LogEntry& e = log[logged];
        if (e.argument >= 0)
          std::fprintf(log_file_, "%10.3f  command 0x%02X  argument 0x%02X (%d)\n", e.seconds, e.command, e.argument,
                       e.argument);
        else
          std::fprintf(log_file_, "%10.3f  command 0x%02X\n", e.seconds, e.command);
      }
      std::fflush(log_file_);
    }
  }
}

int ModuleSimulator::version() {
  std::lock_guard<std::mutex> lock(mutex_);
  return protocol_.version();
}
bool ModuleSimulator::downloading() {
  std::lock_guard<std::mutex> lock(mutex_);
  return protocol_.downloading();
}
bool ModuleSimulator::streaming() {
  std::lock_guard<std::mutex> lock(mutex_);
  return protocol_.streaming();
}
int ModuleSimulator::cuff_pressure(int channel) {
  std::lock_guard<std::mutex> lock(mutex_);
  return protocol_.cuff_pressure(channel);
}
void ModuleSimulator::apply_pressure(int channel, int mmhg) {
  std::lock_guard<std::mutex> lock(mutex_);
  protocol_.apply_pressure(channel, mmhg);
}
int ModuleSimulator::bp_offset(int channel) {
  std::lock_guard<std::mutex> lock(mutex_);
  return protocol_.bp_offset(channel);
}
int ModuleSimulator::bp_span(int channel) {
  std::lock_guard<std::mutex> lock(mutex_);
  return protocol_.bp_span(channel);
}
long ModuleSimulator::frames_total() {
  std::lock_guard<std::mutex> lock(mutex_);
  return protocol_.frames_total();
}
long ModuleSimulator::bytes_received() {
  std::lock_guard<std::mutex> lock(mutex_);
  return protocol_.bytes_received();
}
std::vector<LogEntry> ModuleSimulator::log() {
  std::lock_guard<std::mutex> lock(mutex_);
  return protocol_.log();
}
std::vector<int> ModuleSimulator::blocks_seen() {
  std::lock_guard<std::mutex> lock(mutex_);
  return protocol_.blocks_seen();
}
std::array<std::uint8_t, 8192> ModuleSimulator::image() {
  std::lock_guard<std::mutex> lock(mutex_);
  return protocol_.image();
}

}  // namespace sim

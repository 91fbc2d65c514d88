#include "vaslab/core/links/module_link.h"

#include <array>
#include <cassert>
#include <string>

#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/links/serial_links.h"
#include "vaslab/core/settings/module_table.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/screen.h"

namespace vaslab {

const char kFirmwareFile[] = "c:\\studies\\romv5.bin";

namespace {

void tell_menu_connected(bool connected) {
  if (const auto changed = module_table().module_connection_changed) changed(connected);
}

constexpr std::uint8_t kVersionQuery = 0x53;  // 'S'
constexpr std::uint8_t kDownloadStart = 0x52; // 'R'
constexpr std::uint8_t kAllReceived = 0xAA;
constexpr std::uint16_t kNoByte = 0xFFFF;
constexpr int kTimerSlot = 1;
constexpr int kStreamingBytes = 5;  // this many in 200 ms: the module is streaming
constexpr std::uint32_t kCountWindowMs = 200;  // as state 2 counts
// A module that means to take its firmware answers "R" and each block
// within this long.
constexpr std::uint32_t kAnswerWaitMs = 2000;
constexpr int kDownloadStarts = 3;  // "R" sent this often in one download
// Re-asked blocks (CRC errors) are answered, but not without end.
constexpr int kMaxBlockRequests = 3 * kFirmwareBlocks;
// After a failed download the module must be back (its version read)
// within as many steps as connect_module takes.
constexpr int kReconnectSteps = 10;

enum class DownloadFault { kNone, kNotStarted, kStopped, kStreaming, kDisorder };

// What must hold between the fields, asserted on entry to every operation
// in debug and test builds:
//  1. `state` is one of the connection states, 0 to kModuleUpdateFailed.
//  2. Both versions are byte values: the file's first byte, the module's
//     one-byte answer.
//  3. A download (states 5 to 8) runs only to a module whose version is
//     older than the file's.
//  4. At most kMaxFirmwareDownloads downloads are made.
//  5. `reconnect_steps` is -1 or counts up to kReconnectSteps.
struct ModuleState {
  bool check_invariants() const {
    if (state < 0 || state > kModuleUpdateFailed || file_version > 0xFF || module_version > 0xFF) return false;
    if (downloads < 0 || downloads > kMaxFirmwareDownloads) return false;
    if (reconnect_steps < -1 || reconnect_steps > kReconnectSteps) return false;
    return state < 5 || state > 8 || module_version < file_version;
  }

  std::array<std::uint8_t, kFirmwareImageSize> image{};
  std::uint16_t file_version = 0;
  int state = 0;
  std::uint16_t module_version = 0;
  int downloads = 0;  // made since the image was loaded, completed or failed
  // The download under way.
  int starts = 0;            // "R" sent
  int block_requests = 0;
  int stray_bytes = 0;       // bytes that are no request, in the count window
  std::uint32_t window = 0;  // start of the count window
  // The last download that failed, and whether the module was lost after it.
  DownloadFault fault = DownloadFault::kNone;
  int reconnect_steps = -1;  // steps since that failure until the version is read
  bool lost = false;
};

ModuleState g_mod;

bool module_present() { return hardware_settings().vascular_module_present != 0; }

void start_timeout(std::uint32_t ms) { start_tick_timer(kTimerSlot, ms, kTickOneShot); }
bool timed_out() { return tick_timer_expired(kTimerSlot) != 0; }

// The next module byte within the running time-out, sleeping between looks
// rather than spinning a core; kNoByte once the time-out ended.
std::uint16_t wait_module_byte() {
  for (;;) {
    const std::uint16_t b = receive_module_byte();
    if (b != kNoByte || timed_out()) return b;
    platform::sleep_ms(1);
  }
}

int drop_module_input() {
  int dropped = 0;
  while (receive_module_byte() != kNoByte) ++dropped;
  return dropped;
}

// The module answers a block only once it has all of it, so whatever it sent
// before is dropped ahead of the block; dropping input after the block could
// throw its answer away on a workstation held up for a moment.  The bytes
// dropped.
int drain_and_send_block(int block) {
  const int dropped = drop_module_input();
  send_firmware_block(block);
  return dropped;
}

// A module that fell out of its download (restarted, streaming, or on a line
// that picks up noise) would otherwise be sent blocks for ever.  The failed
// download counts as one; the connection starts again as after loading,
// with 0x00 to stop whatever the module is sending.
void fail_download(DownloadFault fault) {
  ++g_mod.downloads;
  g_mod.fault = fault;
  g_mod.reconnect_steps = 0;
  send_module_byte(0);
  g_mod.state = 0;
}

void start_blocks() {
  g_mod.block_requests = 0;
  g_mod.stray_bytes = drain_and_send_block(0);
  g_mod.window = platform::tick_ms();
  start_timeout(kAnswerWaitMs);
  g_mod.state = 7;
}

// State 7: one byte, a request for a block, the end, or other data.
void step_download() {
  const std::uint32_t now = platform::tick_ms();
  if (platform::ticks_since(g_mod.window, now) >= kCountWindowMs) {
    g_mod.window = now;
    g_mod.stray_bytes = 0;
  }
  const std::uint16_t b = receive_module_byte();
  if (b == kNoByte) {
    if (timed_out()) fail_download(DownloadFault::kStopped);
    return;
  }
  if (b == kAllReceived) {
    g_mod.state = 8;
    return;
  }
  if (b < kFirmwareBlocks) {
    if (++g_mod.block_requests > kMaxBlockRequests) {
      fail_download(DownloadFault::kDisorder);
      return;
    }
    g_mod.stray_bytes += drain_and_send_block(b);
    start_timeout(kAnswerWaitMs);
  } else {
    ++g_mod.stray_bytes;  // ignored, as long as it stays a stray byte
  }
  if (g_mod.stray_bytes >= kStreamingBytes) fail_download(DownloadFault::kStreaming);
}

// State 3: only the file's version or the one stored before ends the wait.
void confirm_version() {
  send_module_byte(kVersionQuery);
  start_timeout(200);
  for (;;) {
    const std::uint16_t b = wait_module_byte();
    if (b == kNoByte) {
      g_mod.state = 1;
      return;
    }
    if (b == g_mod.file_version) {
      g_mod.module_version = b;
      break;
    }
    if (b == g_mod.module_version) break;
  }
  g_mod.state = 4;
}

}  // namespace

void send_module_byte(int value) {
  const auto byte = static_cast<std::uint8_t>(value);
  switch (link_kind(SerialDevice::kModule)) {
    case LinkKind::kNone: return;
    case LinkKind::kComPort: com_send_byte(SerialDevice::kModule, byte); return;
    case LinkKind::kSerialCard: {
      const int h = serial_card_handle(SerialDevice::kModule);
      if (h < 0) return;
      const int r = serial_card_put_byte(h, byte);
      if (r != 1) show_link_error("Error", "module port send got %d from %x, 1, %x", r, unsigned(h), unsigned{byte});
      return;
    }
  }
}

std::uint16_t receive_module_byte() {
  switch (link_kind(SerialDevice::kModule)) {
    case LinkKind::kNone: return kNoByte;
    case LinkKind::kComPort: return com_receive_byte(SerialDevice::kModule);
    case LinkKind::kSerialCard: {
      const int h = serial_card_handle(SerialDevice::kModule);
      if (h < 0) return kNoByte;
      std::uint8_t b = 0;
      const int r = serial_card_get_byte(h, &b);
      if (r == 1) return b;
      if (r < 0) show_link_error("Error", "module port rec got %d from %x, 1, char", r, unsigned(h));
      return kNoByte;
    }
  }
  return kNoByte;
}

namespace {
bool g_other_source = false;
int g_other_descriptor = -1;
}  // namespace

int module_wait_descriptor() {
  return g_other_source ? g_other_descriptor : link_wait_descriptor(SerialDevice::kModule);
}

void set_module_source_descriptor(bool other_source, int descriptor) {
  g_other_source = other_source;
  g_other_descriptor = descriptor;
}

void drain_module_input() { drop_module_input(); }

void close_module_link() {
  switch (link_kind(SerialDevice::kModule)) {
    case LinkKind::kNone: return;
    case LinkKind::kComPort: close_com_port(SerialDevice::kModule); return;
    case LinkKind::kSerialCard: {
      const int h = serial_card_handle(SerialDevice::kModule);
      if (h < 0) return;
      const int r = serial_card_cleanup(h);
      if (r != 0) show_link_error("Error", "MODULE port close got %d from %x", r, unsigned(h));
      set_serial_card_handle(SerialDevice::kModule, -1);
      return;
    }
  }
}

int load_firmware_image() {
  assert(g_mod.check_invariants());
  const auto bytes = platform::read_file(platform::map_path(kFirmwareFile), kFirmwareFileSize + 1);
  if (!bytes || bytes->size() != kFirmwareFileSize) return 0;
  g_mod.file_version = (*bytes)[0];
  std::copy(bytes->begin() + 1, bytes->end(), g_mod.image.begin());
  send_module_byte(0);
  g_mod.state = 0;
  g_mod.downloads = 0;
  g_mod.fault = DownloadFault::kNone;
  g_mod.reconnect_steps = -1;
  g_mod.lost = false;
  return 1;
}

std::string firmware_image_fault() {
  const auto size = platform::file_size(platform::map_path(kFirmwareFile));
  std::string text = std::string("The module firmware image\r") + kFirmwareFile;
  if (!size) return text + "\ris missing or cannot be read.";
  return text + "\rholds " + std::to_string(*size) + " bytes instead of " + std::to_string(kFirmwareFileSize) + ".";
}

std::uint16_t firmware_file_version() { return g_mod.file_version; }

std::string firmware_update_fault() {
  std::string text;
  switch (g_mod.fault) {
    case DownloadFault::kNone: text = "The measuring module did not take its new firmware."; break;
    case DownloadFault::kNotStarted: text = "The measuring module did not start\rits firmware download."; break;
    case DownloadFault::kStopped: text = "The measuring module stopped asking\rfor firmware blocks."; break;
    case DownloadFault::kStreaming: text = "The measuring module sent measuring\rdata during its firmware download."; break;
    case DownloadFault::kDisorder: text = "The measuring module asked for\rfirmware blocks out of all order."; break;
  }
  if (g_mod.lost) text += "\rIt did not answer after that.";
  return text + "\rFirmware update failed.";
}

std::uint16_t firmware_block_crc(const std::uint8_t* data, std::size_t count, int block) {
  std::uint16_t crc = 0;
  auto add = [&crc](std::uint8_t b) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0x8408) : crc >> 1;
  };
  add(static_cast<std::uint8_t>(block));
  for (std::size_t i = 0; i < count; ++i) add(data[i]);
  return crc;
}

void send_firmware_block(int block) {
  assert(g_mod.check_invariants());
  if (block < 0 || block >= kFirmwareBlocks) return;
  const std::uint8_t* data = g_mod.image.data() + static_cast<std::size_t>(block) * kFirmwareBlockSize;
  const std::uint16_t crc = firmware_block_crc(data, kFirmwareBlockSize, block);
  send_module_byte(block);
  for (std::size_t i = 0; i < kFirmwareBlockSize; ++i) send_module_byte(data[i]);
  send_module_byte(crc >> 8);
  send_module_byte(crc & 0xFF);
  // The block number at the top right, so the operator sees the update run.
  draw_text_cells(std::to_string(block).c_str(), 0, 78, g_draw.fill_color, g_draw.text_color);
}

int module_connection_state() { return g_mod.state; }
void set_module_connection_state(int state) {
  g_mod.state = state;
  assert(g_mod.check_invariants());
}
std::uint16_t module_firmware_version() { return g_mod.module_version; }

void step_module_connection() {
  assert(g_mod.check_invariants());
  if (!module_present()) {
    tell_menu_connected(true);
    g_mod.state = kModuleReady;
    return;
  }
  if (g_mod.reconnect_steps >= 0 && g_mod.state < 4 && ++g_mod.reconnect_steps > kReconnectSteps) {
    g_mod.reconnect_steps = -1;
    g_mod.lost = true;
    g_mod.state = kModuleUpdateFailed;
    return;
  }
  switch (g_mod.state) {
    case 0:
      // Whatever the module still sends from before is dropped, up to the
      // first gap.
      g_mod.state = 1;
      start_timeout(1000);
      while (receive_module_byte() != kNoByte && !timed_out()) {
      }
      return;
    case 1: {
      drain_module_input();
      send_module_byte(kVersionQuery);
      start_timeout(200);
      const std::uint16_t b = wait_module_byte();
      if (b == kNoByte) return;
      g_mod.module_version = b;
      g_mod.state = b == g_mod.file_version ? 4 : 2;
      return;
    }
    case 2: {
      // The answer may have been a byte of a frame stream: count what comes.
      start_timeout(200);
      int count = 0;
      while (wait_module_byte() != kNoByte) ++count;
      if (count < kStreamingBytes) g_mod.state = 3;
      return;
    }
    case 3: confirm_version(); return;
    case 4:
      g_mod.reconnect_steps = -1;
      if (g_mod.module_version == g_mod.file_version) {
        tell_menu_connected(true);
        g_mod.state = kModuleReady;
      } else if (g_mod.module_version > g_mod.file_version) {
        g_mod.state = 0;
      } else {
        // A module that keeps its old firmware after every download would
        // otherwise be sent the image for ever.
        g_mod.starts = 0;
        g_mod.state = g_mod.downloads < kMaxFirmwareDownloads ? 5 : kModuleUpdateFailed;
      }
      return;
    case 5:
      // As for a block: the answer follows "R", so the input is dropped before.
      drain_module_input();
      send_module_byte(kDownloadStart);
      ++g_mod.starts;
      start_timeout(kAnswerWaitMs);
      g_mod.state = 6;
      return;
    case 6: {
      if (timed_out()) {
        if (g_mod.starts < kDownloadStarts)
          g_mod.state = 5;
        else
          fail_download(DownloadFault::kNotStarted);
        return;
      }
      if (receive_module_byte() == 0x00) start_blocks();
      return;
    }
    case 7: step_download(); return;
    case 8:
      ++g_mod.downloads;
      g_mod.fault = DownloadFault::kNone;  // the box speaks of the last download
      send_module_byte(kAllReceived);
      start_timeout(10);
      wait_module_byte();
      g_mod.state = 1;
      return;
    case kModuleUpdateFailed: return;  // until the image is loaded again
    default: g_mod.state = 0; return;
  }
}

int connect_module() {
  assert(g_mod.check_invariants());
  tell_menu_connected(false);
  g_mod.state = 1;
  for (int i = 0; i < 10; ++i) {
    step_module_connection();
    if (g_mod.state == kModuleReady) return 0;
    if (g_mod.state == 4) break;
  }
  if (g_mod.state != 4) return 1;
  step_module_connection();
  return g_mod.state == kModuleReady ? 0 : 1;
}

void reset_module_link() { g_mod = ModuleState{}; }

}  // namespace vaslab

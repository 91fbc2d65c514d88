#include "vaslab/core/input/digital_io.h"

#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>

#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/library.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/links/module_link.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/message_box.h"

namespace vaslab {
namespace {

constexpr int kNoKeyCode = 15;
constexpr int kRowBits = 0x03;
constexpr int kVolumeUp = 0x04;    // bit 2
constexpr int kVolumeDown = 0x08;  // bit 3
constexpr int kInitialOutput = 0x0C;
constexpr int kRow2Offset = 16;
constexpr int kConfirmBit = 0x100;
constexpr int kKeyTimer = 2;
constexpr std::uint32_t kReleaseWaitMs = 15;
constexpr std::uint32_t kConfirmMs = 60;

constexpr int kDioPorts = 0;
constexpr int kDioPrinterPort = 1;
constexpr int kDioSusi = 2;

constexpr char kSusiLibrary[] = "c:\\programs\\Susi";
constexpr char kSusiTitle[] = "SUSI Error";

// Index: row offset + input code.  Low byte the key, bit 8 "confirm".
constexpr std::array<std::int16_t, 32> kKeyTable = [] {
  std::array<std::int16_t, 32> t{};
  t.fill(-1);
  t[3] = 6;
  t[7] = 2 | kConfirmBit;
  t[11] = 5 | kConfirmBit;
  t[12] = 4;
  t[13] = 3 | kConfirmBit;
  t[14] = 1 | kConfirmBit;
  t[kRow2Offset + 3] = 7;
  t[kRow2Offset + 7] = 8 | kConfirmBit;
  t[kRow2Offset + 9] = 10;
  t[kRow2Offset + 10] = 12;
  t[kRow2Offset + 11] = 9 | kConfirmBit;
  t[kRow2Offset + 12] = 11;
  t[kRow2Offset + 13] = 14 | kConfirmBit;
  t[kRow2Offset + 14] = 13 | kConfirmBit;
  return t;
}();

// I/O ports through /dev/port: the file offset is the port number.
class DevPortSpace : public PortSpace {
 public:
  explicit DevPortSpace(int fd) : fd_(fd) {}
  ~DevPortSpace() override { ::close(fd_); }
  int read_port(int port) override {
    unsigned char b = 0;
    return ::pread(fd_, &b, 1, port) == 1 ? b : -1;
  }
  bool write_port(int port, int value) override {
    const unsigned char b = static_cast<unsigned char>(value);
    return ::pwrite(fd_, &b, 1, port) == 1;
  }

 private:
  int fd_;
};

// A printer port through the parallel-port device: reading gives the status
// register, writing sets the data lines, whatever port number is named.
class ParallelPortSpace : public PortSpace {
 public:
  explicit ParallelPortSpace(int fd) : fd_(fd) {}
  ~ParallelPortSpace() override {
    ::ioctl(fd_, PPRELEASE);
    ::close(fd_);
  }
  int read_port(int) override {
    unsigned char b = 0;
    return ::ioctl(fd_, PPRSTATUS, &b) == 0 ? b : -1;
  }
  bool write_port(int, int value) override {
    unsigned char b = static_cast<unsigned char>(value);
    return ::ioctl(fd_, PPWDATA, &b) == 0;
  }

 private:
  int fd_;
};

struct DioState {
  PortSpace* ports = nullptr;
  std::unique_ptr<PortSpace> own_ports;
  int output = kInitialOutput;
  int current_key = 0;
  int awaited_code = 0;  // input code of a key awaiting confirmation
  int awaited_offset = 0;
  bool release_wait = false;
  int cuffs = 0;
  // The embedded-board library.
  int susi = -1;  // -1 not tried, 0 failed, 1 ready
  void* susi_library = nullptr;
  int susi_last_written = -1;
  std::set<std::string> susi_reported;
};

DioState g_dio;

const HardwareSettings& hw() { return hardware_settings(); }

void* susi_entry(const char* name) {
  void* fn = platform::library_symbol(g_dio.susi_library, name);
  if (!fn && g_dio.susi_reported.insert(name).second) {
    // Once per entry: the scan runs on every pass of the event wait.
    const std::string text = std::string(name) + " not found";
    show_message_box(nullptr, text.c_str(), kSusiTitle, 0);
  }
  return fn;
}

int susi_call(const char* name) {
  auto fn = reinterpret_cast<int (*)()>(susi_entry(name));
  return fn ? fn() : 0;
}

void write_output(int value) { write_dio_output_byte(value); }

int lookup(int offset, int code) {
  const int index = offset + code;
  if (index < 0 || index >= static_cast<int>(kKeyTable.size())) return -1;
  return kKeyTable[static_cast<std::size_t>(index)];
}

// Step 6 of the scan: the key of a code in a row.
int take_key(int offset, int code) {
  const int entry = lookup(offset, code);
  if (entry == -1) return -1;
  g_dio.current_key = entry & 0xFF;
  if ((entry & kConfirmBit) == 0) return g_dio.current_key;
  start_tick_timer(kKeyTimer, kConfirmMs, kTickOneShot);
  g_dio.awaited_code = code;
  g_dio.awaited_offset = offset;
  return -1;
}

void clear_row() {
  g_dio.output &= ~kRowBits;
  write_output(g_dio.output);
}

}  // namespace

void set_port_space(PortSpace* space) {
  g_dio.own_ports.reset();
  g_dio.ports = space;
}

namespace {

// The board library's input and output lines, whatever port is named.
class BoardPortSpace : public PortSpace {
 public:
  int read_port(int) override { return read_dio_inputs() & 0xFF; }
  bool write_port(int, int value) override {
    write_dio_output(value);
    return true;
  }
};

}  // namespace

std::unique_ptr<PortSpace> open_port_space(int* interrupt_fd) {
  if (interrupt_fd) *interrupt_fd = -1;
  if (hw().dio_type == kDioSusi) return std::make_unique<BoardPortSpace>();
  if (hw().dio_type == kDioPrinterPort) {
    const char* dev = std::getenv("VASLAB_PARPORT");
    const int fd = ::open(dev && *dev ? dev : "/dev/parport0", O_RDWR | O_CLOEXEC);
    if (fd < 0) return nullptr;
    if (::ioctl(fd, PPCLAIM) != 0) {
      ::close(fd);
      return nullptr;
    }
    if (interrupt_fd) *interrupt_fd = fd;
    return std::make_unique<ParallelPortSpace>(fd);
  }
  const int fd = ::open("/dev/port", O_RDWR | O_CLOEXEC);
  if (fd < 0) return nullptr;
  return std::make_unique<DevPortSpace>(fd);
}

long parport_interrupt_count(int fd) {
  int count = 0;
  return ::ioctl(fd, PPCLRIRQ, &count) == 0 ? count : -1;
}

int open_port_driver() {
  if (hw().dio_type == kDioSusi) return 1;
  if (g_dio.ports) return 1;
  g_dio.own_ports = open_port_space(nullptr);
  if (!g_dio.own_ports) {
    show_message_box(nullptr,
                     "DIO: Couldn't access DIO Driver, Please ensure driver is loaded, or set all 3 DIO parameters to 0.",
                     nullptr, 0);
    return 0;
  }
  g_dio.ports = g_dio.own_ports.get();
  return 1;
}

int read_port_byte(int port) {
  if (port <= 0 || !g_dio.ports) return 255;
  const int b = g_dio.ports->read_port(port);
  if (b < 0) {
    platform::debug_output("Error occured during inportb while talking to DIO driver.\n");
    return 255;
  }
  return b & 0xFF;
}

void write_port_byte(int port, int value) {
  if (port <= 0 || !g_dio.ports) return;
  if (!g_dio.ports->write_port(port, value & 0xFF))
    platform::debug_output("Error occured during outportb while talking to DIO driver\n");
}

bool front_panel_present() {
  return !hw().auto_cuff_select && (hw().dio_type == kDioSusi || hw().dio_in_port != 0);
}

int read_dio_input_code() {
  if (hw().dio_type == kDioSusi) return read_dio_inputs();
  const int b = read_port_byte(hw().dio_in_port);
  if (hw().dio_type == kDioPrinterPort) return ((b >> 4) & 0x0F) ^ 0x08;
  return b & 0x0F;
}

void write_dio_output_byte(int value) {
  if (hw().dio_type == kDioSusi)
    write_dio_output(value);
  else
    write_port_byte(hw().dio_out_port, value);
}

void init_susi() {
  if (g_dio.susi != -1) return;
  g_dio.susi = 0;
  g_dio.susi_library = platform::load_library(kSusiLibrary);
  if (!g_dio.susi_library) {
    show_message_box(nullptr, "No SUSI.DLL found", kSusiTitle, 0);
    return;
  }
  if (susi_call("SusiInit") == 0) return;
  const int available = susi_call("SusiIOAvailable");
  auto initial = reinterpret_cast<int (*)(std::uint32_t)>(susi_entry("SusiIOInitial"));
  const int initialised = initial ? initial(0) : 0;
  if (available != 0 && initialised != 0) g_dio.susi = 1;
}

int read_dio_inputs() {
  init_susi();
  if (g_dio.susi != 1) return kNoKeyCode;
  auto fn = reinterpret_cast<int (*)(std::uint32_t, std::uint32_t*)>(susi_entry("SusiIOReadMulti"));
  if (!fn) return 0;
  std::uint32_t value = 0;
  fn(0x0F, &value);
  return static_cast<int>(value & 0x0F);
}

void write_dio_output(int value) {
  init_susi();
  if (g_dio.susi != 1 || value == g_dio.susi_last_written) return;
  auto fn = reinterpret_cast<int (*)(std::uint32_t, std::uint32_t)>(susi_entry("SusiIOWriteMulti"));
  if (!fn) return;
  g_dio.susi_last_written = value;
  fn(0x0F, static_cast<std::uint32_t>(value & 0x0F));
}

void unload_susi() {
  if (g_dio.susi == 1) susi_call("SusiUnInit");
  platform::free_library(g_dio.susi_library);
  g_dio.susi_library = nullptr;
  g_dio.susi = -1;
  g_dio.susi_last_written = -1;
}

int read_front_panel_key() {
  if (hw().auto_cuff_select) return -1;
  int a = read_dio_input_code();

  if (g_dio.release_wait) {
    if (!tick_timer_expired(kKeyTimer)) {
      if (a != kNoKeyCode) start_tick_timer(kKeyTimer, kReleaseWaitMs, kTickOneShot);
    } else {
      g_dio.release_wait = false;
    }
    return -1;
  }

  if (g_dio.awaited_code != 0) {
    const int offset = g_dio.awaited_offset;
    if (tick_timer_expired(kKeyTimer)) {
      if (a == kNoKeyCode) {
        g_dio.awaited_code = 0;
        g_dio.current_key = 0;
        clear_row();
        return -1;
      }
      if (a == g_dio.awaited_code) {
        g_dio.awaited_code = 0;
        return g_dio.current_key;
      }
    } else {
      const int entry = lookup(offset, a);
      if (entry == -1 || (entry & kConfirmBit) != 0) return -1;
    }
    g_dio.awaited_code = 0;
    return take_key(offset, a);
  }

  if (a == kNoKeyCode) {
    clear_row();
    if (g_dio.current_key != 0) {
      g_dio.current_key = 0;
      g_dio.release_wait = true;
      start_tick_timer(kKeyTimer, kReleaseWaitMs, kTickOneShot);
    }
    return -1;
  }
  if (g_dio.current_key != 0) return g_dio.current_key;

  g_dio.output = (g_dio.output & ~kRowBits) | 1;
  write_output(g_dio.output);
  a = read_dio_input_code();
  int offset = 0;
  if (a == kNoKeyCode) {
    g_dio.output = (g_dio.output & ~kRowBits) | 2;
    write_output(g_dio.output);
    a = read_dio_input_code();
    offset = kRow2Offset;
    if (a == kNoKeyCode) {
      clear_row();
      return -1;
    }
  }
  return take_key(offset, a);
}

void set_hardware_volume(int volume) {
  const int v = std::clamp(volume, -15, 15);
  int pulses = v >= 0 ? v : v + 64;
  g_dio.output |= kVolumeUp | kVolumeDown;
  write_output(g_dio.output & ~kVolumeDown);
  platform::sleep_ms(1);
  for (;;) {
    write_output(g_dio.output);
    platform::sleep_ms(1);
    if (pulses == 0) break;
    write_output(g_dio.output & ~kVolumeUp);
    platform::sleep_ms(1);
    --pulses;
  }
}

void select_cuffs(int cuffs) {
  g_dio.cuffs = cuffs;
  if (!hw().auto_cuff_select) return;
  const int ch1 = cuffs & 7, ch2 = (cuffs >> 3) & 7;
  if (ch1 == 1) send_module_byte(20);
  if (ch1 == 2) send_module_byte(45);
  if (ch2 == 1) send_module_byte(82);
  if (ch2 == 2) send_module_byte(98);
}

int selected_cuffs() { return g_dio.cuffs; }

void swap_cuff_selection_1() {
  const int ch1 = g_dio.cuffs & 7;
  if (ch1 == 1) send_module_byte(45);
  if (ch1 == 2) send_module_byte(20);
}

void swap_cuff_selection_2() {
  const int ch2 = (g_dio.cuffs >> 3) & 7;
  if (ch2 == 1) send_module_byte(98);
  if (ch2 == 2) send_module_byte(82);
}

int dio_output_byte() { return g_dio.output; }

void reset_digital_io() {
  unload_susi();
  g_dio = DioState{};
}

}  // namespace vaslab

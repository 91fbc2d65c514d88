#include "vaslab/core/links/serial_links.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/library.h"
#include "platform/paths.h"
#include "platform/serial.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/message_box.h"

namespace vaslab {
namespace {

constexpr char kCardLibrary[] = "cdrvxd32";
constexpr char kPciFile[] = "c:\\studies\\pci.hdw";
// What every driver call yields when the library or its entry is missing.
constexpr int kNoDriver = 54;
constexpr int kInitTries = 41;
constexpr std::uint32_t kInitRetryMs = 500;
constexpr int kFirstPciIrq = 15;
constexpr int kComBaud = 9600;
constexpr std::uint32_t kWriteMsPerByte = 500;
constexpr std::uint32_t kWriteMsConstant = 1000;

constexpr int kDevices = 3;

struct LinkState {
  platform::SerialPort com[kDevices];
  int card[kDevices] = {-1, -1, -1};
  void* library = nullptr;
};

LinkState g_links;

int index(SerialDevice d) { return static_cast<int>(d); }

using InitFn = int (*)();
using OpenPortFn = int (*)(std::uint32_t, std::uint16_t, std::uint16_t, std::uint16_t, std::uint16_t, std::uint16_t,
                           std::uint32_t);
using SetCharFn = int (*)(std::uint32_t, std::uint16_t, std::uint16_t, std::uint16_t, std::uint16_t, std::uint16_t);
using PacketFn = int (*)(std::uint32_t, std::uint32_t, std::uint8_t*);
using CleanupFn = int (*)(std::uint32_t);

// Entries are bound at each call, as the driver was.
template <typename Fn>
Fn card_entry(const char* name) {
  return reinterpret_cast<Fn>(platform::library_symbol(g_links.library, name));
}

int card_open_port(std::uint32_t a, std::uint16_t b, std::uint16_t c, std::uint16_t d, std::uint16_t e,
                   std::uint16_t f, std::uint32_t g) {
  auto fn = card_entry<OpenPortFn>("WCSCVxDOpenPort");
  return fn ? fn(a, b, c, d, e, f, g) : kNoDriver;
}

struct PciRecord {
  std::uint16_t field[5];
};

// The value of a counted hex digit, or -1 for a character that is skipped.
// Codes 58..64 (the punctuation between '9' and 'A') count with their low
// four bits, as the card's own tools wrote them.
int pci_digit(std::uint8_t c) {
  if (c < 48 || c > 70) return -1;
  return c <= 64 ? (c & 15) : c - 55;
}

// The record for a PCI port, or nothing when the file ends first.
bool find_pci_record(const std::vector<std::uint8_t>& text, int port, int irq, PciRecord& out) {
  int counter = irq;
  PciRecord rec{};
  int digits = 0;
  for (std::uint8_t c : text) {
    const int v = pci_digit(c);
    if (v < 0) continue;
    std::uint16_t& field = rec.field[digits / 4];
    field = static_cast<std::uint16_t>((field << 4) | v);
    if (++digits < 20) continue;
    digits = 0;
    if (rec.field[0] == static_cast<std::uint16_t>(port) && --counter <= 16) {
      out = rec;
      return true;
    }
    rec = PciRecord{};
  }
  return false;
}

}  // namespace

void show_link_error(const char* title, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  va_list copy;
  va_copy(copy, ap);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::vector<char> text(static_cast<std::size_t>(n > 0 ? n : 0) + 1);
  std::vsnprintf(text.data(), text.size(), format, ap);
  va_end(ap);
  show_message_box(nullptr, text.data(), title, 0);
}

LinkKind link_kind(SerialDevice device) {
  const HardwareSettings& hw = hardware_settings();
  switch (device) {
    case SerialDevice::kModule:
      if (!hw.vascular_module_present) return LinkKind::kNone;
      if (hw.vascular_irq != 0) return LinkKind::kSerialCard;
      return hw.vascular_port >= 1 && hw.vascular_port <= 9 ? LinkKind::kComPort : LinkKind::kNone;
    case SerialDevice::kTouch:
      if ((hw.touch_type & 3) > 1) return LinkKind::kNone;
      return hw.touch_irq != 0 ? LinkKind::kSerialCard : LinkKind::kComPort;
    case SerialDevice::kRemote:
      if (!hw.ir_remote_enabled) return LinkKind::kNone;
      if (hw.ir_remote_irq != 0) return LinkKind::kSerialCard;
      return hw.ir_remote_port >= 1 && hw.ir_remote_port <= 9 ? LinkKind::kComPort : LinkKind::kNone;
  }
  return LinkKind::kNone;
}

int init_serial_card() {
  const HardwareSettings& hw = hardware_settings();
  const int module_irq = hw.vascular_module_present ? hw.vascular_irq : 0;
  const int touch_irq = (hw.touch_type & 2) == 0 ? hw.touch_irq : 0;
  const int remote_irq = hw.ir_remote_enabled ? hw.ir_remote_irq : 0;
  if (module_irq == 0 && touch_irq == 0 && remote_irq == 0) return 1;

  int result = kNoDriver;
  for (int attempt = 0; attempt < kInitTries; ++attempt) {
    if (!g_links.library) {
      g_links.library = platform::load_library(kCardLibrary);
      if (!g_links.library) show_message_box(nullptr, "Failed to load cdrvxd32.dll", "DLL Error", 0);
    }
    auto init = card_entry<InitFn>("WCSCVxDInit");
    result = init ? init() : kNoDriver;
    if (result == kNoDriver || result == 0) break;
    if (attempt + 1 < kInitTries) platform::sleep_ms(kInitRetryMs);
  }
  if (result == 0) return 1;
  if (result != kNoDriver) show_link_error("RS232 Error", "pci serial port initialize got %d\n", result);
  return 0;
}

void unload_serial_card_driver() {
  platform::free_library(g_links.library);
  g_links.library = nullptr;
}

int open_serial_card_port(int port, int irq) {
  const auto p16 = static_cast<std::uint16_t>(port);
  const auto irq16 = static_cast<std::uint16_t>(irq);
  if (irq < kFirstPciIrq) {
    const int h = card_open_port(0, p16, irq16, 0, 0, 0, 0);
    if (h < 0)
      show_link_error("Error", "ISA serial port open got %d from 0, %x, %x, 0,0,0,0\n", h, unsigned{p16},
                      unsigned{irq16});
    return h;
  }
  const auto text = platform::read_file(platform::map_path(kPciFile));
  if (!text) {
    show_message_box(nullptr, "Error opening PCI hardware info file", "Error", 0);
    return -1;
  }
  PciRecord rec{};
  if (!find_pci_record(*text, p16, irq, rec)) {
    show_message_box(nullptr, "Error reading PCI hardware info file", "Error", 0);
    return -1;
  }
  const std::uint16_t* f = rec.field;
  const int h = card_open_port(f[4], f[0], f[1], f[2], f[3], 4096, 0);
  if (h < 0)
    show_link_error("Error", "PCI serial port open got %d from %x, %x, %x, %x, %x\n", h, unsigned{f[0]},
                    unsigned{f[1]}, unsigned{f[2]}, unsigned{f[3]}, unsigned{f[4]});
  return h;
}

int serial_card_handle(SerialDevice device) { return g_links.card[index(device)]; }
void set_serial_card_handle(SerialDevice device, int handle) { g_links.card[index(device)] = handle; }

int serial_card_set_characteristics(int handle) {
  auto fn = card_entry<SetCharFn>("WCSCVxDSetPortCharacteristics");
  return fn ? fn(static_cast<std::uint32_t>(handle), 5, 0, 3, 0, 4) : kNoDriver;
}

int serial_card_put_byte(int handle, std::uint8_t byte) {
  auto fn = card_entry<PacketFn>("WCSCVxDPutPacket");
  return fn ? fn(static_cast<std::uint32_t>(handle), 1, &byte) : kNoDriver;
}

int serial_card_get_byte(int handle, std::uint8_t* byte) {
  auto fn = card_entry<PacketFn>("WCSCVxDGetPacket");
  return fn ? fn(static_cast<std::uint32_t>(handle), 1, byte) : kNoDriver;
}

int serial_card_cleanup(int handle) {
  auto fn = card_entry<CleanupFn>("WCSCVxDCleanup");
  return fn ? fn(static_cast<std::uint32_t>(handle)) : kNoDriver;
}

int open_com_port(SerialDevice device, int com_number) {
  platform::SerialPort& port = g_links.com[index(device)];
  const std::string name = "com" + std::to_string(com_number) + ":";
  platform::serial_close(port);
  if (!platform::serial_open(port, name)) {
    show_link_error("Error", "Error opening COM port: %s", name.c_str());
    return 1;
  }
  if (!platform::serial_set_timeouts(port, kWriteMsPerByte, kWriteMsConstant))
    show_link_error("Error", "Error configuring COM port: %s", name.c_str());
  if (!platform::serial_set_line(port, kComBaud)) show_link_error("Error", "Error setting COM port: %s", name.c_str());
  return 0;
}

void close_com_port(SerialDevice device) { platform::serial_close(g_links.com[index(device)]); }

bool com_port_open(SerialDevice device) { return platform::serial_is_open(g_links.com[index(device)]); }

void com_send_byte(SerialDevice device, std::uint8_t byte) {
  // A byte that does not leave shows as the peer's missing answer, which
  // every exchange over these links waits for with a time-out.
  (void)platform::serial_write(g_links.com[index(device)], &byte, 1);
}

std::uint16_t com_receive_byte(SerialDevice device) {
  const int b = platform::serial_read_byte(g_links.com[index(device)]);
  return b < 0 ? 0xFFFF : static_cast<std::uint16_t>(b);
}

int link_wait_descriptor(SerialDevice device) {
  switch (link_kind(device)) {
    case LinkKind::kNone: return kNothingToWatch;
    case LinkKind::kComPort: {
      const int fd = g_links.com[index(device)].fd;
      return fd >= 0 ? fd : kNothingToWatch;
    }
    case LinkKind::kSerialCard: return serial_card_handle(device) >= 0 ? kCannotWatch : kNothingToWatch;
  }
  return kNothingToWatch;
}

bool com_set_speed(SerialDevice device, int baud) {
  return platform::serial_set_speed(g_links.com[index(device)], baud);
}

int open_module_link() {
  const HardwareSettings& hw = hardware_settings();
  switch (link_kind(SerialDevice::kModule)) {
    case LinkKind::kNone: return 0;
    case LinkKind::kSerialCard: {
      const int h = open_serial_card_port(hw.vascular_port, hw.vascular_irq);
      set_serial_card_handle(SerialDevice::kModule, h);
      return h < 0 ? 1 : 0;
    }
    case LinkKind::kComPort:
      if (open_com_port(SerialDevice::kModule, hw.vascular_port) == 0) return 0;
      show_message_box(nullptr, "Failed to Open Vascular COM port, exiting.", "Error", 0);
      return 1;
  }
  return 0;
}

void reset_serial_links() {
  for (auto& p : g_links.com) platform::serial_close(p);
  for (int& h : g_links.card) h = -1;
  unload_serial_card_driver();
}

}  // namespace vaslab

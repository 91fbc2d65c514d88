#include "ovisp/links/ovrs232.h"

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>

#include "ovisp/link_library.h"
#include "platform/clock.h"
#include "platform/serial.h"

#define LINK_API extern "C" __attribute__((visibility("default")))

namespace {

std::mutex g_mutex;
platform::SerialPort g_port;

// "COMn", "comn:" or a device path.
std::string deviceOf(const char* port) {
  if (port == nullptr || *port == '\0') return {};
  std::string name = port;
  if (name[0] == '/') return name;
  if (name.back() != ':') name += ':';
  return platform::serial_device_for_name(name);
}

bool open(const char* port, int baud, int parity, int dataBits, int stopCode) {
  platform::serial_close(g_port);
  const std::string device = deviceOf(port);
  if (parity < 0 || parity > 2 || (stopCode != 0 && stopCode != 2) || device.empty()) return false;
  const platform::SerialParity parities[] = {platform::SerialParity::kNone, platform::SerialParity::kOdd,
                                             platform::SerialParity::kEven};
  // A character takes about ten bit times; a second on top for a busy line.
  const std::uint32_t perByte = baud > 0 ? static_cast<std::uint32_t>(11000 / baud + 1) : 1;
  if (!platform::serial_open_device(g_port, device) || !platform::serial_set_line(g_port, baud) ||
      !platform::serial_set_format(g_port, dataBits, parities[parity], stopCode == 2 ? 2 : 1) ||
      !platform::serial_set_timeouts(g_port, perByte, 1000)) {
    platform::serial_close(g_port);
    return false;
  }
  return true;
}

int read(char* buffer, int count, char endChar, int timeoutMs) {
  const std::size_t limit = count > 0 && count < OV_LINK_TEXT_CAPACITY ? static_cast<std::size_t>(count)
                                                                       : OV_LINK_TEXT_CAPACITY - 1;
  const std::uint32_t started = platform::tick_ms();
  const std::uint32_t total = timeoutMs > 0 ? static_cast<std::uint32_t>(timeoutMs) : 0;
  std::size_t n = 0;
  auto fail = [&] {
    std::strcpy(buffer, "error");
    return 1;
  };
  while (n < limit) {
    const std::uint32_t elapsed = platform::ticks_since(started, platform::tick_ms());
    if (elapsed >= total) break;
    std::uint32_t wait = total - elapsed;
    if (count > 0 && n > 0 && wait > OVRS232_QUIET_GAP_MS) wait = OVRS232_QUIET_GAP_MS;
    const int ready = platform::serial_wait_readable(g_port, static_cast<int>(wait));
    if (ready < 0) return fail();
    if (ready == 0) {
      if (count > 0 && n > 0) break;
      continue;
    }
    const int byte = platform::serial_read_byte(g_port);
    if (byte < 0) return fail();
    buffer[n++] = static_cast<char>(byte);
    if (static_cast<char>(byte) == endChar) break;
  }
  buffer[n] = '\0';
  return n > 0 ? 0 : 1;
}

}  // namespace

LINK_API int Open(int mode, ...) {
  if (mode != OV_LINK_MODE_SERIAL) return 1;
  va_list ap;
  va_start(ap, mode);
  const char* port = va_arg(ap, const char*);
  const int baud = va_arg(ap, int);
  const int parity = va_arg(ap, int);
  const int dataBits = va_arg(ap, int);
  const int stopCode = va_arg(ap, int);
  va_end(ap);
  std::lock_guard<std::mutex> lock(g_mutex);
  return open(port, baud, parity, dataBits, stopCode) ? 0 : 1;
}

LINK_API int Write(int mode, ...) {
  va_list ap;
  va_start(ap, mode);
  const char* text = mode == OV_LINK_MODE_SERIAL ? va_arg(ap, const char*) : nullptr;
  va_end(ap);
  std::lock_guard<std::mutex> lock(g_mutex);
  if (text == nullptr || !platform::serial_is_open(g_port)) return 1;
  platform::serial_discard_input(g_port);
  const std::size_t size = std::strlen(text);
  return platform::serial_write(g_port, reinterpret_cast<const std::uint8_t*>(text), size) == size ? 0 : 1;
}

LINK_API int Read(int mode, ...) {
  if (mode != OV_LINK_MODE_SERIAL) return 1;
  va_list ap;
  va_start(ap, mode);
  char* buffer = va_arg(ap, char*);
  const int count = va_arg(ap, int);
  const int endChar = va_arg(ap, int);
  const int timeoutMs = va_arg(ap, int);
  va_end(ap);
  if (buffer == nullptr) return 1;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!platform::serial_is_open(g_port)) {
    std::strcpy(buffer, "error");
    return 1;
  }
  return read(buffer, count, static_cast<char>(endChar), timeoutMs);
}

LINK_API int Close(int, ...) {
  std::lock_guard<std::mutex> lock(g_mutex);
  platform::serial_close(g_port);
  return 0;
}

LINK_API int UpdateRxFilter(int, ...) { return 1; }

namespace {

int line(bool (*set)(platform::SerialPort&, bool), bool on) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return set(g_port, on) ? 0 : 1;
}

}  // namespace

LINK_API int ClearDtr(void) { return line(platform::serial_set_dtr, false); }
LINK_API int SetDtr(void) { return line(platform::serial_set_dtr, true); }
LINK_API int ClearRts(void) { return line(platform::serial_set_rts, false); }
LINK_API int SetRts(void) { return line(platform::serial_set_rts, true); }

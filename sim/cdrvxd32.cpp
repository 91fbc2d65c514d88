// A stand-in for the multi-port serial card's driver library, with the
// driver's six entry points.  Card ports are mapped onto serial devices:
// the port address p (the first 16-bit value of the open call) opens the
// device named by $VASLAB_CARD_<p in upper-case hex>, made raw 9600 8N1.
// Every call is recorded, and tests can choose the results of the calls that
// only report success, through the extra CdrvSim* entries.
#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "platform/serial.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct CardState {
  std::string log;
  std::map<std::string, int> results;  // forced results by entry name
  std::map<int, platform::SerialPort> ports;
  int next_handle = 0;
};

CardState& card() {
  static CardState s;
  return s;
}

void record(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void record(const char* fmt, ...) {
  char line[256];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(line, sizeof line, fmt, ap);
  va_end(ap);
  card().log += line;
  card().log += '\n';
}

bool forced(const char* entry, int& result) {
  auto it = card().results.find(entry);
  if (it == card().results.end()) return false;
  result = it->second;
  return true;
}

platform::SerialPort* port_of(std::uint32_t handle) {
  auto it = card().ports.find(static_cast<int>(handle));
  return it == card().ports.end() ? nullptr : &it->second;
}

}  // namespace

EXPORT int WCSCVxDInit() {
  record("Init");
  int r = 0;
  forced("Init", r);
  return r;
}

EXPORT int WCSCVxDOpenPort(std::uint32_t a, std::uint16_t port, std::uint16_t b, std::uint16_t c, std::uint16_t d,
                           std::uint16_t e, std::uint32_t f) {
  record("OpenPort %u %u %u %u %u %u %u", a, port, b, c, d, e, f);
  int r = 0;
  if (forced("OpenPort", r)) return r;
  char var[32];
  std::snprintf(var, sizeof var, "VASLAB_CARD_%X", port);
  const char* device = std::getenv(var);
  if (!device || !*device) return -2;
  platform::SerialPort p;
  p.fd = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (p.fd < 0) return -3;
  // Any device a test names is taken, terminal or not; a line that cannot be
  // set only matters to a real serial device.
  (void)platform::serial_set_timeouts(p, 500, 1000);
  (void)platform::serial_set_line(p, 9600);
  const int h = card().next_handle++;
  card().ports[h] = p;
  return h;
}

EXPORT int WCSCVxDSetPortCharacteristics(std::uint32_t h, std::uint16_t a, std::uint16_t b, std::uint16_t c,
                                         std::uint16_t d, std::uint16_t e) {
  record("SetPortCharacteristics %u %u %u %u %u %u", h, a, b, c, d, e);
  int r = 0;
  forced("SetPortCharacteristics", r);
  return r;
}

EXPORT int WCSCVxDPutPacket(std::uint32_t h, std::uint32_t count, std::uint8_t* data) {
  platform::SerialPort* p = port_of(h);
  if (!p || !data) return -1;
  int r = 0;
  if (forced("PutPacket", r)) return r;
  return static_cast<int>(platform::serial_write(*p, data, count));
}

EXPORT int WCSCVxDGetPacket(std::uint32_t h, std::uint32_t count, std::uint8_t* data) {
  platform::SerialPort* p = port_of(h);
  if (!p || !data) return -1;
  int r = 0;
  if (forced("GetPacket", r)) return r;
  std::uint32_t got = 0;
  for (; got < count; ++got) {
    const int b = platform::serial_read_byte(*p);
    if (b < 0) break;
    data[got] = static_cast<std::uint8_t>(b);
  }
  return static_cast<int>(got);
}

EXPORT int WCSCVxDCleanup(std::uint32_t h) {
  record("Cleanup %u", h);
  platform::SerialPort* p = port_of(h);
  int r = 0;
  if (forced("Cleanup", r)) return r;
  if (!p) return -1;
  platform::serial_close(*p);
  card().ports.erase(static_cast<int>(h));
  return 0;
}

// --- For tests ---------------------------------------------------------------

// The calls so far, one line each ("OpenPort 0 760 3 0 0 0 0").
EXPORT const char* CdrvSimLog() { return card().log.c_str(); }

// Makes an entry ("Init", "OpenPort", "SetPortCharacteristics", "PutPacket",
// "GetPacket", "Cleanup") return `result` from now on.
EXPORT void CdrvSimSetResult(const char* entry, int result) { card().results[entry] = result; }

// Forgets the log and the forced results and closes every port.
EXPORT void CdrvSimReset() {
  for (auto& [h, p] : card().ports) platform::serial_close(p);
  card() = CardState{};
}

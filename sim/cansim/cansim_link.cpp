// Stand-in for the CAN link libraries (codes 3 to 8): instead of an adapter
// and a bus it holds one simulated bootloader node (sim/can_node.h).  Each
// frame written goes to the node; its answers wait to be read.
//
// Control (tests and demo):
//   OVCANSIM_CONFIG  the node's settings at load (see sim/can_node.h)
//   OVCANSIM_TRACE   file every call and frame is appended to
// and the ovcansim_* entries for a test process that loads this library
// itself.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "ovisp/link_library.h"
#include "ovisp/links/can_frame_text.h"
#include "sim/can_node.h"

#define LINK_API extern "C" __attribute__((visibility("default")))

namespace {

struct Bus {
  explicit Bus(const std::string& settings) : node(settings) {}
  sim::CanNode node;
  std::deque<sim::CanFrame> pending;
  std::string trace;
  std::string traceCopy;
  bool open = false;
};

std::mutex g_mutex;
std::unique_ptr<Bus> g_bus;

const char* env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

Bus& bus() {
  if (!g_bus) {
    const char* config = env("OVCANSIM_CONFIG");
    g_bus = std::make_unique<Bus>(config != nullptr ? config : "");
  }
  return *g_bus;
}

void trace(Bus& b, const std::string& line) {
  b.trace += line + "\n";
  if (const char* path = env("OVCANSIM_TRACE")) {
    if (std::FILE* f = std::fopen(path, "a")) {
      std::fprintf(f, "%s\n", line.c_str());
      std::fclose(f);
    }
  }
}

int lineCall(const char* name) {
  std::lock_guard<std::mutex> lock(g_mutex);
  trace(bus(), std::string(name) + " = 0");
  return 0;
}

}  // namespace

LINK_API int Open(int mode, ...) {
  va_list ap;
  va_start(ap, mode);
  const unsigned a = va_arg(ap, unsigned);
  va_end(ap);
  std::lock_guard<std::mutex> lock(g_mutex);
  Bus& b = bus();
  b.open = true;
  b.pending.clear();
  trace(b, "Open " + std::to_string(mode) + " " + std::to_string(a) + " = 0");
  return 0;
}

LINK_API int Write(int mode, ...) {
  va_list ap;
  va_start(ap, mode);
  const char* text = mode == 0 ? va_arg(ap, const char*) : nullptr;
  va_end(ap);
  std::lock_guard<std::mutex> lock(g_mutex);
  Bus& b = bus();
  std::uint32_t id = 0;
  std::uint8_t length = 0;
  std::uint8_t data[8] = {};
  const bool frame = ov_can_parse_frame_text(text, &id, &length, data) != 0;
  trace(b, std::string("Write ") + (text != nullptr ? text : "(null)") + (frame && b.open ? " = 0" : " = 1"));
  if (!frame || !b.open) return 1;
  // Answers to an earlier frame that were never read are gone.
  b.pending.clear();
  for (sim::CanFrame& f : b.node.receive({id, std::vector<std::uint8_t>(data, data + length)})) {
    b.pending.push_back(std::move(f));
  }
  std::string lines = b.node.take_trace();
  if (!lines.empty()) {
    lines.pop_back();
    trace(b, lines);
  }
  return 0;
}

LINK_API int Read(int mode, ...) {
  va_list ap;
  va_start(ap, mode);
  int result = 1;
  std::lock_guard<std::mutex> lock(g_mutex);
  Bus& b = bus();
  if (mode == OV_LINK_MODE_CAN_READ) {
    auto* message = va_arg(ap, OvLinkCanMessage*);
    if (message != nullptr && b.open && !b.pending.empty()) {
      const sim::CanFrame f = b.pending.front();
      b.pending.pop_front();
      std::memset(message, 0, sizeof *message);
      message->id = f.id;
      message->length = static_cast<std::uint8_t>(f.data.size());
      if (!f.data.empty()) std::memcpy(message->data, f.data.data(), f.data.size());
      result = 0;
    }
  } else if (mode == OV_LINK_MODE_SERIAL) {
    char* buffer = va_arg(ap, char*);
    if (buffer != nullptr) std::strcpy(buffer, "error");
  }
  va_end(ap);
  return result;
}

LINK_API int Close(int mode, ...) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Bus& b = bus();
  b.open = false;
  trace(b, "Close " + std::to_string(mode));
  return 0;
}

LINK_API int UpdateRxFilter(int mode, ...) {
  va_list ap;
  va_start(ap, mode);
  const int cris = va_arg(ap, int);
  va_end(ap);
  std::lock_guard<std::mutex> lock(g_mutex);
  trace(bus(), "UpdateRxFilter " + std::to_string(mode) + " " + std::to_string(cris) + " = 0");
  return 0;
}

LINK_API int ClearDtr(void) { return lineCall("ClearDtr"); }
LINK_API int SetDtr(void) { return lineCall("SetDtr"); }
LINK_API int ClearRts(void) { return lineCall("ClearRts"); }
LINK_API int SetRts(void) { return lineCall("SetRts"); }

// ---- Control of the simulation -------------------------------------------

// A fresh node with these settings.
LINK_API void ovcansim_reset(const char* settings) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_bus = std::make_unique<Bus>(settings != nullptr ? settings : "");
}

// The calls and the node's frames since the last reset; valid until the
// next call.
LINK_API const char* ovcansim_trace(void) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Bus& b = bus();
  b.traceCopy = b.trace;
  return b.traceCopy.c_str();
}

// Copies `count` bytes of a node memory from `address`; the number copied.
LINK_API int ovcansim_memory(int memory, unsigned address, unsigned char* out, int count) {
  std::lock_guard<std::mutex> lock(g_mutex);
  const std::vector<std::uint8_t>& m = bus().node.memory(memory);
  if (out == nullptr || count < 0 || address >= m.size()) return 0;
  const std::size_t n = std::min(static_cast<std::size_t>(count), m.size() - address);
  std::memcpy(out, m.data() + address, n);
  return static_cast<int>(n);
}

// Frames the node has received since the last reset.
LINK_API int ovcansim_frames(void) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return bus().node.frames();
}

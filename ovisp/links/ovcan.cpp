#include "ovisp/links/ovcan.h"

#include <linux/can.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "ovisp/link_library.h"
#include "ovisp/links/can_frame_text.h"

#define LINK_API extern "C" __attribute__((visibility("default")))

namespace {

std::mutex g_mutex;
int g_socket = -1;

std::string interfaceName() {
  const char* name = std::getenv("OVCAN_INTERFACE");
  return name != nullptr && *name != '\0' ? name : "can0";
}

void log(const std::string& line) {
  const char* path = std::getenv("OVCAN_LOG");
  if (path == nullptr || *path == '\0') return;
  if (std::FILE* f = std::fopen(path, "a")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

void closeSocket() {
  if (g_socket >= 0) ::close(g_socket);
  g_socket = -1;
}

bool openSocket() {
  closeSocket();
  const std::string name = interfaceName();
  const int s = ::socket(PF_CAN, SOCK_RAW | SOCK_CLOEXEC, CAN_RAW);
  if (s < 0) {
    log("socket: " + std::string(std::strerror(errno)));
    return false;
  }
  sockaddr_can address{};
  address.can_family = AF_CAN;
  address.can_ifindex = static_cast<int>(::if_nametoindex(name.c_str()));
  if (address.can_ifindex == 0 || ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    log(name + ": " + std::strerror(errno));
    ::close(s);
    return false;
  }
  g_socket = s;
  return true;
}

int readMessage(OvLinkCanMessage* message, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left < 0) return 1;
    pollfd p{g_socket, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || (p.revents & POLLIN) == 0) return 1;
    can_frame frame{};
    if (::read(g_socket, &frame, sizeof frame) != static_cast<ssize_t>(sizeof frame)) return 1;
    // Remote requests and error reports carry no bootloader answer.
    if ((frame.can_id & (CAN_RTR_FLAG | CAN_ERR_FLAG)) != 0 || frame.can_dlc > 8) continue;
    std::memset(message, 0, sizeof *message);
    message->id = frame.can_id & ((frame.can_id & CAN_EFF_FLAG) != 0 ? CAN_EFF_MASK : CAN_SFF_MASK);
    message->length = frame.can_dlc;
    std::memcpy(message->data, frame.data, frame.can_dlc);
    return 0;
  }
}

}  // namespace

LINK_API int Open(int mode, ...) {
  va_list ap;
  va_start(ap, mode);
  const unsigned a = va_arg(ap, unsigned);
  const int b = va_arg(ap, int);
  const int c = va_arg(ap, int);
  const int d = va_arg(ap, int);
  const int e = va_arg(ap, int);
  const unsigned f = va_arg(ap, unsigned);
  va_end(ap);
  std::lock_guard<std::mutex> lock(g_mutex);
  char line[160];
  std::snprintf(line, sizeof line, "Open mode %d on %s: %u %d %d %d %d %u (the bit rate is set with ip link)", mode,
                interfaceName().c_str(), a, b, c, d, e, f);
  log(line);
  return openSocket() ? 0 : 1;
}

LINK_API int Write(int mode, ...) {
  va_list ap;
  va_start(ap, mode);
  const char* text = mode == 0 ? va_arg(ap, const char*) : nullptr;
  va_end(ap);
  can_frame frame{};
  std::uint32_t id = 0;
  std::uint8_t length = 0;
  if (!ov_can_parse_frame_text(text, &id, &length, frame.data)) return 1;
  frame.can_id = id;
  frame.can_dlc = length;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_socket < 0) return 1;
  return ::write(g_socket, &frame, sizeof frame) == static_cast<ssize_t>(sizeof frame) ? 0 : 1;
}

LINK_API int Read(int mode, ...) {
  va_list ap;
  va_start(ap, mode);
  int result = 1;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (mode == OV_LINK_MODE_CAN_READ) {
    auto* message = va_arg(ap, OvLinkCanMessage*);
    const int timeoutMs = va_arg(ap, int);
    if (message != nullptr && g_socket >= 0) result = readMessage(message, timeoutMs);
  } else if (mode == OV_LINK_MODE_SERIAL) {
    char* buffer = va_arg(ap, char*);
    if (buffer != nullptr) std::strcpy(buffer, "error");
  }
  va_end(ap);
  return result;
}

LINK_API int Close(int, ...) {
  std::lock_guard<std::mutex> lock(g_mutex);
  closeSocket();
  return 0;
}

LINK_API int UpdateRxFilter(int mode, ...) {
  va_list ap;
  va_start(ap, mode);
  const int cris = va_arg(ap, int);
  va_end(ap);
  if (cris < 0 || cris > 0x7F) return 1;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_socket < 0) return 1;
  // The node's seven identifiers, nothing else.
  can_filter filters[7];
  for (int k = 0; k < 7; ++k) {
    filters[k].can_id = static_cast<canid_t>(cris * 16 + k);
    filters[k].can_mask = CAN_SFF_MASK | CAN_EFF_FLAG | CAN_RTR_FLAG;
  }
  return ::setsockopt(g_socket, SOL_CAN_RAW, CAN_RAW_FILTER, filters, sizeof filters) == 0 ? 0 : 1;
}

// A CAN adapter has no modem lines.
LINK_API int ClearDtr(void) { return 1; }
LINK_API int SetDtr(void) { return 1; }
LINK_API int ClearRts(void) { return 1; }
LINK_API int SetRts(void) { return 1; }

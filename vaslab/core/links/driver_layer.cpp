#include "vaslab/core/links/driver_layer.h"

#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "platform/debug.h"
#include "platform/event.h"
#include "platform/le_bytes.h"
#include "vaslab/core/input/digital_io.h"

namespace vaslab::driver {
namespace {

struct StatusRow {
  Status code;
  const char* text;
};

// Searched from the top: the first matching row wins.
constexpr StatusRow kStatusRows[] = {
    {0, "Success"},
    {0xFFFFFFFF, "Invalid WinDriver handle"},
    {0x20000000, "Error"},
    {0x20000001, "Invalid handle"},
    {0x20000002, "Invalid pipe number"},
    {0x20000003, "Conflict between read and write operations"},
    {0x20000004, "Packet size is zero"},
    {0x20000005, "Insufficient resources"},
    {0x20000006, "Unknown pipe type"},
    {0x20000007, "Internal system error"},
    {0x20000008, "Data mismatch"},
    {0x2000000A, "Function not implemented"},
    {0x2000000B, "Kernel PlugIn failure"},
    {0x2000000C, "Failed enabling interrupt"},
    {0x2000000D, "Interrupt not enabled"},
    {0x2000000E, "Resource overlap"},
    {0x2000000F, "Device not found"},
    {0x20000010, "Wrong unique ID"},
    {0x20000011, "Operation already done"},
    {0x20000012, "Usb descriptor error"},
    {0x20000013, "Set configuration operation failed"},
    {0x20000014, "Cannot obtain PDO"},
    {0x20000015, "Timeout expired"},
    {0x20000016, "IRP operation cancelled"},
    {0x20000017, "Failed to map in user space"},
    {0x20000018, "Failed to map in kernel space"},
    {0x20000019, "No resources on the device"},
    {0x2000001A, "No events"},
    {0x2000001B, "Invalid parameter"},
    {0x2000001C, "Incorrect WinDriver version installed"},
    {0x2000001D, "Try again"},
    {0x2000001E, "Failed open WinDriver"},
    {0x2000001F, "Received an invalid IOCTL"},
    {0x20000020, "Operation failed"},
    {0, "USBD: Success"},
    {0x40000000, "USBD: Operation pending"},
    {0x80000000, "USBD: Error"},
    {0xC0000000, "USBD: Halted"},
    {0xC0000001, "HC status: CRC"},
    {0xC0000002, "HC status: Bit stuffing "},
    {0xC0000003, "HC status: Data toggle mismatch"},
    {0xC0000004, "HC status: PID stall"},
    {0xC0000005, "HC status: Device not responding"},
    {0xC0000006, "HC status: PID check failed"},
    {0xC0000007, "HC status: Unexpected PID"},
    {0xC0000008, "HC status: Data overrun"},
    {0xC0000009, "HC status: Data underrun"},
    {0xC000000A, "HC status: Reserved1"},
    {0xC000000B, "HC status: Reserved2"},
    {0xC000000C, "HC status: Buffer overrun"},
    {0xC000000D, "HC status: Buffer Underrun"},
    {0xC000000F, "HC status: Not accessed"},
    {0xC0000010, "HC status: Fifo"},
    {0xC0010000, "USBD: Transfer canceled"},
    {0xC0000030, "HCD: Trasnfer submitted to stalled endpoint"},
    {0x80000100, "USBD: Out of memory"},
    {0x80000200, "USBD: Invalid URB function"},
    {0x80000300, "USBD: Invalid parameter"},
    {0x80000400, "USBD: Attempted to close enpoint/interface/configuration with outstanding transfer"},
    {0x80000500, "USBD: URB request failed"},
    {0x80000600, "USBD: Invalid pipe handle"},
    {0x80000700, "USBD: Not enough bandwidth for endpoint"},
    {0x80000800, "USBD: Host controller error"},
    {0x80000900, "USBD: Trasnfer terminated with short packet"},
    {0xC0000A00, "USBD: Start frame outside range"},
    {0xC0000B00, "HCD: Isochronous transfer completed with error"},
    {0xC0000C00, "USBD: Frame length control already taken"},
    {0xC0000D00, "USBD: Attemped operation on frame length control not owned by caller"},
};
static_assert(sizeof kStatusRows / sizeof kStatusRows[0] == 68);

// The other control codes of the interface.
constexpr std::uint32_t kOtherControls[] = {0x95382603, 0x95382607, 0x9538260F, 0x9538261F,
                                            0x95382623, 0x95382627, 0x9538263B, 0x9538264F};

constexpr std::uint32_t kInterruptKind = 2;

struct DriverState {
  std::mutex mutex;
  bool open = false;
  std::unique_ptr<PortSpace> own_ports;
  PortSpace* ports = nullptr;
  int interrupt_fd = -1;
  long (*take_count)(int) = nullptr;
  // Installed by tests.
  PortSpace* test_ports = nullptr;
  int test_fd = -1;
  long (*test_take_count)(int) = nullptr;
  // The shared event object and its users.
  DriverEvent* shared = nullptr;
  int shared_users = 0;
  int debug_level = 0;
};

DriverState g_driver;

long parport_interrupts(int fd) { return parport_interrupt_count(fd); }

}  // namespace

const char* status_text(Status code) {
  for (const StatusRow& row : kStatusRows)
    if (row.code == code) return row.text;
  return "Unrecognized error code";
}

// --- Threads, events, mutexes ----------------------------------------------------

struct Thread {
  pthread_t id;
  void (*handler)(void*);
  void* context;
};

namespace {
void* thread_start(void* arg) {
  auto* t = static_cast<Thread*>(arg);
  t->handler(t->context);
  return nullptr;
}
}  // namespace

Status create_thread(Thread** out, void (*handler)(void* context), void* context) {
  auto* t = new Thread{{}, handler, context};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  // The layer it stands in for asks for 4096 bytes, below what Linux allows.
  pthread_attr_setstacksize(&attr, PTHREAD_STACK_MIN);
  const int r = pthread_create(&t->id, &attr, thread_start, t);
  pthread_attr_destroy(&attr);
  if (r != 0) {
    delete t;
    *out = nullptr;
    return kStatusResources;
  }
  *out = t;
  return kStatusSuccess;
}

void wait_thread_and_close(Thread* t) {
  if (!t) return;
  pthread_join(t->id, nullptr);
  delete t;
}

struct DriverEvent {
  platform::Event* event;
};

Status create_event(DriverEvent** out) {
  platform::Event* e = platform::event_create();
  *out = e ? new DriverEvent{e} : nullptr;
  return e ? kStatusSuccess : kStatusResources;
}

void close_event(DriverEvent* e) {
  if (!e) return;
  platform::event_destroy(e->event);
  delete e;
}

Status wait_event(DriverEvent* e, int seconds) {
  if (!e) return kStatusWaitFailed;
  const std::uint32_t ms = seconds < 0 ? platform::kWaitForever : static_cast<std::uint32_t>(seconds) * 1000u;
  return platform::event_wait(e->event, ms) ? kStatusSuccess : kStatusTimeout;
}

Status wait_event_poll(DriverEvent* e, int seconds) {
  const Status s = wait_event(e, seconds);
  return s == kStatusTimeout ? kStatusSuccess : s;
}

Status signal_event(DriverEvent* e) {
  if (!e) return kStatusWaitFailed;
  platform::event_set(e->event);
  return kStatusSuccess;
}

struct Mutex {
  std::mutex m;
};
Status create_mutex(Mutex** out) {
  *out = new Mutex;
  return kStatusSuccess;
}
void close_mutex(Mutex* m) { delete m; }
void lock_mutex(Mutex* m) { m->m.lock(); }
void unlock_mutex(Mutex* m) { m->m.unlock(); }

void convert_slashes(char* text, bool forward) {
  for (char* p = text; p && *p; ++p) {
    if (forward && *p == '\\') *p = '/';
    else if (!forward && *p == '/') *p = '\\';
  }
}

std::size_t page_size() {
  const long n = ::sysconf(_SC_PAGESIZE);
  return n > 0 ? static_cast<std::size_t>(n) : 4096;
}

int os_kind() { return 1; }

// --- The driver -------------------------------------------------------------------

Status open_driver() {
  std::lock_guard<std::mutex> lock(g_driver.mutex);
  if (g_driver.open) return kStatusSuccess;
  if (g_driver.test_ports) {
    g_driver.ports = g_driver.test_ports;
    g_driver.interrupt_fd = g_driver.test_fd;
    g_driver.take_count = g_driver.test_take_count;
  } else {
    int irq_fd = -1;
    g_driver.own_ports = open_port_space(&irq_fd);
    if (!g_driver.own_ports) return kStatusDeviceNotFound;
    g_driver.ports = g_driver.own_ports.get();
    g_driver.interrupt_fd = irq_fd;
    g_driver.take_count = irq_fd >= 0 ? parport_interrupts : nullptr;
  }
  g_driver.open = true;
  return kStatusSuccess;
}

void close_driver() {
  std::lock_guard<std::mutex> lock(g_driver.mutex);
  g_driver.open = false;
  g_driver.ports = nullptr;
  g_driver.own_ports.reset();
  g_driver.interrupt_fd = -1;
  g_driver.take_count = nullptr;
}

bool driver_open() {
  std::lock_guard<std::mutex> lock(g_driver.mutex);
  return g_driver.open;
}

Status driver_control(std::uint32_t code, void* record, std::size_t size) {
  std::lock_guard<std::mutex> lock(g_driver.mutex);
  if (!g_driver.open) return kStatusDeviceNotFound;
  if (code == kControlReadPorts || code == kControlWritePorts) {
    // The count comes from the caller's record: it must lie inside both the
    // record's bytes and the size the caller gave.
    constexpr std::size_t kHeader = offsetof(PortRun, bytes);
    if (!record || size < kHeader) return kStatusInvalidParameter;
    auto* run = static_cast<PortRun*>(record);
    if (run->count > kPortRunMax || kHeader + run->count > size) return kStatusInvalidParameter;
    for (std::size_t i = 0; i < run->count; ++i) {
      const int port = run->port + static_cast<int>(i);
      if (code == kControlReadPorts) {
        const int b = g_driver.ports->read_port(port);
        if (b < 0) return kStatusInternalError;
        run->bytes[i] = static_cast<std::uint8_t>(b);
      } else if (!g_driver.ports->write_port(port, run->bytes[i])) {
        return kStatusInternalError;
      }
    }
    return kStatusSuccess;
  }
  if (code == kControlDebugPrint || code == kControlDebugLevel) return kStatusNotImplemented;
  for (std::uint32_t c : kOtherControls)
    if (c == code) return kStatusNotImplemented;
  return kStatusInvalidIoctl;
}

void debug_print(int level, int section, const char* format, ...) {
  if (!driver_open()) return;
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  platform::debug_output(std::string("driver [") + std::to_string(level) + "/" + std::to_string(section) + "] " + text);
}

void set_debug_level(int level) {
  if (!driver_open()) return;
  {
    std::lock_guard<std::mutex> lock(g_driver.mutex);
    g_driver.debug_level = level;
  }
  platform::debug_output("driver debug level " + std::to_string(level));
}

// --- Events -----------------------------------------------------------------------

struct Registration {
  std::uint32_t kinds;
  EventHandler handler;
  void* context;
  int fd;
  long (*take_count)(int);
  int stop_pipe[2];
  Thread* thread;
};

namespace {

void handler_thread(void* arg) {
  auto* r = static_cast<Registration*>(arg);
  for (;;) {
    pollfd p[2] = {{r->fd, POLLIN | POLLPRI, 0}, {r->stop_pipe[0], POLLIN, 0}};
    if (::poll(p, 2, -1) < 0) continue;
    if (p[1].revents) return;
    if (!(p[0].revents & (POLLIN | POLLPRI))) {
      if (p[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return;
      continue;
    }
    const long count = r->take_count(r->fd);
    if (count < 0) continue;
    std::uint8_t data[4];
    platform::put_u32le(data, static_cast<std::uint32_t>(count));
    r->handler(r->context, kInterruptKind, data, sizeof data);
  }
}

void release_shared_event() {
  std::lock_guard<std::mutex> lock(g_driver.mutex);
  if (g_driver.shared_users > 0 && --g_driver.shared_users == 0) {
    close_event(g_driver.shared);
    g_driver.shared = nullptr;
  }
}

}  // namespace

Status register_events(Registration** out, std::uint32_t kinds, EventHandler handler, void* context) {
  *out = nullptr;
  if (!handler) return kStatusInvalidParameter;
  if (const Status s = open_driver(); s != kStatusSuccess) return s;
  int fd;
  long (*take)(int);
  {
    std::lock_guard<std::mutex> lock(g_driver.mutex);
    fd = g_driver.interrupt_fd;
    take = g_driver.take_count;
    if (fd < 0 || !take || !(kinds & kInterruptKind)) return kStatusInterruptFailed;
    if (g_driver.shared_users == 0 && create_event(&g_driver.shared) != kStatusSuccess) return kStatusResources;
    ++g_driver.shared_users;
  }
  auto* r = new Registration{kinds, handler, context, fd, take, {-1, -1}, nullptr};
  if (::pipe(r->stop_pipe) != 0 || create_thread(&r->thread, handler_thread, r) != kStatusSuccess) {
    if (r->stop_pipe[0] >= 0) {
      ::close(r->stop_pipe[0]);
      ::close(r->stop_pipe[1]);
    }
    delete r;
    release_shared_event();
    return kStatusResources;
  }
  *out = r;
  return kStatusSuccess;
}

void unregister_events(Registration* r) {
  if (!r) return;
  const char stop = 1;
  [[maybe_unused]] const ssize_t n = ::write(r->stop_pipe[1], &stop, 1);
  wait_thread_and_close(r->thread);
  ::close(r->stop_pipe[0]);
  ::close(r->stop_pipe[1]);
  delete r;
  release_shared_event();
}

int shared_event_users() {
  std::lock_guard<std::mutex> lock(g_driver.mutex);
  return g_driver.shared_users;
}

void set_test_driver(PortSpace* ports, int interrupt_fd, long (*take_count)(int fd)) {
  close_driver();
  std::lock_guard<std::mutex> lock(g_driver.mutex);
  g_driver.test_ports = ports;
  g_driver.test_fd = interrupt_fd;
  g_driver.test_take_count = take_count;
}

}  // namespace vaslab::driver

// The kernel-driver layer: status texts, threads, events and mutexes, and
// "the driver", which on Linux is the workstation's own port access (the
// port space of the settings' `dio_type`).  Nothing in the workstation calls
// it; it offers the same interface as the layer it stands in for.
//
// Control codes: kControlReadPorts and kControlWritePorts move a run of
// port bytes (a PortRun record); every other known code answers
// kStatusNotImplemented, since no Linux device understands those records.
// Events: the parallel-port device reports its interrupt line; each
// interrupt reaches the registered handler as a kind-2 event whose data is
// the interrupt count (4 bytes, little-endian).  /dev/port and the board
// library have no interrupt.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vaslab {

class PortSpace;

namespace driver {

using Status = std::uint32_t;
constexpr Status kStatusSuccess = 0;
constexpr Status kStatusResources = 0x20000005;
constexpr Status kStatusWaitFailed = 0x20000007;
constexpr Status kStatusInternalError = 0x20000007;
constexpr Status kStatusNotImplemented = 0x2000000A;
constexpr Status kStatusInterruptFailed = 0x2000000C;
constexpr Status kStatusInvalidParameter = 0x2000001B;
constexpr Status kStatusDeviceNotFound = 0x2000000F;
constexpr Status kStatusTimeout = 0x20000015;
constexpr Status kStatusInvalidIoctl = 0x2000001F;

// The text of a status code; "Unrecognized error code" for one not known.
const char* status_text(Status code);

// Threads.  The stack is the system's minimum (a smaller one cannot be had).
struct Thread;
Status create_thread(Thread** out, void (*handler)(void* context), void* context);
void wait_thread_and_close(Thread* t);

// Auto-reset events, initially clear.  Waits in seconds, -1 for ever.
struct DriverEvent;
Status create_event(DriverEvent** out);
void close_event(DriverEvent* e);
Status wait_event(DriverEvent* e, int seconds);
// The same, with a time-out counted as success.
Status wait_event_poll(DriverEvent* e, int seconds);
Status signal_event(DriverEvent* e);

struct Mutex;
Status create_mutex(Mutex** out);
void close_mutex(Mutex* m);
void lock_mutex(Mutex* m);
void unlock_mutex(Mutex* m);

// Backslashes to slashes (`forward`) or back, in place.
void convert_slashes(char* text, bool forward);
std::size_t page_size();
// 1: not recognised (the kinds name only other systems).
int os_kind();

// The driver.
constexpr std::uint32_t kControlReadPorts = 0x9538247F;
constexpr std::uint32_t kControlWritePorts = 0x9538252F;
constexpr std::uint32_t kControlDebugPrint = 0x95382593;
constexpr std::uint32_t kControlDebugLevel = 0x9538249F;
constexpr std::size_t kPortRunMax = 256;
struct PortRun {
  std::uint16_t port;
  std::uint16_t count;  // at most kPortRunMax
  std::uint8_t bytes[kPortRunMax];
};

// Opens the port space of the settings' `dio_type`; kStatusDeviceNotFound
// when there is none.  Opening an open driver is a success.
Status open_driver();
void close_driver();
bool driver_open();
// `record` of `size` bytes for the code.
Status driver_control(std::uint32_t code, void* record, std::size_t size);

// Formats at most 255 characters for the debug output; nothing while the
// driver is not open.
void debug_print(int level, int section, const char* format, ...) __attribute__((format(printf, 3, 4)));
void set_debug_level(int level);

// Events.  `kinds` the kinds asked for (kind 2: interrupts).
using EventHandler = void (*)(void* context, std::uint32_t kind, const std::uint8_t* data, std::size_t size);
struct Registration;
Status register_events(Registration** out, std::uint32_t kinds, EventHandler handler, void* context);
void unregister_events(Registration* r);
// Users of the shared event object (for tests).
int shared_event_users();

// Tests: a port space (not owned) and an interrupt source instead of the
// devices; `interrupt_fd` polls readable on an interrupt and
// `take_count(fd)` returns its count (or -1).  nullptr restores the devices.
void set_test_driver(PortSpace* ports, int interrupt_fd, long (*take_count)(int fd));

}  // namespace driver
}  // namespace vaslab

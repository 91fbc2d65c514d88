// Serial ports.  The program names its ports as "com3:"; here a COM number
// maps to a device path ($VASLAB_COM<n>, else /dev/ttyS<n-1>), and the line is
// driven through termios, fully raw so that every byte value crosses
// unchanged.  A pseudo-terminal works as a port: it has no modem lines, so
// setting DTR and RTS on it is skipped quietly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// The device path of COM port `number`: a path set by set_com_path(), else
// $VASLAB_COM<number>, else /dev/ttyS<number-1>.
std::string com_device_path(int number);
// Points COM port `number` at a device (tests, simulators); an empty path
// forgets the setting.
void set_com_path(int number, const std::string& path);
void reset_com_paths();

// The device of a "com%i:" name; empty when the name is not of that form.
std::string serial_device_for_name(const std::string& name);

struct SerialPort {
  int fd = -1;
  // Write time-out: per byte written plus a constant, in milliseconds.
  std::uint32_t write_ms_per_byte = 0;
  std::uint32_t write_ms_constant = 0;
};

// Opens a port by its "com%i:" name for exclusive reading and writing; the
// device must exist.  False on failure (errno tells why).
[[nodiscard]] bool serial_open(SerialPort& port, const std::string& name);
// The same for a device path.
[[nodiscard]] bool serial_open_device(SerialPort& port, const std::string& device);
void serial_close(SerialPort& port);
inline bool serial_is_open(const SerialPort& port) { return port.fd >= 0; }

// Reads never wait; writes give up after the time-out.  False when the port
// is not a terminal (its line state cannot be read).
[[nodiscard]] bool serial_set_timeouts(SerialPort& port, std::uint32_t write_ms_per_byte,
                                       std::uint32_t write_ms_constant);

// Raw 8N1 at `baud`: no echo, no signal or flow-control characters, no
// end-of-line conversion, receiver on, modem lines ignored; DTR and RTS
// raised where the device has them.  False when the line cannot be set.
[[nodiscard]] bool serial_set_line(SerialPort& port, int baud);
// Changes only the speed.  False when the line state cannot be read or set.
[[nodiscard]] bool serial_set_speed(SerialPort& port, int baud);

enum class SerialParity { kNone, kOdd, kEven };
// Character format after serial_set_line: 5 to 8 data bits, parity, 1 or 2
// stop bits.  False for other values or when the line cannot be set.
bool serial_set_format(SerialPort& port, int data_bits, SerialParity parity, int stop_bits);

// Raises or drops DTR or RTS.  A pseudo-terminal has no modem lines: that
// answers true without effect.
bool serial_set_dtr(SerialPort& port, bool on);
bool serial_set_rts(SerialPort& port, bool on);

// Waits up to `timeout_ms` for a byte to read: 1 when one is waiting, 0 when
// none came in time, -1 when the port failed or its peer is gone.
int serial_wait_readable(SerialPort& port, int timeout_ms);
// Drops whatever was received and not read yet.
void serial_discard_input(SerialPort& port);

// One waiting byte (0..255), or -1 when none is waiting.
int serial_read_byte(SerialPort& port);
// Writes bytes within the port's write time-out; the number written.
[[nodiscard]] std::size_t serial_write(SerialPort& port, const std::uint8_t* data, std::size_t size);
// Waits until everything written has left the port.
void serial_wait_sent(SerialPort& port);

}  // namespace platform

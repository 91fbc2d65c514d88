#include "platform/serial.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>

namespace platform {
namespace {

std::map<int, std::string> g_com_paths;

speed_t speed_code(int baud) {
  switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
  }
}

}  // namespace

std::string com_device_path(int number) {
  auto it = g_com_paths.find(number);
  if (it != g_com_paths.end()) return it->second;
  const std::string var = "VASLAB_COM" + std::to_string(number);
  if (const char* env = std::getenv(var.c_str()); env && *env) return env;
  return "/dev/ttyS" + std::to_string(number - 1);
}

void set_com_path(int number, const std::string& path) {
  if (path.empty())
    g_com_paths.erase(number);
  else
    g_com_paths[number] = path;
}

void reset_com_paths() { g_com_paths.clear(); }

std::string serial_device_for_name(const std::string& name) {
  // "com<digits>:" in any case.
  if (name.size() < 5 || (name[0] | 0x20) != 'c' || (name[1] | 0x20) != 'o' || (name[2] | 0x20) != 'm' ||
      name.back() != ':')
    return {};
  int number = 0;
  for (std::size_t i = 3; i + 1 < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9' || number > 100000) return {};
    number = number * 10 + (name[i] - '0');
  }
  return com_device_path(number);
}

bool serial_open(SerialPort& port, const std::string& name) {
  serial_close(port);
  const std::string device = serial_device_for_name(name);
  if (device.empty()) {
    errno = ENOENT;
    return false;
  }
  return serial_open_device(port, device);
}

bool serial_open_device(SerialPort& port, const std::string& device) {
  serial_close(port);
  // Non-blocking: reads return at once with what is waiting, and opening a
  // line without carrier does not hang.
  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  if (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY) {
    const int e = errno;
    ::close(fd);
    errno = e;
    return false;
  }
  port.fd = fd;
  return true;
}

void serial_close(SerialPort& port) {
  // The exclusive claim would outlive this handle while another holds the
  // device open (a simulator keeps its pseudo-terminal open).
  if (port.fd >= 0) {
    ::ioctl(port.fd, TIOCNXCL);
    ::close(port.fd);
  }
  port.fd = -1;
}

bool serial_set_timeouts(SerialPort& port, std::uint32_t write_ms_per_byte, std::uint32_t write_ms_constant) {
  termios t{};
  if (port.fd < 0 || ::tcgetattr(port.fd, &t) != 0) return false;
  port.write_ms_per_byte = write_ms_per_byte;
  port.write_ms_constant = write_ms_constant;
  return true;
}

bool serial_set_line(SerialPort& port, int baud) {
  termios t{};
  const speed_t speed = speed_code(baud);
  if (port.fd < 0 || speed == B0 || ::tcgetattr(port.fd, &t) != 0) return false;
  ::cfmakeraw(&t);
  t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | ISTRIP | IGNPAR | PARMRK | BRKINT | ICRNL | INLCR | IGNCR);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  t.c_cflag |= CS8 | CREAD | CLOCAL;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0) return false;
  if (::tcsetattr(port.fd, TCSANOW, &t) != 0) return false;
  // A pseudo-terminal has no modem lines; that is no failure.
  int lines = TIOCM_DTR | TIOCM_RTS;
  if (::ioctl(port.fd, TIOCMBIS, &lines) != 0 && errno != ENOTTY && errno != EINVAL) return false;
  return true;
}

bool serial_set_speed(SerialPort& port, int baud) {
  termios t{};
  const speed_t speed = speed_code(baud);
  if (port.fd < 0 || speed == B0 || ::tcgetattr(port.fd, &t) != 0) return false;
  if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0) return false;
  return ::tcsetattr(port.fd, TCSANOW, &t) == 0;
}

bool serial_set_format(SerialPort& port, int data_bits, SerialParity parity, int stop_bits) {
  termios t{};
  if (port.fd < 0 || data_bits < 5 || data_bits > 8 || stop_bits < 1 || stop_bits > 2 ||
      ::tcgetattr(port.fd, &t) != 0) {
    return false;
  }
  static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB);
  t.c_cflag |= kSizes[data_bits - 5];
  if (parity != SerialParity::kNone) t.c_cflag |= PARENB | (parity == SerialParity::kOdd ? PARODD : 0);
  if (stop_bits == 2) t.c_cflag |= CSTOPB;
  return ::tcsetattr(port.fd, TCSANOW, &t) == 0;
}

namespace {

bool set_modem_line(SerialPort& port, int line, bool on) {
  if (port.fd < 0) return false;
  if (::ioctl(port.fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0) return true;
  return errno == ENOTTY || errno == EINVAL;
}

}  // namespace

bool serial_set_dtr(SerialPort& port, bool on) { return set_modem_line(port, TIOCM_DTR, on); }
bool serial_set_rts(SerialPort& port, bool on) { return set_modem_line(port, TIOCM_RTS, on); }

int serial_wait_readable(SerialPort& port, int timeout_ms) {
  if (port.fd < 0) return -1;
  pollfd p{port.fd, POLLIN, 0};
  for (;;) {
    const int n = ::poll(&p, 1, timeout_ms < 0 ? 0 : timeout_ms);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) return 0;
    return (p.revents & POLLIN) != 0 ? 1 : -1;
  }
}

void serial_discard_input(SerialPort& port) {
  if (port.fd >= 0) ::tcflush(port.fd, TCIFLUSH);
}

int serial_read_byte(SerialPort& port) {
  if (port.fd < 0) return -1;
  std::uint8_t b = 0;
  for (;;) {
    const ssize_t n = ::read(port.fd, &b, 1);
    if (n == 1) return b;
    if (n < 0 && errno == EINTR) continue;
    return -1;  // nothing waiting, or the peer is gone
  }
}

std::size_t serial_write(SerialPort& port, const std::uint8_t* data, std::size_t size) {
  if (port.fd < 0 || size == 0) return 0;
  using Clock = std::chrono::steady_clock;
  const auto deadline =
      Clock::now() + std::chrono::milliseconds(std::uint64_t{port.write_ms_per_byte} * size + port.write_ms_constant);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(port.fd, data + done, size - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd p{port.fd, POLLOUT, 0};
    if (::poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR) break;
  }
  return done;
}

void serial_wait_sent(SerialPort& port) {
  if (port.fd >= 0) ::tcdrain(port.fd);
}

}  // namespace platform

// Any bytes from the touch panel or the infrared remote, through a
// pseudo-terminal as the serial line.  The first byte chooses the peer (bit
// 1: remote, else touch panel of the type in bit 0); the next eight are the
// touch calibration (offset and scale, x then y).  The decoders must hold
// their packet state inside its bounds whatever arrives: keys are 0..31 or
// none, a type-0 panel point has 10-bit coordinates, the pressed flag is
// the packet's two status bits at most.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "fuzz/scratch_root.h"
#include "platform/le_bytes.h"
#include "platform/serial.h"
#include "vaslab/core/input/touch_remote.h"
#include "vaslab/core/links/serial_links.h"
#include "vaslab/core/settings/settings.h"

using namespace vaslab;

namespace {

int g_master = -1, g_slave = -1;

void open_line() {
  char name[PATH_MAX] = {};
  if (::openpty(&g_master, &g_slave, name, nullptr, nullptr) != 0) abort();
  platform::set_com_path(3, name);
  platform::set_com_path(2, name);
}

// Puts bytes on the line and waits until the program's side holds them all
// (the terminal layer moves them over later, slowly on a loaded machine).
void put_on_line(const uint8_t* p, size_t n) {
  if (::write(g_master, p, n) != static_cast<ssize_t>(n)) abort();
  for (int tries = 0; tries < 50000; ++tries) {
    int waiting = 0;
    if (::ioctl(g_slave, FIONREAD, &waiting) != 0) abort();
    if (static_cast<size_t>(waiting) >= n) return;
    ::usleep(tries < 100 ? 10 : 200);
  }
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_scratch_root("touch-remote");
  if (g_master < 0) open_line();
  if (size < 9) return 0;
  const bool remote = data[0] & 2;
  const int type = data[0] & 1;
  HardwareSettings& hw = hardware_settings();
  hw.vascular_module_present = 0;
  hw.touch_type = remote ? 2 : static_cast<std::uint8_t>(type);
  hw.touch_irq = 0;
  hw.touch_port = 0x0103;
  hw.ir_remote_enabled = remote;
  hw.ir_remote_irq = 0;
  hw.ir_remote_port = 2;
  runtime_touch_calibration() = TouchCalibration{platform::get_s16le(data + 1), platform::get_s16le(data + 3),
                                                 platform::get_s16le(data + 5), platform::get_s16le(data + 7), 0};
  reset_touch_remote();
  if (remote ? open_remote_link() != 0 : open_touch_link() != 0) abort();

  // Small enough pieces that the line never refuses one.
  constexpr size_t kPiece = 512;
  for (size_t at = 9; at < size; at += kPiece) {
    put_on_line(data + at, std::min(kPiece, size - at));
    if (remote) {
      for (int key; (key = receive_remote_key()) != -1;)
        if (key < 0 || key > 31 || remote_key_value(key) < -2) abort();
    } else {
      const int pressed = read_touch_packet();
      if (pressed < 0 || pressed > 3) abort();
      std::int16_t x, y;
      get_touch_raw_position(&x, &y);
      if (type == 0 && (x < 0 || x > 0x3FF || y < 0 || y > 0x3FF)) abort();
    }
  }
  if (remote) close_remote_link(); else close_touch_link();
  reset_serial_links();
  return 0;
}

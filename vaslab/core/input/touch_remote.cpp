#include "vaslab/core/input/touch_remote.h"

#include <algorithm>

#include "vaslab/core/links/serial_links.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/main_window.h"

namespace vaslab {
namespace {

constexpr int kTouchBaudType0 = 2400;
constexpr int kIdlePollsToRelease = 5;
constexpr int kScreenW = 640;
constexpr int kScreenH = 480;
constexpr std::uint16_t kNoByte = 0xFFFF;

constexpr std::int16_t kRemoteKeys[32] = {-2, 15, 7,  -1, -1, -1, 8,  12, 18, 16, 5,  1, -1, -1, 6,  13,
                                          -1, -1, 3,  -1, -1, 14, 4,  11, 13, 20, 17, 9, 10, 2,  19, -1};

struct TouchState {
  std::uint8_t position = 0;  // packet position counter
  std::uint8_t lead = 0;      // type 0 lead byte, type 1 status
  std::uint8_t second = 0;
  std::uint8_t x_lo = 0, x_hi = 0, y_lo = 0, y_hi = 0;
  std::uint16_t sum = 0;
  std::int16_t raw_x = 0, raw_y = 0;
  std::int16_t screen_x = 0, screen_y = 0;
  std::int16_t pressed = 0;
  std::int16_t idle = 0;
};

struct RemoteState {
  int frame = 0;  // 0 waiting for 0xFF, 1 for the code, 2 for its complement
  int code = 0;
  int pushed = -1;
};

TouchState g_touch;
RemoteState g_remote;

int touch_type() { return hardware_settings().touch_type & 3; }

std::uint16_t read_device_byte(SerialDevice device) {
  switch (link_kind(device)) {
    case LinkKind::kNone: return kNoByte;
    case LinkKind::kComPort: return com_receive_byte(device);
    case LinkKind::kSerialCard: {
      const int h = serial_card_handle(device);
      std::uint8_t b = 0;
      return h >= 0 && serial_card_get_byte(h, &b) == 1 ? b : kNoByte;
    }
  }
  return kNoByte;
}

void close_device(SerialDevice device, const char* close_error) {
  switch (link_kind(device)) {
    case LinkKind::kNone: return;
    case LinkKind::kComPort: close_com_port(device); return;
    case LinkKind::kSerialCard: {
      const int h = serial_card_handle(device);
      if (h < 0) return;
      const int r = serial_card_cleanup(h);
      if (r != 0 && close_error) show_link_error("Error", close_error, r, unsigned(h));
      set_serial_card_handle(device, -1);
      return;
    }
  }
}

// The calibrated point, kept on the screen: it indexes the button tables.
void compute_screen_position() {
  const TouchCalibration& cal = runtime_touch_calibration();
  const std::int32_t x = (std::int32_t{g_touch.raw_x} - cal.x_offset) * cal.x_scale / 10000;
  const std::int32_t y = (std::int32_t{g_touch.raw_y} - cal.y_offset) * cal.y_scale / 10000;
  g_touch.screen_x = static_cast<std::int16_t>(std::clamp(x, 0, kScreenW - 1));
  g_touch.screen_y = static_cast<std::int16_t>(std::clamp(y, 0, kScreenH - 1));
}

void decode_type0(std::uint8_t b) {
  TouchState& t = g_touch;
  if ((b & 0x80) == 0) {
    if (t.position == 2) {
      t.second = b;
    } else if (t.position >= 3) {
      t.raw_x = static_cast<std::int16_t>(((t.lead << 4) & 0x380) | t.second);
      t.raw_y = static_cast<std::int16_t>(((t.lead << 7) & 0x380) | b);
      t.pressed = 1;
      compute_screen_position();
      t.position = 0;
    } else {
      t.position = 0;
    }
    return;
  }
  t.position = 1;
  if (b < 0xC0) {
    t.pressed = 0;
    t.position = 0;
  } else {
    t.lead = b;
  }
}

// The counter advances twice per byte here, so its half is the byte's place
// in the packet.
void decode_type1(std::uint8_t b) {
  TouchState& t = g_touch;
  ++t.position;
  t.sum = static_cast<std::uint16_t>(t.sum + b);
  auto restart = [&t, b] {
    if (b == 'U') {
      t.sum = 0;
      t.position = 2;
    } else {
      t.position = 0;
    }
  };
  switch (t.position / 2) {
    case 1: restart(); return;
    case 2:
      if (b != 'T') restart();
      return;
    case 3: t.lead = b; return;
    case 4: t.x_lo = b; return;
    case 5: t.x_hi = b; return;
    case 6: t.y_lo = b; return;
    case 7: t.y_hi = b; return;
    case 8: return;
    case 9:
      if (b == 0)
        t.sum = static_cast<std::uint16_t>(~((t.sum & 0xFF) - 2));
      else
        restart();
      return;
    case 10:
      // Only the low byte is compared: a packet whose checksum byte is 0xFF
      // leaves a carry in the high byte and is as valid as any other.
      if ((t.sum & 0xFF) != 0) {
        restart();
        return;
      }
      t.pressed = t.lead & 3;
      t.raw_x = static_cast<std::int16_t>(t.x_hi * 256 + t.x_lo);
      t.raw_y = static_cast<std::int16_t>(4095 - (t.y_hi * 256 + t.y_lo));
      compute_screen_position();
      t.position = 0;
      return;
    default: restart(); return;
  }
}

}  // namespace

int open_touch_link() {
  const HardwareSettings& hw = hardware_settings();
  const int type = touch_type();
  if (type > 1) return 0;
  if (hw.touch_irq != 0) {
    int h = open_serial_card_port(hw.touch_port, hw.touch_irq);
    if (h >= 0 && type == 0 && serial_card_set_characteristics(h) != 0) {
      const int r = serial_card_cleanup(h);
      if (r != 0) show_link_error("Error", "touch port close got %d from %x", r, unsigned(h));
      h = -1;
    }
    set_serial_card_handle(SerialDevice::kTouch, h);
  } else if (open_com_port(SerialDevice::kTouch, hw.touch_port & 0xFF) == 0 && type == 0) {
    if (!com_set_speed(SerialDevice::kTouch, kTouchBaudType0)) close_com_port(SerialDevice::kTouch);
  }
  g_touch.pressed = 0;
  g_touch.idle = 0;
  return 0;
}

void close_touch_link() {
  if (touch_type() > 1) return;
  close_device(SerialDevice::kTouch, nullptr);
}

int read_touch_packet() {
  const int type = touch_type();
  if (type > 1) return 0;
  bool any = false;
  for (std::uint16_t b; (b = read_device_byte(SerialDevice::kTouch)) != kNoByte;) {
    any = true;
    ++g_touch.position;
    if (type == 0)
      decode_type0(static_cast<std::uint8_t>(b));
    else
      decode_type1(static_cast<std::uint8_t>(b));
  }
  if (any) {
    g_touch.idle = 0;
  } else if (++g_touch.idle >= kIdlePollsToRelease) {
    g_touch.idle = 0;
    g_touch.pressed = 0;
  }
  return g_touch.pressed;
}

int get_touch_position(std::int16_t* x, std::int16_t* y) {
  if (touch_type() > 1 || !is_fullscreen()) {
    *x = *y = 0;
    return 0;
  }
  *x = g_touch.screen_x;
  *y = g_touch.screen_y;
  return g_touch.pressed;
}

void get_touch_raw_position(std::int16_t* x, std::int16_t* y) {
  *x = g_touch.raw_x;
  *y = g_touch.raw_y;
}

int touch_pressed() { return g_touch.pressed; }

int open_remote_link() {
  const HardwareSettings& hw = hardware_settings();
  switch (link_kind(SerialDevice::kRemote)) {
    case LinkKind::kNone: break;
    case LinkKind::kSerialCard: {
      const int h = open_serial_card_port(hw.ir_remote_port, hw.ir_remote_irq);
      set_serial_card_handle(SerialDevice::kRemote, h);
      if (h < 0) return 1;
      break;
    }
    case LinkKind::kComPort:
      if (open_com_port(SerialDevice::kRemote, hw.ir_remote_port) != 0) return 1;
      break;
  }
  g_remote = RemoteState{};
  return 0;
}

void close_remote_link() { close_device(SerialDevice::kRemote, "IRRC port close got %d from %x"); }

int receive_remote_key() {
  if (!hardware_settings().ir_remote_enabled) return -1;
  if (g_remote.pushed >= 0) {
    const int key = g_remote.pushed;
    g_remote.pushed = -1;
    return key;
  }
  for (std::uint16_t b; (b = read_device_byte(SerialDevice::kRemote)) != kNoByte;) {
    if (b == 0) return 0;
    switch (g_remote.frame) {
      case 0:
        if (b == 0xFF) g_remote.frame = 1;
        break;
      case 1:
        if (b != 0xFF) {
          g_remote.code = b;
          g_remote.frame = 2;
        }
        break;
      default:
        if (b == 0xFF) {
          g_remote.frame = 1;
          break;
        }
        g_remote.frame = 0;
        if (g_remote.code + b == 255) return g_remote.code >> 3;
        break;
    }
  }
  return -1;
}

void push_back_remote_key(int key) {
  if (link_kind(SerialDevice::kRemote) == LinkKind::kNone) return;
  g_remote.pushed = key;
}

bool remote_key_pushed_back() { return g_remote.pushed >= 0; }

int remote_key_value(int key) { return key >= 0 && key < 32 ? kRemoteKeys[key] : -1; }

void reset_touch_remote() {
  g_touch = TouchState{};
  g_remote = RemoteState{};
}

}  // namespace vaslab

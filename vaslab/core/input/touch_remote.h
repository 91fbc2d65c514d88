// The touch panel and the infrared remote: their links, the touch packets
// turned into a calibrated screen position with a pressed flag, and the
// remote frames turned into key numbers for the event wait.
#pragma once

#include <cstdint>

namespace vaslab {

// Opening returns 0, or for the remote 1 when its port failed (the program
// then ends with code 2).
int open_remote_link();
void close_remote_link();
int open_touch_link();
void close_touch_link();

// Reads what the touch panel sent since the last call (every 10 ms, from a
// window timer); returns the pressed flag.  Five calls in a row without a
// byte count as a release.
int read_touch_packet();
// The last touch point in screen coordinates (0..639, 0..479) and the
// pressed flag; zeros and 0 without a serial touch panel or in windowed mode.
int get_touch_position(std::int16_t* x, std::int16_t* y);
// The raw panel reading of the last touch packet (touch calibration).
void get_touch_raw_position(std::int16_t* x, std::int16_t* y);
// The pressed flag the packet reader last left, in any window mode.
int touch_pressed();

// The key number (0..31) of the next complete remote frame; 0 when a zero
// byte arrived; -1 when nothing is waiting or the remote is disabled.  A key
// pushed back is returned first.
int receive_remote_key();
void push_back_remote_key(int key);
// A key pushed back and not yet taken.
bool remote_key_pushed_back();
// The button remote byte a key number selects, -1 for none (-2 for key 0,
// which is never looked up).
int remote_key_value(int key);

// Back to the start state (tests).
void reset_touch_remote();

}  // namespace vaslab

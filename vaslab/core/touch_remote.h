// The touch panel and the infrared remote.
#pragma once

namespace vaslab {

// 0 on success, non-zero on failure.
int open_remote_link();
void close_remote_link();
int open_touch_link();
void close_touch_link();

// Reads what the touch panel sent since the last call (every 10 ms, from a
// window timer); returns the pressed flag.
int read_touch_packet();

}  // namespace vaslab

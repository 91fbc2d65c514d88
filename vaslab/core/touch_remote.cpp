#include "vaslab/core/touch_remote.h"

namespace vaslab {

int open_remote_link() { return 0; }
void close_remote_link() {}
int open_touch_link() { return 0; }
void close_touch_link() {}
int read_touch_packet() { return 0; }

}  // namespace vaslab

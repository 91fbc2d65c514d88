#include "vaslab/core/digital_io.h"

namespace vaslab {

int open_port_driver() { return 1; }
void select_cuffs(int) {}
void set_hardware_volume(int) {}
void unload_susi() {}
int read_front_panel_key() { return -1; }

}  // namespace vaslab

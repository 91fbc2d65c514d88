#include "vaslab/core/serial_links.h"

namespace vaslab {

int init_serial_card() { return 1; }
void unload_serial_card_driver() {}
int open_module_link() { return 0; }
void close_module_link() {}

}  // namespace vaslab

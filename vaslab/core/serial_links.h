// The serial links to the measuring module, the touch panel and the remote,
// on COM ports or on the serial card.
#pragma once

namespace vaslab {

// Initialises the serial-card driver when a link uses the card; 1 on
// success (at once when no link uses it), 0 on failure.
int init_serial_card();
void unload_serial_card_driver();

// 0 on success, non-zero on failure (the messages are shown here).
int open_module_link();
void close_module_link();

}  // namespace vaslab

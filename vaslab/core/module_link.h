// Bytes to and from the measuring module, its firmware check and update.
#pragma once

namespace vaslab {

void send_module_byte(int value);

}  // namespace vaslab

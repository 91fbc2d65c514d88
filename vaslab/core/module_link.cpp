#include "vaslab/core/module_link.h"

namespace vaslab {

void send_module_byte(int) {}

}  // namespace vaslab

#include "vaslab/reports/spooler.h"

namespace vaslab {

void open_default_printer() {}
void close_printer() {}
void step_print_spooler() {}

}  // namespace vaslab

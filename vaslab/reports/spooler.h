// The printer choice and the print spooler.
#pragma once

namespace vaslab {

void open_default_printer();
void close_printer();
// Advances the print spooler by one step; every event-wait pass calls it.
void step_print_spooler();

}  // namespace vaslab

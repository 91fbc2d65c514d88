// The printer choice and the print spooler.
#pragma once

namespace vaslab {

void open_default_printer();
void close_printer();

}  // namespace vaslab

// The export screen: sends studies of the current study list to one of the
// two configured export destinations.
#pragma once

namespace vaslab {

// The current destination's export program text, export path and option
// byte (destination 1 when it is configured, else destination 2).
const char* export_control();
const char* export_path();
int export_option_byte();

}  // namespace vaslab

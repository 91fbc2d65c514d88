// Until the export screen is built, the current destination is the one it
// starts with: destination 1 when configured, else destination 2.
#include "vaslab/records/export_screen.h"

#include "vaslab/core/settings.h"

namespace vaslab {
namespace {

bool first_destination() { return hardware_settings().export_control_1[0] != 0; }

}  // namespace

const char* export_control() {
  auto& hw = hardware_settings();
  return first_destination() ? hw.export_control_1 : hw.export_control_2;
}

const char* export_path() {
  auto& hw = hardware_settings();
  return first_destination() ? hw.export_path_1 : hw.export_path_2;
}

int export_option_byte() {
  auto& hw = hardware_settings();
  return first_destination() ? hw.export_code_1 : hw.export_code_2;
}

}  // namespace vaslab

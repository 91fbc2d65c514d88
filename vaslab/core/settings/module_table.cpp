#include "vaslab/core/settings/module_table.h"

namespace vaslab {

ModuleTable& module_table() {
  // Constant-initialised: filled before any screen runs, whatever the order
  // in which the program's parts start.
  static constinit ModuleTable table;
  return table;
}

int call_worklist_control(int operation, char* buffer, std::size_t buffer_size) {
  const auto control = module_table().worklist_control;
  return control != nullptr ? control(operation, buffer, buffer_size) : -1;
}

}  // namespace vaslab

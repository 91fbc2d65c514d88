#include "vaslab/studies/service_modules.h"

#include "vaslab/core/message_box.h"

namespace vaslab {

// Neither screen is part of the program yet: each entry tells the operator
// so and answers as a module without an entry does.
int touch_calibration() {
  show_not_available("Calibrate TOUCH");
  return -1;
}

int bp_alignment() {
  show_not_available("Blood Pressure");
  return -1;
}

}  // namespace vaslab

#include "vaslab/studies/service_modules.h"

namespace vaslab {

int touch_calibration() { return 0; }
int bp_alignment() { return 0; }

}  // namespace vaslab

// The service screens the menus start: touch calibration, the Doppler
// diagnostic steps and the blood-pressure alignment.
#pragma once

#include <cstdint>

#include "vaslab/core/settings.h"

namespace vaslab {

// Returns 0 in every case; Save stores the new calibration in the settings
// file, where it takes effect at the next settings read.
int touch_calibration();
int dopalign_main(int argc, char* argv[]);
int bp_alignment();

// The eight touch targets along the screen's edges, in the order they are
// shown, and the calibration the raw readings taken on them give.  False for
// a dead axis: two columns or rows at one average, or so close that the
// scale does not fit 16 bits.
constexpr int kTouchTargets = 8;
struct TouchTarget {
  std::int16_t screen_x, screen_y;
};
extern const TouchTarget kTouchTargetTable[kTouchTargets];
bool compute_touch_calibration(const std::int16_t raw_x[kTouchTargets], const std::int16_t raw_y[kTouchTargets],
                               TouchCalibration& out);

}  // namespace vaslab

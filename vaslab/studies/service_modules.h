// The service screens the menus start: touch calibration, the Doppler
// diagnostic steps and the blood-pressure alignment.
#pragma once

#include <cstdint>

#include "vaslab/core/settings/settings.h"

namespace vaslab {

// Returns 0 in every case; Save stores the new calibration in the settings
// file, where it takes effect at the next settings read.
int touch_calibration();
int dopalign_main(int argc, char* argv[]);
// The blood-pressure alignment: 0 after SAVE, 1 after CANCEL.
int bp_alignment();

// A pressure channel's calibration: zero offset (the low byte of the raw
// 0 mmHg point) and slope code (counts per mmHg = 9.5 + code / 256).
struct BpCalibration {
  std::uint8_t offset = 0;
  std::uint8_t span = 0;
};
BpCalibration bp_calibration_from_points(int point_0, int point_300);
// The raw 300 mmHg point a stored calibration stands for.
int bp_point_300(int offset, int span);

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

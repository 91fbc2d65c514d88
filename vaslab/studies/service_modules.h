// The service screens the menus start: touch calibration, the Doppler
// diagnostic steps and the blood-pressure alignment.
#pragma once

namespace vaslab {

int touch_calibration();
int dopalign_main(int argc, char* argv[]);
int bp_alignment();

}  // namespace vaslab

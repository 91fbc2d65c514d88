// The Doppler waveform study module ("C:\PROGRAMS\DOPPLER"): the live,
// filtered Doppler waveform of one probe with its audio; gain, baseline,
// probe, inversion, filter and volume on the screen; a capture of the
// step's report window, reviewed and refiled on the shared post screen.
#pragma once

namespace vaslab {

// Button codes of the acquisition screen.
constexpr int kDopplerInvert = 101;
constexpr int kDopplerGainUp = 102;
constexpr int kDopplerGainDown = 103;
constexpr int kDopplerBaselineUp = 104;
constexpr int kDopplerBaselineDown = 105;
constexpr int kDopplerProbe = 106;
constexpr int kDopplerVolumeUp = 107;
constexpr int kDopplerVolumeDown = 108;
constexpr int kDopplerFilter = 109;
constexpr int kDopplerMute = 110;

// The mode flags after one press of Filter: modes 0 and 1 go to 2, then
// 3, 4, 5 and back to 0; bit 3 stays, and the step from 5 to 0 clears bits
// 4 to 7.
int next_filter_mode_flags(int flags);

// The live strip of a report window of w samples: ((w / 8 - 1) / 2) * 16 + 8
// columns, at most the 296-column strip; a window of 0 or less counts as 296.
int doppler_window(int report_window);
int doppler_strip_width(int window);

}  // namespace vaslab

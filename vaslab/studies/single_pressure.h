// The single-pressure study module ("C:\PROGRAMS\ONEPRES"): inflates and
// deflates a cuff on command, shows the live filtered waveform of one
// channel with the cuff pressure, captures the newest 296 samples with the
// pressure beside them, and reviews, labels and refiles the capture.
#pragma once

namespace vaslab {

// The module entry (six strings: path, template number, exam id, first
// step, step count, current step).
int onepres_main(int argc, char* argv[]);

// Button codes of the acquisition screen.
constexpr int kPressInflate = 100;
constexpr int kPressDeflate = 101;
constexpr int kPressGainUp = 102;
constexpr int kPressGainDown = 103;
constexpr int kPressBaselineUp = 104;
constexpr int kPressBaselineDown = 105;
constexpr int kPressProbe = 106;
constexpr int kPressVolumeUp = 107;
constexpr int kPressVolumeDown = 108;
constexpr int kPressMute = 109;
// Of the post screen.
constexpr int kPressSetOutput = 121;

// The probe that follows another on the Probe button: 5, 6, 16, 15, 5.
int next_pressure_probe(int probe);

}  // namespace vaslab

// The dual study modules: a RIGHT step and the LEFT step after it, measured
// together on two live traces, captured together and stored as two pages.
// One engine serves the three of them; each configures it:
//   dualppg_main   ("C:\PROGRAMS\DUALPPG")  both limbs by photoplethysmography
//   dualpres_main  ("C:\PROGRAMS\DUALPRES") two cuffs, two pressures, markers
//   dualpvr_main   ("C:\PROGRAMS\DUALPVR")  pulse volumes under held cuffs
// Steps move by pairs: the RIGHT step's label begins "RIGHT ", the LEFT
// step's " LEFT ", and the 24 characters after the side word (the location
// text, the screen's title) must agree.
#pragma once

#include <cstddef>
#include <string>

namespace vaslab {

struct StudyPage;

enum class DualKind { kPpg, kPressure, kPvr };

// The module run: the argument strings of the module entry.  0/2 next, 3
// back, 1 a pair that breaks the RIGHT/LEFT rule, 4 entry or file faults.
int run_dual_module(int argc, char* argv[], DualKind kind);

// --- The page pair (steps n and n + 1) --------------------------------------
// Read: RIGHT first; 0 both valid, 1 either missing or invalid (the LEFT one
// is not read after a bad RIGHT one), 4 a short read.  The flags stay as
// read: bit 0 marks a deleted side, which passes without the sample checks;
// the LEFT page must have its newest index below its count even when the
// count is 0.
int read_page_pair(int step, int exam_id, const std::string& template_base, StudyPage& right, StudyPage& left);
// Write: both pages under temporary names first, renamed only when both are
// whole, so a pair is never half old, half new.  A page whose flags claim
// the waveform block carries the block of its old file over, or loses the
// flag when the old file has none.  0, or 4.
int write_page_pair(int step, int exam_id, const StudyPage& right, const StudyPage& left);
void delete_page_pair(int step, int exam_id);

// --- Markers of the dual pressure post screen ------------------------------------
// The time between two markers m1, m2 at cutoff code 0..4 (divisors 1, 2,
// 5, 10, 25): "12.5" for 125 tenths of a second.
void marker_time_text(int m1, int m2, int cutoff, char* out, std::size_t size);
// One marker step within the window (report start s, newest index i, count
// n); false when the marker cannot move.
bool marker_forward(int& m, int s, int i, int n);
bool marker_back(int& m, int s, int i);

// The strip of a window of w samples: a width of 0 or less, or above the
// 296-column strip, is taken as 296.
int dual_window(int w);
int dual_strip_width(int w);

// Button codes shared by the three modules' screens.
constexpr int kDualInflate = 100;
constexpr int kDualDeflate = 101;
constexpr int kDualGainUp = 102;
constexpr int kDualGainDown = 103;
constexpr int kDualBaselineUp = 104;
constexpr int kDualBaselineDown = 105;
constexpr int kDualSide = 106;
constexpr int kDualVolumeUp = 107;
constexpr int kDualVolumeDown = 108;
constexpr int kDualCaptureRight = 109;
constexpr int kDualDeleteRight = 110;
constexpr int kDualDoOverRight = 111;
constexpr int kDualKeepRight = 112;
// Post screen.
constexpr int kDualFastForward = 102;
constexpr int kDualFastBack = 103;
constexpr int kDualSlowForward = 104;
constexpr int kDualSlowBack = 105;
constexpr int kDualMove = 120;          // dual pressure: the marker modes
constexpr int kDualSetOutput = 122;     // dual pressure
// Remote and front-panel keys of the buttons without a place.
constexpr int kDualRemoteVolumeUp = 7;
constexpr int kDualRemoteVolumeDown = 8;
constexpr int kDualRemoteMute = 15;
constexpr int kDualRemoteDoOver = 18;
constexpr int kDualRemotePicker = 12;

}  // namespace vaslab

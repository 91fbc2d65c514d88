// The texts of the sibling database's capture stream: tests and sites,
// probes, gains and sweeps.  Study calls turn page values into codes and
// codes into the texts they write; the finishing call turns the texts it
// reads back into codes.  A code outside a table has no text ("") and a text
// that is in no table has no code (-1).
#pragma once

#include <string_view>

namespace vaslab {

// Tests and locations share one table of 123 texts; code 81 is the empty
// text of the single-site studies.
inline constexpr int kZelmarTestCodes = 123;
std::string_view zelmar_test_text(int code);
int zelmar_test_code(std::string_view text);

// Probe: page value 0..16 (16-bit word at page offset 32) to code 0..5.
int zelmar_probe_remap(int page_value);
std::string_view zelmar_probe_text(int code);
int zelmar_probe_code(std::string_view text);

// Gain: page value 0..10 (offset 26) to code 0..8; a step of gain group 1
// reads the frequency scale, codes 9..17.
int zelmar_gain_remap(int page_value, int gain_group);
std::string_view zelmar_gain_text(int code);
int zelmar_gain_code(std::string_view text);

// Sweep: page value 0..4 (offset 28) to code 0..4; code 5 is only read.
int zelmar_sweep_remap(int page_value);
std::string_view zelmar_sweep_text(int code);
int zelmar_sweep_code(std::string_view text);

}  // namespace vaslab

// Symptom capture (module "C:\PROGRAMS\TIMER", entry timer_main): up to four
// symptoms of a timed exercise, each with its stopwatch time, side and site.
//
// Page layout of a symptom step (besides the common fields): slot i's
// capture time (seconds since 1970, 32 bits) at 34 + 20 i, its side << 8 |
// site at 5954 + 2 i, its stopwatch time "MM:SS" at 11889 + 10 i (empty when
// free); the step's stopwatch start at 22 and the running "MM:SS" at 11874 and
// again at 11879, where the end-of-study list and the report look for it.
#pragma once

#include <cstdint>
#include <string>

#include "vaslab/core/toolkit/stopwatch.h"
#include "vaslab/studies/study_page.h"

namespace vaslab {

// "MM:SS" of a stopwatch reading, clamped to 00:00..99:59.
std::string stopwatch_text(int seconds);
// The site word of a row: plural when the side is BOTH (2).
const char* symptom_site_word(int side, int site);
// Columns a row text takes: the side mark (code 15) 6, the site mark (16) 8.
int symptom_row_columns(const std::string& row);
bool symptom_slot_captured(const StudyPage& p, int slot);
// side << 8 | site of a slot.
int symptom_slot_marker(const StudyPage& p, int slot);
// The ten alarm words: bits 0-12 seconds (6000 or more leaves the slot as it
// is), bit 13 set else clear, bits 14-15 kind.
void program_stopwatch_alarms(Stopwatch& sw, const std::uint16_t* words);

}  // namespace vaslab

// Temporary studies: the studies in progress, a handful of files each in the
// data directory named by a small exam id N: the 0-idf page "0.N", the page
// description "N.PDF", one data page "<step>.N" per captured step, and the
// worklist copies "N.imp" and "N.exp".  At most five live at a time.
#pragma once

namespace vaslab {

// The current study's identity: its template number and exam id as decimal
// text (what the study modules receive).
const char* current_template_number();
const char* current_exam_id();
void set_current_study(const char* template_number, const char* exam_id);

}  // namespace vaslab

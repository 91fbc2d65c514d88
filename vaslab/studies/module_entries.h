// Entry routines of the study modules and of the report view, in the calling
// form of the stand-alone programs they replace: an argument count and the
// argument strings, a small result code.  The records side chooses them by
// program path.
#pragma once

namespace vaslab {

// The six strings: program path, template number, exam id, first step, step
// count, current step.
int dualpvr_main(int argc, char* argv[]);   // "C:\PROGRAMS\DUALPVR"
int onepres_main(int argc, char* argv[]);   // "C:\PROGRAMS\ONEPRES"
int dualppg_main(int argc, char* argv[]);   // "C:\PROGRAMS\DUALPPG"
int doppler_main(int argc, char* argv[]);   // "C:\PROGRAMS\DOPPLER"
int lineedit_main(int argc, char* argv[]);  // "C:\PROGRAMS\LINEEDIT"
int dualpres_main(int argc, char* argv[]);  // "C:\PROGRAMS\DUALPRES"
int timer_main(int argc, char* argv[]);     // "C:\PROGRAMS\TIMER"

// The report view, "C:\PROGRAMS\VPROC": argv {path, page file}; `colour` 1
// for a colour view, 0 for mono.
int vproc_main(int argc, char* argv[], int colour);

}  // namespace vaslab

// Entry routines of the report generators and the export modules, in the
// calling form of the stand-alone programs they replace: an argument count
// and the argument strings, a small result code (1 arguments, 9 page
// description, 10 study data, 11 files).
#pragma once

namespace vaslab {

// "C:\PROGRAMS\IPROC": argv {path, exam id}.
int generate_report(int argc, char* argv[]);
// "C:\PROGRAMS\SPRINT": argv {path, exam id, step}.
int generate_page_report(int argc, char* argv[]);

// Export modules: argv {program text, exam id or "END", destination folder,
// option byte in decimal}.
int run_dicom_export(int argc, char* argv[]);      // "C:\PROGRAMS\DICOM"
int run_zelmar_export(int argc, char* argv[]);     // "C:\PLUS\ZELMAR"
int run_delimited_export(int argc, char* argv[]);  // "C:\PROGRAMS\DELIMEX"
int run_viewer_export(int argc, char* argv[]);     // "C:\PROGRAMS\RAVIRIZ"
int run_email_export(int argc, char* argv[]);      // "C:\PROGRAMS\SMTPEX"
int run_pdf_export(int argc, char* argv[]);        // "C:\PROGRAMS\VIVOVEV"

}  // namespace vaslab

// The PDF export ("C:\PROGRAMS\VIVOVEV", entry run_pdf_export in
// module_entries.h).  Each study call generates the study's report and adds
// it to the batch list "c:\temp\vivoVEV.fil"; the "END" call renders every
// listed page to PostScript ("c:\temp\my01.ps" on) and has Ghostscript turn
// them into one PDF, which is copied into the destination folder as the
// last patient's name part, the next free number and ".pdf".
//
// Ghostscript is the system's shared library, loaded for each conversion
// and freed after it: libgs.so.10, or the file named by $VASLAB_GS_LIBRARY.
#pragma once

namespace vaslab {

// Results beside 0, the argument and file codes of every export module, the
// report generator's codes and the page codes of postscript_page.h (111 to
// 117).  114 and 116 (a page file that does not close, page memory that
// cannot be freed) cannot happen here, nor 118 (a page number outside
// 1..99), since a batch of more than 93 is refused before any page is
// rendered.
constexpr int kPdfListNotReadable = 4;
constexpr int kPdfNoNumberOrCopy = 10;
constexpr int kPdfListNotWritable = 11;
constexpr int kPdfNoLibrary = 100;
constexpr int kPdfNoNewInstance = 101;
constexpr int kPdfNoDeleteInstance = 102;
constexpr int kPdfNoExit = 103;
constexpr int kPdfNoInitWithArgs = 104;
constexpr int kPdfNoInstance = 105;
constexpr int kPdfConversionFailed = 106;
constexpr int kPdfExitFailed = 107;
constexpr int kPdfNoPages = 109;
constexpr int kPdfTooManyPages = 110;
constexpr int kPdfMaxPages = 93;

// Converts "c:\temp\my01.ps" .. the page count's file into
// "C:\TEMP\vivoVEV.PDF": 0, or 100 to 110.
int make_pdf_with_ghostscript(int page_count);

}  // namespace vaslab

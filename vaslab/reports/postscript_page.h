// The page as PostScript: the rendered rows become one 1-bit-per-component
// image of 8 by 10.5 inches, and every text of the page is set separately in
// the interpreter's fonts so that it stays sharp when the page is converted
// (PDF export) or sent to a PostScript printer (the print processor).
//
// The texts gather in the work file "c:\temp\text.ps" while the rows are
// written and follow the image, so that they are drawn over it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "vaslab/reports/page_description.h"  // kPageOk and the reader's codes
#include "vaslab/reports/page_renderer.h"     // kPageOutputFailed

namespace vaslab {

// Renders a page file held in memory to the PostScript file at `win_path`
// (a Windows path, or an absolute Linux one).  `colour` 0 writes a black and
// white page.  Returns kPageOk, kPageTooShort, kPageBadFormat, or
// kPageOutputFailed when either file cannot be written whole; the page file
// is then not there (nor left half written), and an older file of that name
// is kept.
int render_page_postscript(const std::uint8_t* data, std::size_t size, int colour, std::string_view win_path);

// Results of rendering a page file, as the PDF export reports them.
constexpr int kPageFileNotOpened = 111;
constexpr int kPageFileNotRead = 112;
constexpr int kPageFileNotRendered = 113;  // damaged, or the output not written
constexpr int kPageFileNoMemory = 115;
constexpr int kPageFileShort = 117;        // shorter than a page header

// Renders the page file at `win_page` (a Windows path, or an absolute Linux
// one) to the PostScript file at `win_out`: 0 or one of the codes above,
// with the file that failed and its system error noted as the cause
// (platform/failure_cause.h).
int render_page_file_postscript(std::string_view win_page, std::string_view win_out, int colour);

}  // namespace vaslab

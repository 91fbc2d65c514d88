// The Backup Archive screen: every archived study onto a numbered run of
// diskettes (or another drive), one ZIP file "X:\ZVT_nnnn.ZIP" each, built
// in "C:\TEMP\1.ZIP" study by study and then copied over.  Each diskette can
// be erased or formatted first.  The work goes in small steps between
// polls of the input, so that Cancel is answered at once.
#pragma once

namespace vaslab {

// Runs the screen until Exit; 0.
int backup_screen();

}  // namespace vaslab

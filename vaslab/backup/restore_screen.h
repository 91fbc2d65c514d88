// The Restore Archive screen: brings a diskette backup back into the
// archive folder one diskette at a time.  Each diskette's "X:\ZVT_nnnn.ZIP"
// is extracted into "C:\TEMP" entry by entry and the files are then moved
// into the archive, asking what to do where a number is taken.  The archive
// database is deleted on each diskette taken, so that it is reindexed after.
// A diskette holding the older single-file backup "q7arcbk.zip" is restored
// through the ZIP library in one call.
#pragma once

namespace vaslab {

// Runs the screen until Exit; 0.
int restore_screen();

// Copies `from` to `to` and deletes `from`: 0, or 1 with `from` kept.  An
// existing `to` fails the move unless `overwrite` is set, in which case it
// is replaced whole or not at all.
int move_file(const char* from, const char* to, bool overwrite);

// The reindex notice is shown once per run of the program; tests start over.
void restore_reset_reindex_notice();

}  // namespace vaslab

// The "Backup to Floppy" menu of the system menu: backup and restore of the
// archive and of the study configuration on diskettes.
#pragma once

namespace vaslab {

// Runs the menu until its EXIT is pressed and released.  Each item asks
// "Are you sure?" first.
void floppy_backup_menu();

// Starts both halves of the ZIP library on this thread, with its questions
// ("insert disk 2", write protection, overwriting) asked on the instrument's
// screen: 1, or 0 with every step undone.
int zip_library_start();
void zip_library_stop();

// Counts the entries of an archive, then extracts them all under their bare
// names into `destination`, through the started library; a failure of
// either step is told in a "Backup Error" box with its text.  True when both
// steps succeeded.
bool unzip_count_then_extract(const char* zip, const char* destination, const char* count_failure,
                              const char* failure);

// The library's life-cycle calls, replaceable by tests so that a failure at
// each step can be seen to unwind.
struct ZipLibraryCalls {
  int (*unzip_init)(void*);
  int (*zip_init)(void*);
  int (*unzip_attach)();
  int (*zip_attach)();
  int (*zip_detach)();
  int (*unzip_detach)();
  int (*zip_term)();
  int (*unzip_term)();
};
// nullptr restores the library's own.
void set_zip_library_calls(const ZipLibraryCalls* calls);

}  // namespace vaslab

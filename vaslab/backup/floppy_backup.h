// The "Backup to Floppy" menu of the system menu: backup and restore of the
// archive and of the study configuration on diskettes.
#pragma once

namespace vaslab {

// Runs the menu until its EXIT is pressed and released.  Each item asks
// "Are you sure?" first.
void floppy_backup_menu();

}  // namespace vaslab

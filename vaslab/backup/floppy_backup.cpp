#include "vaslab/backup/floppy_backup.h"

#include "vaslab/core/event_wait.h"
#include "vaslab/core/message_box.h"
#include "vaslab/core/setup_menus.h"

namespace vaslab {
namespace {

constexpr int kCodeExit = 104;

// The diskette backup and restore themselves are not part of this program
// yet: a confirmed item says so and changes nothing.
void run_item(int code) {
  static const char* const kItems[] = {"Backup Archive", "Restore Archive", "Backup Study Configuration",
                                       "Restore Study Configuration"};
  show_not_available(kItems[code - 100]);
}

}  // namespace

void floppy_backup_menu() {
  const ButtonRecord* table = floppy_backup_menu_buttons();
  draw_floppy_backup_menu();
  for (;;) {
    const int code = get_button_event(table);
    if (code < 0 || code >= kRepeatBit) continue;
    wait_button_release(table);
    if (code == kCodeExit) return;
    if (code < 100 || code > 103) continue;
    if (confirm_are_you_sure()) run_item(code);
    draw_floppy_backup_menu();
  }
}

}  // namespace vaslab

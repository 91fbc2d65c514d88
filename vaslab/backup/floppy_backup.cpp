#include "vaslab/backup/floppy_backup.h"

#include <cstdio>
#include <cstring>
#include <algorithm>
#include <initializer_list>
#include <vector>

#include "platform/debug.h"
#include "vaslab/backup/backup_screen.h"
#include "vaslab/backup/backup_ui.h"
#include "vaslab/backup/restore_screen.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/screens/setup_menus.h"
#include "vaslab/core/toolkit/keyboard_entry.h"
#include "vaslab/core/toolkit/message_box.h"
#include "ziplib/unziplib.h"
#include "ziplib/zip_messages.h"
#include "ziplib/ziplib.h"

namespace vaslab {
namespace {

using namespace ziplib;  // the message box styles and answers

constexpr int kBackupArchive = 100, kRestoreArchive = 101, kBackupConfig = 102, kRestoreConfig = 103, kExit = 104;
constexpr int kOneButton = 16;

const ZipLibraryCalls kLibrary{unzipInit,         zipInit,           unzipAttachThread, zipAttachThread,
                               zipDetachThread,   unzipDetachThread, zipTerm,           unzipTerm};
const ZipLibraryCalls* g_calls = &kLibrary;

// Buttons of a question the message box cannot ask: up to five in a row.
int ask_panel(const char* text, const char* title, std::initializer_list<std::pair<const char*, int>> answers,
              int on_escape) {
  static ButtonRecord table[7];
  const int n = static_cast<int>(answers.size());
  const int width = (620 - 10 * (n - 1)) / n;
  int i = 0;
  for (const auto& [label, code] : answers) {
    const int x = 10 + i * (width + 10);
    table[i++] = make_button(x, 330, x + width - 1, 380, label, code);
  }
  table[i++] = make_button(0, 0, 1, 1, "", on_escape, kBackupKeyEscape, 0, kButtonHidden);
  table[i] = kButtonTableEnd;
  platform::debug_printf("zip question [%s]: %s\n", title ? title : "", text ? text : "");
  std::vector<int> codes;
  for (const auto& a : answers) codes.push_back(a.second);
  return run_question_panel(title, text, table, codes, on_escape);
}

// The library's message box: one- and two-button styles in the program's
// own box, the rest as a row of buttons.
int library_message_box(const char* text, const char* title, int style) {
  switch (style & 0x0F) {
    case MB_OKCANCEL: return show_message_box(nullptr, text, title, kMbOkCancel) == kMbOk ? IDOK : IDCANCEL;
    case MB_RETRYCANCEL: return show_message_box(nullptr, text, title, kMbRetryCancel) == kMbRetry ? IDRETRY : IDCANCEL;
    case MB_YESNO: return ask_panel(text, title, {{"Yes", IDYES}, {"No", IDNO}}, IDNO);
    case MB_YESNOCANCEL: return ask_panel(text, title, {{"Yes", IDYES}, {"No", IDNO}, {"Cancel", IDCANCEL}}, IDCANCEL);
    case MB_ABORTRETRYIGNORE:
      return ask_panel(text, title, {{"Abort", IDABORT}, {"Retry", IDRETRY}, {"Ignore", IDIGNORE}}, IDABORT);
    default: show_message_box(nullptr, text, title, 0); return IDOK;
  }
}

constexpr int kYesToAll = 100, kRename = 101;

int library_overwrite(const char* text, const char* title) {
  return ask_panel(text, title,
                   {{"Yes", IDYES}, {"Yes to All", kYesToAll}, {"No", IDNO}, {"Rename", kRename}, {"Cancel", IDCANCEL}},
                   IDCANCEL);
}

bool library_rename(const char* original, char* path, std::size_t size) {
  char text[41];
  std::snprintf(text, sizeof text, "%s", original ? original : "");
  const int max = static_cast<int>(std::min<std::size_t>(40, size - 1));
  if (max < 1 || run_keyboard_entry("New name:", text, max, 0, 0) != 0) return false;
  std::snprintf(path, size, "%s", text);
  return path[0] != 0;
}

void backup_configuration() {
  ZIPCMDSTRUCT cmd{};
  cmd.structSize = kZipCmdV220;
  cmd.Function = ZIP_ADD;
  cmd.lpszZIPFile = "a:\\q7stybk.zip";
  cmd.lpszItemList = "c:\\studies\\*.sty c:\\studies\\*.mnu";
  cmd.compFactor = 9;
  cmd.pathForTempFlag = 1;
  cmd.lpszTempPath = "c:\\temp";
  cmd.noDirectoryNamesFlag = 1;
  cmd.noDirectoryEntriesFlag = 1;
  cmd.wMultiVolControl = 0x8700;
  const int r = zipCompress(&cmd);
  platform::debug_printf("configuration backup: %d\n", r);
  if (r != 0) show_message_box(nullptr, "Backup Config Failure", "Backup Error", kOneButton);
}

void restore_configuration() {
  unzip_count_then_extract("a:\\q7stybk.zip", "c:\\studies\\", "Restore Config Count Failure",
                           "Restore Config Failure");
}

}  // namespace

bool unzip_count_then_extract(const char* zip, const char* destination, const char* count_failure,
                              const char* failure) {
  UNZIPCMDSTRUCT cmd{};
  cmd.structSize = kUnzipCmdV170;
  cmd.Function = UNZIP_COUNTALLITEMS;
  cmd.lpszZIPFile = zip;
  cmd.lpszFilespec = "*.*";
  cmd.index = -1;
  cmd.lpszDestination = destination;
  cmd.noDirectoryNamesFlag = 1;
  cmd.recurseFlag = 1;
  cmd.noDirectoryItemsFlag = 1;
  cmd.wUnzipSubOptions = 0xC1;
  if (unzipCommand(&cmd) != 0) {
    show_message_box(nullptr, count_failure, "Backup Error", kOneButton);
    return false;
  }
  cmd.Function = UNZIP_EXTRACT;
  const int r = unzipCommand(&cmd);
  platform::debug_printf("unzip %s: %d\n", zip, r);
  if (r != 0) show_message_box(nullptr, failure, "Backup Error", kOneButton);
  return r == 0;
}

void set_zip_library_calls(const ZipLibraryCalls* calls) { g_calls = calls ? calls : &kLibrary; }

int zip_library_start() {
  // The library has no window of its own here: its questions come on the
  // instrument's screen, so the window stays as it is.
  set_message_box(library_message_box);
  set_unzip_overwrite_dialog(library_overwrite);
  set_unzip_rename_dialog(library_rename);
  const ZipLibraryCalls& c = *g_calls;
  int step = 0;
  if (c.unzip_init(nullptr)) {
    step = 1;
    if (c.zip_init(nullptr)) {
      step = 2;
      if (c.unzip_attach()) {
        step = 3;
        if (c.zip_attach()) return 1;
      }
    }
  }
  // Undone in reverse from the step that failed.
  if (step >= 3) (void)c.zip_detach();
  if (step >= 2) (void)c.unzip_detach();
  if (step >= 1) (void)c.zip_term();
  (void)c.unzip_term();
  return 0;
}

void zip_library_stop() {
  const ZipLibraryCalls& c = *g_calls;
  (void)c.zip_detach();
  (void)c.unzip_detach();
  (void)c.zip_term();
  (void)c.unzip_term();
}

void floppy_backup_menu() {
  const ButtonRecord* table = floppy_backup_menu_buttons();
  draw_floppy_backup_menu();
  for (;;) {
    const int code = get_button_event(table);
    if (code < kBackupArchive || code > kExit) continue;
    wait_button_release(table);
    if (code == kExit) return;
    if (confirm_are_you_sure()) {
      switch (code) {
        case kBackupArchive: backup_screen(); break;
        case kRestoreArchive: restore_screen(); break;
        case kBackupConfig:
          if (zip_library_start()) {
            backup_configuration();
            zip_library_stop();
          }
          break;
        case kRestoreConfig:
          if (zip_library_start()) {
            restore_configuration();
            zip_library_stop();
          }
          break;
      }
    }
    draw_floppy_backup_menu();
  }
}

}  // namespace vaslab

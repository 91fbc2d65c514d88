#include "vaslab/core/screens/main_menu.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/paths.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/links/module_link.h"
#include "vaslab/core/screens/setup_menus.h"
#include "vaslab/core/settings/module_table.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/main_window.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/core/toolkit/screen.h"

namespace vaslab {
namespace {

constexpr std::uint16_t kKeyEscape = 283, kKeyEnter = 269, kKeyF9 = 376, kKeyF10 = 377;
// Left edges of the worklist import button by start menu.
constexpr std::int16_t kImportLeft = 342, kImportLeftExitMenus = 276;

ButtonRecord g_start[] = {
    {kButtonShown, 502, 408, 637, 479, "Studies^main_start", kKeyEnter, kStartStudies, 13},
    {kButtonShown, 0, 408, 173, 479, "Exit to Windows^main_shut", 's', kStartExit, 0},
    {kButtonHidden, 0, 1, 1, 1, "NOT HERE", kKeyEscape, kStartEscape, 0},
    kButtonTableEnd,
};

// Entries without a label are reached by key or remote only: the key and
// remote look-ups do not ask for the state, and the ones that get shown lie
// off the screen, where no touch reaches them.
ButtonRecord g_menu[] = {
    {kButtonHidden, 0, 87, 215, 314, "Setup^menu_opt", 's', kMenuSetup, 0},
    {kButtonHidden, 0, 0, 0, 0, "", 'l', kMenuArchive, 0},
    {kButtonHidden, 424, 87, 635, 314, "Studies^menu_studies", kKeyEnter, kMenuStudies, 16},
    {kButtonHidden, 216, 87, 423, 314, "Temp Files^menu_temp", 'e', kMenuTempFiles, 13},
    {kButtonHidden, 700, 700, 700, 700, "", kKeyF10, 100, 19},
    {kButtonHidden, 700, 700, 700, 700, "", kKeyF9, 101, 20},
    {kButtonHidden, 0, 408, 171, 479, "Shutdown^glbl_exit", kKeyEscape, kMenuShutdown, 17},
    {kButtonHidden, 0, 408, 171, 479, "Shutdown^glbl_exit", kKeyEscape, kMenuShutdown, 0},
    {kButtonHidden, 700, 700, 700, 700, "", kKeyEscape, kMenuShutdown, 0},
    {kButtonHidden, 0, 408, 171, 479, "Shutdown^glbl_exit", kKeyF10, kMenuBackToStart, 0},
    {kButtonHidden, kImportLeft, 408, 454, 479, "Import^menu_import", 'i', kMenuImport, 0},
    {kButtonHidden, 0, 0, 0, 0, "", 'm', kMenuDisplay, 0},
    kButtonTableEnd,
};
constexpr int kModuleEntries = 4;
constexpr int kTempFilesEntry = 3;
constexpr int kTempFilesLeft = 216;
constexpr int kImportEntry = 10;

ButtonRecord g_import_error[] = {
    {kButtonShown, 270, 225, 370, 275, "OK", kKeyEnter, 1, 13},
    kButtonTableEnd,
};

bool module_ready() { return module_connection_state() == kModuleReady; }

void set_shown(int entry, bool shown) { g_menu[entry].state = shown ? kButtonShown : kButtonHidden; }

// The start menu setting as the menu uses it: 2 while the module is not
// ready, and anything but 1 to 4 as 0.
int effective_start_menu() {
  if (!module_ready()) return 2;
  const int sm = hardware_settings().start_menu;
  return sm >= 1 && sm <= 4 ? sm : 0;
}

void set_menu_visibility() {
  const int sm = effective_start_menu();
  for (int i = 0; i < kModuleEntries; ++i) {
    if (g_menu[i].label[0] != 0) set_shown(i, module_ready());
  }
  g_menu[kTempFilesEntry].x1 = static_cast<std::int16_t>(sm == 0 ? 457 : kTempFilesLeft);
  set_shown(4, sm == 0);
  set_shown(5, sm == 0);
  set_shown(6, sm == 2);
  set_shown(7, sm == 3);
  set_shown(8, sm == 4);
  set_shown(9, sm == 4);
  g_menu[kImportEntry].x1 = sm == 3 || sm == 4 ? kImportLeftExitMenus : kImportLeft;
  set_shown(kImportEntry, hardware_settings().import_control[0] != 0 && module_ready());
}

void write_state_number() {
  char text[8];
  std::snprintf(text, sizeof text, "%d", module_connection_state());
  draw_text_cells(text, 2, 77, kColorBlack, kColorWhite);
}

bool is_folder(const std::string& linux_path) {
  struct stat st {};
  return ::stat(linux_path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A folder of drive D: as one of the run's paths: a file of its name is
// replaced by the folder.  False when the folder cannot be had.
bool usb_folder(const char* win_path) {
  const std::string path = platform::map_path(win_path);
  if (is_folder(path)) return true;
  ::unlink(path.c_str());
  return platform::make_dirs(path) && is_folder(path);
}

// Files (not folders) in the temporary studies folder.
bool temp_files_present() {
  FileFind f;
  bool found = false;
  for (int r = find_first_file("c:\\data\\*.*", f, 0); r == 0 && !found; r = find_next_file(f))
    found = (f.data.attributes & platform::kAttrDirectory) == 0;
  find_close(f);
  return found;
}

void show_import_error() {
  fill_rect_color(0, 200, 640, 280, kColorBlack);
  g_draw.draw_color = kColorWhite;
  set_text_justify(kJustifyLeft, kJustifyTop);
  draw_text(20, 210, "ERR running import control.");
  draw_buttons(g_import_error);
  for (;;) {
    const int code = get_button_event(g_import_error);
    if (code == 1 || !is_event_loop_live()) break;
  }
  wait_button_release(g_import_error);
}

enum class MenuEnd { kQuit, kStartScreen };

struct MenuRun {
  bool import_armed = false;
};

// The worklist import (code 109); true when the study menu should open for
// the patient that came in.
bool run_import(MenuRun& run) {
  run.import_armed = false;
  const auto import_patient = module_table().import_worklist_patient;
  const int got = import_patient != nullptr ? import_patient() : 0;
  if (got < 0) show_import_error();
  return got > 0 && (hardware_settings().import_code & 8) != 0;
}

MenuEnd main_menu_loop(MenuRun& run) {
  for (;;) {
    if (g_pending_display_switch && module_ready()) {
      g_pending_display_switch = 0;
      toggle_display_mode();
      draw_main_menu();
    }
    const bool connecting = !module_ready() && module_connection_state() != kModuleUpdateFailed;
    // The connection reads the module's answers between passes.
    keep_passes_short(connecting);
    int code = get_button_event(g_menu);
    if (connecting) {
      write_state_number();
      step_module_connection();
      if (module_connection_state() == kModuleUpdateFailed)
        show_message_box(nullptr, firmware_update_fault().c_str(), "Module Firmware", 0);
      if (module_ready() || module_connection_state() == kModuleUpdateFailed) draw_main_menu();
    }
    if (run.import_armed && module_ready() && code != kMenuShutdown) code = kMenuImport;
    if (code < kMenuSetup || code > kMenuImport) continue;
    wait_button_release(g_menu);
    const bool ready = module_ready();
    switch (code) {
      case kMenuSetup:
        if (!ready) break;
        release_background();
        if (run_setup_menu() != 0) {
          wait_button_release(g_start);
          drain_button_events(g_start);
          return MenuEnd::kQuit;
        }
        draw_main_menu();
        break;
      case kMenuImport:
        if (!ready) break;
        if (!run_import(run)) {
          draw_main_menu();
          break;
        }
        [[fallthrough]];
      case kMenuStudies:
        if (!ready) break;
        run_menu_module(4);
        connect_module();
        draw_main_menu();
        break;
      case kMenuTempFiles:
        if (!ready) break;
        run_menu_module(10);
        connect_module();
        draw_main_menu();
        break;
      case kMenuArchive:
        if (!ready) break;
        run_menu_module(6);
        draw_main_menu();
        break;
      case kMenuShutdown: return MenuEnd::kQuit;
      case kMenuBackToStart: {
        drain_button_events(g_menu);
        const char* dir = hardware_settings().data_directory;
        if (temp_files_present() && (dir[0] == 'C' || dir[0] == 'c') &&
            show_message_box(nullptr,
                             "Exiting will delete Temporary Files.\rPress CANCEL to abort.\rPress OK to delete and exit",
                             "Exit with Temp. Files", kMbOkCancel) != kMbOk) {
          draw_main_menu();
          break;
        }
        if (const auto purge = module_table().purge_work_dirs) purge();
        return MenuEnd::kStartScreen;
      }
      case kMenuDisplay:
        toggle_display_mode();
        draw_main_menu();
        break;
      default: break;
    }
  }
}

}  // namespace

void set_module_buttons_shown(bool shown) {
  for (int i = 0; i < kModuleEntries; ++i)
    if (g_menu[i].label[0] != 0) set_shown(i, shown);
}

void draw_main_menu() {
  load_background("menu_bkgd");
  set_colors(0x0710);
  clear_screen();
  draw_screen_title("Main Menu");
  draw_text_cells("Vascular:", 2, 68, kColorBlack, kColorWhite);
  if (module_ready()) draw_text_cells("OK", 2, 77, kColorBlack, kColorGreen);
  set_menu_visibility();
  // Three exit entries share one rectangle: a hidden one drawn after the
  // shown one would blank it.  The keyed entries without a label are not
  // drawn at all, whatever their state.
  for (const ButtonRecord* b = g_menu; !is_table_end(*b); ++b)
    if (b->state == kButtonShown && b->label[0] != 0) draw_button_normal(*b);
}

void check_usb_drive() {
  HardwareSettings& hw = hardware_settings();
  std::snprintf(hw.data_directory, sizeof hw.data_directory, "%s", "C:\\DATA\\");
  std::snprintf(hw.export_path_1, sizeof hw.export_path_1, "%s", "D:\\");
  while (!platform::drive_present('D')) {
    const int answer = show_message_box(nullptr,
                                        "Press Cancel to continue with temporary\rstorage or connect USB drive and "
                                        "press\rRetry.  Make sure you have given it\renough time to be recognized by "
                                        "VYRO,\rand you have only one connected to VYRO.",
                                        "USB Drive not found", kMbRetryCancel);
    if (answer != kMbRetry) return;
  }
  if (usb_folder("D:\\ZUDIDUDA"))
    std::snprintf(hw.data_directory, sizeof hw.data_directory, "%s", "D:\\ZUDIDUDA\\");
  else
    show_message_box(nullptr, "Could not create path on drive D.\rContinuing without permanant storage.",
                     "USB Directory Error", 0);
  if (usb_folder("D:\\VIVOVEV"))
    std::snprintf(hw.export_path_1, sizeof hw.export_path_1, "%s", "D:\\VIVOVEV\\");
  else
    show_message_box(nullptr, "Could not create path on drive D.\rUnable to save PDF files.",
                     "USB PDF Directory Error", 0);
}

int run_main_menu() {
  for (;;) {
    if (g_pending_display_switch) {
      g_pending_display_switch = 0;
      toggle_display_mode();
    }
    load_background("main_bkgd_1100");
    set_colors(0x0710);
    clear_screen();
    check_usb_drive();
    clear_screen();
    draw_buttons(g_start);

    int code = kNoEvent;
    while (code < 0) code = get_button_event(g_start);
    wait_button_release(g_start);
    drain_button_events(g_start);
    if (code != kStartStudies) return code == kStartExit ? 1 : 0;

    if (hardware_settings().vascular_module_present && load_firmware_image() == 0) {
      show_message_box(nullptr, firmware_image_fault().c_str(), "Module Firmware", 0);
      return 0;
    }

    get_button_event(g_menu);  // makes the menu's table the current one
    call_worklist_control(-4, nullptr, kWorklistBufferSize);
    MenuRun run;
    run.import_armed = (hardware_settings().import_code & 4) != 0;
    draw_main_menu();
    const MenuEnd end = main_menu_loop(run);
    keep_passes_short(false);
    if (end == MenuEnd::kQuit) return 0;
  }
}

}  // namespace vaslab

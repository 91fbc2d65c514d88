// The start screen and the main menu: the workstation's outermost screens.
// The start screen looks for the USB drive each time it is shown; its
// studies button enters the main menu, which connects the measuring module
// (one step of the connection per pass of its loop) and opens the studies,
// the temporary files, the archive and the set-up menus.
#pragma once

namespace vaslab {

// Runs the start screen and the main menu until the program is to end:
// 1 when the start screen's exit button ended it, 0 otherwise.
int run_main_menu();

// Shows or hides the menu entries that need the measuring module (the
// first four of the main menu); the module connection decides.
void set_module_buttons_shown(bool shown);

// Draws the main menu as the module state and the start menu setting say.
void draw_main_menu();

// Points the data directory at "D:\ZUDIDUDA\" and export path 1 at
// "D:\VIVOVEV\" when drive D: is there (created when missing); otherwise,
// once the operator gave up waiting for it, "C:\DATA\" and "D:\".
void check_usb_drive();

// The codes of the start screen and of the main menu (tests).
constexpr int kStartStudies = 105;
constexpr int kStartExit = 107;
constexpr int kStartEscape = 106;
constexpr int kMenuSetup = 102;
constexpr int kMenuStudies = 103;
constexpr int kMenuTempFiles = 104;
constexpr int kMenuArchive = 105;
constexpr int kMenuShutdown = 106;
constexpr int kMenuBackToStart = 107;
constexpr int kMenuDisplay = 108;
constexpr int kMenuImport = 109;

}  // namespace vaslab

// The drawing that the Backup Archive and Restore Archive screens share: the
// frame with the drive, the message panel, the two progress bars and the
// panels of their questions.
#pragma once

#include <cstdint>
#include <vector>
#include <string>

#include "vaslab/core/toolkit/buttons.h"

namespace vaslab {

// Key and remote codes of the two screens' tables.
constexpr std::uint16_t kBackupKeyEnter = 269;
constexpr std::uint16_t kBackupKeyEscape = 283;
constexpr std::uint16_t kBackupKeyLeft = 293;
constexpr std::uint16_t kBackupKeyUp = 294;
constexpr std::uint16_t kBackupKeyRight = 295;
constexpr std::uint16_t kBackupKeyDown = 296;
constexpr std::uint8_t kBackupRemoteEnter = 13;
constexpr std::uint8_t kBackupRemoteExit = 17;

// The buttons both screens have besides their own Start: the drive arrows
// and Exit, with the codes they give.
constexpr int kBackupExitCode = 1, kBackupDriveDownCode = 101, kBackupDriveUpCode = 102;
inline constexpr ButtonRecord kDriveDownButton{kButtonShown, 50, 80, 90, 120, "\x1b", kBackupKeyLeft,
                                               kBackupDriveDownCode, 0};
inline constexpr ButtonRecord kDriveUpButton{kButtonShown, 190, 80, 230, 120, "\x1a", kBackupKeyRight,
                                             kBackupDriveUpCode, 0};
inline constexpr ButtonRecord kBackupExitButton{kButtonShown, 330, 410, 610, 460, "Exit", kBackupKeyEscape,
                                                kBackupExitCode, kBackupRemoteExit};

// Start (or Continue) in both tables.
constexpr int kBackupStartCode = 100;

// One pass of either screen's loop: keeps the passes short while
// `working` (one step of work a pass), then the next button code.  A
// release is passed over as -1 (no event); Exit, Start and the drive
// arrows, whose auto-repeat comes as their own code, return after their
// release.
int next_screen_code(ButtonRecord* table, bool working);
// The drive after an arrow (`direction` -1 or +1): A to Z round, over C.
char next_drive(char drive, int direction);

// The message panel's two lines, split at the first line break, each at most
// 40 characters; with `blank_controls` characters outside 32-126 show as
// blanks.
struct MessageLines {
  char first[41] = "";
  char second[41] = "";
  bool empty() const { return first[0] == 0 && second[0] == 0; }
};
MessageLines split_message(const char* text, bool blank_controls);

// Title, the drive letter in its frame with its caption, and the dividing
// lines, on a cleared screen.
void draw_drive_frame(const char* title, const char* drive_caption, char drive);
void draw_message_panel(const MessageLines& m);

// The phase bar (upper) and the total bar (lower); `last` keeps each bar's
// drawn width so that only a bar that shrank is cleared first.
struct BarWidths {
  int phase = -1;
  int total = -1;
};
void draw_progress_bar(bool upper, int percent, int& last_width);
// A text row of the progress area (column 33) or any cell row.
void draw_progress_text(int row, const char* text);

// A question panel over the screen: its frame, one or two centred lines, and
// its buttons.
void draw_panel(int x1, int y1, int x2, int y2, const char* line1, int line1_y, const char* line2, int line2_y,
                ButtonRecord* table, bool small_text = false);
// The panel drawn; waits for one of `codes` and returns it after the release
// (`on_close` once the window is gone).
int run_panel(int x1, int y1, int x2, int y2, const char* line1, int line1_y, const char* line2, int line2_y,
              ButtonRecord* table, const std::vector<int>& codes, int on_close, bool small_text = false);

// A question with a row of buttons at y 330-380 (in `table`): the panel
// above them shows the title and the whole text, wrapped at words, and grows
// upwards as far as the screen allows.  Waits as run_panel.
int run_question_panel(const char* title, const char* text, ButtonRecord* table, const std::vector<int>& codes,
                       int on_close);

// Free bytes of a drive for a backup: (free clusters - 1) times the cluster
// size; for any drive but C: no more than C:'s free space less 10,000,000.
// 0 when it cannot be asked.
std::int64_t backup_free_space(char drive);
// Tests: the free bytes of a drive as the file system would say (nullptr
// restores the real query).
void set_backup_free_space_source(std::int64_t (*source)(char drive));

// "X:\" style texts.
std::string drive_path(char drive, const char* rest);
// The backup file of a diskette: "X:\ZVT_0001.ZIP" for disk 1.
std::string backup_file_path(char drive, int disk);

}  // namespace vaslab

// Small services the instrument's former DOS programs took from the PC's
// firmware and run-time library: tick timers, two words of the old BIOS data
// area, file search with attribute filtering and 8.3 names, the date as text,
// delays, a single warning beep, the press position, and the launcher through
// which the menus start their modules and two outside programs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/find.h"

namespace vaslab {

// --- Tick timers: slots 0 to 4 -------------------------------------------
constexpr int kTickPeriodic = 1;
constexpr int kTickOneShot = 2;
// Slot 1: module connection and screen refresh; 2: keypad debounce;
// 3: reindexing (polling it also pumps the window messages).
void start_tick_timer(int slot, std::uint32_t period_ms, int mode);
// 1 when the period has run out (a one-shot slot then switches off, a
// periodic one moves its start on by exactly one period), when the slot is
// off or out of range, or when the event loop is dead; else 0.
int tick_timer_expired(int slot);
void reset_tick_timers();
// Milliseconds until the next running slot's period runs out, at most
// `max_ms`: a wait for input must not outlast it.  Slots already run out
// and not yet taken are left out.
std::uint32_t until_next_tick_timer(std::uint32_t max_ms);

// --- The emulated BIOS data area ------------------------------------------
constexpr int kKeyboardFlagsAddress = 1047;  // bit 0x40: Caps Lock
constexpr int kStepSlot = 1264;              // word modules leave their step in
int read_caps_lock();
int peek_keyboard_flags(int segment, int address);
void poke_keyboard_flags(int segment, int address, int value);
void toggle_caps_lock();
// The event wait calls this on every Caps Lock key-down.
void caps_lock_key_pressed();
void poke_comm_area_word(int segment, int address, int value);
std::uint16_t peek_comm_area_word(int segment, int address);

// --- File search -------------------------------------------------------------
struct FileFind {
  int handle = -1;                 // -1: no search
  std::uint32_t attribute_mask = 0;
  platform::FoundFile data;        // the last entry found, full name included
  char name[13] = {};              // the name cut to 8.3 length
  std::vector<platform::FoundFile> entries;
  std::size_t next = 0;
};
// 0 when an entry was found, 1 when none.
int find_first_file(const std::string& pattern, FileFind& f, std::uint32_t attribute_mask);
int find_next_file(FileFind& f);
void find_close(FileFind& f);

// --- Time, delay, beep, pointer -----------------------------------------
// "MM/dd/yyyy hh:mm tt" in local time; `buf` holds at least 22 bytes.
void format_now_date_time(char* buf);
// The same for a given time (seconds since 1970).
void format_date_time(std::int64_t when, char* buf);
void delay_ms(std::int16_t ms);
void beep_once();
void clear_beep_latch();
// y * 65536 + x of the current press (640 by 480 space), 0 without one.
std::int32_t get_pointer_position();

// --- Module launcher ---------------------------------------------------------
// Runs what the menu code names and returns its 16-bit result.
int run_menu_module(int code);

}  // namespace vaslab

// Compressor progress: per-item (minor) and overall (major) status to the
// host's callbacks or to the outside progress program, cancel polling, the
// message pump, and the diagnostic and item logs.
#pragma once

#include "ziplib/ziplib.h"

#include <cstdint>
#include <string>

namespace ziplib {

struct ZipState;

// Percentages as reported: minor is done*100/total (64-bit), major uses
// done/(total/100) above 100,000 so the product cannot overflow; both capped
// at 100 and 0 for a total of 0.
int minor_percent(std::uint64_t total, std::uint64_t done);
int major_percent(std::int32_t total, std::int32_t done);

void zip_minor_status(ZipState& s, const char* text, std::uint64_t total, std::uint64_t done);
// Non-zero asks the caller to cancel (error 9).
int zip_major_status(ZipState& s, const char* text, std::int32_t total, std::int32_t done);
// The cancel flag, re-asking the host now and then.
bool zip_poll_cancel(ZipState& s);
// Handles the thread's waiting window messages unless wZipSubOptions bit 14.
void zip_pump(ZipState& s);

// The host's message pump; the default does nothing (this library owns no
// windows).  Tests install a counter.
void set_message_pump(void (*pump)());
// Runs the host's message pump once (the decompressor shares it).
void zip_run_pump();

// The outside progress program.  The default hook finds no program ("not
// started"), so the operation goes on without it.
class ProgressProgram {
 public:
  virtual ~ProgressProgram() = default;
  // Starts the program with its command line; true when it shows a window.
  virtual bool start(const std::string& command_line) = 0;
  // Sends one 356-byte packet (dwData 1 minor, 0 major); the program's reply.
  virtual int send(int kind, const unsigned char* packet, std::size_t size) = 0;
  virtual void close() = 0;
};
void set_progress_program(ProgressProgram* program);  // nullptr: none
// The one program serves both halves: started with a half's own command
// line (true when it shows a window), sent a status packet (its reply),
// closed.
bool zip_progress_program_start(const std::string& command_line);
int zip_progress_program_send(int kind, const std::string& text, int percent);
void zip_progress_program_close();
// Starts it for the current operation (wZipSubOptions bit 2) / closes it.
void zip_start_progress_program(ZipState& s);
void zip_close_progress_program(ZipState& s);

// The Windows directory that holds the logs ("C:\WINDOWS" by default).
void set_windows_directory(const std::string& win_dir);
// Full Windows path of a log name: a name with ':' second or starting with
// "\\" is kept, otherwise it goes in the Windows directory.
std::string zip_log_path(const std::string& name);
// Opens a log by its table name for appending (-1 when it cannot be) and
// appends text to it; the decompressor's logs go the same way.
int zip_open_log(const std::string& name);
void zip_log_append(int fd, const std::string& text);
// "mm/dd/yy" and "hh:mm:ss" of the local time now.
void zip_log_now(std::string* date, std::string* time);

// Diagnostic log: the record of this call, each field that lies within
// `size` bytes (zip_field_within), and later error reports.
void zip_log_command(ZipState& s, const ZIPCMDSTRUCT& cmd, std::int32_t size);
void zip_log_text(ZipState& s, const std::string& text);
// Item log (wZipSubOptions bit 8): header line at the start of each call,
// then one line per item.
void zip_item_log_header(ZipState& s);
void zip_item_log(ZipState& s, const std::string& line);
void zip_close_item_log(ZipState& s);

}  // namespace ziplib

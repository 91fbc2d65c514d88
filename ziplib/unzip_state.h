// The decompressor's per-thread state and the stages that work on it: the
// frame (checks, dispatch), messages and logs, the central-directory cache
// with item information and selection, and the extraction of one item.
#pragma once

#include "ziplib/unziplib.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ziplib {

constexpr std::size_t kUnzMsgSize = 2049;
constexpr std::size_t kUnzMaxPath = 2048;
constexpr const char* kUnzDefaultTitle = "Extract Progress";

// Record levels.
constexpr int kUnzLevel100 = 100, kUnzLevel110 = 200, kUnzLevel142 = 300, kUnzLevel170 = 500;

// Error codes of unzipCommand.
enum UnzipError : int {
  UZ_OK = 0, UZ_END = 2, UZ_FORM = 3, UZ_NOSTATE = 4, UZ_MEM = 5, UZ_NOTFOUND = 9,
  UZ_NONE = 11, UZ_SAMEVOL = 12, UZ_INDEX = 25, UZ_CREATE = 28, UZ_OPENARC = 29,
  UZ_CRC = 39, UZ_APPCANCEL = 40, UZ_METHOD = 42, UZ_KEY = 44, UZ_BUSY = 45, UZ_LABEL = 46,
  UZ_SYNTAX = 47, UZ_CANCEL = 48, UZ_SKIP = 49, UZ_DISKFULL = 50,
};

// The last disk's number when no end record has been seen: a directory read
// from the start of the first disk of a set.
constexpr std::uint32_t kUnzDiskUnknown = 0xFFFFFFFF;

// End-record facts; 64-bit values from a Zip64 end record where present.
struct EndInfo {
  std::uint32_t this_disk = 0;
  std::uint32_t cd_disk = 0;
  std::uint64_t entries_here = 0;
  std::uint64_t total = 0;
  std::uint64_t cd_size = 0;
  std::uint64_t cd_offset = 0;
  std::uint16_t comment_len = 0;
  std::uint64_t comment_pos = 0;  // in the last part
};

// A central header as the cache holds it, decoded.
struct CentralItem {
  std::uint16_t made_by = 0, needed = 0, flags = 0, method = 0, time = 0, date = 0;
  std::uint32_t crc = 0;
  std::uint64_t csize = 0, usize = 0, offset = 0;
  std::uint32_t disk = 0;
  std::uint32_t external = 0;
  std::string raw_name;  // as stored
  std::string name;      // converted to UTF-8
};

struct UnzipState {
  bool busy = false;
  int level = kUnzLevel170;
  UNZIPCMDSTRUCT cmd{};  // internal copy in the newest version
  ZINFO old_info{};      // current-layout stand-in for an older caller's record
  bool diagnostic = false, quiet = false;
  std::uint16_t options = 0;
  std::int32_t options2 = 0;
  bool overwrite = false;
  bool text_mode = false;
  bool cancel = false;

  // --- callbacks ---
  ZIPMESSAGEPROC message_proc = nullptr;
  void* message_data = nullptr;
  ZIPSTATUSPROC minor_proc = nullptr, major_proc = nullptr;
  void* minor_data = nullptr;
  void* major_data = nullptr;
  ZIPRENAMEPROC rename_proc = nullptr, rename_proc_ex = nullptr;
  void* rename_data = nullptr;
  ZIPDATAPROC data_proc = nullptr;
  void* data_user = nullptr;

  // --- paths ---
  std::string zip_path;     // Windows form of the archive (or the part being read)
  std::string base_path;    // the archive path as the caller named it
  std::string destination;  // with a trailing backslash
  std::string made_folder;  // the folder the extraction made last, there now
  std::string password;
  std::string title = kUnzDefaultTitle;

  // --- memory and callback modes ---
  bool memory_mode = false, callback_mode = false;
  std::uint64_t mem_size = 0, start_offset = 0;

  // --- archive ---
  int fd = -1;
  std::uint64_t file_size = 0;
  int current_disk = -1;
  bool split = false, multi_disk = false;
  // What one larger read of the open archive brought: the headers and data
  // of many small items in a row are served from it (see unzip_read_at).
  std::vector<std::uint8_t> ahead;
  std::uint64_t ahead_pos = 0;
  std::size_t ahead_len = 0;

  // --- central-directory cache ---
  std::vector<std::uint8_t> cache;
  std::vector<std::uint32_t> cache_index;
  std::string cache_path;
  std::uint64_t cache_size = 0;
  std::int64_t cache_mtime = 0;
  bool cache_valid = false;
  bool cache_placeholder = false;  // read without the end record: no totals, no comment
  EndInfo end;
  std::size_t next_item = 0;  // cursor of Functions 2 and 4

  // --- selection ---
  std::vector<std::string> patterns;

  // --- messages and logs ---
  char msg[3][kUnzMsgSize] = {};
  char reply[kUnzMsgSize] = {};
  int item_log_fd = -1;
  bool progress_running = false;  // the outside progress program shows a window

  // --- cipher ---
  std::uint32_t keys[3] = {};
};

UnzipState* unzip_current_state();

// --- messages, prompts, progress, logs ------------------------------------
const char* unzip_text(UnzipState& s, int id, int slot);
std::string unzip_error_text(UnzipState& s, int code);
int unzip_prompt(UnzipState& s, int type, int style, int n1, int n2, const char* text);
void unzip_error_display(UnzipState& s, int code, const char* detail);
// The status line of an item: text `id` with its name, put together only
// when the progress program or the host's minor status callback shows it
// (the text is looked up either way, as the host sees every lookup).
std::string unzip_status_text(UnzipState& s, int id, const std::string& name);
bool unzip_minor_status(UnzipState& s, const std::string& text, std::uint64_t total, std::uint64_t done);
// "Item n of total".
bool unzip_major_status(UnzipState& s, std::int32_t total, std::int32_t done);
void unzip_log_command(UnzipState& s, const UNZIPCMDSTRUCT& c);
void unzip_log_response(UnzipState& s, int code);
// A line of the item log: `format` with the item's name, put together only
// when the log is kept.
void unzip_item_log(UnzipState& s, const char* format, const std::string& name);
void unzip_close_item_log(UnzipState& s);
// The outside progress program for an extraction to files (option bit 2);
// without it status stays on the callbacks.
void unzip_start_progress_program(UnzipState& s);
void unzip_close_progress_program(UnzipState& s);
// The library's rename dialog: false when cancelled.
bool unzip_rename_dialog(UnzipState& s, const std::string& original, std::string* chosen);

// --- archive and directory -------------------------------------------------
// Opens s.zip_path; `keyed` notes its size and time as the cache's key and
// drops a cache of another state of the archive.
int unzip_open_archive(UnzipState& s, bool keyed = false);
void unzip_close_archive(UnzipState& s);
void unzip_drop_cache(UnzipState& s);
int unzip_read_directory(UnzipState& s);  // fills the cache if it is not current
bool unzip_item(const UnzipState& s, std::size_t i, CentralItem* out);
// Decodes a whole central header (46 bytes, name, extra, comment).
void unzip_parse_central(const UnzipState& s, const std::uint8_t* p, CentralItem* out);
std::size_t unzip_item_count(const UnzipState& s);
bool unzip_is_83(const std::string& name);
// Each part of a path cut to 8.3 (blanks and quotes dropped), for drives
// that hold no longer names.
std::string unzip_cut_83(const std::string& name);
// The workers of Functions 1 to 7.
int unzip_run_query(UnzipState& s);
// Patterns of lpszFilespec: 0 or 47.
int unzip_build_patterns(UnzipState& s);
// Index of the next item from `from` that the patterns select, or -1.
long unzip_next_match(UnzipState& s, std::size_t from);
// Freshen and update: whether the item's file may be written.
bool unzip_qualifies(UnzipState& s, const CentralItem& it);
// The path an item's file is written to, below the destination; *ok false
// (and nothing returned) for a name that would leave it.
std::string unzip_target_path(const UnzipState& s, const CentralItem& it, bool* ok);
// Reads from the part open now: the count read, short only at its end or on
// an error.
std::uint64_t unzip_read_at(UnzipState& s, std::uint64_t pos, void* out, std::uint64_t n);
// Opens the part that holds disk `disk` (0-based) of a multi-disk archive.
int unzip_open_disk(UnzipState& s, std::uint32_t disk);
// Split-part lookup: part n (1-based, 0 = last), total or -1; true when found.
bool unzip_find_part(UnzipState& s, int n, int total);

// Reads an archive from a disk and position on, across the parts of a
// multi-disk archive.
struct PartReader {
  PartReader(UnzipState& state, std::uint32_t disk, std::uint64_t pos, std::size_t size)
      : s(state), disk(disk), pos(pos), buf(size) {}
  bool read(std::uint8_t* out, std::size_t n);           // exactly n
  std::uint8_t* some(std::size_t max, std::size_t* got);  // the next run, 0 at the end
  UnzipState& s;
  std::uint32_t disk;
  std::uint64_t pos;
  std::vector<std::uint8_t> buf;
  std::size_t have = 0, at = 0;

 private:
  bool fill();
};

// --- extraction -------------------------------------------------------------
int unzip_extract(UnzipState& s);        // Functions 8, 9, 11
int unzip_callback_mode(UnzipState& s);  // Function 10

}  // namespace ziplib

// The compressor's per-thread state and its frame: the life cycle behind
// zipInit/zipAttachThread/zipDetachThread/zipTerm, and the command record's
// versions and checks in zipCompress.
//
// Every stage of the compressor (messages, progress, writer, encoders, and the
// operation driver) works on the calling thread's ZipState.  The host never
// sees inside it.
#pragma once

#include "ziplib/ziplib.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ziplib {

struct ZipState;

constexpr int kMessageBufferSize = 2049;  // 2,048 characters and a NUL
constexpr std::size_t kMaxPath = 2048;
constexpr std::size_t kMaxTitle = 299;
constexpr const char* kDefaultTitle = "Compress Progress";
constexpr const char* kDefaultStoreSuffixes = ".Z:.zip:.zoo:.arc:.lzh:.arj";

// wZipSubOptions bits.
constexpr std::uint16_t kSubRelativeNames = 0x0001;
constexpr std::uint16_t kSubMinorCancels = 0x0002;
constexpr std::uint16_t kSubProgressProgram = 0x0004;
constexpr std::uint16_t kSubProgressSwitchC = 0x0008;
constexpr std::uint16_t kSubSkipNon83 = 0x0010;
constexpr std::uint16_t kSubCut83 = 0x0020;
constexpr std::uint16_t kSubTestOpen = 0x0040;
constexpr std::uint16_t kSubAnyTarget = 0x0080;
constexpr std::uint16_t kSubItemLog = 0x0100;
constexpr std::uint16_t kSubArchiveBitOnly = 0x0200;
constexpr std::uint16_t kSubClearArchiveBit = 0x0400;
constexpr std::uint16_t kSubHostNtfs = 0x0800;
constexpr std::uint16_t kSubNeedsCallback = 0x1000;
constexpr std::uint16_t kSubRenameWhileCollecting = 0x2000;
constexpr std::uint16_t kSubNoPump = 0x4000;
constexpr std::uint16_t kSubNoLookup = 0x8000;

// wMultiVolControl bits.
constexpr std::uint16_t kMvFormat = 0x0001;
constexpr std::uint16_t kMvLowDensity = 0x0002;
constexpr std::uint16_t kMvWipe = 0x0100;
constexpr std::uint16_t kMvWipeAll = 0x0200;
constexpr std::uint16_t kMvWipeClearAttrs = 0x0400;
constexpr std::uint16_t kMvDirectoryFirst = 0x1000;
constexpr std::uint16_t kMvSizes64 = 0x2000;
constexpr std::uint16_t kMvSplit = 0x4000;
constexpr std::uint16_t kMvMulti = 0x8000;

// Whether field n (1-based, in the record's order) lies inside a record of
// `size` bytes, measured in the layout whose byte sizes name the versions
// (32-bit fields, the two option words 16-bit).  A record of unknown size is
// read only this far.
constexpr bool zip_field_within(int n, std::int32_t size) {
  const int end = n <= 39 ? 4 * n : n == 40 ? 158 : 160 + 4 * (n - 41);
  return end <= size;
}

// Record levels: how far callback answers are honoured.
constexpr int kLevel148 = 100;
constexpr int kLevel160 = 200;
constexpr int kLevel188 = 300;
constexpr int kLevel220 = 500;

// Where the volume layer keeps a multi-volume archive; it owns these
// decisions, the data writer only asks.  Tests install a fake.
class VolumeLayer {
 public:
  virtual ~VolumeLayer() = default;
  // Makes room for `count` bytes on the current spanned disk (all ones forces
  // a change of disk): 0, 9 (cancelled) or 19 (disk unusable).
  virtual int write_volume(ZipState& s, std::uint64_t count) = 0;
  // Free bytes of the current spanned disk.
  virtual std::uint64_t disk_free(ZipState& s) = 0;
  // Room left in the current split part or staging file.
  virtual std::uint64_t free_room(ZipState& s) = 0;
  // Closes the current part and opens the next: 0, 4, 9 or 10.
  virtual int next_part(ZipState& s) = 0;
  // Starts a new set before anything is written: the first disk asked for
  // and prepared, or old parts of the same name removed.  0, 3, 9 or 19.
  virtual int start_set(ZipState& s) {
    (void)s;
    return 0;
  }
  // Central directory at the start of the first volume: after the last
  // entry, closes the output and opens the first volume again at its start
  // once a central header naming `first_name` (as stored) stands there,
  // asking for the disk as needed; the writes that follow are the rewrite
  // pass (ZipState::rewrite_pass).  0, 9 or 19.
  virtual int reopen_first(ZipState& s, const std::string& first_name) {
    (void)s, (void)first_name;
    return ZE_MEDIA;
  }
  // After the end record: closes the last volume or part and puts the set
  // in place (split: the last part takes the archive's name and is reported
  // ready).  0, 9, 10 or 19.
  virtual int finish(ZipState& s) {
    (void)s;
    return ZE_MEDIA;
  }
};

// Input of an entry: fills up to `size` bytes, 0 at the end.
using ZipReader = std::size_t (*)(unsigned char* buffer, std::size_t size, ZipState& s);

struct DeflateWork;  // encoder work areas (deflate.cpp)
struct DeflateWorkDeleter {
  void operator()(DeflateWork* w) const;
};
struct ArchiveWork;  // the archive being updated (zip_archive.h)
struct ArchiveWorkDeleter {
  void operator()(ArchiveWork* w) const;
};

struct ZipState {
  // --- call frame ---
  bool busy = false;
  int error = 0;          // error code of the running operation
  int report_count = 0;   // reports made in it; only the first counts
  bool cancel = false;
  int record_level = kLevel220;
  bool diagnostic = false;
  bool quiet = false;
  int internal_mode = 1;  // 0 delete, 1 add, 2 update, 3 freshen
  ZIPCMDSTRUCT cmd{};     // the internal copy of the caller's record

  // --- host callbacks ---
  ZIPMESSAGEPROC message_proc = nullptr;
  void* message_data = nullptr;
  ZIPSTATUSPROC major_proc = nullptr;
  void* major_data = nullptr;
  ZIPSTATUSPROC minor_proc = nullptr;
  void* minor_data = nullptr;
  ZIPRENAMEPROC rename_proc = nullptr;
  ZIPRENAMEPROC rename_proc_ex = nullptr;
  void* rename_data = nullptr;
  ZIPDATAPROC data_proc = nullptr;
  void* data_user = nullptr;

  // --- progress ---
  std::string title = kDefaultTitle;
  std::string last_minor;
  std::string last_major;
  int minor_percent = 0;
  int major_percent = 0;
  int item_counter = 1;
  bool progress_running = false;  // the outside progress program shows a window
  int poll_countdown = 0;
  bool poll_throttle = false;

  // --- messages ---
  char msg[3][kMessageBufferSize] = {};
  char msg_scratch[kMessageBufferSize] = {};

  // --- logs ---
  int item_log_fd = -1;

  // --- paths and option bits ---
  std::string zip_path;     // Windows form, quotes dropped, '\' separators
  std::string current_dir;  // noted at the start of each call
  std::string temp_path;    // spanning staging file or first split part
  int temp_fd = -1;
  std::uint16_t multi_vol = 0;
  std::uint16_t sub_options = 0;
  std::int32_t sub_options2 = 0;
  bool minor_cancels = false;
  bool no_pump = false;
  bool large_files = false;
  bool relative_names = false;

  // --- operation options (reset before every operation) ---
  int method = -1;  // -1 default (Deflate unless stored), 0 stored, 9 Deflate64
  int comp_level = 6;
  std::string store_suffixes = kDefaultStoreSuffixes;

  // --- input ---
  bool memory_input = false;
  bool callback_input = false;
  std::uint64_t mem_size = 0;
  std::uint64_t mem_pos = 0;
  ZipReader reader = nullptr;
  void* reader_context = nullptr;  // for the reader's own use

  // --- output ---
  int out_fd = -1;               // archive, part or staging file
  bool memory_output = false;    // output goes to the data callback
  std::uint64_t out_position = 0;   // bytes handed to the data callback
  std::uint64_t volume_offset = 0;  // bytes written on the current volume
  std::uint32_t current_disk = 0;   // 0-based; kept by the volume layer
  bool rewrite_pass = false;        // rewriting the directory at the set's start
  VolumeLayer* volumes = nullptr;
  // A small entry's local header and data, held back so that the header goes
  // out once, with its final values and in one write with the data.
  std::vector<std::uint8_t> held;
  bool holding = false;

  // --- volumes (zip_volume.cpp) ---
  std::vector<std::uint64_t> part_sizes;  // the caller's, without the ending zero
  std::uint64_t part_limit = 0;           // of the current part or disk
  std::uint32_t parts_closed = 0;
  bool long_part_names = false;  // parts named "name.zip.z01"
  bool disk_ready = false;       // a disk of the set holds the archive file
  std::string last_part;         // directory first: the part written last
  int volume_error = 0;          // why the last data write fell short, when a volume change failed

  // --- encryption ---
  std::uint32_t keys[3] = {};
  std::string password;
  bool encrypt_entry = false;  // the per-entry switch

  // --- encoders ---
  std::unique_ptr<DeflateWork, DeflateWorkDeleter> deflate;

  // --- archive: entry list (kept between calls), found files, options ---
  std::unique_ptr<ArchiveWork, ArchiveWorkDeleter> archive;
};

// The calling thread's state, or nullptr when it is not attached.
ZipState* zip_current_state();

// The stages zipCompress hands the work to once its checks pass: the archive
// operations (Functions 1-5 and 7) and memory-to-memory compression
// (Function 6).  Each returns the operation's error code.
struct OperationStages {
  int (*run_operation)(ZipState& s);
  int (*run_memory)(ZipState& s);
};
// Installs other stages (tests); nullptr restores the library's own.
void set_operation_stages(const OperationStages* stages);

}  // namespace ziplib

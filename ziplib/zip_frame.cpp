// The compressor's call frame: the thread life cycle and zipCompress's checks
// around each operation.
//
// Calls run one way: records (zip_records.cpp) < volumes (zip_volume.cpp) <
// frame (here).  The frame calls down into both and neither calls it; it
// hands the records their volumes as ZipState::volumes.  Likewise messages
// (zip_messages.cpp) < progress (zip_progress.cpp) < frame: the frame hands
// the messages the thread's state, the pump and the diagnostic log.
#include "platform/file_io.h"
#include "platform/find.h"
#include "platform/paths.h"
#include "ziplib/deflate.h"
#include "ziplib/zip_archive.h"
#include "ziplib/zip_messages.h"
#include "ziplib/zip_progress.h"
#include "ziplib/zip_state.h"
#include "ziplib/zip_volume.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <new>
#include <vector>

namespace ziplib {
namespace {

std::atomic<bool> g_started{false};
// Counts the library's stops: a thread's state from before the last zipTerm
// is no longer its attachment.
std::atomic<unsigned> g_term_count{0};
void* g_module = nullptr;

void free_state(ZipState* s) {
  zip_release_encoders(*s);
  zip_close_item_log(*s);
  delete s;
}

// This thread's state; freed when the thread ends.
struct Slot {
  ZipState* state = nullptr;
  unsigned term_count = 0;  // g_term_count when it was attached
  ~Slot() {
    if (state) free_state(state);
  }
  void drop() {
    free_state(state);
    state = nullptr;
  }
};
thread_local Slot t_slot;

// The calling thread's attachment.  A state left from before zipTerm is
// freed on the thread's next call, unless a call of that thread still runs
// on it (zipTerm from inside a callback), which frees it later.
ZipState* live_state() {
  if (t_slot.state && (!g_started || t_slot.term_count != g_term_count) && !t_slot.state->busy) t_slot.drop();
  if (t_slot.state && g_started && t_slot.term_count == g_term_count) return t_slot.state;
  return nullptr;
}

const OperationStages kOwnStages = {zip_run_operation, zip_run_memory};
const OperationStages* g_stages = &kOwnStages;

int record_level(std::int32_t size) {
  switch (size) {
    case kZipCmdV148: return kLevel148;
    case kZipCmdV160: return kLevel160;
    case kZipCmdV188: return kLevel188;
    default: return kLevel220;
  }
}

// Copies the caller's record into the newest version, field by field as far
// as the caller's version reaches; later fields stay zero.
bool convert_record(const ZIPCMDSTRUCT& in, ZIPCMDSTRUCT& out) {
  out = ZIPCMDSTRUCT{};
  switch (in.structSize) {
    case kZipCmdV220:
      out.LargeZIPFilesFlag = in.LargeZIPFilesFlag;
      out.pulFileSizeArray = in.pulFileSizeArray;
      out.lZipSubOptions2 = in.lZipSubOptions2;
      out.lMemBlockSizeH = in.lMemBlockSizeH;
      out.lpRenameProcEX = in.lpRenameProcEX;
      out.lResv6 = in.lResv6;
      out.lResv7 = in.lResv7;
      out.lResv8 = in.lResv8;
      [[fallthrough]];
    case kZipCmdV188:
      out.lpCallbackStruct = in.lpCallbackStruct;
      out.lResv2 = in.lResv2;
      out.lpRenameProc = in.lpRenameProc;
      out.lpRenameUserData = in.lpRenameUserData;
      out.lpszExtProgTitle = in.lpszExtProgTitle;
      out.lpMemBlock = in.lpMemBlock;
      out.lMemBlockSize = in.lMemBlockSize;
      [[fallthrough]];
    case kZipCmdV160:
      out.lpMessageDisplay = in.lpMessageDisplay;
      out.lpMessageDisplayData = in.lpMessageDisplayData;
      out.wMultiVolControl = in.wMultiVolControl;
      out.wZipSubOptions = in.wZipSubOptions;
      [[fallthrough]];
    case kZipCmdV148:
      out.structSize = in.structSize;
      out.Function = in.Function;
      out.lpszZIPFile = in.lpszZIPFile;
      out.lpszItemList = in.lpszItemList;
      out.lpMajorStatus = in.lpMajorStatus;
      out.lpMajorUserData = in.lpMajorUserData;
      out.lpMinorStatus = in.lpMinorStatus;
      out.lpMinorUserData = in.lpMinorUserData;
      out.dosifyFlag = in.dosifyFlag;
      out.recurseFlag = in.recurseFlag;
      out.compFactor = in.compFactor;
      out.quietFlag = in.quietFlag;
      out.pathForTempFlag = in.pathForTempFlag;
      out.lpszTempPath = in.lpszTempPath;
      out.fixFlag = in.fixFlag;
      out.fixHarderFlag = in.fixHarderFlag;
      out.includeVolumeFlag = in.includeVolumeFlag;
      out.deleteOriginalFlag = in.deleteOriginalFlag;
      out.growExistingFlag = in.growExistingFlag;
      out.noDirectoryNamesFlag = in.noDirectoryNamesFlag;
      out.convertLFtoCRLFFlag = in.convertLFtoCRLFFlag;
      out.addCommentFlag = in.addCommentFlag;
      out.lpszComment = in.lpszComment;
      out.afterDateFlag = in.afterDateFlag;
      out.lpszDate = in.lpszDate;
      out.oldAsLatestFlag = in.oldAsLatestFlag;
      out.includeOnlyFollowingFlag = in.includeOnlyFollowingFlag;
      out.lpszIncludeFollowing = in.lpszIncludeFollowing;
      out.excludeFollowingFlag = in.excludeFollowingFlag;
      out.lpszExludeFollowing = in.lpszExludeFollowing;
      out.noDirectoryEntriesFlag = in.noDirectoryEntriesFlag;
      out.includeSysHiddenFlag = in.includeSysHiddenFlag;
      out.dontCompressTheseSuffixesFlag = in.dontCompressTheseSuffixesFlag;
      out.lpszStoreSuffixes = in.lpszStoreSuffixes;
      out.diagnosticFlag = in.diagnosticFlag;
      out.encryptFlag = in.encryptFlag;
      out.lpszEncryptCode = in.lpszEncryptCode;
      break;
    default:
      return false;
  }
  if (in.structSize == kZipCmdV148 || in.structSize == kZipCmdV160) out.lpszExtProgTitle = kDefaultTitle;
  return true;
}

std::string normalise_path(const char* p) {
  std::string out;
  for (; p && *p && out.size() < kMaxPath; ++p) {
    if (*p == '"') continue;
    out += *p == '/' ? '\\' : *p;
  }
  return out;
}

// Items separated by blanks; double quotes group a name with blanks.
std::vector<std::string> split_items(const char* list) {
  std::vector<std::string> items;
  std::string cur;
  bool quoted = false;
  for (const char* p = list ? list : ""; *p; ++p) {
    if (*p == '"') {
      quoted = !quoted;
    } else if (*p == ' ' && !quoted) {
      if (!cur.empty()) items.push_back(cur);
      cur.clear();
    } else {
      cur += *p;
    }
  }
  if (!cur.empty()) items.push_back(cur);
  return items;
}

void unlink_win(const std::string& win_path) { platform::file_delete(win_path); }

}  // namespace

ZipState* zip_current_state() { return live_state(); }

namespace {
// The messages stand below the frame and the progress stage and call
// neither; they are handed what they need before main, so before any state.
[[maybe_unused]] const bool g_messages_hooked = [] {
  set_message_hooks({zip_current_state, zip_pump, zip_log_text});
  return true;
}();
}  // namespace

void set_operation_stages(const OperationStages* stages) { g_stages = stages ? stages : &kOwnStages; }

}  // namespace ziplib

using namespace ziplib;

int zipInit(void* module) {
  if (g_started) return 1;
  g_module = module;
  g_started = true;
  return 1;
}

int zipAttachThread() {
  if (!g_started) return 0;
  if (live_state()) return 1;
  if (t_slot.state) return 0;  // an ended attachment whose call still runs
  t_slot.state = new (std::nothrow) ZipState;
  t_slot.term_count = g_term_count;
  return t_slot.state ? 1 : 0;
}

int zipTerm() {
  if (!g_started.exchange(false)) return 0;
  ++g_term_count;
  live_state();  // this thread's own state goes at once
  return 1;
}

int zipDetachThread() {
  ZipState* s = live_state();
  if (!s) return 0;
  if (s->busy) return 0;  // a callback cannot pull the state from under its caller
  t_slot.drop();
  return 1;
}

int zipCompress(ZIPCMDSTRUCT* caller) {
  // 1. This thread's state, attached on demand.
  if (!live_state()) zipAttachThread();
  ZipState* sp = live_state();
  if (!sp) return ZE_MEM;
  ZipState& s = *sp;
  if (!caller) return ZE_PARMS;
  // Of a record of unknown size only the fields within that size are read.
  const bool quiet = zip_field_within(12, caller->structSize) && caller->quietFlag;

  // 2. No re-entry from a callback; the running operation is left alone.
  if (s.busy) {
    if (!quiet) {
      std::string text = std::string(zipMessageText(256 + ZE_BUSY, 0)) + "\n";
      zipVolumePrompt(11, MB_OK, ZE_BUSY, 0, text.c_str(), s);
    }
    return ZE_BUSY;
  }

  // 3. A fresh call.
  s.busy = true;
  s.report_count = 0;
  s.error = 0;
  s.cancel = false;
  s.memory_input = s.callback_input = false;
  s.mem_pos = s.mem_size = 0;
  s.message_proc = nullptr;
  s.message_data = nullptr;
  s.last_minor.clear();
  s.last_major.clear();
  s.item_log_fd = -1;
  s.diagnostic = zip_field_within(35, caller->structSize) && caller->diagnosticFlag;
  s.quiet = quiet;
  s.record_level = record_level(caller->structSize);
  s.poll_throttle = false;
  s.poll_countdown = 0;

  auto finish = [&](int rc) {
    zip_report_error(s, rc);
    s.busy = false;
    zip_close_item_log(s);
    return rc;
  };

  // 4. The internal record.
  if (!convert_record(*caller, s.cmd)) {
    if (s.diagnostic) zip_log_command(s, *caller, caller->structSize);
    zip_report_error(s, ZE_PARMS);
    s.busy = false;
    return ZE_PARMS;
  }
  ZIPCMDSTRUCT& c = s.cmd;

  // 5.
  if (s.diagnostic) zip_log_command(s, c, kZipCmdV220);
  s.message_proc = c.lpMessageDisplay;
  s.message_data = c.lpMessageDisplayData;

  // 6, 7.
  if (c.Function != ZIP_MEMTOMEM && (!c.lpszZIPFile || !*c.lpszZIPFile)) return finish(ZE_PARMS);
  s.zip_path = normalise_path(c.lpszZIPFile);

  // 8, 9.
  s.multi_vol = c.wMultiVolControl;
  s.sub_options = c.wZipSubOptions;
  s.minor_cancels = (c.wZipSubOptions & kSubMinorCancels) != 0;
  s.no_pump = (c.wZipSubOptions & kSubNoPump) != 0;
  s.sub_options2 = c.lZipSubOptions2;
  s.large_files = c.LargeZIPFilesFlag != 0;
  s.current_dir = platform::current_directory();
  zip_item_log_header(s);
  s.relative_names = (c.wZipSubOptions & kSubRelativeNames) != 0;

  // 10. Multi-volume conditions, before anything is written.
  const bool multi = (s.multi_vol & kMvMulti) != 0;
  const bool split = multi && (s.multi_vol & kMvSplit);
  if (multi) {
    const int target_drive = zip_drive_letter(s.zip_path) - 'A' + 1;
    const bool removable = zip_drive_removable(target_drive);
    if (!split && !zipDriveIsRemovable(target_drive, s)) {
      zipVolumePrompt(5, MB_OK, 0, 0, nullptr, s);
      return finish(ZE_MVPARMS);
    }
    // Bit 7 lets a fixed drive take a spanned set, but never its wipe or
    // format: that would delete the drive's own files.
    if (!removable && (s.multi_vol & 0x0703)) return finish(ZE_MVPARMS);
    if (c.Function != ZIP_ADD || c.fixFlag || c.fixHarderFlag || c.growExistingFlag) return finish(ZE_MVPARMS);
    if (split && (s.multi_vol & 0x0703)) return finish(ZE_MVPARMS);
    if (!split) {
      const char target = zip_drive_letter(s.zip_path);
      for (const std::string& item : split_items(c.lpszItemList)) {
        const char d = zip_drive_letter(normalise_path(item.c_str()));
        if (d != 0 && d == target) {
          zipVolumePrompt(6, MB_OK, 0, 0, nullptr, s);
          return finish(ZE_MVPARMS);
        }
      }
    }
  }

  // 11. Operation defaults.
  s.method = -1;
  s.comp_level = 6;
  s.store_suffixes = kDefaultStoreSuffixes;
  s.password.clear();
  s.encrypt_entry = false;
  s.internal_mode = 1;
  s.minor_percent = s.major_percent = 0;
  s.item_counter = 1;
  s.rename_proc = c.lpRenameProc;
  s.rename_proc_ex = c.lpRenameProcEX;
  s.rename_data = c.lpRenameUserData;
  s.title = c.lpszExtProgTitle ? std::string(c.lpszExtProgTitle, strnlen(c.lpszExtProgTitle, kMaxTitle))
                               : kDefaultTitle;
  s.minor_proc = c.lpMinorStatus;
  s.minor_data = c.lpMinorUserData;
  s.major_proc = c.lpMajorStatus;
  s.major_data = c.lpMajorUserData;

  // 12.
  if (c.Function < 1 || c.Function > 7) return finish(ZE_PARMS);
  static const int kModes[8] = {0, 3, 0, 2, 1, 1, 1, 1};
  s.internal_mode = kModes[c.Function];

  // 13. The file a multi-volume archive is first written to.
  s.temp_fd = -1;
  s.temp_path.clear();
  if (multi && (split || (c.pathForTempFlag && c.lpszTempPath))) {
    if (split) {
      s.long_part_names = zip_long_names_allowed(s.zip_path);
      s.temp_path = zip_part_name(s.zip_path, 1, s.long_part_names);
      const std::string folder = platform::split_win_path(s.temp_path).first;
      if (folder.size() > 3 && !platform::file_facts(folder) && platform::dir_create(folder) != 0)
        return finish(ZE_CREAT);
      s.temp_fd = platform::file_open(s.temp_path, platform::OpenMode::kCreateAlways);
      if (s.temp_fd < 0) return finish(ZE_TEMP);
    } else {
      const std::string dir = normalise_path(c.lpszTempPath);
      if (zip_drive_removable(zip_drive_letter(dir) - 'A' + 1) || zipFreeSpace(dir) <= 2097151) return finish(ZE_TEMP);
      s.temp_fd = zip_create_temp(dir, static_cast<long>(::gettid()), &s.temp_path);
      if (s.temp_fd < 0) return finish(ZE_TEMP);
    }
  }

  // 14, 15, 16. Memory and callback input.
  s.mem_size = (std::uint64_t(c.lMemBlockSizeH) << 32) | c.lMemBlockSize;
  const bool items = c.lpszItemList && *c.lpszItemList;
  s.memory_input = c.lpMemBlock && items;
  s.data_proc = c.lpCallbackStruct ? c.lpCallbackStruct->lpDataProc : nullptr;
  s.data_user = c.lpCallbackStruct ? c.lpCallbackStruct->lpUserData : nullptr;
  int rc = 0;
  if ((s.sub_options & kSubNeedsCallback) && !s.data_proc) rc = ZE_PARMS;
  if (!rc && c.Function == ZIP_MEMTOMEM &&
      (s.memory_input || (c.lpszZIPFile && *c.lpszZIPFile) || !s.data_proc))
    rc = ZE_PARMS;
  if (!rc && c.Function == ZIP_CALLBACK_ADD) {
    if (!items || !s.data_proc) {
      rc = ZE_PARMS;
    } else {
      s.mem_size = 0;
      s.callback_input = true;
    }
  }

  if (!rc) {
    // 17, 18, 19.
    if (s.sub_options & kSubProgressProgram) zip_start_progress_program(s);
    // The library's own volumes unless a test put others in place.
    const bool own_volumes = !s.volumes;
    if (own_volumes) s.volumes = &zip_volume_layer();
    rc = c.Function == ZIP_MEMTOMEM ? g_stages->run_memory(s) : g_stages->run_operation(s);
    if (own_volumes) s.volumes = nullptr;
    zip_close_progress_program(s);
  }
  if (s.temp_fd >= 0) {
    platform::file_close(s.temp_fd);
    s.temp_fd = -1;
    if (!split) unlink_win(s.temp_path);
  }
  // 20. A failed split set leaves no part behind, in either naming form.
  if (rc && split) {
    zip_delete_parts(s.zip_path);
    unlink_win(s.temp_path);
  }
  // 22.
  return finish(rc);
}

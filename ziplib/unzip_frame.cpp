// The decompressor's frame: the life cycle behind unzipInit, unzipAttachThread,
// unzipDetachThread and unzipTerm, the command record's versions and checks,
// and the dispatch of the Functions.
#include "ziplib/unzip_state.h"

#include <unistd.h>

#include <atomic>
#include <cstring>

namespace ziplib {
namespace {

std::atomic<bool> g_started{false};
std::atomic<unsigned> g_term_count{0};

struct Slot {
  UnzipState* state = nullptr;
  unsigned term_count = 0;
  bool detach_pending = false;  // detached from inside a running call
  ~Slot() { drop(); }
  void drop() {
    if (!state) return;
    unzip_close_archive(*state);
    unzip_close_item_log(*state);
    delete state;
    state = nullptr;
    detach_pending = false;
  }
};
thread_local Slot t_slot;

UnzipState* live_state() {
  if (t_slot.state && (!g_started || t_slot.term_count != g_term_count) && !t_slot.state->busy) t_slot.drop();
  if (t_slot.state && g_started && t_slot.term_count == g_term_count) return t_slot.state;
  return nullptr;
}

int record_level(std::int32_t size) {
  switch (size) {
    case kUnzipCmdV100: return kUnzLevel100;
    case kUnzipCmdV110: return kUnzLevel110;
    case kUnzipCmdV142: return kUnzLevel142;
    default: return kUnzLevel170;
  }
}

void copy_old_info_in(const ZINFO_OLD& o, ZINFO& n) {
  n = ZINFO{};
  n.index = o.index;
  n.uncompressedSize = o.uncompressedSize;
  n.compressedSize = o.compressedSize;
  n.method = o.method;
  n.pathFlag = o.pathFlag;
  n.crc = o.crc;
  std::memcpy(n.dateTime, o.dateTime, sizeof o.dateTime);
  std::memcpy(n.name, o.name, sizeof o.name);
  n.name[sizeof o.name - 1] = '\0';
  n.attributes = o.attributes;
}

void copy_old_info_out(const ZINFO& n, ZINFO_OLD& o) {
  o.index = n.index;
  o.uncompressedSize = n.uncompressedSize;
  o.compressedSize = n.compressedSize;
  o.method = n.method;
  o.pathFlag = n.pathFlag;
  o.crc = n.crc;
  std::memcpy(o.dateTime, n.dateTime, sizeof o.dateTime);
  const std::size_t len = strnlen(n.name, sizeof o.name - 1);
  std::memcpy(o.name, n.name, len);
  o.name[len] = '\0';
  o.attributes = n.attributes;
}

// The caller's record into the newest version: fields of later versions stay
// zero (the title takes its default).
bool convert_in(UnzipState& s, const UNZIPCMDSTRUCT& in) {
  UNZIPCMDSTRUCT& c = s.cmd;
  c = UNZIPCMDSTRUCT{};
  const std::int32_t v = in.structSize;
  if (v != kUnzipCmdV100 && v != kUnzipCmdV110 && v != kUnzipCmdV142 && v != kUnzipCmdV170) return false;
  c.structSize = v;
  c.Function = in.Function;
  c.lpszZIPFile = in.lpszZIPFile;
  c.zInfo = in.zInfo;
  c.lpszFilespec = in.lpszFilespec;
  c.index = in.index;
  c.lpszDestination = in.lpszDestination;
  c.freshenFlag = in.freshenFlag;
  c.updateFlag = in.updateFlag;
  c.overWriteFlag = in.overWriteFlag;
  c.quietFlag = in.quietFlag;
  c.testFlag = in.testFlag;
  c.noDirectoryNamesFlag = in.noDirectoryNamesFlag;
  c.recurseFlag = in.recurseFlag;
  c.noDirectoryItemsFlag = in.noDirectoryItemsFlag;
  c.lpMinorStatus = in.lpMinorStatus;
  c.lpMinorUserData = in.lpMinorUserData;
  c.lpMajorStatus = in.lpMajorStatus;
  c.lpMajorUserData = in.lpMajorUserData;
  c.returnCount = in.returnCount;
  c.lpszReturnString = in.lpszReturnString;
  c.diagnosticFlag = in.diagnosticFlag;
  c.convertLFtoCRLFFlag = in.convertLFtoCRLFFlag;
  c.decryptFlag = in.decryptFlag;
  c.lpszDecryptCode = in.lpszDecryptCode;
  if (v <= kUnzipCmdV110 && in.zInfo) {
    copy_old_info_in(*static_cast<const ZINFO_OLD*>(in.zInfo), s.old_info);
    c.zInfo = &s.old_info;
  }
  c.lpszExtProgTitle = kUnzDefaultTitle;
  if (v == kUnzipCmdV100) return true;
  c.lpMessageDisplay = in.lpMessageDisplay;
  c.lpMessageDisplayData = in.lpMessageDisplayData;
  c.wUnzipSubOptions = in.wUnzipSubOptions;
  if (v == kUnzipCmdV110) return true;
  c.lpCallbackStruct = in.lpCallbackStruct;
  c.lResv2 = in.lResv2;
  c.lpRenameProc = in.lpRenameProc;
  c.lpRenameUserData = in.lpRenameUserData;
  c.lpszExtProgTitle = in.lpszExtProgTitle;
  c.lpMemBlock = in.lpMemBlock;
  c.lMemBlockSize = in.lMemBlockSize;
  c.lStartingOffset = in.lStartingOffset;
  if (v == kUnzipCmdV142) return true;
  c.pZipInfoEx = in.pZipInfoEx;
  c.lUnZipSubOptions2 = in.lUnZipSubOptions2;
  c.lMemBlockSizeH = in.lMemBlockSizeH;
  c.lStartingOffsetH = in.lStartingOffsetH;
  c.lpRenameProcEX = in.lpRenameProcEX;
  c.lResv7 = in.lResv7;
  c.lResv8 = in.lResv8;
  return true;
}

// Out fields back to the caller, in the caller's own version.
void convert_out(UnzipState& s, UNZIPCMDSTRUCT& out) {
  const UNZIPCMDSTRUCT& c = s.cmd;
  out.index = c.index;
  out.returnCount = c.returnCount;
  if (out.structSize <= kUnzipCmdV110 && out.zInfo && c.zInfo == &s.old_info)
    copy_old_info_out(s.old_info, *static_cast<ZINFO_OLD*>(out.zInfo));
}

// Quotes dropped, '/' as '\', at most 2,048 characters.
std::string normalise(const char* p) {
  std::string out;
  for (; p && *p && out.size() < kUnzMaxPath; ++p) {
    if (*p == '"') continue;
    out += *p == '/' ? '\\' : *p;
  }
  return out;
}

// 0, or the message id of a destination that is not a full path.
int destination_problem(const std::string& d) {
  if (d.size() < 2) return 110;
  if (d[1] != ':' && d.rfind("\\\\", 0) != 0) return 111;
  return 0;
}

std::string with_backslash(std::string d) {
  if (d.empty() || d.back() != '\\') d += '\\';
  return d;
}

// A pattern that names one item: no wildcards and no blank-separated list.
bool names_one_item(const char* spec) {
  if (!spec || !*spec) return false;
  return !std::strpbrk(spec, "*?");
}

int run(UnzipState& s, UNZIPCMDSTRUCT& caller) {
  UNZIPCMDSTRUCT& c = s.cmd;
  auto fail = [&](int code, int id) {
    unzip_error_display(s, code, unzip_text(s, id, 0));
    return code;
  };
  if (!c.lpszZIPFile || !*c.lpszZIPFile) {
    if (c.Function != UNZIP_MEMTOMEM) return fail(UZ_SYNTAX, 113);
  }
  if (c.freshenFlag && c.updateFlag) return fail(UZ_SYNTAX, 118);
  if (c.freshenFlag || c.updateFlag) {
    if (!c.lpszDestination) return fail(UZ_SYNTAX, 109);
    const std::string d = normalise(c.lpszDestination);
    if (int id = destination_problem(d)) return fail(UZ_SYNTAX, id);
    s.destination = with_backslash(d);
  }
  if (c.decryptFlag) {
    if (!c.lpszDecryptCode || strnlen(c.lpszDecryptCode, 128) > 127) return fail(UZ_SYNTAX, 119);
    s.password = c.lpszDecryptCode;
  }
  s.options = c.wUnzipSubOptions;
  s.options2 = c.lUnZipSubOptions2;
  s.overwrite = c.overWriteFlag != 0;
  if ((s.options & kUnzEchoInput) && !s.data_proc) return fail(UZ_SYNTAX, 62);
  s.split = (s.options & kUnzSplit) != 0;

  s.mem_size = (std::uint64_t{c.lMemBlockSizeH} << 32) | c.lMemBlockSize;
  s.start_offset = (std::uint64_t{c.lStartingOffsetH} << 32) | c.lStartingOffset;
  const bool named = names_one_item(c.lpszFilespec) || (!c.lpszFilespec && c.index >= 0);
  if (c.Function == UNZIP_FILETOMEM || c.Function == UNZIP_FILETOMEM_EX)
    s.memory_mode = named && (c.lpMemBlock || (c.Function == UNZIP_FILETOMEM_EX && s.data_proc));
  else
    s.memory_mode = c.lpMemBlock && named;

  s.title = c.lpszExtProgTitle ? std::string(c.lpszExtProgTitle, strnlen(c.lpszExtProgTitle, 299))
                               : std::string(kUnzDefaultTitle);
  s.base_path = normalise(c.lpszZIPFile);
  s.zip_path = s.base_path;

  if (c.Function < 1 || c.Function > 11) return fail(UZ_SYNTAX, 121);
  if (c.Function != UNZIP_MEMTOMEM) {
    const bool cached = (c.Function == UNZIP_GETNEXTZINFO || c.Function == UNZIP_GETNEXTNAMEDZINFO) &&
                        s.cache_valid && s.cache_path == s.base_path;
    if (!cached && unzip_open_archive(s, true) != UZ_OK) return fail(UZ_NOTFOUND, 103);
  }
  if (c.Function <= UNZIP_GETINDEXEDZINFO) {
    if (c.Function == UNZIP_COUNTALLITEMS || c.Function == UNZIP_COUNTNAMEDITEMS) unzip_drop_cache(s);
    // The comment stands in the end record, which a directory read from the
    // start of the first disk never saw.
    if ((c.Function == UNZIP_GETCOMMENTSIZE || c.Function == UNZIP_GETCOMMENT) && s.cache_placeholder)
      unzip_drop_cache(s);
    return unzip_run_query(s);
  }

  if (c.Function == UNZIP_EXTRACT && !c.testFlag) {
    if (!c.lpszDestination) return fail(UZ_SYNTAX, 120);
    const std::string d = normalise(c.lpszDestination);
    if (int id = destination_problem(d)) return fail(UZ_SYNTAX, id);
  }
  if (((c.Function == UNZIP_FILETOMEM || c.Function == UNZIP_FILETOMEM_EX) && !s.memory_mode) ||
      (c.Function == UNZIP_MEMTOMEM && (s.memory_mode || !s.data_proc)))
    return fail(UZ_SYNTAX, 131);
  s.callback_mode = c.Function == UNZIP_MEMTOMEM;
  s.text_mode = c.convertLFtoCRLFFlag != 0;
  if (!c.testFlag && !s.memory_mode && !s.callback_mode) s.destination = with_backslash(normalise(c.lpszDestination));
  s.minor_proc = c.lpMinorStatus;
  s.minor_data = c.lpMinorUserData;
  s.major_proc = c.lpMajorStatus;
  s.major_data = c.lpMajorUserData;
  (void)caller;
  if (s.callback_mode) return unzip_callback_mode(s);
  if (!c.lpszFilespec && c.index < 0) return fail(UZ_SYNTAX, 122);
  return unzip_extract(s);
}

}  // namespace

UnzipState* unzip_current_state() { return live_state(); }

}  // namespace ziplib

using namespace ziplib;

int unzipInit(void*) {
  g_started = true;
  return 1;
}

int unzipAttachThread() {
  if (!g_started) return 0;
  if (live_state()) return 1;
  t_slot.drop();
  t_slot.state = new (std::nothrow) UnzipState();
  if (!t_slot.state) return 0;
  t_slot.term_count = g_term_count;
  return 1;
}

int unzipDetachThread() {
  if (!g_started || !t_slot.state) return 0;
  if (t_slot.state->busy) {  // freed once the running call returns
    t_slot.detach_pending = true;
    return 1;
  }
  t_slot.drop();
  return 1;
}

int unzipTerm() {
  if (!g_started) return 0;
  g_started = false;
  ++g_term_count;
  return 1;
}

int unzipCommand(UNZIPCMDSTRUCT* caller) {
  UnzipState* sp = live_state();
  if (!sp && unzipAttachThread()) sp = live_state();
  if (!sp) return UZ_NOSTATE;
  UnzipState& s = *sp;
  if (s.busy) {
    unzip_error_display(s, UZ_BUSY, unzip_text(s, 116, 0));
    return UZ_BUSY;
  }
  if (!caller) return UZ_SYNTAX;
  s.busy = true;
  s.cancel = false;
  s.quiet = false;
  s.memory_mode = s.callback_mode = false;
  s.password.assign(128, '\0');
  s.password.clear();
  s.destination.clear();
  s.current_disk = -1;
  s.diagnostic = caller->diagnosticFlag != 0;
  s.level = record_level(caller->structSize);
  s.message_proc = nullptr;
  s.data_proc = nullptr;
  int result;
  if (s.diagnostic) unzip_log_command(s, *caller);
  if (!convert_in(s, *caller)) {
    s.cmd = UNZIPCMDSTRUCT{};
    unzip_log_response(s, UZ_SYNTAX);
    s.busy = false;
    return UZ_SYNTAX;
  }
  const UNZIPCMDSTRUCT& c = s.cmd;
  s.quiet = c.quietFlag != 0;
  s.message_proc = c.lpMessageDisplay;
  s.message_data = c.lpMessageDisplayData;
  s.rename_proc = c.lpRenameProc;
  s.rename_proc_ex = c.lpRenameProcEX;
  s.rename_data = c.lpRenameUserData;
  if (c.lpCallbackStruct) {
    s.data_proc = c.lpCallbackStruct->lpDataProc;
    s.data_user = c.lpCallbackStruct->lpUserData;
  }
  result = run(s, *caller);
  unzip_close_progress_program(s);
  // The archive stays closed between calls; the cached directory survives.
  unzip_close_archive(s);
  s.zip_path = s.base_path;
  convert_out(s, *caller);
  unzip_log_response(s, result);
  unzip_close_item_log(s);
  std::fill(s.password.begin(), s.password.end(), '\0');
  s.password.clear();
  s.busy = false;
  // A detach or stop from inside a callback takes effect now.
  if (t_slot.detach_pending || !g_started || t_slot.term_count != g_term_count) t_slot.drop();
  return result;
}

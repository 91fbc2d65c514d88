// What the decompressor says: its message table, the prompt routine with the
// host's message-display callback, the error display, progress and the logs.
#include "platform/debug.h"
#include "platform/file_io.h"
#include "ziplib/output_stage.h"
#include "ziplib/unzip_state.h"
#include "ziplib/zip_messages.h"
#include "ziplib/zip_progress.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace ziplib {
namespace {

struct Row {
  int id;
  const char* text;
};

// Ids 17-65 are the texts of error codes 2-50.
const Row kTable[] = {
    {2, "Please insert the first disk of the Multi-Volume set. \nPress OK when ready or Cancel to abort.\n"},
    {3, "Please insert Disk Volume %d.  \nPress OK when ready or Cancel to abort."},
    {4, "Please insert Disk Volume %d of %d. \nPress OK when ready or Cancel to abort."},
    {5, "Volume could not be Wiped or Formatted."},
    {6, "Invalid First Disk; Try again."},
    {7, "Please insert the last disk of the Multi-Volume set. \nPress OK when ready or Cancel to abort."},
    {8, "Target Media is NON-Removable and can not be used for a Multi-Volume operation."},
    {9, "The same disk volume can not be used as both the source and destination"},
    {10, "ZIP File open error!"},
    {11, "ZIP File read error!"},
    {12, "ZIP File write error!"},
    {13, "ArcLynx UnZIP Alert"},
    {14, "ArcLynx UnZIP Warning"},
    {15, "-"}, {16, "-"},
    {17, "Unexpected end of zip file"},
    {18, "Zip file structure invalid"},
    {19, "Out of memory"},
    {20, "Out of memory"},
    {21, "-"}, {22, "-"}, {23, "-"},
    {24, "File not found"},
    {25, "-"},
    {26, "No files to test, extract, etc."},
    {27, "-"}, {28, "-"}, {29, "-"}, {30, "-"}, {31, "-"}, {32, "-"}, {33, "-"},
    {34, "-"}, {35, "-"}, {36, "-"}, {37, "-"}, {38, "-"}, {39, "-"},
    {40, "Index out of bounds"},
    {41, "Multi-disk archive, not supported"},
    {42, "-"},
    {43, "Error creating output file"},
    {44, "Error opening archive"},
    {45, "-"}, {46, "-"}, {47, "-"}, {48, "-"}, {49, "-"}, {50, "-"}, {51, "-"}, {52, "-"}, {53, "-"},
    {54, "Bad CRC"},
    {55, "Application cancelled operation"},
    {56, "File skipped, encrypted"},
    {57, "File skipped, unknown compression method"},
    {58, "-"},
    {59, "Bad or missing decryption key"},
    {60, "Busy, can't re-enter now"},
    {61, "Can't extract a Volume ID item"},
    {62, "Command syntax error"},
    {63, "User cancelled this operation"},
    {64, "User skipped this operation"},
    {65, "Disk full"},
    {66, "ArcLynx UnZIP Error:"},
    {67, "ArcLynx UnZIP Response:"},
    {68, "%s exists, do you want to overwrite it?"},
    {69, "ArcLynx UnZIP Request:"},
    {70, "%s is encrypted, and you have not provided the correct code. Go to next item (if any)?"},
    {71, "Item %d of %d"},
    {72, "Extracting: %s"},
    {73, "Testing: %s"},
    {74, "returnCount: %d"},
    {75, "lpszReturnString:"},
    // Lines of the diagnostic log.
    {76, "Function: %d \r\n"},
    {77, "lpszZIPFile: %#08lx \r\n"},
    {78, "zInfo: %#08lx \r\n"},
    {79, "lpszFilespec: %#08lx \r\n"},
    {80, "index: %d \r\n"},
    {81, "lpszDestination: %#08lx \r\n"},
    {82, "freshenFlag: %d \r\n"},
    {83, "updateFlag: %d \r\n"},
    {84, "overWriteFlag: %d \r\n"},
    {85, "quietFlag: %d \r\n"},
    {86, "testFlag: %d \r\n"},
    {87, "noDirectoryNamesFlag: %d \r\n"},
    {88, "recurseFlag: %d \r\n"},
    {89, "noDirectoryItemsFlag: %d \r\n"},
    {90, "lpMinorStatus: %#08lx \r\n"},
    {91, "lpMinorUserData: %#08lx \r\n"},
    {92, "lpMajorStatus: %#08lx \r\n"},
    {93, "lpMajorUserData: %#08lx \r\n"},
    {94, "returnCount: %d \r\n"},
    {95, "lpszReturnString: %#08lx \r\n"},
    {96, "decryptFlag: %d \r\n"},
    {97, "lpszDecryptCode: %#08lx \r\n"},
    {98, "lpMessageDisplay: %#08lx \r\n"},
    {99, "lpMessageDisplayData: %#08lx \r\n"},
    {100, "wUnzipSubOptions: %#04x \r\n"},
    {101, "\\ARCLYNX.LOG"},
    {102, "No valid ZIP file indicated"},
    {103, "Problem reading ZIP file"},
    {104, "ZIP filename or filespec not provided"},
    {105, "ZIP filename or filespec empty"},
    {106, "UNZIP command structure not provided"},
    {107, "No more items found"},
    {108, "Problem opening ZIP file"},
    {109, "Need destination path when updating or freshening"},
    {110, "Destination path not complete"},
    {111, "Destination path must include drive letter"},
    {112, "Error allocating memory from local heap"},
    {113, "ZIP filename not provided"},
    {114, "Can't understand ZIP file, structure problem"},
    {115, "Specified index is out of range"},
    {116, "Re-entry not permitted"},
    {117, "UNZIPCMDSTRUCT Size is incorrect."},
    {118, "Can't freshen and update at the same time"},
    {119, "Decryption key not provided, or too long"},
    {120, "Destination path not provided"},
    {121, "Unknown function requested"},
    {122, "Item list not provided"},
    {123, "Index is too high"},
    {124, "Problem extracting file(s)"},
    {125, "No items match filespec"},
    {126, "You are trying to unzip from this ZIP file on top of itself, which is not permitted. \nSkipping this item..."},
    {127, "lpCallbackStruct: %#08lx \r\n"},
    {128, "%s exists and is Read Only, do you want to overwrite it?"},
    {129, "Double Quotes mismatched."},
    {130, "Index references Long File Name."},
    {131, "Inconsistent UNZIP_FILETOMEM parameters."},
    {132, "File to Memory: %s"},
    {133, "lpszExtProgTitle: %#08lx \r\n"},
    {134, "lpRenameProc: %#08lx \r\n"},
    {135, "lpRenameUserData: %#08lx \r\n"},
    {136, "lpMemBlock: %#08lx \r\n"},
    {137, "lMemBlockSize: %ld \r\n"},
    {138, "lMemBlockSizeH: %ld \r\n"},
    {139, "lStartingOffset: %ld \r\n"},
    {140, "lStartingOffsetH: %ld \r\n"},
    {141, "Error allocating memory from global heap"},
    {142, "ArcLynx Rename Request"},
    {143, "\\AUNZLOG.TXT"},
    {144, "--- ArcLynx UnZIP Log - %s ---"},
    {145, "%s [Extracted]"},
    {146, "%s [Tested]"},
    {147, "%s [Memory]"},
    {148, "Version: 5.00.03 - %s  %s"},
    {149, "Memory to Memory"},
    {150, "pZipInfoEx: %#08lx \r\n"},
    {151, "lUnZipSubOptions2: %#08lx \r\n"},
    {152, "lpRenameProcEX: %#08lx \r\n"},
    {153, "lResv7: %#08lx \r\n"},
    {154, "lResv8: %#08lx \r\n"},
    {155, "--- ArcLynx UnZIP Diagnostic Log [DLL/SLL] - %s ---\r\n"},
};
static_assert(std::size(kTable) == 154);

int no_overwrite_dialog(const char*, const char*) { return IDNO; }
bool no_rename_dialog(const char*, char* path, std::size_t size) {
  if (size) path[0] = '\0';
  return false;
}
OverwriteDialogFn g_overwrite = no_overwrite_dialog;
RenameDialogFn g_rename = no_rename_dialog;

constexpr int kStyleOverwrite = 15;
constexpr int kYesToAll = 100, kRename = 101;

bool answer_fits(int style, int answer) {
  style &= 0x0F;
  switch (answer) {
    case IDOK: return style == 0 || style == 1;
    case IDCANCEL: return style == 1 || style == 3 || style == 5 || style == kStyleOverwrite;
    case IDABORT:
    case IDIGNORE: return style == 2 || style == kStyleOverwrite;
    case IDRETRY: return style == 2 || style == 5;
    case IDYES:
    case IDNO: return style == 3 || style == 4 || style == kStyleOverwrite;
    case kYesToAll: return style == kStyleOverwrite;
    case kRename: return true;
    default: return false;
  }
}

void pump(UnzipState& s) {
  if (!(s.options & kUnzNoPump)) zip_run_pump();
}

std::string version_text(UnzipState& s) {
  std::string date, time;
  zip_log_now(&date, &time);
  return zip_format(unzip_text(s, 148, 2), {date.c_str(), time.c_str()});
}

void log_text(UnzipState& s, const std::string& text) {
  if (!s.diagnostic) return;
  int fd = zip_open_log(unzip_text(s, 101, 2));
  if (fd < 0) return;
  zip_log_append(fd, text);
  (void)platform::file_close(fd);
}

}  // namespace

void set_unzip_overwrite_dialog(OverwriteDialogFn fn) { g_overwrite = fn ? fn : no_overwrite_dialog; }
void set_unzip_rename_dialog(RenameDialogFn fn) { g_rename = fn ? fn : no_rename_dialog; }

const char* unzip_text(UnzipState& s, int id, int slot) {
  char* out = s.msg[std::clamp(slot, 0, 2)];
  out[0] = '\0';
  for (const Row& r : kTable) {
    if (r.id != id) continue;
    const std::size_t n = strnlen(r.text, kUnzMsgSize - 2);
    std::memcpy(out, r.text, n);
    out[n] = '\0';
    break;
  }
  if (s.message_proc) {
    s.reply[0] = '\0';
    s.message_proc(13, 0, id, 0, out, s.reply, s.message_data);
    out[kUnzMsgSize - 1] = '\0';
  }
  return out;
}

std::string unzip_error_text(UnzipState& s, int code) { return unzip_text(s, code + 15, 2); }

int unzip_prompt(UnzipState& s, int type, int style, int n1, int n2, const char* text) {
  int title_id = 69;
  std::string body;
  const char* given = text ? text : "";
  switch (type) {
    case 0:
      body = n1 == -1 ? unzip_text(s, 2, 1)
             : n2 == -1 ? unzip_text(s, 7, 1)
                        : zip_format(unzip_text(s, 3, 1), {n1});
      break;
    case 1: body = zip_format(unzip_text(s, 4, 1), {n1, n2}); break;
    case 2: case 3: case 4: title_id = 66; body = unzip_text(s, 8 + type, 1); break;
    case 5: case 6: title_id = 66; body = unzip_text(s, 3 + type, 1); break;
    case 8: case 12: title_id = 14; body = given; break;
    case 10: title_id = 13; body = unzip_text(s, 6, 1); break;
    default: title_id = 66; body = given; break;
  }
  std::string title = unzip_text(s, title_id, 0);
  if (s.message_proc) {
    char tbuf[kUnzMsgSize], bbuf[kUnzMsgSize];
    std::snprintf(bbuf, sizeof bbuf, "%s", body.c_str());
    std::snprintf(tbuf, sizeof tbuf, "%s", title.c_str());
    int answer = s.message_proc(type, style, n1, n2, bbuf, tbuf, s.message_data);
    if (answer_fits(style, answer)) return answer;
  }
  int answer = type == 8 ? g_overwrite(body.c_str(), title.c_str())
                         : zip_message_box(body.c_str(), title.c_str(), style & 0x0F);
  pump(s);
  return answer;
}

void unzip_error_display(UnzipState& s, int code, const char* detail_text) {
  // The detail may stand in one of the text slots that the lookups below reuse.
  const std::string detail = detail_text ? detail_text : "";
  std::string line = unzip_text(s, 66, 0);
  line += ' ';
  line += unzip_error_text(s, code);
  line += !detail.empty() ? " (" + detail + ")\n" : std::string(" \n");
  log_text(s, "\r\n" + line + "\r\n");
  if (!s.quiet) unzip_prompt(s, 11, MB_OK, code, 0, line.c_str());
}

std::string unzip_status_text(UnzipState& s, int id, const std::string& name) {
  if (!s.progress_running && !s.minor_proc) return std::string();  // nobody shows it
  return zip_format(unzip_text(s, id, 0), {name.c_str()});
}

bool unzip_minor_status(UnzipState& s, const std::string& text, std::uint64_t total, std::uint64_t done) {
  const int percent = total ? static_cast<int>(std::min<std::uint64_t>(100, done * 100 / total + 1)) : 0;
  int r = 0;
  if (s.progress_running) r = zip_progress_program_send(1, text, percent);
  else if (s.minor_proc) r = s.minor_proc(text.c_str(), percent, s.minor_data);
  if (r && s.level >= kUnzLevel110 && (s.options & kUnzMinorCancels)) s.cancel = true;
  pump(s);
  return s.cancel;
}

bool unzip_major_status(UnzipState& s, std::int32_t total, std::int32_t done) {
  const char* format = unzip_text(s, 71, 0);
  const int percent = major_percent(total, done);
  int r = 0;
  if (s.progress_running) r = zip_progress_program_send(0, zip_format(format, {done, total}), percent);
  else if (s.major_proc) r = s.major_proc(zip_format(format, {done, total}).c_str(), percent, s.major_data);
  if (r && s.level >= kUnzLevel110) s.cancel = true;
  pump(s);
  return s.cancel;
}

void unzip_start_progress_program(UnzipState& s) {
  if (!(s.options & kUnzProgressProgram) || s.memory_mode || s.callback_mode) return;
  const std::string line =
      std::string("axprog32 /") + ((s.options & kUnzProgressSwitchC) ? 'c' : 'n') + " /u /T=" + s.title;
  s.progress_running = zip_progress_program_start(line);
}

void unzip_close_progress_program(UnzipState& s) {
  if (s.progress_running) zip_progress_program_close();
  s.progress_running = false;
}

void unzip_log_command(UnzipState& s, const UNZIPCMDSTRUCT& c) {
  auto ptr = [](const void* p) { return static_cast<long long>(reinterpret_cast<std::uintptr_t>(p)); };
  auto fptr = [&](auto f) { return ptr(reinterpret_cast<const void*>(f)); };
  auto str = [](const char* p, std::size_t bound) {
    return p ? std::string(p, strnlen(p, bound)) + "\r\n" : std::string("???\r\n");
  };
  std::string out = "\r\n" + zip_format(unzip_text(s, 155, 0), {version_text(s).c_str()});
  auto line = [&](int id, FormatArg a) { out += zip_format(unzip_text(s, id, 1), {a}); };
  line(76, c.Function);
  line(77, ptr(c.lpszZIPFile)); out += str(c.lpszZIPFile, 2048);
  line(78, ptr(c.zInfo));
  line(79, ptr(c.lpszFilespec)); out += str(c.lpszFilespec, 20000);
  line(80, c.index);
  line(81, ptr(c.lpszDestination)); out += str(c.lpszDestination, 2048);
  line(82, c.freshenFlag);
  line(83, c.updateFlag);
  line(84, c.overWriteFlag);
  line(85, c.quietFlag);
  line(86, c.testFlag);
  line(87, c.noDirectoryNamesFlag);
  line(88, c.recurseFlag);
  line(89, c.noDirectoryItemsFlag);
  line(90, fptr(c.lpMinorStatus));
  line(91, ptr(c.lpMinorUserData));
  line(92, fptr(c.lpMajorStatus));
  line(93, ptr(c.lpMajorUserData));
  line(94, c.returnCount);
  // The return string is an output buffer: only its address is logged.
  line(95, ptr(c.lpszReturnString)); out += "\r\n";
  line(96, c.decryptFlag);
  // The password never goes to a log; only whether one was given.
  line(97, ptr(c.lpszDecryptCode)); out += c.lpszDecryptCode ? "********\r\n" : "???\r\n";
  if (c.structSize != kUnzipCmdV100) {
    line(98, fptr(c.lpMessageDisplay));
    line(99, ptr(c.lpMessageDisplayData));
    line(100, c.wUnzipSubOptions);
  }
  if (c.structSize == kUnzipCmdV142 || c.structSize == kUnzipCmdV170) {
    line(127, ptr(c.lpCallbackStruct));
    line(133, ptr(c.lpszExtProgTitle)); out += str(c.lpszExtProgTitle, 1024);
    line(134, fptr(c.lpRenameProc));
    line(135, ptr(c.lpRenameUserData));
    line(136, ptr(c.lpMemBlock));
    line(137, static_cast<long long>(c.lMemBlockSize));
  }
  if (c.structSize == kUnzipCmdV170) line(138, static_cast<long long>(c.lMemBlockSizeH));
  if (c.structSize == kUnzipCmdV142 || c.structSize == kUnzipCmdV170)
    line(139, static_cast<long long>(c.lStartingOffset));
  if (c.structSize == kUnzipCmdV170) {
    line(140, static_cast<long long>(c.lStartingOffsetH));
    line(150, ptr(c.pZipInfoEx));
    line(151, c.lUnZipSubOptions2);
    line(152, fptr(c.lpRenameProcEX));
    line(153, c.lResv7);
    line(154, c.lResv8);
  }
  out += "\r\n";
  log_text(s, out);
}

void unzip_log_response(UnzipState& s, int code) {
  if (!s.diagnostic) return;
  std::string out = zip_format("%s %d %s \r\n", {unzip_text(s, 67, 0), code, unzip_error_text(s, code).c_str()});
  out += zip_format(unzip_text(s, 74, 0), {s.cmd.returnCount}) + "\r\n";
  out += zip_format("%s %lx \r\n",
                    {unzip_text(s, 75, 0), static_cast<long long>(reinterpret_cast<std::uintptr_t>(s.cmd.lpszReturnString))});
  log_text(s, out);
}

void unzip_item_log(UnzipState& s, const char* format, const std::string& name) {
  if (!(s.options & kUnzItemLog)) return;
  // Before the log's own texts take the slot `format` may stand in.
  const std::string line = zip_format(format, {name.c_str()});
  if (s.item_log_fd < 0) {
    s.item_log_fd = zip_open_log(unzip_text(s, 143, 2));
    if (s.item_log_fd < 0) return;
    zip_log_append(s.item_log_fd, zip_format(unzip_text(s, 144, 0), {version_text(s).c_str()}) + "\r\n");
  }
  zip_log_append(s.item_log_fd, line + "\r\n");
}

bool unzip_rename_dialog(UnzipState& s, const std::string& original, std::string* chosen) {
  char path[kUnzMaxPath + 1] = {};
  const bool ok = g_rename(original.c_str(), path, sizeof path);
  path[kUnzMaxPath] = '\0';
  *chosen = path;
  pump(s);
  return ok;
}

void unzip_close_item_log(UnzipState& s) {
  if (s.item_log_fd >= 0) (void)platform::file_close(s.item_log_fd);
  s.item_log_fd = -1;
}

}  // namespace ziplib

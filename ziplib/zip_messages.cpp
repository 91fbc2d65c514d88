#include "ziplib/zip_messages.h"

#include "platform/debug.h"
#include "ziplib/zip_state.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace ziplib {
namespace {

struct ZipMsgEntry {
  std::uint32_t id;
  const char* text;
};

// In the order the library has always kept them (not sorted by id).
const ZipMsgEntry kZipMessageTable[] = {
    {101, "zip file is empty, can't make it as old as latest entry"},
    {102, "aborting"},
    {103, "was processing arguments"},
    {104, "ArcLynx ZIP Alert"},
    {105, "ArcLynx ZIP Warning"},
    {106, "ArcLynx ZIP Request"},
    {107, "ArcLynx ZIP Error"},
    {109, "ArcLynx ZIP File Ready"},
    {110, "ArcLynx ZIP Skipping File"},
    {108, "\\ARCLYNX.LOG"},
    {132, "name not matched: "},
    {135, " not found or empty"},
    {136, "could not open for reading, will just copy entry over: "},
    {137, "could not open for reading: "},
    {161, "Skipping: "},
    {138, "zip file empty"},
    {139, "new zip file left as: "},
    {140, "was creating pattern list"},
    {142, "encryption not supported"},
    {143, "was getting encryption password"},
    {145, "nothing to select from"},
    {146, "invalid path"},
    {148, "invalid date"},
    {149, "cannot repeat names in zip file"},
    {150, "was processing list of files"},
    {151, "missing suffix list"},
    {152, "invalid option(s) used with ZIP_DELETE"},
    {154, "allocating temp filename"},
    {155, "was adding files to zip file"},
    {156, "was replacing the original zip file"},
    {157, "no such option:"},
    {158, "was about to zip"},
    {159, "was copying"},
    {160, "ZIP Response:"},
    {192, "--- ArcLynx ZIP Diagnostic Log [DLL/SLL] - %s ---\r\n"},
    {193, "Function:  %d \r\n"},
    {194, "lpszZIPFile: %#08lx \r\n"},
    {195, "lpszItemList: %#08lx \r\n"},
    {196, "lpMajorStatus: %#08lx \r\n"},
    {197, "lpMajorUserData: %#08lx \r\n"},
    {198, "lpMinorStatus: %#08lx \r\n"},
    {199, "lpMinorUserData: %#08lx \r\n"},
    {200, "dosifyFlag: %d \r\n"},
    {201, "recurseFlag: %d \r\n"},
    {202, "compFactor: %d \r\n"},
    {203, "quietFlag: %d \r\n"},
    {204, "pathForTempFlag: %d \r\n"},
    {205, "lpszTempPath: %#08lx \r\n"},
    {206, "fixFlag: %d \r\n"},
    {207, "fixHarderFlag: %d \r\n"},
    {208, "includeVolumeFlag: %d \r\n"},
    {209, "deleteOriginalFlag: %d \r\n"},
    {210, "growExistingFlag: %d \r\n"},
    {211, "noDirectoryNamesFlag: %d \r\n"},
    {212, "convertLFtoCRLFFlag: %d \r\n"},
    {213, "addCommentFlag: %d \r\n"},
    {214, "lpszComment: %#08lx \r\n"},
    {215, "afterDateFlag: %d \r\n"},
    {216, "lpszDate: %#08lx \r\n"},
    {217, "oldAsLatestFlag: %d \r\n"},
    {218, "includeOnlyFollowingFlag: %d \r\n"},
    {219, "lpszIncludeFollowing: %#08lx \r\n"},
    {220, "excludeFollowingFlag: %d \r\n"},
    {221, "lpszExludeFollowing: %#08lx \r\n"},
    {222, "noDirectoryEntriesFlag: %d \r\n"},
    {223, "includeSysHiddenFlag: %d \r\n"},
    {224, "dontCompressTheseSuffixesFlag: %d \r\n"},
    {225, "lpszStoreSuffixes: %#08lx \r\n"},
    {226, "encryptFlag: %d \r\n"},
    {227, "lpszEncryptCode: %#08lx \r\n"},
    {228, "lpMessageDisplay: %#08lx \r\n"},
    {229, "lpMessageDisplayData: %#08lx \r\n"},
    {230, "wMultiVolControl: %#04x \r\n"},
    {231, "wZipSubOptions: %#04x \r\n"},
    {232, "lpCallbackStruct: %#08lx \r\n"},
    {233, "lResv2: %#08lx \r\n"},
    {234, "lpszExtProgTitle: %#08lx \r\n"},
    {235, "lpRenameProc: %#08lx \r\n"},
    {236, "lpRenameUserData: %#08lx \r\n"},
    {237, "lpMemBlock: %#08lx \r\n"},
    {238, "lMemBlockSize: %ld \r\n"},
    {242, "lMemBlockSizeH: %ld \r\n"},
    {239, "LargeZIPFilesFlag: %d \r\n"},
    {240, "pulFileSizeArray: \r\n"},
    {247, "lZipSubOptions2: %#08lx \r\n"},
    {243, "lpRenameProcEX: %#08lx \r\n"},
    {244, "lResv6: %#08lx \r\n"},
    {245, "lResv7: %#08lx \r\n"},
    {246, "lResv8: %#08lx \r\n"},
    {256, ""},
    {257, "Busy, can't re-enter now"},
    {258, "Unexpected end of Zip file"},
    {259, "Zip file structure invalid"},
    {260, "Out of memory"},
    {261, "Internal logic error"},
    {262, "Entry too big to split"},
    {263, "Invalid comment format"},
    {264, "Zip file invalid or insufficient memory"},
    {265, "Operation interrupted by application"},
    {266, "Temporary file failure"},
    {267, "Input file read failure"},
    {268, "Nothing to do!"},
    {269, "Missing or empty Zip file"},
    {270, "Output file write failure, possible disk full"},
    {271, "Could not create output file"},
    {272, "Invalid control parameters"},
    {273, "Could not complete operation"},
    {274, "File not found or no read permission"},
    {275, "Media Error Encountered"},
    {276, "Invalid Multi-Volume control parameters"},
    {277, "Improper use of Multi-Volume Zip file"},
    {304, "specify just one action"},
    {305, "zero-length name for entry #"},
    {306, "bad extended local hdr for "},
    {307, "bad compressed size with extended hdr"},
    {308, "extended local hdr not found for "},
    {309, "extraneous central hdr signature"},
    {310, "local offset in central hdr incorrect for "},
    {311, "names differ in local and cnetral hdrs for "},
    {322, "ZIP file error... missing end signature"},
    {323, "multiple disk information ignored"},
    {324, "wrong count in end of central dir"},
    {325, "central dir size is incorrect"},
    {326, "central dir start is incorrect"},
    {327, " has a preamble of %ld bytes"},
    {328, "garbage at end of zip file ignored"},
    {329, "cannot remove parent directory"},
    {330, "empty name created while including paths"},
    {331, "name not matched: "},
    {332, "ct_init: out of memory"},
    {333, "block vanished"},
    {334, "can not translate EOL in binary files"},
    {380, "window allocation"},
    {390, "hash table allocation"},
    {391, "Item %d of %d"},
    {395, "Memory to File"},
    {392, "unexpected error on zip file"},
    {393, "can't rewrite method"},
    {394, "zip error: STORE not supported for pipes or devices"},
    {400, "zip diagnostic: GetVolumeInformation failed\n"},
    {401, "zip diagnostic: GetFileAttributes failed\n"},
    {402, "invalid length"},
    {403, "output buffer too small for in-memory compression"},
    {512, "Please insert the first disk of the Multi-Volume set. \nPress OK when ready or Cancel to abort."},
    {513, "Please insert Disk Volume %d.  \nPress OK when ready or Cancel to abort."},
    {514, "Please insert Disk Volume %d of %d. \nPress OK when ready or Cancel to abort."},
    {515, "Volume could not be Wiped or Formatted."},
    {516, "Invalid First Disk; Try again."},
    {517, "Please insert the last disk of the Multi-Volume set. \nPress OK when ready or Cancel to abort."},
    {518, "Target Media is NON-Removable and can not be used for a Multi-Volume operation."},
    {519, "The same disk volume can not be used as both the source and destination"},
    {520, "Target media is write protected or missing.\nPlease insert a write enabled disk."},
    {600, "ZIP File open error!"},
    {601, "ZIP File read error!"},
    {602, "ZIP File write error!"},
    {603, "Formatting Drive %c:..."},
    {604, "Formatting Cylinder %d"},
    {605, "Wiping Drive %c:..."},
    {606, "Initializing Media..."},
    {700, "Processing Item List... Please wait."},
    {701, "\\AZIPLOG.TXT"},
    {702, "--- ArcLynx ZIP Log - %s ---"},
    {703, "%s [Added]"},
    {704, "%s [Deleted]"},
    {708, "%s [Skipped]"},
    {705, "%s [Memory]"},
    {706, "Version: 5.00.03 - %s  %s"},
    {707, "[Memory to Memory]"},
    {0, ""},
};

const char* lookup(int id) {
  for (const ZipMsgEntry* e = kZipMessageTable; e->id != 0; ++e)
    if (e->id == static_cast<std::uint32_t>(id)) return e->text;
  return nullptr;
}

int default_box(const char* text, const char* title, int buttons) {
  platform::debug_printf("zip message box [%s] %s", title, text);
  switch (buttons) {
    case MB_OKCANCEL:
    case MB_YESNOCANCEL:
    case MB_RETRYCANCEL:
      return IDCANCEL;
    case MB_ABORTRETRYIGNORE:
      return IDABORT;
    case MB_YESNO:
      return IDNO;
    default:
      return IDOK;
  }
}

MessageBoxFn g_box = default_box;
// Set before main by the frame, so constant-initialised here.
constinit MessageHooks g_hooks{};

bool valid_answer(int style, int answer) {
  switch (answer) {
    case IDOK:
      return style == MB_OK || style == MB_OKCANCEL;
    case IDCANCEL:
      return style == MB_OKCANCEL || style == MB_YESNOCANCEL || style == MB_RETRYCANCEL;
    case IDABORT:
    case IDIGNORE:
      return style == MB_ABORTRETRYIGNORE;
    case IDRETRY:
      return style == MB_ABORTRETRYIGNORE || style == MB_RETRYCANCEL;
    case IDYES:
    case IDNO:
      return style == MB_YESNOCANCEL || style == MB_YESNO;
    default:
      return false;
  }
}

}  // namespace

const char* zipMessageText(int id, int buffer) {
  ZipState* s = g_hooks.current_state ? g_hooks.current_state() : nullptr;
  if (!s) return "";
  char* out = s->msg[std::clamp(buffer, 0, 2)];
  const char* text = lookup(id);
  if (!text) {
    out[0] = '\0';
    return out;
  }
  std::size_t n = std::min<std::size_t>(std::strlen(text), kMessageBufferSize - 2);
  std::memcpy(out, text, n);
  out[n] = '\0';
  if (s->message_proc) {
    s->msg_scratch[0] = '\0';
    s->message_proc(13, 0, id, 0, out, s->msg_scratch, s->message_data);
    // The host may fill the whole buffer; it stays a string.
    out[kMessageBufferSize - 1] = '\0';
  }
  return out;
}

int zipVolumePrompt(int type, int buttons, int number1, int number2, const char* text, ZipState& s) {
  int title_id = 107;
  std::string body;
  const char* given = text ? text : "";
  switch (type) {
    case 0:
      title_id = 106;
      if (number1 == -1)
        body = zipMessageText(512, 1);
      else if (number2 != -1)
        body = zip_format(zipMessageText(513, 1), {number1});
      else
        body = zipMessageText(517, 1);
      break;
    case 1:
      title_id = 106;
      body = zip_format(zipMessageText(514, 1), {number1, number2});
      break;
    case 2: body = zipMessageText(600, 1); break;
    case 3: body = zipMessageText(601, 1); break;
    case 4: body = zipMessageText(602, 1); break;
    case 5: body = zipMessageText(518, 1); break;
    case 6: body = zipMessageText(519, 1); break;
    case 7: body = zipMessageText(515, 1); break;
    case 8:
    case 9: break;
    case 10:
      title_id = 104;
      body = zipMessageText(516, 1);
      break;
    case 11:
      if (number1 >= 0 && number1 <= 21) body = given;
      break;
    case 12:
      title_id = 105;
      body = given;
      break;
    case 14:
      title_id = 109;
      body = given;
      break;
    case 16:
      title_id = 110;
      body = given;
      break;
    default: body = given; break;
  }
  std::string title = zipMessageText(title_id, 0);

  if (s.message_proc) {
    // The callback gets writable copies; what it writes there is not read.
    std::string text_copy = body;
    std::string title_copy = title;
    text_copy.resize(std::max<std::size_t>(text_copy.size(), kMessageBufferSize - 1));
    title_copy.resize(std::max<std::size_t>(title_copy.size(), kMessageBufferSize - 1));
    int answer = s.message_proc(type, buttons, number1, number2, text_copy.data(), title_copy.data(),
                                s.message_data);
    if (valid_answer(buttons, answer)) return answer;
    if (type == 14) return -1;
  } else if (type == 14) {
    return 1;
  }
  int answer = g_box(body.c_str(), title.c_str(), buttons);
  if (g_hooks.pump) g_hooks.pump(s);
  return answer;
}

void zip_report_error(ZipState& s, int code, const char* detail) {
  if (s.report_count++ > 0) return;
  s.error = code;
  if (code == 0) return;
  std::string text = zipMessageText(256 + code, 0);
  if (detail && *detail) {
    const std::size_t room = kMessageBufferSize - 1 > text.size() + 4 ? kMessageBufferSize - 1 - text.size() - 4 : 0;
    text += " (" + std::string(detail).substr(0, room) + ")";
  }
  text += "\n";
  if (s.diagnostic && g_hooks.log_text) g_hooks.log_text(s, text);
  if (!s.quiet) zipVolumePrompt(11, MB_OK, code, 0, text.c_str(), s);
}

void zip_warn(ZipState& s, const std::string& text) {
  if (!s.quiet) zipVolumePrompt(12, MB_OK, 0, 0, text.c_str(), s);
}

void set_message_hooks(const MessageHooks& hooks) { g_hooks = hooks; }
void set_message_box(MessageBoxFn box) { g_box = box ? box : default_box; }
int zip_message_box(const char* text, const char* title, int buttons) { return g_box(text, title, buttons); }

std::string zip_format(const char* format, std::initializer_list<FormatArg> args) {
  std::string out;
  auto next = args.begin();
  const char* p = format ? format : "";
  while (*p) {
    if (*p != '%') {
      const char* run = p;
      while (*p && *p != '%') ++p;
      out.append(run, static_cast<std::size_t>(p - run));
      continue;
    }
    if (p[1] == '%') {
      out += '%';
      p += 2;
      continue;
    }
    const char* start = p++;
    std::string flags;
    while (*p && std::strchr("-+ #0", *p)) flags += *p++;
    std::string width;
    while (*p >= '0' && *p <= '9' && width.size() < 3) width += *p++;
    while (*p == 'l' || *p == 'h') ++p;
    const char conv = *p;
    if (conv && std::strchr("dixXuc", conv)) {
      long long v = next != args.end() ? next->number : 0;
      if (next != args.end()) ++next;
      char buf[64];
      if (conv == 'c') {
        out += static_cast<char>(v);
      } else {
        std::string conversion = "%" + flags + width + "ll" + conv;
        if (conv == 'x' || conv == 'X' || conv == 'u')
          std::snprintf(buf, sizeof buf, conversion.c_str(), static_cast<unsigned long long>(v));
        else
          std::snprintf(buf, sizeof buf, conversion.c_str(), v);
        out += buf;
      }
      ++p;
    } else if (conv == 's') {
      const char* t = next != args.end() && next->text ? next->text : "";
      if (next != args.end()) ++next;
      out += t;
      ++p;
    } else {
      out.append(start, p - start);
    }
  }
  return out;
}

}  // namespace ziplib

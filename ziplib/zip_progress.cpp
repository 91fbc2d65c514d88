#include "ziplib/zip_progress.h"

#include "platform/file_io.h"
#include "platform/paths.h"
#include "ziplib/zip_messages.h"
#include "ziplib/zip_state.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>

namespace ziplib {
namespace {

void no_pump() {}
void (*g_pump)() = no_pump;
ProgressProgram* g_program = nullptr;
std::string g_windows_dir = "C:\\WINDOWS";

constexpr std::size_t kPacketSize = 356;
constexpr std::size_t kPacketText = 352;

int send_packet(int kind, const std::string& text, int percent) {
  if (!g_program) return 0;
  unsigned char packet[kPacketSize] = {};
  const auto p = static_cast<std::uint32_t>(percent);
  packet[0] = static_cast<unsigned char>(p);
  packet[1] = static_cast<unsigned char>(p >> 8);
  packet[2] = static_cast<unsigned char>(p >> 16);
  packet[3] = static_cast<unsigned char>(p >> 24);
  std::memcpy(packet + 4, text.data(), std::min(text.size(), kPacketText - 1));
  return g_program->send(kind, packet, sizeof packet);
}

// "Version: 5.00.03 - mm/dd/yy  hh:mm:ss" in local time.
std::string version_line() {
  std::string date, time;
  zip_log_now(&date, &time);
  return zip_format(zipMessageText(706, 2), {date.c_str(), time.c_str()});
}

int open_log(const std::string& name) {
  const std::string path = zip_log_path(name);
  platform::map_path_create_dirs(path);
  return platform::file_open(path, platform::OpenMode::kAppend);
}

void append(int fd, const std::string& text) { platform::file_write(fd, text.data(), text.size()); }

// A string field as the log shows it: at most `bound` characters, "???" for none.
std::string bounded(const char* p, std::size_t bound) {
  if (!p) return "???";
  return std::string(p, strnlen(p, bound));
}

long long ptr(const void* p) { return static_cast<long long>(reinterpret_cast<std::uintptr_t>(p)); }
template <class F>
long long fptr(F f) {
  return static_cast<long long>(reinterpret_cast<std::uintptr_t>(f));
}

std::string part_sizes(const ZIPCMDSTRUCT& c) {
  const bool wide = (c.wMultiVolControl & kMvSizes64) != 0;
  std::string out;
  const std::uint32_t* a = c.pulFileSizeArray;
  for (int i = 0; a && i < 32; ++i) {
    const std::uint64_t v = wide ? (a[2 * i] | (std::uint64_t(a[2 * i + 1]) << 32)) : a[i];
    if (v == 0) break;
    if (!out.empty()) out += ' ';
    out += '[';
    out += std::to_string(v);
    out += ']';
  }
  if (out.empty()) out.append(wide ? "[0]" : " [0]");
  return out;
}

}  // namespace

int minor_percent(std::uint64_t total, std::uint64_t done) {
  if (total == 0) return 0;
  if (done >= total) return 100;
  return static_cast<int>(static_cast<unsigned __int128>(done) * 100 / total);
}

int major_percent(std::int32_t total, std::int32_t done) {
  if (total == 0) return 0;
  long long p = total > 100000 ? static_cast<long long>(done) / (total / 100)
                               : static_cast<long long>(done) * 100 / total;
  return static_cast<int>(std::clamp<long long>(p, 0, 100));
}

void zip_minor_status(ZipState& s, const char* text, std::uint64_t total, std::uint64_t done) {
  const int percent = minor_percent(total, done);
  if (!s.progress_running && !s.minor_proc) return;
  const std::string t = text ? text : "";
  int answer = s.progress_running ? send_packet(1, t, percent) : s.minor_proc(t.c_str(), percent, s.minor_data);
  if (answer != 0 && s.record_level >= kLevel160 && s.minor_cancels) s.cancel = true;
  s.minor_percent = percent;
  s.last_minor = t;
  zip_pump(s);
}

int zip_major_status(ZipState& s, const char* text, std::int32_t total, std::int32_t done) {
  const int percent = major_percent(total, done);
  const std::string t = text ? text : "";
  int result = 0;
  if (s.progress_running) {
    if (send_packet(0, t, percent) != 0 && s.record_level >= kLevel160) {
      s.cancel = true;
      result = 1;
    }
  } else if (s.major_proc) {
    int answer = s.major_proc(t.c_str(), percent, s.major_data);
    result = s.record_level <= kLevel148 ? 0 : answer;
  }
  s.major_percent = percent;
  s.last_major = t;
  zip_pump(s);
  return result;
}

bool zip_poll_cancel(ZipState& s) {
  if (s.poll_throttle && (++s.poll_countdown % 1001) != 0) return false;
  if (s.cancel) return true;
  if (s.progress_running) {
    if (send_packet(0, s.last_major, s.major_percent) != 0 && s.record_level >= kLevel160) s.cancel = true;
  } else if (s.major_proc) {
    int answer = s.major_proc(s.last_major.c_str(), s.major_percent, s.major_data);
    if (s.record_level > kLevel148) s.cancel = answer != 0;
  }
  zip_pump(s);
  return s.cancel;
}

void zip_pump(ZipState& s) {
  if (!(s.sub_options & kSubNoPump)) g_pump();
}

void set_message_pump(void (*pump)()) { g_pump = pump ? pump : no_pump; }
void zip_run_pump() { g_pump(); }

void set_progress_program(ProgressProgram* program) { g_program = program; }

void zip_start_progress_program(ZipState& s) {
  std::string line = std::string("axprog32.exe /") + ((s.sub_options & kSubProgressSwitchC) ? 'c' : 'n') +
                     " /z /T=" + s.title;
  if (line.size() > 255) line.resize(255);
  // Without the program the operation simply goes on.
  s.progress_running = zip_progress_program_start(line);
}

void zip_close_progress_program(ZipState& s) {
  if (s.progress_running) zip_progress_program_close();
  s.progress_running = false;
}

bool zip_progress_program_start(const std::string& command_line) {
  return g_program && g_program->start(command_line);
}

int zip_progress_program_send(int kind, const std::string& text, int percent) {
  return send_packet(kind, text, percent);
}

void zip_progress_program_close() {
  if (g_program) g_program->close();
}

void set_windows_directory(const std::string& win_dir) { g_windows_dir = win_dir; }

std::string zip_log_path(const std::string& name) {
  if ((name.size() >= 2 && name[1] == ':') || name.rfind("\\\\", 0) == 0) return name;
  std::string dir = g_windows_dir;
  if (!name.empty() && name[0] == '\\') {
    while (!dir.empty() && dir.back() == '\\') dir.pop_back();
  } else if (dir.empty() || dir.back() != '\\') {
    dir += '\\';
  }
  return dir + name;
}

void zip_log_now(std::string* date, std::string* time) {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char d[32], t[32];
  std::snprintf(d, sizeof d, "%02d/%02d/%02d", tm.tm_mon + 1, tm.tm_mday, tm.tm_year % 100);
  std::snprintf(t, sizeof t, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
  *date = d;
  *time = t;
}

int zip_open_log(const std::string& name) { return open_log(name); }
void zip_log_append(int fd, const std::string& text) { append(fd, text); }

void zip_log_command(ZipState& s, const ZIPCMDSTRUCT& c, std::int32_t size) {
  int fd = open_log(zipMessageText(108, 0));
  if (fd < 0) return;
  std::string out = "\r\n";
  out += zip_format(zipMessageText(192, 1), {version_line().c_str()});
  // A field beyond the record's size may hold anything: it is left out.
  auto line = [&](int field, int id, FormatArg a) {
    if (!zip_field_within(field, size)) return false;
    out += zip_format(zipMessageText(id, 1), {a});
    return true;
  };
  auto text = [&](const char* p, std::size_t bound) { out += bounded(p, bound) + "\r\n"; };
  line(2, 193, c.Function);
  if (line(3, 194, ptr(c.lpszZIPFile))) text(c.lpszZIPFile, 2048);
  if (line(4, 195, ptr(c.lpszItemList))) text(c.lpszItemList, 20000);
  line(5, 196, fptr(c.lpMajorStatus));
  line(6, 197, ptr(c.lpMajorUserData));
  line(7, 198, fptr(c.lpMinorStatus));
  line(8, 199, ptr(c.lpMinorUserData));
  line(9, 200, c.dosifyFlag);
  line(10, 201, c.recurseFlag);
  line(11, 202, c.compFactor);
  line(12, 203, c.quietFlag);
  line(13, 204, c.pathForTempFlag);
  if (line(14, 205, ptr(c.lpszTempPath))) text(c.lpszTempPath, 2048);
  line(15, 206, c.fixFlag);
  line(16, 207, c.fixHarderFlag);
  line(17, 208, c.includeVolumeFlag);
  line(18, 209, c.deleteOriginalFlag);
  line(19, 210, c.growExistingFlag);
  line(20, 211, c.noDirectoryNamesFlag);
  line(21, 212, c.convertLFtoCRLFFlag);
  line(22, 213, c.addCommentFlag);
  if (line(23, 214, ptr(c.lpszComment))) text(c.lpszComment, 4096);
  line(24, 215, c.afterDateFlag);
  if (line(25, 216, ptr(c.lpszDate))) text(c.lpszDate, 32);
  line(26, 217, c.oldAsLatestFlag);
  line(27, 218, c.includeOnlyFollowingFlag);
  if (line(28, 219, ptr(c.lpszIncludeFollowing))) text(c.lpszIncludeFollowing, 4096);
  line(29, 220, c.excludeFollowingFlag);
  if (line(30, 221, ptr(c.lpszExludeFollowing))) text(c.lpszExludeFollowing, 4096);
  line(31, 222, c.noDirectoryEntriesFlag);
  line(32, 223, c.includeSysHiddenFlag);
  line(33, 224, c.dontCompressTheseSuffixesFlag);
  if (line(34, 225, ptr(c.lpszStoreSuffixes))) text(c.lpszStoreSuffixes, 4096);
  line(36, 226, c.encryptFlag);
  // The password never goes to a log; only whether one was given.
  if (line(37, 227, ptr(c.lpszEncryptCode))) out += c.lpszEncryptCode ? "********\r\n" : "???\r\n";
  line(38, 228, fptr(c.lpMessageDisplay));
  line(39, 229, ptr(c.lpMessageDisplayData));
  line(40, 230, c.wMultiVolControl);
  line(41, 231, c.wZipSubOptions);
  line(42, 232, ptr(c.lpCallbackStruct));
  line(43, 233, c.lResv2);
  if (line(44, 234, ptr(c.lpszExtProgTitle))) text(c.lpszExtProgTitle, 1024);
  line(45, 235, fptr(c.lpRenameProc));
  line(46, 236, ptr(c.lpRenameUserData));
  if (line(47, 237, ptr(c.lpMemBlock))) {
    // Read as text only as far as its size, when the size is in the record.
    if (zip_field_within(48, size))
      text(static_cast<const char*>(c.lpMemBlock), std::min<std::size_t>(c.lMemBlockSize, 1024));
    else
      text(nullptr, 0);
  }
  line(48, 238, static_cast<long long>(c.lMemBlockSize));
  line(52, 242, static_cast<long long>(c.lMemBlockSizeH));
  line(49, 239, c.LargeZIPFilesFlag);
  if (zip_field_within(50, size)) {
    out += zipMessageText(240, 1);
    out += part_sizes(c) + "\r\n";
  }
  line(51, 247, c.lZipSubOptions2);
  line(53, 243, fptr(c.lpRenameProcEX));
  line(54, 244, c.lResv6);
  line(55, 245, c.lResv7);
  line(56, 246, c.lResv8);
  out += "\r\n";
  append(fd, out);
  platform::file_close(fd);
  (void)s;
}

void zip_log_text(ZipState& s, const std::string& text) {
  (void)s;
  int fd = open_log(zipMessageText(108, 0));
  if (fd < 0) return;
  append(fd, "\r\n" + text + "\r\n");
  platform::file_close(fd);
}

void zip_item_log_header(ZipState& s) {
  if (!(s.sub_options & kSubItemLog)) return;
  zip_item_log(s, zip_format(zipMessageText(702, 0), {version_line().c_str()}));
}

void zip_item_log(ZipState& s, const std::string& line) {
  if (!(s.sub_options & kSubItemLog)) return;
  if (s.item_log_fd < 0) s.item_log_fd = open_log(zipMessageText(701, 0));
  if (s.item_log_fd < 0) return;
  append(s.item_log_fd, line + "\r\n");
}

void zip_close_item_log(ZipState& s) {
  if (s.item_log_fd >= 0) platform::file_close(s.item_log_fd);
  s.item_log_fd = -1;
}

}  // namespace ziplib

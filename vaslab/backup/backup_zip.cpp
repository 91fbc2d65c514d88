#include "vaslab/backup/backup_zip.h"

#include <cstring>
#include <vector>

#include "platform/dos_time.h"
#include "platform/failure_cause.h"
#include "platform/file_io.h"
#include "platform/find.h"
#include "vaslab/backup/zip_writer.h"
#include "vaslab/core/settings/settings.h"

namespace vaslab {
namespace {

constexpr const char* kBackupLog = "c:\\temp\\backup.log";
constexpr std::size_t kReadPiece = 4096;

ZipWriter* g_zip = nullptr;

std::string code_text(int code) {
  switch (code) {
    case kZipCloseError: return "close error";
    case kZipInternalError: return "internal error";
    case kZipParamError: return "parameter error";
    case -4: return "memory error";
    case kZipErrno: return "errno error";
    default: return std::to_string(code);
  }
}

}  // namespace

bool append_log_text(const char* win_path, const std::string& text) {
  const int h = platform::file_open(win_path, platform::OpenMode::kAppend);
  if (h < 0) return false;
  std::string dos;
  dos.reserve(text.size() + 8);
  for (char c : text) {
    if (c == '\n') dos += '\r';
    dos += c;
  }
  (void)platform::file_write(h, dos.data(), dos.size());  // a log line lost is not worth failing for
  (void)platform::file_close(h);
  return true;
}

void backup_log_append(const std::string& text) { (void)append_log_text(kBackupLog, text); }

int backup_file_exists(const char* path) {
  const int h = platform::file_open(path, platform::OpenMode::kRead);
  if (h < 0) return 0;
  (void)platform::file_close(h);
  return 1;
}

std::int16_t backup_zip_open(const char* path, std::uint8_t overwrite) {
  const int mode = (overwrite != 0 || !backup_file_exists(path)) ? kZipCreate : kZipAddInZip;
  if (g_zip) (void)backup_zip_close();
  g_zip = zip_writer_open_default(path, mode);
  if (g_zip == nullptr) {
    backup_log_append(std::string("Failed to open zip: ") + path + "\n");
    return -1;
  }
  backup_log_append(std::string("Creating zip: ") + path + "\n");
  return 0;
}

std::int16_t backup_zip_add_file(int archive_number, std::string& source_path) {
  if (g_zip == nullptr) {
    backup_log_append("No zip open.\n");
    return -1;
  }
  const HardwareSettings& s = hardware_settings();
  std::string name = std::to_string(archive_number);
  const std::string ext(s.archive_ext_1, strnlen(s.archive_ext_1, sizeof s.archive_ext_1));
  if (!ext.empty()) name += "." + ext;
  source_path.assign(s.archive_path_1, strnlen(s.archive_path_1, sizeof s.archive_path_1));
  source_path += name;
  if (!backup_file_exists(source_path.c_str())) {
    backup_log_append("File doesn't exist:" + source_path + "\n");
    return -1;
  }
  std::vector<std::uint8_t> buf(kReadPiece);
  // The entry keeps the study's own modification time, so that a restore
  // and any ZIP reader show when the study was last written.
  ZipFileInfo info{};
  if (const auto facts = platform::file_facts(source_path)) info.dos_date = platform::dos_time(facts->mtime);
  int err = zip_writer_open_entry(g_zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, 8, 9, 0, -15, 8, 0,
                                  nullptr, 0);
  if (err != kZipOk) {
    backup_log_append("error in opening " + source_path + " in zipfile(" + code_text(err) + ")\n");
    return static_cast<std::int16_t>(err);
  }
  const int h = platform::file_open(source_path, platform::OpenMode::kRead);
  if (h < 0) {
    platform::note_failure_cause(source_path, h);
    backup_log_append("error in opening " + source_path + " for reading\n");
    (void)zip_writer_remove_last(g_zip);  // no empty entry in place of the study
    return -1;
  }
  for (;;) {
    const long long n = platform::file_read(h, buf.data(), buf.size());
    if (n < 0) {
      platform::note_failure_cause(source_path, static_cast<int>(n));
      backup_log_append("error reading " + source_path + "\n");
      err = kZipErrno;
      break;
    }
    if (n == 0) break;
    err = zip_writer_write(g_zip, buf.data(), static_cast<std::size_t>(n));
    if (err != kZipOk) {
      backup_log_append("error writing in file in zip.\n");
      break;
    }
  }
  (void)platform::file_close(h);  // read only: nothing to lose
  if (err == kZipOk)
    err = zip_writer_close_entry(g_zip);
  else
    (void)zip_writer_remove_last(g_zip);  // the study is stored whole or not at all
  return static_cast<std::int16_t>(err);
}

std::int16_t backup_zip_remove_last() { return static_cast<std::int16_t>(zip_writer_remove_last(g_zip)); }

std::int16_t backup_zip_close() {
  if (g_zip == nullptr) return 0;
  const int r = zip_writer_close(g_zip, nullptr);
  g_zip = nullptr;
  return static_cast<std::int16_t>(r);
}

std::uint32_t backup_zip_estimate_size() { return zip_writer_estimate_size(g_zip); }

}  // namespace vaslab

// Extraction of items: the input reader over the archive's parts or the
// host, traditional decryption, the questions about an existing target, and
// the output file that appears under its name only once it is whole.
#include "platform/dos_time.h"
#include "platform/file_io.h"
#include "platform/find.h"
#include "platform/le_bytes.h"
#include "platform/paths.h"
#include "ziplib/crc32.h"
#include "ziplib/output_stage.h"
#include "ziplib/unzip_state.h"
#include "ziplib/zip_messages.h"
#include "ziplib/zip_state.h"
#include "ziplib/zip_volume.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace ziplib {
namespace {

using platform::get_u16le;
using platform::get_u32le;

constexpr std::uint32_t kLocalSig = 0x04034B50;
constexpr std::uint32_t kCentralSig = 0x02014B50;
constexpr int kStyleOverwrite = 15;
constexpr int kYesToAll = 100, kRename = 101;
// The stored attributes a file or folder is given when they are set.
constexpr std::uint32_t kKeptAttributes = platform::kAttrReadOnly | platform::kAttrHidden | platform::kAttrSystem;

// --- cipher ---------------------------------------------------------------

void update_keys(std::uint32_t* k, std::uint8_t c) {
  k[0] = crc32_byte(k[0], c);
  k[1] = (k[1] + (k[0] & 0xFF)) * 134775813u + 1;
  k[2] = crc32_byte(k[2], static_cast<std::uint8_t>(k[1] >> 24));
}

void init_keys(std::uint32_t* k, const std::string& password) {
  k[0] = 0x12345678;
  k[1] = 0x23456789;
  k[2] = 0x34567890;
  for (unsigned char c : password) update_keys(k, c);
}

void decrypt(std::uint32_t* k, std::uint8_t* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t t = (k[2] | 2) & 0xFFFF;
    p[i] ^= static_cast<std::uint8_t>((t * (t ^ 1)) >> 8);
    update_keys(k, p[i]);
  }
}

// --- paths ----------------------------------------------------------------

std::time_t time_of(std::uint16_t date, std::uint16_t time) {
  return static_cast<std::time_t>(platform::unix_time_of_dos(std::uint32_t{date} << 16 | time));
}

// --- input ----------------------------------------------------------------

// The item's compressed bytes, from the archive or the host, decrypted once
// the encryption header has been read, never past the compressed size.
class ItemSource : public ByteSource {
 public:
  ItemSource(UnzipState& s, PartReader* file, std::uint64_t size, std::size_t buffer)
      : s_(s), file_(file), left_(size), host_buf_(file ? 0 : buffer), buffer_(buffer) {}

  std::span<const uint8_t> next() override {
    if (left_ == 0 || stopped_ || s_.cancel) return {};
    std::size_t n = 0;
    std::uint8_t* p = raw(static_cast<std::size_t>(std::min<std::uint64_t>(left_, buffer_)), &n);
    if (!n) return {};
    left_ -= n;
    if (s_.options & kUnzEchoInput) {
      std::uint32_t len = static_cast<std::uint32_t>(n);
      int status = 3;
      s_.data_proc(2, p, &len, echo_pos_, 0, s_.data_user, &status);
      echo_pos_ += n;
      if (status >= 0 && status <= 2) {
        stopped_ = true;
        return {};
      }
    }
    if (decrypting_) decrypt(s_.keys, p, n);
    return {p, n};
  }
  bool cancelled() const override { return stopped_ || s_.cancel; }

  // The encryption header: 0 or 44.  The check byte is the high byte of the
  // DOS time with a data descriptor, else of the CRC.
  int start_decryption(const CentralItem& it) {
    std::uint8_t head[12];
    std::size_t got = 0;
    while (got < sizeof head && left_) {
      std::size_t n = 0;
      std::uint8_t* p = raw(std::min<std::size_t>(sizeof head - got, static_cast<std::size_t>(std::min<std::uint64_t>(left_, 12))), &n);
      if (!n) break;
      std::memcpy(head + got, p, n);
      got += n;
      left_ -= n;
    }
    if (got < sizeof head || s_.password.empty()) return UZ_KEY;
    init_keys(s_.keys, s_.password);
    decrypt(s_.keys, head, sizeof head);
    const std::uint8_t check = (it.flags & 8) ? static_cast<std::uint8_t>(it.time >> 8) : static_cast<std::uint8_t>(it.crc >> 24);
    if (head[11] != check) return UZ_KEY;
    decrypting_ = true;
    return UZ_OK;
  }

 private:
  std::uint8_t* raw(std::size_t max, std::size_t* got) {
    *got = 0;
    if (file_) return file_->some(max, got);
    if (host_ended_) return nullptr;
    std::uint32_t len = static_cast<std::uint32_t>(std::min(max, host_buf_.size()));
    int status = 3;
    s_.data_proc(0, host_buf_.data(), &len, host_pos_, 0, s_.data_user, &status);
    if (status == 2) s_.cancel = true;
    if (status != 3 && status != 0) return nullptr;
    if (status == 0) host_ended_ = true;
    *got = std::min<std::size_t>(len, max);
    host_pos_ += *got;
    return host_buf_.data();
  }

  UnzipState& s_;
  PartReader* file_;
  std::uint64_t left_;
  std::vector<std::uint8_t> host_buf_;
  std::size_t buffer_;
  bool decrypting_ = false, stopped_ = false, host_ended_ = false;
  std::uint64_t echo_pos_ = 0, host_pos_ = 0;
};

// --- output file ----------------------------------------------------------

// Asked once per thread, not once for each of thousands of items.
long thread_id() {
  thread_local const long id = static_cast<long>(::gettid());
  return id;
}

// The output is a file with no name in the target's folder, named only once
// whole: nothing half-written is ever seen under any name, and a crash
// leaves nothing behind.  A new file takes the target's name; one that
// replaces a file takes a temporary name and is renamed over it.  Where the
// drive has no unnamed files (the diskette), the output goes to the
// temporary name from the start (created exclusively, so never through a
// link already there, and an 8.3 name, so that a diskette takes it).  All of
// it goes through the file layer, so that a target on A: is written to the
// diskette.
struct OutputFile {
  std::string folder, final_path, temp_path;  // temp_path empty: the file has no name
  bool replaces = false;
  int fd = -1;
  bool open(const std::string& target, bool replacing) {
    final_path = target;
    replaces = replacing;
    const std::size_t slash = target.find_last_of("\\/");
    folder = slash == std::string::npos ? platform::current_directory() : target.substr(0, slash + 1);
    fd = platform::file_create_unnamed(folder);
    if (fd < 0) {
      zip_remove_stale_temps(folder);
      fd = zip_create_temp(folder, thread_id(), &temp_path);
    }
    return fd >= 0;
  }
  bool write(const std::uint8_t* p, std::size_t n) {
    return platform::file_write(fd, p, n) == static_cast<long long>(n);
  }
  // Whole: put in place.  Failed: removed, or kept under the target's name
  // when the host asked for partial files.  0, 50 when the data could not be
  // put away, 28 when the file could not take the target's name.
  int close(bool good, bool keep, const CentralItem& it, std::uint32_t attributes) {
    if (fd < 0) return UZ_CREATE;
    const bool wanted = good || keep;
    const auto mtime = static_cast<std::int64_t>(time_of(it.date, it.time));
    // Through the open file where the drive allows, which spares a look-up
    // of its name; otherwise by name below.
    const bool timed = wanted && platform::file_set_time(fd, mtime) == 0;
    // A file with no name can be named only while it is open.  Something
    // may have taken the target's name since it was looked at (a link left
    // there, say): then it is replaced like any other file.
    int placed = 0;
    bool named = false;  // it holds the target's name
    if (temp_path.empty() && wanted) {
      placed = replaces ? -EEXIST : platform::file_link(fd, final_path);
      named = placed == 0;
      if (placed == -EEXIST) placed = zip_link_temp(fd, folder, thread_id(), &temp_path);
    }
    // A close that fails has lost data the writes were promised.
    const bool closed = platform::file_close(fd) == 0;
    fd = -1;
    if (!(closed && good) && !keep) {
      if (!temp_path.empty()) (void)platform::file_delete(temp_path);
      else if (named) (void)platform::file_delete(final_path);
      return closed ? UZ_OK : UZ_DISKFULL;
    }
    if (placed == 0 && !named) {
      if (!timed) (void)platform::file_set_time(temp_path, mtime);
      placed = platform::file_rename(temp_path, final_path);
      if (placed == -EACCES) {
        // A read-only file the operator chose to overwrite gives way.
        (void)platform::file_set_attributes(final_path, 0);
        placed = platform::file_rename(temp_path, final_path);
      }
      if (placed != 0) (void)platform::file_delete(temp_path);
    } else if (placed == 0 && !timed) {
      (void)platform::file_set_time(final_path, mtime);
    }
    if (placed != 0) return UZ_CREATE;
    // A new file is writable and marked for archiving already.
    if (attributes & kKeptAttributes) (void)platform::file_set_attributes(final_path, attributes);
    return closed ? UZ_OK : UZ_DISKFULL;
  }
  ~OutputFile() {
    if (fd >= 0) {
      (void)platform::file_close(fd);
      if (!temp_path.empty()) (void)platform::file_delete(temp_path);
    }
  }
};

// The archive, or the part of it being read, however the target names it,
// is never written over: that is refused (shown) and the item skipped.
bool is_the_archive(UnzipState& s, const std::string& target) {
  if (!platform::same_file(target, s.base_path) && !platform::same_file(target, s.zip_path)) return false;
  unzip_error_display(s, UZ_SKIP, unzip_text(s, 126, 0));
  return true;
}

int ask_overwrite(UnzipState& s, const std::string& target, bool read_only) {
  const std::string text = zip_format(unzip_text(s, read_only ? 128 : 68, 1), {target.c_str()});
  const int style = s.level > kUnzLevel110 ? kStyleOverwrite : MB_YESNOCANCEL;
  int a = unzip_prompt(s, 8, style, 0, 0, text.c_str());
  if (a == 5 && style == kStyleOverwrite) a = kYesToAll;
  return a;
}

// The rename callbacks may change the target and the attributes.
void call_rename(UnzipState& s, std::string* target, const CentralItem& it, std::uint32_t* attributes) {
  if ((s.options2 & 2) && s.rename_proc_ex) {
    UNZIPRENAMEEX r{};
    r.structSize = sizeof r;
    std::snprintf(r.path, sizeof r.path, "%s", target->c_str());
    r.dosDate = it.date;
    r.dosTime = it.time;
    r.attributes = *attributes;
    r.uncompressedSize = it.usize;
    s.rename_proc_ex(&r, s.rename_data);
    *target = std::string(r.path, strnlen(r.path, sizeof r.path));
    *attributes = r.attributes;
  } else if (s.rename_proc) {
    UNZIPRENAME r{};
    std::snprintf(r.path, sizeof r.path, "%s", target->c_str());
    r.dosDate = it.date;
    r.dosTime = it.time;
    r.attributes = *attributes;
    s.rename_proc(&r, s.rename_data);
    *target = std::string(r.path, strnlen(r.path, sizeof r.path));
    *attributes = r.attributes;
  }
}

// The local header: where the data starts (0 with a code in *code).
std::uint64_t check_local_header(UnzipState& s, const CentralItem& it, int* code) {
  *code = UZ_FORM;
  if (s.multi_disk) {
    if (int r = unzip_open_disk(s, it.disk)) {
      *code = r;
      return 0;
    }
  }
  constexpr std::size_t kFixed = 30;
  // The header, the name the directory promises and a usual extra field in
  // one read; a longer extra field is read after.
  const std::size_t n = it.raw_name.size();
  if (it.offset > s.file_size || s.file_size - it.offset < kFixed + n) return 0;
  std::vector<std::uint8_t> h(static_cast<std::size_t>(std::min<std::uint64_t>(kFixed + n + 64, s.file_size - it.offset)));
  if (unzip_read_at(s, it.offset, h.data(), h.size()) != h.size()) return 0;
  if (get_u32le(h.data()) != kLocalSig || get_u16le(&h[26]) != n) return 0;
  const std::size_t m = get_u16le(&h[28]);
  if (s.file_size - it.offset - kFixed < n + m) return 0;
  const std::string_view name(reinterpret_cast<const char*>(&h[kFixed]), n);
  if (!platform::same_name(name, it.raw_name)) return 0;
  const std::size_t have = h.size();
  h.resize(kFixed + n + m);
  if (h.size() > have && unzip_read_at(s, it.offset + have, &h[have], h.size() - have) != h.size() - have) return 0;
  const std::uint8_t* extra = &h[kFixed + n];
  for (std::size_t at = 0; at + 4 <= m;) {
    const std::size_t tag = get_u16le(extra + at), len = get_u16le(extra + at + 2);
    if (tag == 1 && len + 4 > 32) return 0;
    at += 4 + len;
  }
  const std::uint64_t data = it.offset + kFixed + n + m;
  // On one disk the data must lie inside the file.
  if (!s.multi_disk && it.csize > s.file_size - data) return 0;
  *code = UZ_OK;
  return data;
}

// One item.  `index` is its place in the directory (for the rename record and
// the caller's index); from_host: callback mode.
int extract_item(UnzipState& s, const CentralItem& it, bool from_host) {
  const UNZIPCMDSTRUCT& c = s.cmd;
  if (it.external & 0x08) return UZ_LABEL;
  if (it.method > 19) return UZ_METHOD;
  const bool to_file = !c.testFlag && !s.memory_mode && !s.callback_mode;
  std::uint32_t attributes = it.external & 0x27;
  std::string target, drive_target;
  const std::string shown = it.name;
  if (to_file) {
    bool ok = false;
    target = unzip_target_path(s, it, &ok);
    if (!ok) {
      unzip_error_display(s, UZ_SKIP, it.name.c_str());
      return UZ_SKIP;
    }
    if (target.size() > kUnzMaxPath) {
      unzip_error_display(s, UZ_CREATE, it.name.c_str());
      return UZ_CREATE;
    }
    call_rename(s, &target, it, &attributes);
    if (target.empty()) return UZ_CREATE;
  }
  const bool is_dir = !target.empty() && (target.back() == '\\' || target.back() == '/');
  bool replaces = false;  // a file stands at the target
  if (to_file) {
    // The items of a folder mostly follow one another: it is made once for them.
    const std::size_t slash = target.find_last_of("\\/");
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash);
    if (!folder.empty() && folder != s.made_folder) {
      if (platform::dir_create(folder) != 0) return UZ_CREATE;
      s.made_folder = folder;
    }
    if (is_dir) {
      // The diskette keeps a folder's attributes as stored.  A folder drive
      // has only read-only, as write permission, which would stop the files
      // that follow from going into the folder: it is left writable.
      if (platform::on_diskette(target) && (attributes & kKeptAttributes))
        (void)platform::file_set_attributes(target, attributes);
      return UZ_OK;
    }
    // The target's name is looked up on its drive once, for every step of
    // the file layer that follows (a drive path goes through as it stands);
    // messages keep naming it as the archive does.
    const auto on_drive = [](const std::string& win) {
      return platform::on_diskette(win) ? win : platform::map_path(win);
    };
    drive_target = on_drive(target);
    auto there = platform::file_facts(drive_target);
    // Only a file that is there can be the archive.
    if (there && is_the_archive(s, drive_target)) return UZ_SKIP;
    // No file can be made where a folder stands.
    if (there && (there->attributes & platform::kAttrDirectory)) return UZ_CREATE;
    bool agreed = false;  // the operator chose to overwrite this very file
    if (there && !s.overwrite) {
      if (s.quiet) return UZ_SKIP;
      switch (ask_overwrite(s, target, (there->attributes & platform::kAttrReadOnly) != 0)) {
        case IDYES: break;
        case kYesToAll: s.overwrite = true; break;
        case IDCANCEL: return UZ_CANCEL;
        case kRename:
          // A cancelled dialog leaves an empty name, which cannot be created.
          if (!unzip_rename_dialog(s, target, &target) || target.empty()) return UZ_CREATE;
          drive_target = on_drive(target);
          if (is_the_archive(s, drive_target)) return UZ_SKIP;
          there = platform::file_facts(drive_target);
          if (there && (there->attributes & platform::kAttrDirectory)) return UZ_CREATE;
          break;
        default: return UZ_SKIP;
      }
      agreed = true;
    }
    // A read-only file gives way to the operator's Yes or to the host's
    // option bit 0 (old files cleared first); otherwise it cannot be
    // created over, and it stays as it is.
    if (there && (there->attributes & platform::kAttrReadOnly) && !agreed && !(s.options & kUnzDeleteFirst))
      return UZ_CREATE;
    replaces = there.has_value();
  }

  std::uint64_t data = 0;
  std::unique_ptr<PartReader> file;
  const std::size_t buffer = c.Function >= UNZIP_FILETOMEM ? 8192 : 10240;
  if (!from_host) {
    int code;
    data = check_local_header(s, it, &code);
    if (code) return code;
    // A small item's buffer holds just its bytes: no more is read for it.
    const std::size_t size = static_cast<std::size_t>(std::clamp<std::uint64_t>(it.csize, 1, buffer));
    file = std::make_unique<PartReader>(s, s.multi_disk ? it.disk : 0, data, size);
  }
  ItemSource in(s, file.get(), it.csize, buffer);
  if (it.flags & 1) {
    if (int r = in.start_decryption(it)) return r;
  }

  // The log's line is made only when there is a log to take it.
  std::string status;
  const bool logged = (s.options & kUnzItemLog) != 0;
  if (c.testFlag) {
    status = unzip_status_text(s, 73, shown);
    if (logged) unzip_item_log(s, unzip_text(s, 146, 0), shown);
  } else if (s.callback_mode) {
    status = unzip_text(s, 149, 0);
    unzip_item_log(s, "%s", status);
  } else if (s.memory_mode) {
    status = unzip_status_text(s, 132, shown);
    if (logged) unzip_item_log(s, unzip_text(s, 147, 0), shown);
  } else {
    status = unzip_status_text(s, 72, target);
    if (logged) unzip_item_log(s, unzip_text(s, 145, 0), target);
  }

  OutputFile out_file;
  OutputSettings o;
  o.item_size = it.usize;
  o.work_size = c.Function >= UNZIP_FILETOMEM ? kSmallWorkBufferSize : kWorkBufferSize;
  auto to_host = [&s](const uint8_t* p, size_t n, uint64_t position) {
    std::uint32_t len = static_cast<std::uint32_t>(n);
    int st = 3;
    s.data_proc(1, const_cast<std::uint8_t*>(p), &len, position, position + n, s.data_user, &st);
    if (st == 2) s.cancel = true;
    return st;
  };
  bool minor = true;
  if (c.testFlag) {
    o.mode = OutputMode::kTest;
  } else if (s.callback_mode) {
    o.mode = OutputMode::kHost;
    o.host = to_host;
    minor = false;
  } else if (s.memory_mode) {
    o.mode = OutputMode::kMemory;
    o.block = static_cast<std::uint8_t*>(c.lpMemBlock);
    o.block_size = s.mem_size;
    o.start_offset = s.start_offset;
    if (!o.block) {
      o.host = to_host;
      minor = false;
    }
  } else {
    if (!out_file.open(drive_target, replaces)) return UZ_CREATE;
    o.mode = OutputMode::kFile;
    o.text_mode = s.text_mode;
    o.write_file = [&out_file](const uint8_t* p, size_t n) { return out_file.write(p, n); };
  }
  const std::uint64_t total = s.memory_mode && o.block ? s.mem_size + s.start_offset : it.usize + s.start_offset;
  if (minor) {
    unzip_minor_status(s, status, total, 0);
    o.progress = [&s, &status, total](uint64_t done) { return unzip_minor_status(s, status, total, done); };
  }
  OutputStage stage(std::move(o));
  ItemParams params;
  params.method = it.method;
  params.flags = it.flags;
  params.crc = it.crc;
  params.host_input = from_host;
  int r = decode_item(params, in, stage);
  if (r == UZ_OK && s.cancel) r = UZ_CANCEL;
  if (to_file) {
    const int placed = out_file.close(r == UZ_OK, (s.options & kUnzKeepFailed) != 0, it, attributes);
    if (r == UZ_OK) r = placed;
  }
  return r;
}

// The wrong-password question: go on with the next item (49) or stop (44).
int wrong_password(UnzipState& s, const CentralItem& it) {
  if (s.quiet) return UZ_SKIP;
  const std::string text = zip_format(unzip_text(s, 70, 1), {it.name.c_str()});
  return unzip_prompt(s, 9, MB_OKCANCEL, 0, 0, text.c_str()) == IDOK ? UZ_SKIP : UZ_KEY;
}

int extract_at(UnzipState& s, std::size_t i) {
  CentralItem it;
  if (!unzip_item(s, i, &it)) return UZ_END;
  int r = extract_item(s, it, false);
  if (r == UZ_KEY) r = wrong_password(s, it);
  return r;
}

// The index among the items that bit 4 lets through, or -1.
long directory_index(UnzipState& s, long index) {
  if (!(s.options & kUnzSkipNon83)) return index;
  CentralItem it;
  for (std::size_t i = 0; unzip_item(s, i, &it); ++i)
    if (unzip_is_83(it.raw_name) && index-- == 0) return static_cast<long>(i);
  return -1;
}

}  // namespace

int unzip_extract(UnzipState& s) {
  UNZIPCMDSTRUCT& c = s.cmd;
  // Thousands of new names land in a few folders: each folder is read once
  // for its spellings, not once per file.
  platform::ListingCacheScope listings;
  s.made_folder.clear();  // folders made before may be gone
  if (int r = unzip_read_directory(s)) {
    unzip_error_display(s, r, unzip_text(s, 103, 0));
    return r;
  }
  const bool to_file = !c.testFlag && !s.memory_mode && !s.callback_mode;
  // Files written to the disk being swapped would go with it.
  if (s.multi_disk && !s.split && to_file && platform::same_volume(s.destination, s.base_path)) {
    unzip_prompt(s, 6, MB_OK, 0, 0, nullptr);
    return UZ_SAMEVOL;
  }
  auto problem = [&](int r) {
    if (r != UZ_OK && r != UZ_CANCEL && r != UZ_SKIP) unzip_error_display(s, r, unzip_text(s, 124, 0));
    return r;
  };
  const bool by_name = c.lpszFilespec != nullptr;
  if (!by_name) {
    const long count = static_cast<long>(unzip_item_count(s));
    const long i = directory_index(s, c.index);
    if (c.index > count - 1 || i < 0) {
      unzip_error_display(s, UZ_INDEX, unzip_text(s, 123, 0));
      return UZ_INDEX;
    }
    CentralItem it;
    unzip_item(s, static_cast<std::size_t>(i), &it);
    if (to_file && !unzip_qualifies(s, it)) return UZ_NONE;
    unzip_start_progress_program(s);
    return problem(extract_at(s, static_cast<std::size_t>(i)));
  }
  if (int r = unzip_build_patterns(s)) return r;
  std::int32_t total = 0;
  for (long i = unzip_next_match(s, 0); i >= 0; i = unzip_next_match(s, static_cast<std::size_t>(i) + 1)) ++total;
  if (total == 0) {
    unzip_error_display(s, UZ_NONE, unzip_text(s, 125, 0));
    return UZ_NONE;
  }
  unzip_start_progress_program(s);
  int r = UZ_OK;
  long i = -1;
  bool any_done = false;
  for (std::int32_t n = 1; n <= total; ++n) {
    i = unzip_next_match(s, static_cast<std::size_t>(i + 1));
    if (i < 0) {
      unzip_error_display(s, UZ_END, unzip_text(s, 107, 0));
      return UZ_END;
    }
    c.index = static_cast<std::int32_t>(i);
    if (unzip_major_status(s, total, n)) return UZ_CANCEL;
    r = extract_at(s, static_cast<std::size_t>(i));
    any_done = any_done || r == UZ_OK;
    if (r == UZ_OK || r == UZ_SKIP) continue;
    if (r == UZ_CANCEL || r == UZ_APPCANCEL) break;
    return problem(r);
  }
  // Skipped items beside extracted ones are the caller's choice (no
  // overwrite, quiet); a call that skipped every item did nothing, and 0
  // would let the caller believe its files are there.
  if (r == UZ_SKIP) return any_done ? UZ_OK : UZ_SKIP;
  return r;
}

int unzip_callback_mode(UnzipState& s) {
  std::vector<std::uint8_t> head(46);
  std::uint64_t pos = 0;
  // Asks the host for exactly `n` bytes: 0, or the code of its status.
  auto ask = [&](std::uint8_t* p, std::size_t n) {
    std::size_t got = 0;
    while (got < n) {
      std::uint32_t len = static_cast<std::uint32_t>(n - got);
      int status = 3;
      s.data_proc(0, p + got, &len, pos, 0, s.data_user, &status);
      len = std::min<std::uint32_t>(len, static_cast<std::uint32_t>(n - got));
      got += len;
      pos += len;
      if (got == n) break;
      if (status == 0) return UZ_END;
      if (status == 2) return UZ_CANCEL;
      if (status != 3) return UZ_MEM;
    }
    return UZ_OK;
  };
  int r = ask(head.data(), head.size());
  if (r == UZ_OK) {
    if (get_u32le(head.data()) != kCentralSig) {
      r = UZ_FORM;
    } else {
      head.resize(46 + get_u16le(&head[28]) + get_u16le(&head[30]) + get_u16le(&head[32]));
      r = ask(head.data() + 46, head.size() - 46);
    }
  }
  if (r == UZ_OK) {
    CentralItem it;
    unzip_parse_central(s, head.data(), &it);
    r = extract_item(s, it, true);
  }
  if (r != UZ_OK && r != UZ_KEY) unzip_error_display(s, r, "");
  return r;
}

}  // namespace ziplib

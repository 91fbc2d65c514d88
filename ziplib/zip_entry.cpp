#include "platform/file_io.h"
#include "platform/find.h"
#include "platform/paths.h"
#include "ziplib/crc32.h"
#include "ziplib/deflate.h"
#include "ziplib/zip_archive.h"
#include "ziplib/zip_messages.h"
#include "ziplib/zip_progress.h"
#include "ziplib/zip_state.h"
#include "ziplib/zip_writer.h"

#include <fcntl.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>
#include <string_view>

namespace ziplib {
namespace {

constexpr std::size_t kBlock = 8192;

// What the readers of one entry keep between calls.
struct EntryInput {
  int fd = -1;
  bool memory = false;    // the command's memory block
  bool callback = false;  // the host's data callback
  bool text = false;      // LF becomes CR LF
  bool prepass = false;
  bool ended = false;     // the callback said the input is over
  bool short_is_end = false;  // nothing can change the file between two reads
  bool file_ended = false;    // a read of the file came back short
  bool read_error = false;
  std::uint32_t crc = 0xFFFFFFFFu;
  std::uint64_t count = 0;      // bytes handed to the encoder
  std::uint64_t delivered = 0;  // bytes the callback delivered
  std::uint64_t total = 0;
  std::string label;
};

EntryInput& input_of(ZipState& s) { return *static_cast<EntryInput*>(s.reader_context); }

// Expands LF to CR LF in place; `buf` has room for twice `n`.
std::size_t expand_lf(unsigned char* buf, std::size_t n) {
  std::size_t lfs = 0;
  for (std::size_t i = 0; i < n; ++i) lfs += buf[i] == '\n';
  if (!lfs) return n;
  std::size_t out = n + lfs;
  for (std::size_t i = n; i-- > 0;) {
    buf[--out] = buf[i];
    if (buf[i] == '\n') buf[--out] = '\r';
  }
  return n + lfs;
}

std::size_t read_callback(unsigned char* buf, std::size_t size, ZipState& s, EntryInput& in) {
  if (in.ended || !s.data_proc) return 0;
  const std::size_t want = in.text ? size / 2 : size;
  std::size_t got = 0;
  while (got < want && !in.ended) {
    std::uint32_t len = static_cast<std::uint32_t>(std::min<std::size_t>(want - got, 0x40000000));
    const std::uint32_t room = len;
    int status = 3;
    s.data_proc(0, buf + got, &len, in.delivered, s.out_position, s.data_user, &status);
    len = std::min(len, room);  // never more than the room offered
    got += len;
    in.delivered += len;
    s.mem_pos = in.delivered;
    if (status == 0) {
      in.ended = true;
    } else if (status == 2) {
      s.cancel = true;
      break;
    } else if (status != 3) {
      in.ended = true;
    }
  }
  return in.text ? expand_lf(buf, got) : got;
}

std::size_t read_memory(unsigned char* buf, std::size_t size, ZipState& s, EntryInput& in) {
  const auto* block = static_cast<const unsigned char*>(s.cmd.lpMemBlock);
  std::size_t n = 0;
  while (n < size && s.mem_pos < s.mem_size) {
    const unsigned char c = block[s.mem_pos];
    if (in.text && c == '\n') {
      if (n + 2 > size) break;  // the pair goes into the next call
      buf[n++] = '\r';
    }
    buf[n++] = c;
    ++s.mem_pos;
  }
  return n;
}

// A regular file gives less than asked only at its end: unless a status
// callback between two reads could change the file (it may add to it, and
// then all of it is taken), the read that would return nothing is not made,
// which for a small file is every other read.
std::size_t read_file(unsigned char* buf, std::size_t size, EntryInput& in) {
  if (in.file_ended) return 0;
  const std::size_t want = in.text ? size / 2 : size;
  const long long n = platform::file_read(in.fd, buf, want);
  if (n < 0) {
    in.read_error = true;
    return 0;
  }
  if (in.short_is_end && static_cast<std::size_t>(n) < want) in.file_ended = true;
  return in.text ? expand_lf(buf, static_cast<std::size_t>(n)) : static_cast<std::size_t>(n);
}

// The reader the encoders and the stored copy pull from.
std::size_t entry_reader(unsigned char* buf, std::size_t size, ZipState& s) {
  EntryInput& in = input_of(s);
  if (s.cancel) return 0;
  std::size_t n = in.callback ? read_callback(buf, size, s, in)
                  : in.memory ? read_memory(buf, size, s, in)
                              : read_file(buf, size, in);
  in.crc = crc32_update(in.crc, buf, n);
  in.count += n;
  if (!in.callback) zip_minor_status(s, in.label.c_str(), in.prepass ? 1 : in.total, in.prepass ? 1 : in.count);
  return n;
}

// The CRC and length of the whole input (after any LF expansion), read
// ahead of the data; the position is put back.
bool crc_prepass(ZipState& s, EntryInput& in, std::uint32_t* crc, std::uint64_t* length) {
  in.prepass = true;
  in.crc = 0xFFFFFFFFu;
  const std::uint64_t mem_pos = s.mem_pos;
  unsigned char buf[kBlock];
  while (entry_reader(buf, sizeof buf, s) > 0)
    if (s.cancel) break;
  *crc = ~in.crc;
  *length = in.count;
  in.prepass = false;
  in.crc = 0xFFFFFFFFu;
  in.count = 0;
  s.mem_pos = mem_pos;
  if (in.fd >= 0) platform::file_seek(in.fd, 0, SEEK_SET);
  in.file_ended = false;
  return !s.cancel && !in.read_error;
}

void set_versions(ZipState& s, ZipEntry& e) {
  if (s.large_files) {
    e.made_by = e.needed = 45;
  } else {
    e.made_by = (s.cmd.dosifyFlag || e.method != 9) ? 20 : 21;
    e.needed = e.method == 0 ? 10 : e.method == 9 ? 21 : 20;
  }
  if (s.sub_options & kSubHostNtfs) e.made_by = static_cast<std::uint16_t>((e.made_by & 0xFF) | 0x0B00);
}

// Encrypts the entry's data where it lies, behind a header that now carries
// the real CRC: the data was written plain because the CRC of a file is
// known only once it has been read.
int encrypt_in_place(ZipState& s, ZipEntry& e, std::uint64_t data_at, std::uint64_t data_len) {
  if (int rc = zipWriteEncryptionHeader(s.password.c_str(), e.crc, s)) return rc;
  unsigned char buf[kBlock];
  std::uint64_t done = 0;
  while (done < data_len) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buf, data_len - done));
    const long long at = static_cast<long long>(data_at + done);
    if (platform::file_seek(s.out_fd, at, SEEK_SET) < 0 || platform::file_read(s.out_fd, buf, n) != static_cast<long long>(n))
      return ZE_READ;
    for (std::size_t i = 0; i < n; ++i) {
      const unsigned char plain = buf[i];
      buf[i] = plain ^ zipKeystreamByte(s);
      zipUpdateKeys(plain, s);
    }
    if (platform::file_seek(s.out_fd, at, SEEK_SET) < 0 || platform::file_write(s.out_fd, buf, n) != static_cast<long long>(n))
      return ZE_WRITE;
    done += n;
    zip_minor_status(s, e.name.c_str(), data_len, done);
    if (s.cancel) return ZE_ABORT;
  }
  return 0;
}

// The drive path of a source file: its folder is mapped once for all the
// files that follow from it.
std::string source_path(ArchiveWork& a, const std::string& win) {
  const std::size_t cut = win.find_last_of('\\');
  if (cut == std::string::npos) return platform::map_path(win);
  if (a.source_folder_mapped.empty() || win.compare(0, cut + 1, a.source_folder) != 0) {
    a.source_folder = win.substr(0, cut + 1);
    a.source_folder_mapped = platform::map_path(a.source_folder);
    if (a.source_folder_mapped.empty() || a.source_folder_mapped.back() != '/') a.source_folder_mapped += '/';
  }
  return a.source_folder_mapped + win.substr(cut + 1);
}

int finish_entry(ZipState& s, const ZipEntry& e, bool memory_like) {
  if (!(s.sub_options & kSubItemLog)) return 0;  // no line to make
  if (memory_like && s.memory_input) {
    zip_item_log(s, zip_format(zipMessageText(705, 1), {e.name.c_str()}));
  } else {
    zip_item_log(s, zip_format(zipMessageText(703, 1), {e.disk_name.c_str()}));
  }
  return 0;
}

}  // namespace

bool zip_store_suffix(const std::string& name, const std::string& list) {
  const std::size_t slash = name.find_last_of("\\/:");
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  const std::string_view ext = std::string_view(name).substr(dot);
  const std::string_view items = list;
  std::size_t start = 0;
  while (start <= items.size()) {
    std::size_t end = items.find_first_of(":;", start);
    if (end == std::string_view::npos) end = items.size();
    const std::string_view item = items.substr(start, end - start);
    if (!item.empty() && platform::same_name(item, ext)) return true;
    start = end + 1;
  }
  return false;
}

int zip_compress_entry(ZipState& s, ZipEntry& e) {
  ArchiveWork& a = *s.archive;
  const bool multi = (s.multi_vol & kMvMulti) != 0;
  const bool memory_like = e.disk_name.empty() && (s.memory_input || s.callback_input);

  // Progress: the item counter, or memory input; the text is made only for
  // someone to show it.
  s.minor_percent = 0;
  const std::string major = !s.progress_running && !s.major_proc ? std::string()
                            : memory_like && s.memory_input
                                ? std::string(zipMessageText(395, 1))
                                : zip_format(zipMessageText(391, 1), {s.item_counter, a.items_total});
  ++s.item_counter;
  if (zip_major_status(s, major.c_str(), a.items_total, s.item_counter - 1)) return ZE_ABORT;

  EntryInput in;
  in.text = s.cmd.convertLFtoCRLFFlag != 0;
  in.memory = memory_like && s.memory_input;
  in.callback = memory_like && s.callback_input;
  in.label = e.name;
  in.short_is_end = !s.progress_running && !s.minor_proc;
  struct Closer {
    int& fd;
    ~Closer() {
      if (fd >= 0) platform::file_close(fd);
    }
  } closer{in.fd};

  // The facts of the source: a missing file, or one too large without Zip64 records, is refused.
  const bool is_dir = !e.name.empty() && e.name.back() == '/';
  std::uint32_t time = 0, attrs = 0;
  std::uint64_t size = 0;
  // A file's name is looked up on its drive once, for its facts and its
  // opening: the file is opened here and its facts are those of what opened.
  std::string source = memory_like ? std::string() : e.disk_name;
  const bool plain_file = !memory_like && !is_dir && !source.empty() && source.back() != '\\' &&
                          source.back() != '/' && source.back() != ':';
  if (plain_file) {
    std::replace(source.begin(), source.end(), '/', '\\');
    if (!platform::on_diskette(source)) {
      const std::string win = source;
      source = source_path(a, win);
      platform::FoundFile facts;
      in.fd = platform::open_with_facts(source, facts);
      if (in.fd >= 0) {
        zip_facts_of(facts, &time, &attrs, &size);
      } else if (!zip_file_facts(s, source, &time, &attrs, &size)) {
        // A name not there as found (gone, or respelt since) is looked for
        // as any other.
        source = platform::map_path(win);
      }
    }
  }
  if (!plain_file || !time) zip_file_facts(s, source, &time, &attrs, &size);
  if (!memory_like) {
    if (time == 0 && size != kSizeDirectory) return ZE_OPEN;
    if (size != kSizeDirectory && size != kSizeLabel && (size >> 63)) return ZE_OPEN;
  }
  if ((s.sub_options & kSubArchiveBitOnly) && (s.sub_options & kSubClearArchiveBit)) attrs &= ~0x20u;
  const bool size_code = size == kSizeDirectory || size == kSizeLabel || size == kSizeUnknown || size == kSizeUnknownLarge;
  if (!s.large_files && !size_code && size >= 0xFFFFFFFFull) return ZE_READ;
  if (!(multi && (s.multi_vol & kMvDirectoryFirst) && (s.rename_proc || s.rename_proc_ex) && e.time)) {
    e.time = time;
    e.external_attr = attrs;
  }
  if (s.cmd.dosifyFlag) e.external_attr &= 0xFF;

  // Stored by its suffix, except at level 9.
  int method = s.method;
  if (!a.level9 && !s.store_suffixes.empty() && !memory_like && zip_store_suffix(e.disk_name, s.store_suffixes))
    method = 0;

  // The input: none for a folder, the memory block or callback, or the file.
  std::uint64_t in_size = 0;
  if (is_dir || size == kSizeLabel) {
    method = 0;
  } else if (memory_like) {
    in_size = in.callback ? 0 : s.mem_size;
    s.mem_pos = 0;
  } else {
    if (in.fd < 0) {
      std::string path = e.disk_name;
      std::replace(path.begin(), path.end(), '/', '\\');
      in.fd = platform::file_open(plain_file ? source : path, platform::OpenMode::kRead);
    }
    if (in.fd < 0) return ZE_OPEN;
    in_size = size;
  }
  in.total = in_size;
  s.reader = entry_reader;
  s.reader_context = &in;
  struct ReaderReset {
    ZipState& s;
    ~ReaderReset() {
      s.reader = nullptr;
      s.reader_context = nullptr;
    }
  } reader_reset{s};

  // Nothing to compress is stored; the default method is Deflate.
  const bool no_input = is_dir || size == kSizeLabel;
  if (no_input || (!in.callback && in_size == 0)) method = 0;
  if (method < 0) method = 8;
  e.method = static_cast<std::uint16_t>(method);

  // The rename callback for a new entry, before the flags, whose check value follows the time.
  if (e.is_new && !(s.sub_options & kSubRenameWhileCollecting) && !(multi && (s.multi_vol & kMvDirectoryFirst))) {
    std::string name = e.name;
    std::uint32_t t = e.time, at = e.external_attr;
    if (zip_call_rename(s, &name, &t, &at, e.disk_name, in_size, true)) {
      std::string raw;
      if (!name.empty() && zip_name_to_archive(s, name, &raw)) {
        e.name = name;
        e.raw_name = raw;
      }
      e.time = t;
      e.external_attr = at;
    }
  }

  // Versions and flags.  A single file takes no data descriptor, so the check
  // byte of an encrypted entry must come from the real CRC: memory input is
  // read twice, a file is encrypted where it lies once it has been read.
  set_versions(s, e);
  const bool encrypt = !s.password.empty();
  e.flags = 0x0008;
  e.crc = e.time << 16;
  bool second_pass = false;
  if (encrypt) e.flags |= 1;
  if (encrypt && !multi && !in.callback) {
    e.flags &= ~0x0008;
    if (in.memory) {
      std::uint64_t length = 0;
      if (!crc_prepass(s, in, &e.crc, &length)) return s.cancel ? ZE_ABORT : ZE_READ;
    } else {
      e.crc = 0;
      second_pass = !no_input;
    }
  }
  e.disk = multi ? s.current_disk : 0;
  if (multi && e.method == 0 && !no_input && !in.callback) {
    // Stored on volumes: the header cannot be rewritten, so it must carry
    // the final CRC and length from the start.
    e.flags &= ~0x0008;
    if (!crc_prepass(s, in, &e.crc, &in_size)) return s.cancel ? ZE_ABORT : ZE_READ;
  }

  // Sizes as far as they are known before the data.
  e.local_flags = e.flags;
  e.csize = e.method == 0 ? in_size : 0;
  e.usize = in_size;
  e.internal_attr = e.method == 0 ? 0 : 0xFFFF;

  // The local header; stored encrypted data on volumes counts the encryption header.
  s.encrypt_entry = encrypt && !second_pass;
  const std::uint64_t header_csize = e.csize;
  if (s.multi_vol && encrypt && e.method == 0) e.csize += 12;
  const std::uint64_t start_pos = a.out_pos;
  // A small entry of a single archive is held back and written once, with
  // its final header: no seek back and no second write of the header.
  struct HeldDrop {
    ZipState& s;
    ~HeldDrop() {
      if (s.holding) zip_drop_held(s);
    }
  } held_drop{s};
  const bool hold = !multi && !s.memory_output && !encrypt && !in.callback && s.out_fd >= 0 && in_size <= kHoldLimit;
  std::vector<std::uint8_t> header;
  if (hold) {
    try {
      header = zip_local_header_bytes(s, e);
    } catch (const std::bad_alloc&) {
      header.clear();
    }
  }
  if (!header.empty() && zip_hold(header, s)) {
    a.out_pos += header.size();
  } else if (int rc = zip_write_local_header(s, e)) {
    return rc;
  }
  e.csize = header_csize;
  const std::uint64_t header_len = a.out_pos - start_pos;
  e.local_len = header_len;
  e.offset = multi ? s.volume_offset - header_len : start_pos;
  if (multi) e.disk = s.current_disk;

  if (encrypt) {
    if (int rc = zipWriteEncryptionHeader(s.password.c_str(), e.crc, s)) {
      zip_report_error(s, rc, zipMessageText(392, 1));
      return rc;
    }
    a.out_pos += 12;
  }
  const std::uint64_t data_at = a.out_pos;

  // The data: stored in blocks, or through the encoder.
  in.crc = 0xFFFFFFFFu;
  in.count = 0;
  const std::uint64_t vol_before = s.volume_offset;
  std::uint64_t written = 0;
  if (!no_input) {
    if (e.method == 8 || e.method == 9) {
      std::uint16_t method16 = e.method;
      const int rc = e.method == 9 ? zipDeflate64Start(s, s.comp_level, &e.flags) : zipDeflateStart(s, s.comp_level, &e.flags);
      if (rc) return rc;
      if (e.method == 9)
        zipTrees64Start(s, &e.internal_attr, &method16);
      else
        zipTreesStart(s, &e.internal_attr, &method16);
      written = e.method == 9 ? zipDeflate64(s) : zipDeflate(s);
      e.method = method16;
      if (e.internal_attr == 0xFFFF) e.internal_attr = 0;
      e.local_flags = e.flags;
      if (s.error) return s.error;
    } else {
      std::unique_ptr<unsigned char[]> buf(new (std::nothrow) unsigned char[kBlock]);
      if (!buf) return ZE_MEM;
      if (!memory_like) {
        zip_minor_status(s, e.name.c_str(), in_size, 0);
        if (s.cancel) return ZE_ABORT;
      }
      for (;;) {
        const std::size_t n = entry_reader(buf.get(), kBlock, s);
        if (n == 0 || s.cancel) break;
        if (zipWriteData(buf.get(), n, s) != n) {
          if (multi) return s.cancel ? ZE_ABORT : s.volume_error ? s.volume_error : ZE_WRITE;
          return ZE_TEMP;
        }
        written += n;
      }
    }
  }

  if (s.cancel) return ZE_ABORT;
  if (in.fd >= 0) {
    platform::file_close(in.fd);
    in.fd = -1;
  }
  if (in.read_error) return ZE_READ;

  // On volumes the count is what went out, whichever volumes it went to.
  a.out_pos += multi ? (s.volume_offset >= vol_before ? s.volume_offset - vol_before : s.volume_offset) : written;
  if (!s.large_files && a.out_pos >= 0xFFFFFFFFull) {
    zip_report_error(s, ZE_WRITE, zipMessageText(270, 1));
    return ZE_WRITE;
  }

  // The final values.
  e.crc = ~in.crc;
  e.csize = written + (encrypt ? 12 : 0);
  e.usize = in.count;
  if (in.callback && !in.text) e.usize = s.large_files ? in.delivered : (in.delivered & 0xFFFFFFFFull);

  // A single file: the local header again with the final values, then the
  // second pass of the encryption.
  if (!multi) {
    const std::uint64_t end_pos = a.out_pos;
    if (!s.holding && platform::file_seek(s.out_fd, static_cast<long long>(start_pos), SEEK_SET) < 0) {
      zip_report_error(s, ZE_READ, zipMessageText(393, 1));
      return ZE_READ;
    }
    if (!in.callback) e.flags &= ~0x0008;
    e.local_flags = e.flags;
    const std::uint32_t real_crc = e.crc;
    if (in.callback && encrypt) e.crc = e.time << 16;
    set_versions(s, e);
    if (s.holding) {
      int rc = 0;
      try {
        header = zip_local_header_bytes(s, e);
        // The header keeps its length (its Zip64 block was decided at first).
        rc = header.size() == e.local_len ? zip_write_held(header, s) : ZE_TEMP;
      } catch (const std::bad_alloc&) {
        rc = ZE_MEM;
      }
      e.crc = real_crc;
      if (rc < 0) {
        // The data did not all go out, as the direct writes would have told.
        rc = e.method == 0 ? ZE_TEMP : ZE_WRITE;
        if (rc == ZE_WRITE) zip_report_error(s, rc);
      }
      if (rc) return rc;
      s.encrypt_entry = false;
      return finish_entry(s, e, memory_like);
    }
    const std::uint64_t saved = a.out_pos;
    const int rc = zip_write_local_header(s, e);
    a.out_pos = saved;
    e.crc = real_crc;
    if (rc) return rc;
    if (second_pass) {
      if (int err = encrypt_in_place(s, e, data_at, written)) {
        if (err != ZE_ABORT) zip_report_error(s, err, zipMessageText(392, 1));
        return err;
      }
    }
    if (platform::file_seek(s.out_fd, static_cast<long long>(end_pos), SEEK_SET) < 0) {
      zip_report_error(s, ZE_READ, zipMessageText(393, 1));
      return ZE_READ;
    }
  }

  // On volumes or from the callback the sizes follow the data.
  if ((multi || in.callback) && (e.method == 8 || e.method == 9 || (e.flags & 0x0008)))
    if (int rc = zip_write_descriptor(s, e)) return rc;
  s.encrypt_entry = false;
  return finish_entry(s, e, memory_like);
}

}  // namespace ziplib

namespace ziplib {

int zip_password_buffer(ZipState& s) {
  ArchiveWork& a = *s.archive;
  a.pw_buffer.clear();
  s.password.clear();
  if (!s.cmd.encryptFlag) return 0;
  const char* pw = s.cmd.lpszEncryptCode;
  const std::size_t len = pw ? strnlen(pw, 513) : 0;
  if (!pw || len == 0 || len > 512) {
    zip_report_error(s, ZE_PARMS, std::string(zipMessageText(143, 2)).c_str());
    return ZE_PARMS;
  }
  s.password.assign(pw, len);
  a.pw_buffer = s.password;
  a.pw_buffer.resize(std::max<std::size_t>(65, len), '\0');
  return 0;
}

PasswordScope::~PasswordScope() {
  std::fill(s.password.begin(), s.password.end(), '\0');
  s.password.clear();
  if (s.archive) {
    std::fill(s.archive->pw_buffer.begin(), s.archive->pw_buffer.end(), '\0');
    s.archive->pw_buffer.clear();
  }
}

int zip_run_memory(ZipState& s) {
  ArchiveWork* ap = zip_archive(s);
  if (!ap) return ZE_MEM;
  ArchiveWork& a = *ap;
  ZIPCMDSTRUCT& c = s.cmd;
  // Level: never stored.
  s.internal_mode = 1;
  a.stream_input = false;
  const int factor = std::clamp(c.compFactor, 1, 19);
  s.method = factor >= 10 ? 9 : 8;
  s.comp_level = factor >= 10 ? factor - 10 : factor;
  // Password and the entry's name.
  if (int rc = zip_password_buffer(s)) return rc;
  PasswordScope wipe{s};
  struct Cleanup {
    ZipState& s;
    ~Cleanup() {
      s.memory_output = false;
      s.encrypt_entry = false;
      s.reader = nullptr;
      s.reader_context = nullptr;
      zip_release_encoders(s);
    }
  } cleanup{s};
  ZipEntry e;
  if (c.lpszItemList && *c.lpszItemList) {
    e.name = std::string(c.lpszItemList, strnlen(c.lpszItemList, kMaxPath));
    if (!zip_name_to_archive(s, e.name, &e.raw_name)) e.raw_name = e.name;
  }

  // The entry, as the header describes it before the data.
  s.memory_output = true;
  s.out_position = 0;
  s.mem_pos = 0;
  EntryInput in;
  in.callback = true;
  in.text = c.convertLFtoCRLFFlag != 0;
  s.minor_percent = 0;
  e.time = zip_dos_time(static_cast<std::int64_t>(std::time(nullptr)));
  e.method = static_cast<std::uint16_t>(s.method);
  set_versions(s, e);
  const bool encrypt = !s.password.empty();
  e.flags = encrypt ? 1 : 0;
  e.local_flags = e.flags;
  e.crc = e.time << 16;
  e.csize = s.large_files ? ~0ull : 0xFFFFFFFFull;
  e.usize = 0;
  e.internal_attr = 0xFFFF;

  // The encoder starts and reads its first input before the header goes out.
  s.reader = entry_reader;
  s.reader_context = &in;
  std::uint16_t method16 = e.method;
  const int start = e.method == 9 ? zipDeflate64Start(s, s.comp_level, &e.flags) : zipDeflateStart(s, s.comp_level, &e.flags);
  if (start) return start;
  e.local_flags = e.flags;
  if (e.method == 9)
    zipTrees64Start(s, &e.internal_attr, &method16);
  else
    zipTreesStart(s, &e.internal_attr, &method16);

  // The header, with placeholder sizes and CRC.
  std::vector<std::uint8_t> header;
  try {
    header = zip_central_header_bytes(s, e);
  } catch (const std::bad_alloc&) {
    zip_report_error(s, ZE_MEM);
    return ZE_MEM;
  }
  if (s.large_files) std::fill(header.begin() + 20, header.begin() + 28, 0xFF);
  std::uint32_t taken = static_cast<std::uint32_t>(header.size());
  int status = 3;
  s.data_proc(1, header.data(), &taken, s.mem_pos, s.out_position, s.data_user, &status);
  if (status == 2) {
    s.cancel = true;
    return ZE_ABORT;
  }
  // A header the host did not take whole is a failed write, not a success.
  if (status != 3 || taken != header.size()) {
    zip_report_error(s, ZE_WRITE);
    return ZE_WRITE;
  }
  s.out_position += header.size();

  if (encrypt) {
    if (int rc = zipWriteEncryptionHeader(s.password.c_str(), e.crc, s)) {
      zip_report_error(s, rc, zipMessageText(392, 1));
      return rc;
    }
    s.encrypt_entry = true;
  }

  // The stream.
  const std::uint64_t written = e.method == 9 ? zipDeflate64(s) : zipDeflate(s);
  if (s.cancel) return ZE_ABORT;
  if (s.error) return s.error;
  e.csize = written + (encrypt ? 12 : 0);
  e.crc = ~in.crc;
  e.usize = in.count;
  zip_item_log(s, zipMessageText(707, 1));
  return 0;
}

}  // namespace ziplib

// The archive's records: the headers, data descriptors and end records
// written for the entry list, the loader that reads an existing archive back
// into it, and the name code pages, DOS times and case folding they share.
//
// Calls run one way: records (here) < volumes (zip_volume.cpp) < frame
// (zip_frame.cpp).  This file calls neither of the other two, so a change of
// disk or of the call frame cannot reach back into a half-written record: a
// record goes out through the VolumeLayer the frame puts in ZipState::volumes.
#include "platform/dos_time.h"
#include "platform/file_io.h"
#include "platform/find.h"
#include "platform/le_bytes.h"
#include "platform/paths.h"
#include "ziplib/zip_archive.h"
#include "ziplib/zip_messages.h"
#include "ziplib/zip_state.h"

#include <fcntl.h>
#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <new>

namespace ziplib {
namespace {

using platform::get_u16le;
using platform::get_u32le;
using platform::le_load;

constexpr std::uint32_t kLocalSig = 0x04034B50;
constexpr std::uint32_t kCentralSig = 0x02014B50;
constexpr std::uint32_t kEndSig = 0x06054B50;
constexpr std::uint32_t kZip64EndSig = 0x06064B50;
constexpr std::uint32_t kLocatorSig = 0x07064B50;
constexpr std::uint32_t kDescriptorSig = 0x08074B50;
constexpr std::uint64_t k4G = 0x100000000ull;

bool multi_volume(const ZipState& s) { return (s.multi_vol & kMvMulti) != 0; }
bool split_mode(const ZipState& s) { return (s.multi_vol & (kMvMulti | kMvSplit)) == (kMvMulti | kMvSplit); }

void put16(std::vector<std::uint8_t>& v, std::uint32_t x) {
  v.push_back(static_cast<std::uint8_t>(x));
  v.push_back(static_cast<std::uint8_t>(x >> 8));
}
void put32(std::vector<std::uint8_t>& v, std::uint32_t x) {
  put16(v, x & 0xFFFF);
  put16(v, x >> 16);
}
void put64(std::vector<std::uint8_t>& v, std::uint64_t x) {
  put32(v, static_cast<std::uint32_t>(x));
  put32(v, static_cast<std::uint32_t>(x >> 32));
}
void put_bytes(std::vector<std::uint8_t>& v, const void* p, std::size_t n) {
  const auto* b = static_cast<const std::uint8_t*>(p);
  v.insert(v.end(), b, b + n);
}

std::string convert(const char* to, const char* from, const std::string& in, bool* ok) {
  *ok = true;
  bool ascii = true;
  for (unsigned char c : in) ascii = ascii && c < 0x80;
  if (ascii) return in;
  iconv_t cd = ::iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    *ok = false;
    return in;
  }
  std::string out(in.size() * 4 + 4, '\0');
  char* src = const_cast<char*>(in.data());
  std::size_t src_left = in.size();
  char* dst = out.data();
  std::size_t dst_left = out.size();
  if (::iconv(cd, &src, &src_left, &dst, &dst_left) == static_cast<std::size_t>(-1)) *ok = false;
  ::iconv_close(cd);
  out.resize(out.size() - dst_left);
  return out;
}

// Version fields of a header without a Zip64 block cannot claim 4.5.
std::uint16_t demote(std::uint16_t version, std::uint16_t method) {
  if ((version & 0xFF) < 45) return version;
  return static_cast<std::uint16_t>((version & 0xFF00) | (method == 9 ? 21 : 20));
}

// Buffered reading of the old archive with absolute positions.
class ArchiveReader {
 public:
  explicit ArchiveReader(int fd) : fd_(fd) {}
  std::uint64_t pos() const { return base_ + at_; }
  bool seek(std::uint64_t p) {
    if (p >= base_ && p <= base_ + len_) {
      at_ = static_cast<std::size_t>(p - base_);
      return true;
    }
    if (platform::file_seek(fd_, static_cast<long long>(p), SEEK_SET) < 0) return false;
    base_ = p;
    at_ = len_ = 0;
    return true;
  }
  int get() {
    if (at_ == len_ && !fill()) return -1;
    return buf_[at_++];
  }
  bool read(void* out, std::uint64_t n) {
    auto* o = static_cast<std::uint8_t*>(out);
    while (n) {
      if (at_ == len_ && !fill()) return false;
      const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(n, len_ - at_));
      std::memcpy(o, buf_ + at_, take);
      o += take;
      at_ += take;
      n -= take;
    }
    return true;
  }
  bool skip(std::uint64_t n) { return seek(pos() + n); }
  // Reads on to the end of the next of two signatures; false at the end of
  // the file.  `skipped` counts the bytes before that signature.
  bool find_signature(std::uint32_t a, std::uint32_t b, std::uint32_t* found, std::uint64_t* skipped) {
    std::uint32_t window = 0;
    std::uint64_t n = 0;
    for (;;) {
      const int c = get();
      if (c < 0) return false;
      window = (window >> 8) | (static_cast<std::uint32_t>(c) << 24);
      if (++n >= 4 && (window == a || window == b)) break;
    }
    *found = window;
    *skipped = n - 4;
    return true;
  }
  bool read_bytes(std::vector<std::uint8_t>& v, std::size_t n) {
    v.resize(n);
    return n == 0 || read(v.data(), n);
  }

 private:
  bool fill() {
    base_ += len_;
    at_ = len_ = 0;
    const long long n = platform::file_read(fd_, buf_, sizeof buf_);
    if (n <= 0) return false;
    len_ = static_cast<std::size_t>(n);
    return true;
  }
  int fd_;
  std::uint64_t base_ = 0;
  std::size_t at_ = 0, len_ = 0;
  std::uint8_t buf_[65536];
};

int fail(ZipState& s, int msg, const std::string& what, int code = ZE_FORM) {
  zip_report_error(s, code, (std::string(zipMessageText(msg, 1)) + what).c_str());
  return code;
}

void warn_id(ZipState& s, int msg, const std::string& prefix = "") {
  zip_warn(s, prefix + zipMessageText(msg, 1));
}

bool lower_less(const ZipEntry* a, const ZipEntry* b) {
  return std::lexicographical_compare(a->name.begin(), a->name.end(), b->name.begin(), b->name.end(),
                                      [](char x, char y) {
                                        return zip_lower(static_cast<unsigned char>(x)) <
                                               zip_lower(static_cast<unsigned char>(y));
                                      });
}

// Tries the data descriptor at `at` for data that began at `data_start`.
// Returns its length (16 or 24) when its compressed size ends the data there.
// Below 4 GiB both forms can match (the 64-bit size's high half reads as a
// zero uncompressed size), so the form the local header announces comes
// first: 64-bit sizes when it carried a Zip64 block.
std::uint32_t descriptor_fits(const std::uint8_t* d, std::size_t have, std::uint64_t at, std::uint64_t data_start,
                              bool zip64) {
  if (have < 16 || get_u32le(d) != kDescriptorSig) return 0;
  const std::uint64_t csize = at - data_start;
  const bool fits16 = get_u32le(d + 8) == csize && (csize >> 32) == 0;
  const bool fits24 = have >= 24 && le_load<std::uint64_t>(d + 8) == csize;
  if (fits24 && (zip64 || !fits16)) return 24;
  return fits16 ? 16 : 0;
}

// An end record whose disk number reads 0xFFFF leaves it to the Zip64 end
// record, found through the locator just before the end record at `at` in
// `tail`: whether that record names disk 0.
bool zip64_single_disk(int fd, const std::vector<std::uint8_t>& tail, std::size_t at) {
  if (at < 20 || get_u32le(&tail[at - 20]) != kLocatorSig) return false;
  const std::uint64_t record_at = le_load<std::uint64_t>(&tail[at - 12]);
  std::uint8_t record[20];
  if (platform::file_read_at(fd, record_at, record, sizeof record) != static_cast<long long>(sizeof record))
    return false;
  return get_u32le(record) == kZip64EndSig && get_u32le(record + 16) == 0;
}

}  // namespace

void ArchiveWorkDeleter::operator()(ArchiveWork* w) const { delete w; }

ArchiveWork* zip_archive(ZipState& s) {
  if (!s.archive) s.archive.reset(new (std::nothrow) ArchiveWork);
  return s.archive.get();
}

std::uint32_t zip_dos_time(std::int64_t unix_seconds) { return platform::dos_time(unix_seconds); }

std::int64_t zip_unix_time(std::uint32_t dos) { return platform::unix_time_of_dos(dos); }

int zip_current_drive() {
  const std::string& cur = platform::current_directory();
  if (cur.empty() || !std::isalpha(static_cast<unsigned char>(cur[0]))) return 3;
  return std::toupper(static_cast<unsigned char>(cur[0])) - 'A' + 1;
}

unsigned char zip_lower(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; }
unsigned char zip_upper(unsigned char c) { return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 32) : c; }

bool zip_name_to_archive(const ZipState& s, const std::string& name, std::string* raw) {
  bool ok = false;
  *raw = convert((s.sub_options & kSubHostNtfs) ? "CP1252" : "CP437", "UTF-8", name, &ok);
  return ok;
}

std::string zip_name_to_utf8(const std::string& raw, bool cp1252, std::uint16_t flags) {
  if (flags & 0x0800) return raw;  // the writer marked the name as UTF-8
  bool ok = false;
  std::string out = convert("UTF-8", cp1252 ? "CP1252" : "CP437", raw, &ok);
  return ok ? out : raw;
}

std::string zip_name_from_archive(const ZipState& s, const std::string& raw, std::uint16_t flags) {
  return zip_name_to_utf8(raw, (s.sub_options & kSubHostNtfs) != 0, flags);
}

int zip_write_record(ZipState& s, const std::uint8_t* data, std::size_t size, std::uint64_t extra_room) {
  int fd = s.out_fd;
  if (multi_volume(s)) {
    if (!s.volumes) return ZE_MEDIA;
    if (s.temp_fd >= 0) {
      // A part or disk left with less room than the record is passed over.
      while (s.volumes->free_room(s) < size + extra_room) {
        if (int rc = s.volumes->next_part(s)) return rc;
      }
      fd = s.temp_fd;
    } else if (int rc = s.volumes->write_volume(s, size + extra_room)) {
      return rc;
    }
  }
  if (fd < 0 || platform::file_write(fd, data, size) != static_cast<long long>(size)) return ZE_TEMP;
  if (multi_volume(s)) s.volume_offset += size;
  if (ArchiveWork* a = s.archive.get()) a->out_pos += size;
  return 0;
}

std::vector<std::uint8_t> zip_local_header_bytes(ZipState& s, ZipEntry& e) {
  const bool large = s.large_files;
  ArchiveWork* a = zip_archive(s);
  // The block is decided once, at the first write, so that the header keeps
  // its length when it is rewritten with the final values.
  if (!e.zip64_decided) {
    e.local_zip64 = large && ((a && a->stream_input) || e.csize >= k4G || e.usize > 3500000000ull || multi_volume(s));
    e.zip64_decided = true;
  }
  const bool escape = large && (e.csize >= k4G || e.usize >= k4G);
  std::vector<std::uint8_t> r;
  const std::vector<std::uint8_t>& local_extra = e.extras.get().local_extra;
  r.reserve(30 + e.raw_name.size() + 20 + local_extra.size());
  put32(r, kLocalSig);
  put16(r, e.local_zip64 ? e.needed : demote(e.needed, e.method) & 0xFF);
  put16(r, e.local_flags);
  put16(r, e.method);
  put32(r, e.time);
  put32(r, e.crc);
  put32(r, escape ? 0xFFFFFFFF : static_cast<std::uint32_t>(e.csize));
  put32(r, escape ? 0xFFFFFFFF : static_cast<std::uint32_t>(e.usize));
  put16(r, static_cast<std::uint32_t>(e.raw_name.size()));
  put16(r, static_cast<std::uint32_t>(local_extra.size() + (e.local_zip64 ? 20 : 0)));
  put_bytes(r, e.raw_name.data(), e.raw_name.size());
  if (e.local_zip64) {
    put16(r, 1);
    put16(r, 16);
    put64(r, e.usize);
    put64(r, e.csize);
  }
  put_bytes(r, local_extra.data(), local_extra.size());
  e.zip64_local_len = e.local_zip64 ? 20 : 0;
  return r;
}

int zip_write_local_header(ZipState& s, ZipEntry& e) {
  const std::vector<std::uint8_t> r = zip_local_header_bytes(s, e);
  const bool encrypting = (e.local_flags & 1) != 0;
  return zip_write_record(s, r.data(), r.size(), encrypting ? 12 : 0);
}

int zip_write_descriptor(ZipState& s, ZipEntry& e) {
  std::vector<std::uint8_t> r;
  put32(r, kDescriptorSig);
  put32(r, e.crc);
  if (s.large_files) {
    put64(r, e.csize);
    put64(r, e.usize);
  } else {
    put32(r, static_cast<std::uint32_t>(e.csize));
    put32(r, static_cast<std::uint32_t>(e.usize));
  }
  e.descriptor_len = static_cast<std::uint32_t>(r.size());
  return zip_write_record(s, r.data(), r.size());
}

std::vector<std::uint8_t> zip_central_header_bytes(ZipState& s, ZipEntry& e) {
  ArchiveWork* a = zip_archive(s);
  const bool stream = a && a->stream_input && e.is_new;
  bool want_u = false, want_c = false, want_off = false;
  if (s.large_files) {
    if (s.multi_vol & kMvDirectoryFirst) {
      want_u = want_c = want_off = true;
    } else {
      want_u = e.usize >= 0xFFFFFFFFull || stream;
      want_c = e.csize >= 0xFFFFFFFFull || stream;
      want_off = e.offset >= 0xFFFFFFFFull;
    }
  }
  std::vector<std::uint8_t> z64;
  if (want_u || want_c || want_off) {
    put16(z64, 1);
    put16(z64, 8u * (want_u + want_c + want_off));
    if (want_u) put64(z64, e.usize);
    if (want_c) put64(z64, e.csize);
    if (want_off) put64(z64, e.offset);
  }
  std::vector<std::uint8_t> extra = e.extras.get().central_extra;
  const std::vector<std::uint8_t>& comment = e.extras.get().comment;
  if ((e.flags & 1) && extra.empty() && !split_mode(s) && a && !a->pw_buffer.empty())
    extra = zip_password_block(a->pw_buffer, e.time, e.usize, e.csize);
  const bool has64 = !z64.empty();
  std::vector<std::uint8_t> r;
  r.reserve(46 + e.raw_name.size() + z64.size() + extra.size() + comment.size());
  put32(r, kCentralSig);
  put16(r, has64 ? e.made_by : demote(e.made_by, e.method));
  put16(r, has64 ? e.needed : demote(e.needed, e.method) & 0xFF);
  put16(r, e.flags);
  put16(r, e.method);
  put32(r, e.time);
  put32(r, e.crc);
  put32(r, want_c ? 0xFFFFFFFF : static_cast<std::uint32_t>(e.csize));
  put32(r, want_u ? 0xFFFFFFFF : static_cast<std::uint32_t>(e.usize));
  put16(r, static_cast<std::uint32_t>(e.raw_name.size()));
  put16(r, static_cast<std::uint32_t>(z64.size() + extra.size()));
  put16(r, static_cast<std::uint32_t>(comment.size()));
  put16(r, e.disk);
  put16(r, e.internal_attr);
  put32(r, e.external_attr);
  put32(r, want_off ? 0xFFFFFFFF : static_cast<std::uint32_t>(e.offset));
  put_bytes(r, e.raw_name.data(), e.raw_name.size());
  put_bytes(r, z64.data(), z64.size());
  put_bytes(r, extra.data(), extra.size());
  put_bytes(r, comment.data(), comment.size());
  e.zip64_central_len = static_cast<std::uint32_t>(z64.size());
  return r;
}

int zip_write_central_header(ZipState& s, ZipEntry& e) {
  ArchiveWork* a = zip_archive(s);
  const std::vector<std::uint8_t> r = zip_central_header_bytes(s, e);
  if (int rc = zip_write_record(s, r.data(), r.size())) return rc;
  if (multi_volume(s) && a) {
    if (a->cd_start_disk == 0xFFFF) {
      a->cd_start_disk = s.current_disk;
      a->cd_start_offset = s.volume_offset - r.size();
    }
    if (s.current_disk != a->last_cd_disk) a->cd_on_disk = 0;
    a->last_cd_disk = s.current_disk;
    ++a->cd_on_disk;
  }
  return 0;
}

int zip_write_span_signature(ZipState& s) {
  std::uint8_t sig[4];
  platform::put_u32le(sig, kDescriptorSig);
  return zip_write_record(s, sig, sizeof sig);
}

int zip_write_end_records(ZipState& s, std::uint64_t total, std::uint64_t cd_size, std::uint64_t cd_offset) {
  ArchiveWork* a = zip_archive(s);
  const bool multi = multi_volume(s);
  const std::uint32_t this_disk = multi ? s.current_disk : 0;
  const std::uint32_t start_disk = multi && a && a->cd_start_disk != 0xFFFF ? a->cd_start_disk : (multi ? this_disk : 0);
  // Directory first, the headers are on the first disk, none on the last.
  const std::uint64_t on_disk = multi && a ? (a->last_cd_disk == this_disk ? a->cd_on_disk : 0) : total;
  const bool zip64 = s.large_files && (total > 0xFFFE || cd_size >= 0xFFFFFFFFull || cd_offset >= 0xFFFFFFFFull);
  std::vector<std::uint8_t> r;
  if (zip64) {
    const std::uint64_t z64_offset = a ? a->out_pos : 0;
    put32(r, kZip64EndSig);
    put64(r, 44);
    put16(r, 45);
    put16(r, 45);
    put32(r, this_disk);
    put32(r, start_disk);
    put64(r, on_disk);
    put64(r, total);
    put64(r, cd_size);
    put64(r, cd_offset);
    put32(r, kLocatorSig);
    put32(r, start_disk);
    put64(r, multi ? s.volume_offset : z64_offset);
    // One disk in all for a single archive: some readers refuse 0 here.
    put32(r, this_disk + 1);
  }
  const bool staging = zip64 && multi && !(s.multi_vol & kMvSplit) && s.temp_fd >= 0;
  auto count16 = [&](std::uint64_t v) { return staging || v > 0xFFFE ? 0xFFFFu : static_cast<std::uint32_t>(v); };
  auto disk16 = [&](std::uint32_t v) {
    if (staging) return multi ? 0xFFFFu : 0u;
    return v >= 0xFFFF ? 0xFFFFu : v;
  };
  auto size32 = [&](std::uint64_t v) {
    return staging || v >= 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(v);
  };
  const std::vector<std::uint8_t>& comment = a ? a->comment : std::vector<std::uint8_t>{};
  put32(r, kEndSig);
  put16(r, disk16(this_disk));
  put16(r, disk16(start_disk));
  put16(r, zip64 ? count16(on_disk) : static_cast<std::uint32_t>(on_disk & 0xFFFF));
  put16(r, zip64 ? count16(total) : static_cast<std::uint32_t>(total & 0xFFFF));
  put32(r, zip64 ? size32(cd_size) : static_cast<std::uint32_t>(cd_size));
  put32(r, zip64 ? size32(cd_offset) : static_cast<std::uint32_t>(cd_offset));
  put16(r, static_cast<std::uint32_t>(std::min<std::size_t>(comment.size(), 0xFFFF)));
  put_bytes(r, comment.data(), std::min<std::size_t>(comment.size(), 0xFFFF));
  return zip_write_record(s, r.data(), r.size());
}

bool zip_read_zip64_extra(std::vector<std::uint8_t>& extra, std::uint64_t* usize, std::uint64_t* csize,
                          std::uint64_t* offset, std::uint32_t* disk, std::uint32_t* block_len, bool remove) {
  std::size_t p = 0;
  while (p + 4 <= extra.size()) {
    const std::uint16_t tag = get_u16le(&extra[p]);
    const std::uint16_t len = get_u16le(&extra[p + 2]);
    if (p + 4 + len > extra.size()) return false;
    if (tag == 1) {
      if (len <= 28) {
        const std::uint8_t* d = &extra[p + 4];
        std::size_t at = 0;
        auto take64 = [&](std::uint64_t* v) {
          if (!v || *v != 0xFFFFFFFFull) return;
          if (at + 8 <= len) *v = le_load<std::uint64_t>(d + at);
          at += 8;
        };
        take64(usize);
        take64(csize);
        take64(offset);
        if (disk && *disk == 0xFFFFFFFF && at + 4 <= len) *disk = get_u32le(d + at);
      }
      if (block_len) *block_len = len + 4u;
      if (remove) extra.erase(extra.begin() + static_cast<long>(p), extra.begin() + static_cast<long>(p + 4 + len));
      return true;
    }
    p += 4 + len;
  }
  return false;
}

int zip_find_end_record(ZipState& s, const std::string& win_path) {
  if (win_path.empty() || win_path == "-") return ZE_NAME;
  const int fd = platform::file_open(win_path, platform::OpenMode::kRead);
  if (fd < 0) return (fd == -ENOENT || fd == -ENOTDIR) ? 0 : ZE_OPEN;
  const long long size = platform::file_length(fd);
  int rc = 0;
  if (size < 0) {
    rc = ZE_READ;
  } else if (!s.large_files && size >= 0xFFFFFFFFll) {
    rc = ZE_TEST;
  } else if (size < 22) {
    rc = ZE_READ;
  } else {
    const long long tail = std::min<long long>(size, 65535 + 2 * 22);
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(tail));
    if (platform::file_seek(fd, size - tail, SEEK_SET) < 0 ||
        platform::file_read(fd, buf.data(), buf.size()) != tail) {
      rc = ZE_READ;
    } else {
      rc = ZE_READ;
      for (long long i = tail - 22; i >= 0; --i) {
        if (get_u32le(&buf[static_cast<std::size_t>(i)]) == kEndSig) {
          const std::uint16_t disk = get_u16le(&buf[static_cast<std::size_t>(i) + 4]);
          rc = disk == 0 ? 0 : disk == 0xFFFF && zip64_single_disk(fd, buf, static_cast<std::size_t>(i)) ? 0 : ZE_MVUSAGE;
          break;
        }
      }
      const char d = win_path.size() > 1 && win_path[1] == ':' ? zip_upper(static_cast<unsigned char>(win_path[0])) : 0;
      if (rc == ZE_READ && (d == 'A' || d == 'B')) rc = ZE_MVUSAGE;
    }
  }
  platform::file_close(fd);
  return rc;
}

ZipEntry* zip_lookup(ArchiveWork& a, const std::string& name) {
  if (!a.index_made) {
    a.index.clear();
    for (ZipEntry& e : a.entries) a.index.push_back(&e);
    std::stable_sort(a.index.begin(), a.index.end(), lower_less);
    a.index_made = true;
  }
  ZipEntry key;
  key.name = name;
  auto it = std::lower_bound(a.index.begin(), a.index.end(), &key, lower_less);
  if (it == a.index.end() || lower_less(&key, *it)) return nullptr;
  return *it;
}

void zip_entries_changed(ArchiveWork& a) {
  a.index.clear();
  a.index_made = false;
}

int zip_read_archive(ZipState& s) {
  ArchiveWork* ap = zip_archive(s);
  if (!ap) return ZE_MEM;
  ArchiveWork& a = *ap;
  const bool repair = s.cmd.fixFlag || s.cmd.fixHarderFlag;
  const bool harder = s.cmd.fixFlag && s.cmd.fixHarderFlag;
  const auto facts = platform::file_facts(s.zip_path);

  // The same archive, unchanged since the last call on this thread.
  if (a.loaded && !repair && !multi_volume(s) && facts && platform::same_name(a.loaded_path, s.zip_path) &&
      facts->mtime == a.loaded_mtime && facts->mtime_nsec == a.loaded_nsec && facts->size == a.loaded_size) {
    for (ZipEntry& e : a.entries) e.selected = e.updated = false;
    return 0;
  }
  a.loaded = false;
  a.entries.clear();
  zip_entries_changed(a);
  a.comment.clear();
  a.cd_offset = a.cd_size = a.preamble = a.old_count = 0;

  // A multi-volume set is always written anew; the volume layer starts it.
  if (multi_volume(s)) {
    s.current_disk = 0;
    s.volume_offset = 0;
    return s.volumes ? s.volumes->start_set(s) : ZE_MEDIA;
  }

  // An empty file is no archive; anything else passes the quick check.
  if (facts && !(facts->attributes & platform::kAttrDirectory) && facts->size == 0) {
    if (platform::file_delete(s.zip_path) != 0) return ZE_FORM;
    return 0;
  }
  if (int rc = zip_find_end_record(s, s.zip_path)) return rc;
  if (!facts) return 0;

  const int fd = platform::file_open(s.zip_path, platform::OpenMode::kRead);
  if (fd < 0) return ZE_OPEN;
  std::unique_ptr<ArchiveReader> rd(new (std::nothrow) ArchiveReader(fd));
  if (!rd) {
    platform::file_close(fd);
    return ZE_MEM;
  }
  struct Closer {
    int fd;
    ~Closer() { platform::file_close(fd); }
  } closer{fd};
  ArchiveReader& r = *rd;

  // Whatever stands before the first signature is preamble.
  std::uint32_t sig = 0;
  if (!r.find_signature(kLocalSig, kEndSig, &sig, &a.preamble)) return fail(s, 322, "");

  // Local headers and their data.
  std::uint8_t h[46];
  while (sig == kLocalSig) {
    ZipEntry e;
    e.offset = r.pos() - 4;
    if (!r.read(h, 26)) return fail(s, 322, "", ZE_EOF);
    e.needed = get_u16le(h);
    e.local_flags = e.flags = get_u16le(h + 2);
    e.method = get_u16le(h + 4);
    e.time = get_u32le(h + 6);
    e.crc = get_u32le(h + 10);
    e.csize = get_u32le(h + 14);
    e.usize = get_u32le(h + 18);
    const std::uint16_t nlen = get_u16le(h + 22);
    const std::uint16_t xlen = get_u16le(h + 24);
    if (nlen == 0)
      return fail(s, 305, std::to_string(a.entries.size() + 1));
    e.raw_name.resize(nlen);
    std::vector<std::uint8_t> local_extra;
    if (!r.read(e.raw_name.data(), nlen) || !r.read_bytes(local_extra, xlen)) return fail(s, 322, "", ZE_EOF);
    e.local_len = 30u + nlen + xlen;
    std::uint32_t z64len = 0;
    const bool had64 = zip_read_zip64_extra(local_extra, &e.usize, &e.csize, nullptr, nullptr, &z64len, true);
    if (!local_extra.empty()) e.extras.set().local_extra = std::move(local_extra);
    e.zip64_local_len = had64 ? z64len : 0;
    e.name = zip_name_from_archive(s, e.raw_name, e.flags);
    const std::uint64_t data_start = r.pos();
    if (harder) {
      // The sizes are not trusted: the data ends at the next header.
      std::uint32_t next = 0;
      if (!r.find_signature(kLocalSig, kCentralSig, &next, &e.csize)) return fail(s, 322, "");
      r.seek(data_start + e.csize);
      e.descriptor_len = 0;
    } else if ((e.flags & 8) && e.csize == 0) {
      // Sizes follow the data: find the descriptor whose size ends there.
      // A writer streaming to a pipe knows the uncompressed size but not
      // the compressed one, so a 0 there says nothing whatever the other
      // size is.
      std::uint8_t d[24];
      std::uint64_t at = data_start;
      for (;;) {
        std::uint32_t found = 0;
        std::uint64_t skipped = 0;
        if (!r.seek(at) || !r.find_signature(kDescriptorSig, kDescriptorSig, &found, &skipped))
          return fail(s, 306, e.name);
        const std::uint64_t sig_at = r.pos() - 4;
        r.seek(sig_at);
        std::size_t have = 0;
        while (have < sizeof d) {
          const int b = r.get();
          if (b < 0) break;
          d[have++] = static_cast<std::uint8_t>(b);
        }
        const std::uint32_t len = descriptor_fits(d, have, sig_at, data_start, had64);
        if (len) {
          e.crc = get_u32le(d + 4);
          e.csize = sig_at - data_start;
          e.usize = len == 24 ? le_load<std::uint64_t>(d + 16) : get_u32le(d + 12);
          e.descriptor_len = len;
          r.seek(sig_at + len);
          break;
        }
        at = sig_at + 1;  // a signature inside the data
      }
    } else {
      if (!r.seek(data_start + e.csize)) return fail(s, 322, "", ZE_EOF);
      if (e.flags & 8) {
        std::uint8_t d[24];
        const std::uint32_t want = had64 ? 24 : 16;
        if (!r.read(d, want) || get_u32le(d) != kDescriptorSig) return fail(s, 308, e.name);
        e.crc = get_u32le(d + 4);
        e.descriptor_len = want;
      }
    }
    a.entries.push_back(std::move(e));
    std::uint8_t sb[4];
    if (!r.read(sb, 4)) return fail(s, 322, "");
    sig = get_u32le(sb);
  }

  // The central directory: each header must agree with its local header.
  const std::uint64_t cd_found = r.pos() - 4;
  std::uint64_t central_count = 0;
  auto it = a.entries.begin();
  while (sig == kCentralSig) {
    if (it == a.entries.end()) return fail(s, 309, "");
    ZipEntry& e = *it++;
    // How far the item's data was found to run: its copy takes exactly that.
    const std::uint64_t data_size = e.csize;
    if (!r.read(h, 42)) return fail(s, 322, "", ZE_EOF);
    e.made_by = get_u16le(h);
    e.needed = get_u16le(h + 2);
    e.flags = get_u16le(h + 4);
    e.method = get_u16le(h + 6);
    e.time = get_u32le(h + 8);
    e.crc = get_u32le(h + 12);
    e.csize = get_u32le(h + 16);
    e.usize = get_u32le(h + 20);
    const std::uint16_t nlen = get_u16le(h + 24);
    const std::uint16_t xlen = get_u16le(h + 26);
    const std::uint16_t clen = get_u16le(h + 28);
    e.disk = get_u16le(h + 30);
    e.internal_attr = get_u16le(h + 32);
    e.external_attr = get_u32le(h + 34);
    std::uint64_t offset = get_u32le(h + 38);
    std::string raw(nlen, '\0');
    std::vector<std::uint8_t> central_extra, comment;
    if (!r.read(raw.data(), nlen) || !r.read_bytes(central_extra, xlen) || !r.read_bytes(comment, clen))
      return fail(s, 322, "", ZE_EOF);
    if (raw != e.raw_name) return fail(s, 311, e.name);
    std::uint32_t disk = e.disk == 0xFFFF ? 0xFFFFFFFF : e.disk;
    std::uint32_t z64len = 0;
    if (zip_read_zip64_extra(central_extra, &e.usize, &e.csize, &offset, &disk, &z64len, true))
      e.zip64_central_len = z64len;
    if (!central_extra.empty()) e.extras.set().central_extra = std::move(central_extra);
    if (!comment.empty()) e.extras.set().comment = std::move(comment);
    e.disk = disk;
    if (offset != e.offset) return fail(s, 310, e.name);
    // Another size here would cut the item's data, or carry the next header
    // along, in the archive written from this one.
    if (e.csize != data_size && !repair) {
      zip_report_error(s, ZE_FORM, e.name.c_str());
      return ZE_FORM;
    }
    ++central_count;
    std::uint8_t sb[4];
    if (!r.read(sb, 4)) return fail(s, 322, "");
    sig = get_u32le(sb);
  }
  if (central_count != a.entries.size() && !repair) return fail(s, 324, "");
  const std::uint64_t cd_read = r.pos() - 4 - cd_found;

  // The end records.
  bool zip64_end = false;
  if (sig == kZip64EndSig) {
    std::uint8_t z[52];
    if (!r.read(z, 8)) return fail(s, 322, "");
    const std::uint64_t len = le_load<std::uint64_t>(z);
    if (len < 44 || !r.skip(len)) return fail(s, 322, "");
    std::uint8_t lc[20];
    if (!r.read(lc, 20) || get_u32le(lc) != kLocatorSig) return fail(s, 322, "");
    std::uint8_t sb[4];
    if (!r.read(sb, 4)) return fail(s, 322, "");
    sig = get_u32le(sb);
    zip64_end = true;
  }
  if (sig != kEndSig) return fail(s, 322, "");
  std::uint8_t end[18];
  if (!r.read(end, 18)) return fail(s, 322, "", ZE_EOF);
  if (!zip64_end) {
    const std::uint16_t this_disk = get_u16le(end), start_disk = get_u16le(end + 2);
    const std::uint16_t on_disk = get_u16le(end + 4), total = get_u16le(end + 6);
    if (this_disk || start_disk || on_disk != total) warn_id(s, 323);
    if (total != (central_count & 0xFFFF) && !repair) return fail(s, 324, "");
    if (get_u32le(end + 8) != cd_read) warn_id(s, 325);
    if (get_u32le(end + 12) != cd_found && !repair && central_count) return fail(s, 326, "");
  }
  a.cd_offset = cd_found;
  a.cd_size = cd_read;
  const std::uint16_t comment_len = get_u16le(end + 16);
  if (!r.read_bytes(a.comment, comment_len)) a.comment.clear();
  if (repair) a.comment.clear();

  // Comment and warnings.
  if (a.preamble)
    zip_warn(s, s.zip_path + zip_format(zipMessageText(327, 1), {static_cast<long long>(a.preamble)}));
  if (!repair && r.get() >= 0) warn_id(s, 328);

  a.old_count = a.entries.size();
  zip_entries_changed(a);
  a.loaded = true;
  a.loaded_path = s.zip_path;
  a.loaded_mtime = facts->mtime;
  a.loaded_nsec = facts->mtime_nsec;
  a.loaded_size = facts->size;
  return 0;
}

std::vector<std::uint8_t> zip_password_block(const std::string& pw_buffer, std::uint32_t dos_time,
                                             std::uint64_t usize, std::uint64_t csize) {
  static const char kKeys[] = "h7tkw3e52xbyoqnvgjamzc604139f2sde8yk5  t513g6r7bwai(&)k*(%&x517^&";
  static_assert(sizeof kKeys == 66);
  std::vector<std::uint8_t> out;
  const std::size_t n = pw_buffer.size();
  if (n == 0) return out;
  std::vector<std::uint8_t> data(n, 0);
  const std::uint32_t t = dos_time & 0xFFFF;
  const std::uint32_t sz = static_cast<std::uint32_t>(usize) & 0xFFFF;
  const std::int32_t c = static_cast<std::int32_t>(static_cast<std::uint32_t>(csize));
  std::uint32_t pos = static_cast<std::uint32_t>(c % 65 + 27);
  for (std::size_t i = 0; i < n; ++i) {
    // The table has 65 characters and its NUL; beyond them the key is 0.
    const std::uint32_t k = i < sizeof kKeys ? static_cast<unsigned char>(kKeys[i]) : 0;
    const std::uint32_t v = t % 255 + sz % 255 + static_cast<unsigned char>(pw_buffer[i]) + k + 61;
    if (pos < n) data[pos] = static_cast<std::uint8_t>(v);
    pos = static_cast<std::uint32_t>((pos + 3u) % n);
  }
  put16(out, 0x007F);
  put16(out, static_cast<std::uint32_t>(n));
  put_bytes(out, data.data(), n);
  return out;
}

}  // namespace ziplib

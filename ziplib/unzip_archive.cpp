// The archive as the decompressor reads it: opening it and its parts (the
// split-part lookup, the disk asked for by label), the end records, the
// cached central directory, item information, selection by pattern and by
// the target's age, and the target path of an item.  Every count, size and
// offset comes from outside and is checked against the bytes that are really
// there before it is used.  The extraction calls down into these; they never
// call it.
#include "platform/diskette.h"
#include "platform/dos_time.h"
#include "platform/file_io.h"
#include "platform/find.h"
#include "platform/le_bytes.h"
#include "platform/paths.h"
#include "ziplib/unzip_state.h"
#include "ziplib/zip_archive.h"
#include "ziplib/zip_messages.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace ziplib {
namespace {

using platform::get_u16le;
using platform::get_u32le;

constexpr std::uint32_t kCentralSig = 0x02014B50;
constexpr std::uint32_t kLocalSig = 0x04034B50;
constexpr std::uint32_t kEndSig = 0x06054B50;
constexpr std::uint32_t kZip64EndSig = 0x06064B50;
constexpr std::uint32_t kZip64LocatorSig = 0x07064B50;
constexpr std::size_t kCentralFixed = 46;
constexpr std::size_t kEndFixed = 22;
constexpr std::size_t kEndSearch = 65579;

std::uint64_t get_u64le(const std::uint8_t* p) {
  return std::uint64_t{get_u32le(p)} | (std::uint64_t{get_u32le(p + 4)} << 32);
}

constexpr std::size_t kReadAhead = 65536;

std::uint64_t read_through(UnzipState& s, std::uint64_t pos, void* out, std::uint64_t n) {
  // Through the file layer, so that an archive on A: is read from the diskette.
  std::uint64_t done = 0;
  while (done < n) {
    const long long r =
        platform::file_read_at(s.fd, pos + done, static_cast<char*>(out) + done, static_cast<std::size_t>(n - done));
    if (r <= 0) break;
    done += static_cast<std::uint64_t>(r);
  }
  return done;
}

// The end record (and the Zip64 one it points to) of the part open now.
int find_end(UnzipState& s, EndInfo* e, bool* found) {
  *found = false;
  const std::uint64_t span = std::min<std::uint64_t>(s.file_size, kEndSearch);
  if (span < kEndFixed) return UZ_OK;
  std::vector<std::uint8_t> tail(span);
  const std::uint64_t base = s.file_size - span;
  if (unzip_read_at(s, base, tail.data(), span) != span) return UZ_FORM;
  std::size_t at = span - kEndFixed + 1;
  while (at-- > 0)
    if (get_u32le(&tail[at]) == kEndSig) break;
  if (at == static_cast<std::size_t>(-1)) return UZ_OK;
  const std::uint8_t* p = &tail[at];
  *found = true;
  e->this_disk = get_u16le(p + 4);
  e->cd_disk = get_u16le(p + 6);
  e->entries_here = get_u16le(p + 8);
  e->total = get_u16le(p + 10);
  e->cd_size = get_u32le(p + 12);
  e->cd_offset = get_u32le(p + 16);
  e->comment_len = static_cast<std::uint16_t>(std::min<std::uint64_t>(get_u16le(p + 20), span - at - kEndFixed));
  e->comment_pos = base + at + kEndFixed;
  if (at >= 20 && get_u32le(p - 20) == kZip64LocatorSig) {
    const std::uint64_t z64 = get_u64le(p - 20 + 8);
    std::uint8_t z[56];
    if (z64 > s.file_size || s.file_size - z64 < sizeof z || unzip_read_at(s, z64, z, sizeof z) != sizeof z)
      return UZ_FORM;
    if (get_u32le(z) != kZip64EndSig || get_u64le(z + 4) < 44) return UZ_FORM;
    if (e->this_disk == 0xFFFF) e->this_disk = get_u32le(z + 16);
    if (e->cd_disk == 0xFFFF) e->cd_disk = get_u32le(z + 20);
    if (e->entries_here == 0xFFFF) e->entries_here = get_u64le(z + 24);
    if (e->total == 0xFFFF) e->total = get_u64le(z + 32);
    if (e->cd_size == 0xFFFFFFFF) e->cd_size = get_u64le(z + 40);
    if (e->cd_offset == 0xFFFFFFFF) e->cd_offset = get_u64le(z + 48);
  }
  return UZ_OK;
}

// A disk that holds only a piece of a spanned directory begins with a
// central header; with the comment asked for, the end record is wanted anyway.
bool starts_with_directory(UnzipState& s) {
  std::uint8_t sig[4];
  const bool comment = s.cmd.Function == UNZIP_GETCOMMENTSIZE || s.cmd.Function == UNZIP_GETCOMMENT;
  return !comment && unzip_read_at(s, 0, sig, sizeof sig) == sizeof sig && get_u32le(sig) == kCentralSig;
}

bool on_removable_drive(const UnzipState& s) {
  const std::string& p = s.base_path;
  const char d = p.size() > 1 && p[1] == ':' ? static_cast<char>(std::toupper(static_cast<unsigned char>(p[0]))) : 0;
  return d == 'A' || d == 'B' || (s.options & kUnzAllRemovable);
}

// A multi-disk archive on a drive that is not removable is a split set.
void split_if_fixed(UnzipState& s) {
  if (s.multi_disk && !on_removable_drive(s)) s.split = true;
}

// Appends the central header whose fixed part is in `head` to the cache, its
// name, extra field and comment read from `dir`; `left` is what the
// directory may still hold.
int cache_header(UnzipState& s, PartReader& dir, const std::uint8_t* head, std::uint64_t* left) {
  const std::size_t n = get_u16le(head + 28), m = get_u16le(head + 30), k = get_u16le(head + 32);
  const std::size_t whole = kCentralFixed + n + m + k;
  if (n > 259 || *left < whole) return UZ_FORM;
  *left -= whole;
  if (s.cache.size() > UINT32_MAX - whole) return UZ_MEM;
  const std::size_t start = s.cache.size();
  s.cache.resize(start + whole);
  std::memcpy(&s.cache[start], head, kCentralFixed);
  if (!dir.read(&s.cache[start + kCentralFixed], whole - kCentralFixed)) return UZ_FORM;
  s.cache_index.push_back(static_cast<std::uint32_t>(start));
  return UZ_OK;
}

// The first disk of a set whose directory was written first has no end
// record but begins with the central headers, followed by the first local
// header: the directory is read from there, and the totals are what it held.
// Headers that run to the end of the disk, or anything else, are only a piece
// of a directory: false, and the caller looks on the last disk.
bool read_directory_from_start(UnzipState& s) {
  PartReader dir(s, 0, 0, 10240);
  std::uint64_t left = s.file_size;
  std::uint8_t head[kCentralFixed];
  for (;;) {
    if (left < 4 || !dir.read(head, 4)) break;
    const std::uint32_t sig = get_u32le(head);
    if (sig == kLocalSig && !s.cache_index.empty()) {
      s.end = EndInfo{};
      s.end.this_disk = kUnzDiskUnknown;
      s.end.entries_here = s.end.total = s.cache_index.size();
      s.end.cd_size = s.file_size - left;
      s.cache_placeholder = true;
      s.multi_disk = true;
      s.current_disk = 0;
      return true;
    }
    if (sig != kCentralSig || left < kCentralFixed || !dir.read(head + 4, kCentralFixed - 4)) break;
    if (cache_header(s, dir, head, &left) != UZ_OK) break;
  }
  s.cache.clear();
  s.cache_index.clear();
  return false;
}

int read_directory(UnzipState& s) {
  s.cache.clear();
  s.cache_index.clear();
  s.next_item = 0;
  s.multi_disk = false;
  s.cache_placeholder = false;
  EndInfo e;
  bool found = false;
  if (int r = find_end(s, &e, &found)) return r;
  if (!found && s.split) {
    // The directory of a split set lies in its last part.
    if (!unzip_find_part(s, 0, -1)) return UZ_CANCEL;
    unzip_close_archive(s);
    if (unzip_open_archive(s) != UZ_OK) return UZ_OPENARC;
    s.current_disk = -1;
    if (int r = find_end(s, &e, &found)) return r;
  } else if (!found && on_removable_drive(s)) {
    if (starts_with_directory(s) && read_directory_from_start(s)) return UZ_OK;
    // An earlier disk of a spanned set is in the drive: the directory is on
    // the last one.
    if (unzip_prompt(s, 0, MB_OKCANCEL, 0, -1, nullptr) == IDCANCEL) {
      s.cancel = true;
      return UZ_CANCEL;
    }
    // Keyed to the last disk, whose directory this is.
    if (unzip_open_archive(s, true) != UZ_OK) return UZ_OPENARC;
    s.current_disk = -1;
    if (int r = find_end(s, &e, &found)) return r;
  }
  // Disk numbers count parts; a Zip64 number near 2^31 is damage, not a set.
  if (!found || e.this_disk >= 0x7FFFFFFF) return UZ_FORM;
  s.end = e;
  s.multi_disk = e.this_disk != 0;
  split_if_fixed(s);
  if (!s.multi_disk && e.cd_disk != 0 && e.entries_here == e.total) {
    s.end.cd_disk = 0;
  }
  s.current_disk = static_cast<int>(s.end.this_disk);
  // Each header takes at least 46 bytes: a count the directory cannot hold
  // is a damaged archive, not a reason to allocate.
  if (s.end.total > s.end.cd_size / kCentralFixed) return UZ_FORM;
  if (!s.multi_disk && (s.end.cd_offset > s.file_size || s.end.cd_size > s.file_size - s.end.cd_offset))
    return UZ_FORM;
  if (s.end.cd_disk != s.end.this_disk) {
    if (int r = unzip_open_disk(s, s.end.cd_disk)) return r;
  }
  // Room for the whole directory at once: grown header by header, it would
  // be copied at every doubling into pages never touched before.  A set's
  // size is not checked against a file, so only so much is taken on trust.
  constexpr std::uint64_t kTrusted = 64u << 20;
  s.cache.reserve(static_cast<std::size_t>(std::min(s.end.cd_size, kTrusted)));
  s.cache_index.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(s.end.total, kTrusted / kCentralFixed)));
  PartReader dir(s, s.end.cd_disk, s.end.cd_offset, 10240);
  std::uint64_t left = s.end.cd_size;
  std::uint8_t head[kCentralFixed];
  while (s.cache_index.size() < s.end.total) {
    if (left < kCentralFixed || !dir.read(head, kCentralFixed)) return s.cancel ? UZ_CANCEL : UZ_FORM;
    if (get_u32le(head) != kCentralSig) return UZ_FORM;
    if (int r = cache_header(s, dir, head, &left)) return r;
  }
  return UZ_OK;
}

int fail(UnzipState& s, int code, int id) {
  unzip_error_display(s, code, unzip_text(s, id, 0));
  return code;
}

// "mm/dd/yy  hh:mm" or, long, "mm/dd/yyyy  hh:mm:ss".
void date_text(const CentralItem& it, char* out, std::size_t size, bool long_form) {
  const unsigned year = 1980 + (it.date >> 9), month = (it.date >> 5) & 15, day = it.date & 31;
  const unsigned hour = it.time >> 11, minute = (it.time >> 5) & 63, second = (it.time & 31) * 2;
  if (long_form)
    std::snprintf(out, size, "%02u/%02u/%04u  %02u:%02u:%02u", month, day, year, hour, minute, second);
  else
    std::snprintf(out, size, "%02u/%02u/%02u  %02u:%02u", month, day, year % 100, hour, minute);
}

std::uint32_t info_attributes(const CentralItem& it) {
  return (it.external & 0x7FFF) | ((it.flags & 1) ? 0x8000u : 0u) | (unzip_is_83(it.raw_name) ? 0u : 0x10000u);
}

void fill_info(const CentralItem& it, std::size_t index, ZINFO* z, ZINFOEX* x) {
  const bool path = it.raw_name.find('/') != std::string::npos || it.raw_name.find('\\') != std::string::npos;
  if (z) {
    z->index = static_cast<std::uint16_t>(index);
    z->uncompressedSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(it.usize, UINT32_MAX));
    z->compressedSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(it.csize, UINT32_MAX));
    z->method = it.method;
    z->flags = it.flags;
    z->pathFlag = path;
    z->crc = it.crc;
    date_text(it, z->dateTime, sizeof z->dateTime, false);
    std::snprintf(z->name, sizeof z->name, "%s", it.name.c_str());
    z->attributes = info_attributes(it);
    z->seconds = (it.time & 31) * 2;
    z->reserved = 0;
  }
  if (x) {
    x->index = static_cast<std::uint32_t>(index);
    x->uncompressedSize = it.usize;
    x->compressedSize = it.csize;
    x->attributes = info_attributes(it);
    x->crc = it.crc;
    x->method = it.method;
    x->flags = it.flags;
    x->pathFlag = path;
    date_text(it, x->dateTime, sizeof x->dateTime, true);
    std::snprintf(x->name, sizeof x->name, "%s", it.name.c_str());
    x->seconds = (it.time & 31) * 2;
    x->versions = it.made_by | (std::uint32_t{it.needed} << 16);
    std::memset(x->reserved, 0, sizeof x->reserved);
  }
}

// The caller's index among the items the option bits let through.
long visible_item(UnzipState& s, long index) {
  if (!(s.options & kUnzSkipNon83)) return index < static_cast<long>(unzip_item_count(s)) ? index : -1;
  CentralItem it;
  for (std::size_t i = 0; i < unzip_item_count(s); ++i)
    if (unzip_item(s, i, &it) && unzip_is_83(it.raw_name) && index-- == 0) return static_cast<long>(i);
  return -1;
}

bool wild_match(const char* p, const char* n) {
  for (; *p; ++p, ++n) {
    if (*p == '*') {
      for (;; ++n) {
        if (wild_match(p + 1, n)) return true;
        if (!*n) return false;
      }
    }
    if (!*n || (*p != '?' && *p != *n)) return false;
  }
  return !*n;
}

// Base name and extension matched apart, as on the instrument.
bool match_name(const std::string& pattern, const std::string& name) {
  if (pattern == "*.*" || pattern == "*") return true;
  auto split = [](const std::string& t, std::string* base, std::string* ext) {
    auto dot = t.rfind('.');
    *base = dot == std::string::npos ? t : t.substr(0, dot);
    *ext = dot == std::string::npos ? std::string() : t.substr(dot + 1);
  };
  std::string pb, pe, nb, ne;
  split(pattern, &pb, &pe);
  split(name, &nb, &ne);
  if (pattern.find('.') == std::string::npos) return wild_match(pattern.c_str(), name.c_str());
  return wild_match(pb.c_str(), nb.c_str()) && wild_match(pe.c_str(), ne.c_str());
}

std::string upper(std::string t) {
  for (char& c : t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));  // ASCII only, as names compare
  return t;
}

bool pattern_selects(const UnzipState& s, const std::string& pattern, const std::string& path) {
  const auto cut = path.find_last_of('\\');
  const bool is_dir = !path.empty() && path.back() == '\\';
  const std::string dir = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
  const std::string file = cut == std::string::npos ? path : path.substr(cut + 1);
  const bool recurse = s.cmd.recurseFlag != 0;
  const auto pcut = pattern.find_last_of('\\');
  if (pcut == std::string::npos) {
    if (!recurse && (is_dir ? dir.find('\\') != dir.size() - 1 : !dir.empty())) return false;
    if (is_dir) return pattern == "*.*";
    return match_name(pattern, file);
  }
  const std::string pdir = pattern.substr(0, pcut + 1), pfile = pattern.substr(pcut + 1);
  if (dir.compare(0, pdir.size(), pdir) != 0) return false;
  if (!recurse && dir.size() != pdir.size()) return false;
  if (pfile.empty()) return true;
  if (is_dir) return pfile == "*.*";
  return match_name(pfile, file);
}

// --- parts of a set ---

// Unless the host reads labels its own way, a label is the one on the
// diskette in drive A:.
bool diskette_label(char drive, char* label, std::size_t size) {
  if (std::toupper(static_cast<unsigned char>(drive)) != 'A' || size == 0) return false;
  const auto l = platform::diskette::volume_label();
  if (!l) return false;
  std::snprintf(label, size, "%s", l->c_str());
  return true;
}
VolumeLabelFn g_label = diskette_label;

bool exists_win(const std::string& win) {
  const auto f = platform::file_facts(win);
  return f && !(f->attributes & (platform::kAttrDirectory | platform::kAttrVolume));
}

bool label_matches(UnzipState& s, int disk) {
  if (s.split || (s.options & kUnzAnyLabel)) return true;
  if (s.base_path.size() < 2 || s.base_path[1] != ':') return false;
  const char d = static_cast<char>(std::toupper(static_cast<unsigned char>(s.base_path[0])));
  if (d != 'A' && d != 'B' && !(s.options & kUnzAllRemovable)) return false;
  char label[32] = {};
  if (!g_label(d, label, sizeof label)) return false;
  char want[32];
  std::snprintf(want, sizeof want, "PKBACK# %03d", disk);
  return std::strcmp(label, want) == 0;
}

// --- targets ---

// The stored name as a path below the destination: separators as '\',
// leading separators and drive prefixes dropped.  False for a name that would
// climb out (a ".." part) or whose file name is "." or "..".
bool relative_name(const std::string& stored, std::string* out) {
  std::string n = stored;
  std::replace(n.begin(), n.end(), '/', '\\');
  for (;;) {
    if (n.size() >= 2 && std::isalpha(static_cast<unsigned char>(n[0])) && n[1] == ':') n.erase(0, 2);
    else if (!n.empty() && n[0] == '\\') n.erase(0, 1);
    else break;
  }
  std::size_t start = 0;
  std::string last;
  while (start < n.size()) {
    std::size_t end = n.find('\\', start);
    if (end == std::string::npos) end = n.size();
    last = n.substr(start, end - start);
    if (last == "..") return false;
    start = end + 1;
  }
  if (n.empty() || last == ".") return false;
  *out = n;
  return true;
}

std::uint32_t dos_of(std::time_t t) { return platform::dos_time(static_cast<std::int64_t>(t)); }

}  // namespace

std::uint64_t unzip_read_at(UnzipState& s, std::uint64_t pos, void* out, std::uint64_t n) {
  if (s.fd < 0) return 0;
  // An archive of thousands of small items would cost a read for each
  // header and each item's few bytes of data: smaller reads are served from
  // one read ahead of them instead.
  if (n >= kReadAhead) return read_through(s, pos, out, n);
  auto* to = static_cast<std::uint8_t*>(out);
  std::uint64_t done = 0;
  while (done < n) {
    const std::uint64_t at = pos + done;
    if (at < s.ahead_pos || at - s.ahead_pos >= s.ahead_len) {
      s.ahead.resize(kReadAhead);
      s.ahead_pos = at;
      s.ahead_len = static_cast<std::size_t>(read_through(s, at, s.ahead.data(), kReadAhead));
      if (s.ahead_len == 0) break;
    }
    const std::size_t from = static_cast<std::size_t>(at - s.ahead_pos);
    const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(n - done, s.ahead_len - from));
    std::memcpy(to + done, &s.ahead[from], k);
    done += k;
  }
  return done;
}

bool PartReader::fill() {
  for (;;) {
    std::uint64_t n = unzip_read_at(s, pos, buf.data(), buf.size());
    if (n) {
      pos += n;
      have = static_cast<std::size_t>(n);
      at = 0;
      return true;
    }
    if (!s.multi_disk || (s.end.this_disk != kUnzDiskUnknown && disk >= s.end.this_disk) || s.cancel)
      return false;
    if (unzip_open_disk(s, ++disk) != UZ_OK) return false;
    pos = 0;
  }
}

bool PartReader::read(std::uint8_t* out, std::size_t n) {
  while (n) {
    std::size_t k;
    std::uint8_t* p = some(n, &k);
    if (!k) return false;
    std::memcpy(out, p, k);
    out += k;
    n -= k;
  }
  return true;
}

std::uint8_t* PartReader::some(std::size_t max, std::size_t* got) {
  *got = 0;
  if (at == have && !fill()) return nullptr;
  std::uint8_t* p = &buf[at];
  *got = std::min(max, have - at);
  at += *got;
  return p;
}

int unzip_open_archive(UnzipState& s, bool keyed) {
  unzip_close_archive(s);
  const auto facts = platform::file_facts(s.zip_path);
  if (!facts || (facts->attributes & platform::kAttrDirectory) || facts->size == 0) return UZ_NOTFOUND;
  for (int attempt = 0; attempt < 5 && s.fd < 0; ++attempt) {
    s.fd = platform::file_open(s.zip_path, platform::OpenMode::kRead);
    if (s.fd < 0 && s.fd != -EINTR && s.fd != -EAGAIN) break;
  }
  const long long size = s.fd < 0 ? -1 : platform::file_length(s.fd);
  if (size <= 0) {
    unzip_close_archive(s);
    return UZ_NOTFOUND;
  }
  s.file_size = static_cast<std::uint64_t>(size);
  const std::int64_t mtime = facts->mtime * 1000000000 + facts->mtime_nsec;
  if (keyed) {
    if (s.cache_valid && (s.cache_path != s.base_path || s.cache_size != s.file_size || s.cache_mtime != mtime))
      unzip_drop_cache(s);
    s.cache_size = s.file_size;
    s.cache_mtime = mtime;
  }
  return UZ_OK;
}

void unzip_close_archive(UnzipState& s) {
  if (s.fd >= 0) (void)platform::file_close(s.fd);  // read only: nothing to lose
  s.fd = -1;
  s.ahead_len = 0;
}

void unzip_drop_cache(UnzipState& s) {
  s.cache.clear();
  s.cache.shrink_to_fit();
  s.cache_index.clear();
  s.cache_index.shrink_to_fit();
  s.cache_valid = false;
  s.cache_placeholder = false;
  s.next_item = 0;
}

void set_unzip_volume_label(VolumeLabelFn fn) { g_label = fn ? fn : diskette_label; }

bool unzip_find_part(UnzipState& s, int n, int total) {
  if (s.message_proc) {
    char buf[kUnzMsgSize];
    char title[kUnzMsgSize];
    std::snprintf(buf, sizeof buf, "%s", s.base_path.c_str());
    std::snprintf(title, sizeof title, "%s", unzip_text(s, 69, 0));
    const int a = s.message_proc(15, MB_YESNOCANCEL, n, total, buf, title, s.message_data);
    if (a == IDCANCEL) return false;
    if (a == IDYES) {
      const std::string path(buf, strnlen(buf, sizeof buf - 1));
      if (!exists_win(path)) return false;
      s.zip_path = path;
      return true;
    }
  }
  std::string lower = s.base_path;
  for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  const auto zip = lower.rfind(".zip");
  const std::string stem = zip == std::string::npos ? s.base_path : s.base_path.substr(0, zip);
  char suffix[16];
  if (n == 0) std::snprintf(suffix, sizeof suffix, ".zip");
  else std::snprintf(suffix, sizeof suffix, n < 100 ? ".zip.z%02d" : ".zip.%03d", n);
  std::string candidates[3] = {stem + suffix, std::string(), s.base_path};
  if (n != 0) {
    std::snprintf(suffix, sizeof suffix, n < 100 ? ".z%02d" : ".%03d", n);
    candidates[1] = stem + suffix;
  }
  for (const std::string& p : candidates)
    if (!p.empty() && exists_win(p)) {
      s.zip_path = p;
      return true;
    }
  return false;
}

int unzip_open_disk(UnzipState& s, std::uint32_t disk) {
  if (s.current_disk == static_cast<int>(disk) && s.fd >= 0) return UZ_OK;
  if (!s.multi_disk) return disk == 0 && s.fd >= 0 ? UZ_OK : UZ_FORM;
  if (disk > s.end.this_disk) return UZ_FORM;  // no such disk in the set
  unzip_close_archive(s);
  const int total = static_cast<int>(s.end.this_disk) + 1;
  if (s.split) {
    s.zip_path = s.base_path;
    const int part = disk == s.end.this_disk ? 0 : static_cast<int>(disk) + 1;
    // The archive's own file is the last part; read again as an earlier
    // one it would let a damaged end record walk one file thousands of times.
    if (!unzip_find_part(s, part, total) || (part != 0 && platform::same_name(s.zip_path, s.base_path)))
      return UZ_OPENARC;
  } else {
    s.zip_path = s.base_path;
    for (;;) {
      // Without the end record the number of disks is not known.
      const bool known = s.end.this_disk != kUnzDiskUnknown;
      if (unzip_prompt(s, known ? 1 : 0, MB_OKCANCEL, static_cast<int>(disk) + 1, known ? total : 0, nullptr) ==
          IDCANCEL) {
        s.cancel = true;
        return UZ_CANCEL;
      }
      if (label_matches(s, static_cast<int>(disk) + 1)) break;
    }
  }
  if (unzip_open_archive(s) != UZ_OK) return UZ_OPENARC;
  s.current_disk = static_cast<int>(disk);
  return UZ_OK;
}

int unzip_read_directory(UnzipState& s) {
  if (s.cache_valid && s.cache_path == s.base_path) {
    split_if_fixed(s);
    return UZ_OK;
  }
  unzip_drop_cache(s);
  if (s.fd < 0 && unzip_open_archive(s, true) != UZ_OK) return UZ_NOTFOUND;
  int r = read_directory(s);
  if (r != UZ_OK) {
    unzip_drop_cache(s);
    return r;
  }
  s.cache_valid = true;
  s.cache_path = s.base_path;
  return UZ_OK;
}

std::size_t unzip_item_count(const UnzipState& s) { return s.cache_index.size(); }

bool unzip_item(const UnzipState& s, std::size_t i, CentralItem* it) {
  if (i >= s.cache_index.size()) return false;
  unzip_parse_central(s, &s.cache[s.cache_index[i]], it);
  return true;
}

void unzip_parse_central(const UnzipState& s, const std::uint8_t* p, CentralItem* it) {
  it->made_by = get_u16le(p + 4);
  it->needed = get_u16le(p + 6);
  it->flags = get_u16le(p + 8);
  it->method = get_u16le(p + 10);
  it->time = get_u16le(p + 12);
  it->date = get_u16le(p + 14);
  it->crc = get_u32le(p + 16);
  it->csize = get_u32le(p + 20);
  it->usize = get_u32le(p + 24);
  const std::size_t n = get_u16le(p + 28), m = get_u16le(p + 30);
  it->disk = get_u16le(p + 34);
  it->external = get_u32le(p + 38);
  it->offset = get_u32le(p + 42);
  it->raw_name.assign(reinterpret_cast<const char*>(p + kCentralFixed), n);
  // Zip64 values stand in the extra block in this order, each only when its
  // field is all ones.
  const std::uint8_t* x = p + kCentralFixed + n;
  for (std::size_t at = 0; at + 4 <= m;) {
    const std::size_t tag = get_u16le(x + at), len = get_u16le(x + at + 2);
    if (at + 4 + len > m) break;
    if (tag == 1) {
      const std::uint8_t* v = x + at + 4;
      std::size_t left = len;
      auto take = [&](std::uint64_t* field, std::size_t width) {
        if (left < width) return;
        *field = width == 8 ? get_u64le(v) : get_u32le(v);
        v += width;
        left -= width;
      };
      std::uint64_t disk = it->disk;
      if (it->usize == 0xFFFFFFFF) take(&it->usize, 8);
      if (it->csize == 0xFFFFFFFF) take(&it->csize, 8);
      if (it->offset == 0xFFFFFFFF) take(&it->offset, 8);
      if (it->disk == 0xFFFF) take(&disk, 4);
      it->disk = static_cast<std::uint32_t>(disk);
    }
    at += 4 + len;
  }
  it->name = zip_name_to_utf8(it->raw_name, (s.options & kUnzNamesAsStored) != 0, it->flags);
  if (it->external & 0x08) {  // a volume label
    std::replace(it->name.begin(), it->name.end(), '.', ' ');
    if (it->name.size() > 11) it->name.resize(11);
  }
}

bool unzip_is_83(const std::string& name) {
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    const std::string part = name.substr(start, end - start);
    if (!part.empty()) {
      const auto dot = part.find('.');
      const std::size_t base = dot == std::string::npos ? part.size() : dot;
      const std::size_t ext = dot == std::string::npos ? 0 : part.size() - dot - 1;
      if (base == 0 || base > 8 || ext > 3 || (dot != std::string::npos && part.find('.', dot + 1) != std::string::npos) ||
          part.find_first_of(" \"+,;=[]") != std::string::npos)
        return false;
    }
    start = end + 1;
  }
  return true;
}

std::string unzip_cut_83(const std::string& name) {
  std::string out;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = name.find_first_of("/\\", start);
    const bool last = end == std::string::npos;
    if (last) end = name.size();
    std::string part;
    for (std::size_t i = start; i < end; ++i)
      if (name[i] != ' ' && name[i] != '"') part += name[i];
    const std::size_t dot = part.rfind('.');
    if (dot == std::string::npos) {
      out += part.substr(0, 8);
    } else {
      out += part.substr(0, std::min<std::size_t>(dot, 8));
      out += part.substr(dot, 4);
    }
    if (last) return out;
    out += name[end];
    start = end + 1;
  }
}

int unzip_build_patterns(UnzipState& s) {
  s.patterns.clear();
  std::string cur;
  bool quoted = false;
  const std::string spec = upper(s.cmd.lpszFilespec ? std::string(s.cmd.lpszFilespec, strnlen(s.cmd.lpszFilespec, 20000)) : "");
  for (char c : spec) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ' ' && !quoted) {
      if (!cur.empty()) s.patterns.push_back(cur);
      cur.clear();
    } else {
      cur += c == '/' ? '\\' : c;
    }
  }
  if (quoted) return fail(s, UZ_SYNTAX, 129);
  if (!cur.empty()) s.patterns.push_back(cur);
  return UZ_OK;
}

std::string unzip_target_path(const UnzipState& s, const CentralItem& it, bool* ok) {
  std::string rel;
  const bool shorten = (s.options & kUnzCut83) && !(s.options & kUnzSkipNon83);
  *ok = relative_name(shorten ? unzip_cut_83(it.name) : it.name, &rel);
  if (!*ok) return std::string();
  if (s.cmd.noDirectoryNamesFlag) {
    const bool dir = rel.back() == '\\';
    if (dir) rel.pop_back();
    auto cut = rel.find_last_of('\\');
    if (cut != std::string::npos) rel = rel.substr(cut + 1);
    if (dir) rel += '\\';
  }
  return s.destination + rel;
}

bool unzip_qualifies(UnzipState& s, const CentralItem& it) {
  const UNZIPCMDSTRUCT& c = s.cmd;
  if (!c.freshenFlag && !c.updateFlag) return true;
  bool ok = false;
  const std::string target = unzip_target_path(s, it, &ok);
  if (!ok) return true;  // refused later, with its message
  const auto there = platform::file_facts(target);
  if (!there) return c.updateFlag != 0;
  return dos_of(static_cast<std::time_t>(there->mtime)) < (std::uint32_t{it.date} << 16 | it.time);
}

long unzip_next_match(UnzipState& s, std::size_t from) {
  CentralItem it;
  for (std::size_t i = from; unzip_item(s, i, &it); ++i) {
    if (it.external & 0x08) continue;
    std::string name = upper(it.raw_name);
    std::replace(name.begin(), name.end(), '/', '\\');
    if (s.options & kUnzSkipNon83) {
      if (!unzip_is_83(name)) continue;
    } else if (s.options & kUnzCut83) {
      name = unzip_cut_83(name);
    }
    if (!name.empty() && name.back() == '\\' && s.cmd.noDirectoryItemsFlag) continue;
    for (const std::string& p : s.patterns)
      if (pattern_selects(s, p, name)) {
        if (!unzip_qualifies(s, it)) break;
        return static_cast<long>(i);
      }
  }
  return -1;
}

int unzip_run_query(UnzipState& s) {
  UNZIPCMDSTRUCT& c = s.cmd;
  auto directory = [&](int id) {
    int r = unzip_read_directory(s);
    if (r != UZ_OK) unzip_error_display(s, r, unzip_text(s, id, 0));
    return r;
  };
  switch (c.Function) {
    case UNZIP_COUNTALLITEMS: {
      if (int r = directory(103)) return r;
      if (!(s.options & kUnzSkipNon83)) {
        c.returnCount = static_cast<std::int32_t>(s.end.total);
        return UZ_OK;
      }
      c.returnCount = 0;
      CentralItem it;
      for (std::size_t i = 0; unzip_item(s, i, &it); ++i) c.returnCount += unzip_is_83(it.raw_name);
      return UZ_OK;
    }
    case UNZIP_GETNEXTZINFO:
    case UNZIP_GETNEXTNAMEDZINFO:
    case UNZIP_GETINDEXEDZINFO: {
      ZINFO* z = static_cast<ZINFO*>(c.zInfo);
      if ((z != nullptr) == (c.pZipInfoEx != nullptr) && c.Function != UNZIP_GETNEXTNAMEDZINFO)
        return fail(s, UZ_SYNTAX, 106);
      if (!z && !c.pZipInfoEx) return fail(s, UZ_SYNTAX, 106);
      if (int r = directory(103)) return r;
      long i;
      if (c.Function == UNZIP_GETINDEXEDZINFO) {
        i = c.index < 0 ? -1 : visible_item(s, c.index);
        if (i < 0) return fail(s, UZ_INDEX, c.index >= 0 && (s.options & kUnzSkipNon83) ? 130 : 115);
      } else if (c.Function == UNZIP_GETNEXTZINFO) {
        i = static_cast<long>(s.next_item);
        if (s.options & kUnzSkipNon83) {
          CentralItem it;
          while (unzip_item(s, static_cast<std::size_t>(i), &it) && !unzip_is_83(it.raw_name)) ++i;
        }
        if (static_cast<std::size_t>(i) >= unzip_item_count(s)) return fail(s, UZ_END, 107);
      } else {
        if (int r = unzip_build_patterns(s)) return r;
        i = unzip_next_match(s, s.next_item);
        if (i < 0) return fail(s, UZ_END, 107);
      }
      s.next_item = static_cast<std::size_t>(i) + 1;
      CentralItem it;
      unzip_item(s, static_cast<std::size_t>(i), &it);
      fill_info(it, static_cast<std::size_t>(i), c.pZipInfoEx ? nullptr : z, c.pZipInfoEx);
      return UZ_OK;
    }
    case UNZIP_COUNTNAMEDITEMS: {
      if (!c.lpszFilespec) {
        unzip_error_display(s, UZ_NONE, unzip_text(s, 104, 0));
        return UZ_NONE;
      }
      if (!*c.lpszFilespec) return fail(s, UZ_SYNTAX, 105);
      if (int r = unzip_build_patterns(s)) return r;
      if (int r = directory(103)) return r;
      c.returnCount = 0;
      for (long i = unzip_next_match(s, 0); i >= 0; i = unzip_next_match(s, static_cast<std::size_t>(i) + 1))
        ++c.returnCount;
      return UZ_OK;
    }
    case UNZIP_GETCOMMENTSIZE:
    case UNZIP_GETCOMMENT: {
      if (int r = directory(114)) return r;
      if (c.Function == UNZIP_GETCOMMENTSIZE) {
        c.returnCount = s.end.comment_len;
        return UZ_OK;
      }
      if (!c.lpszReturnString) return fail(s, UZ_SYNTAX, 106);
      const std::uint64_t n = std::min<std::uint64_t>(s.end.comment_len, static_cast<std::uint64_t>(std::max(0, c.returnCount)));
      // The comment is in the last part.
      if (s.multi_disk && s.current_disk != static_cast<int>(s.end.this_disk) &&
          unzip_open_disk(s, s.end.this_disk) != UZ_OK)
        return fail(s, UZ_FORM, 114);
      if (n && unzip_read_at(s, s.end.comment_pos, c.lpszReturnString, n) != n) return fail(s, UZ_FORM, 114);
      c.lpszReturnString[n] = '\0';
      c.returnCount = static_cast<std::int32_t>(n);
      return UZ_OK;
    }
  }
  return UZ_SYNTAX;
}

}  // namespace ziplib

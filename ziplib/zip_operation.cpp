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
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

namespace ziplib {
namespace {

constexpr std::size_t kCopyBlock = 262144;

int report(ZipState& s, int code, const std::string& detail) {
  zip_report_error(s, code, detail.c_str());
  return code;
}
int report_id(ZipState& s, int code, int id, const std::string& tail = "") {
  return report(s, code, std::string(zipMessageText(id, 2)) + tail);
}

std::vector<std::string> split_items(const char* list) {
  std::vector<std::string> items;
  std::string cur;
  bool quoted = false;
  auto flush = [&] {
    if (cur.empty()) return;
    std::replace(cur.begin(), cur.end(), '/', '\\');
    items.push_back(cur.substr(0, kMaxPath));
    cur.clear();
  };
  for (const char* p = list ? list : ""; *p; ++p) {
    if (*p == '"')
      quoted = !quoted;
    else if (*p == ' ' && !quoted)
      flush();
    else
      cur += *p;
  }
  flush();
  return items;
}

// "MMDDYY" as the DOS date of that day at midnight; 0 when invalid.
std::uint32_t parse_date(const char* text) {
  if (!text || std::strlen(text) != 6) return 0;
  int v[3];
  for (int i = 0; i < 3; ++i) {
    if (text[2 * i] < '0' || text[2 * i] > '9' || text[2 * i + 1] < '0' || text[2 * i + 1] > '9') return 0;
    v[i] = (text[2 * i] - '0') * 10 + (text[2 * i + 1] - '0');
  }
  const int month = v[0], day = v[1];
  const int year = v[2] < 80 ? 2000 + v[2] : 1900 + v[2];
  if (month < 1 || month > 12 || day < 1 || day > 31) return 0;
  return (static_cast<std::uint32_t>(year - 1980) << 25) | (static_cast<std::uint32_t>(month) << 21) |
         (static_cast<std::uint32_t>(day) << 16);
}

// Copies `count` bytes (all to the end with count all ones) in large blocks,
// polling for cancel: 0, 9, 10 or 11.
int copy_bytes(ZipState& s, int from, int to, std::uint64_t count) {
  std::unique_ptr<unsigned char[]> buf(new (std::nothrow) unsigned char[kCopyBlock]);
  if (!buf) return ZE_MEM;
  while (count) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(count, kCopyBlock));
    const long long n = platform::file_read(from, buf.get(), want);
    if (n < 0) return ZE_READ;
    if (n == 0) {
      if (count == ~0ull) break;
      return ZE_READ;
    }
    if (platform::file_write(to, buf.get(), static_cast<std::size_t>(n)) != n) return ZE_TEMP;
    if (count != ~0ull) count -= static_cast<std::uint64_t>(n);
    if (ArchiveWork* a = s.archive.get()) a->out_pos += static_cast<std::uint64_t>(n);
    if (zip_poll_cancel(s)) return ZE_ABORT;
  }
  return 0;
}

int copy_entry(ZipState& s, ZipEntry& e, int old_fd) {
  ArchiveWork& a = *s.archive;
  if (platform::file_seek(old_fd, static_cast<long long>(e.offset), SEEK_SET) < 0) return ZE_EOF;
  e.offset = a.out_pos;
  if (a.repair >= 2) {
    if (platform::file_seek(old_fd, static_cast<long long>(e.local_len), SEEK_CUR) < 0) return ZE_EOF;
    e.local_flags = e.flags & ~0x0008;
    e.local_zip64 = e.zip64_decided = false;
    e.zip64_local_len = 0;
    e.descriptor_len = 0;
    if (zip_write_local_header(s, e)) return ZE_TEMP;
    e.local_len = a.out_pos - e.offset;
    return copy_bytes(s, old_fd, s.out_fd, e.csize);
  }
  return copy_bytes(s, old_fd, s.out_fd, e.local_len + e.csize + e.descriptor_len);
}

// Puts the finished temporary archive in the place of the old one.  The old
// archive stays whole until then: one rename replaces it, and across file
// systems a checked copy beside it is renamed over it.
int replace_archive(ZipState& s, const std::string& archive, const std::string& temp) {
  int rc = platform::file_rename(temp, archive);
  if (rc == 0) return 0;
  if (rc != -EXDEV) return ZE_CREAT;
  const std::string dir = platform::split_win_path(archive).first;
  std::string beside;
  const int to = zip_create_temp(dir.empty() ? platform::current_directory() : dir, static_cast<long>(::gettid()), &beside);
  if (to < 0) return ZE_CREAT;
  const int from = platform::file_open(temp, platform::OpenMode::kRead);
  rc = from < 0 ? ZE_READ : copy_bytes(s, from, to, ~0ull);
  if (from >= 0) platform::file_close(from);
  if (platform::file_sync(to) != 0 && !rc) rc = ZE_WRITE;
  if (platform::file_close(to) != 0 && !rc) rc = ZE_WRITE;
  if (!rc && platform::file_rename(beside, archive) != 0) rc = ZE_CREAT;
  if (rc) {
    platform::file_delete(beside);
    return rc == ZE_TEMP ? ZE_WRITE : rc;
  }
  platform::file_delete(temp);
  return 0;
}

std::string source_of(const ZipEntry& e) {
  if (!e.disk_name.empty()) return e.disk_name;
  std::string p = e.name;
  std::replace(p.begin(), p.end(), '/', '\\');
  return p;
}

struct Output {
  int old_fd = -1;
  int out_fd = -1;
  bool out_is_temp = false;
  ~Output() {
    if (old_fd >= 0) platform::file_close(old_fd);
  }
};

// Writes the central directory and the end records of every entry in the
// list: 0 or the writer's code.
int write_directory(ZipState& s, bool warn_empty) {
  ArchiveWork& a = *s.archive;
  const std::uint64_t start = a.out_pos;
  std::uint64_t count = 0;
  if (s.multi_vol & kMvMulti) {
    for (ZipEntry& e : a.entries) {
      if (int rc = zip_write_central_header(s, e)) return rc;
      ++count;
    }
  } else {
    // One archive file: the headers go out whole, many to a write.
    constexpr std::size_t kBatch = 64 * 1024;
    std::vector<std::uint8_t> batch;
    for (ZipEntry& e : a.entries) {
      const std::vector<std::uint8_t> r = zip_central_header_bytes(s, e);
      batch.insert(batch.end(), r.begin(), r.end());
      ++count;
      if (batch.size() >= kBatch) {
        if (int rc = zip_write_record(s, batch.data(), batch.size())) return rc;
        batch.clear();
      }
    }
    if (!batch.empty())
      if (int rc = zip_write_record(s, batch.data(), batch.size())) return rc;
  }
  if (count == 0 && warn_empty) zip_warn(s, zipMessageText(138, 1));
  a.cd_offset = (s.multi_vol & kMvMulti) ? a.cd_start_offset : start;
  a.cd_size = a.out_pos - start;
  return zip_write_end_records(s, count, a.cd_size, a.cd_offset);
}

// Directory first: before any data, a central header for every file to be
// added, in name order, with the name the rename callback gives now and the
// time and attributes the entries keep.  Their lengths make the directory's
// size; in split mode they must all stand in the first part.
int write_found_directory(ZipState& s, std::uint64_t* size) {
  ArchiveWork& a = *s.archive;
  const std::uint64_t start = a.out_pos;
  for (FoundNode& n : a.found) {
    ZipEntry e;
    e.name = n.name;
    e.time = n.time;
    e.external_attr = n.attributes;
    if (!(s.sub_options & kSubRenameWhileCollecting))
      zip_call_rename(s, &e.name, &e.time, &e.external_attr, n.disk_name, n.size, true);
    if (!zip_name_to_archive(s, e.name, &e.raw_name)) e.raw_name = e.name;
    n.name = e.name;
    n.time = e.time;
    n.attributes = e.external_attr;
    e.method = s.method == 9 ? 9 : 8;
    e.made_by = s.large_files ? 45 : (s.cmd.dosifyFlag || e.method != 9) ? 20 : 21;
    e.needed = s.large_files ? 45 : 20;
    e.flags = e.local_flags = s.password.empty() ? 0x0008 : 0x0009;
    e.disk = s.current_disk;
    if (int rc = zip_write_central_header(s, e)) return rc;
  }
  if ((s.multi_vol & kMvSplit) && s.current_disk != 0) return ZE_TEMP;
  *size = a.out_pos - start;
  return 0;
}

// Directory first, after the last entry: the end record names the directory
// at offset 0; then the first volume is opened again and the directory
// written there with its final values, each header as long as before.
int rewrite_first_directory(ZipState& s, std::uint64_t size) {
  ArchiveWork& a = *s.archive;
  if (a.entries.empty()) return write_directory(s, true);
  if (int rc = zip_write_end_records(s, a.entries.size(), size, 0)) return rc;
  if (!s.volumes) return ZE_MEDIA;
  if (int rc = s.volumes->reopen_first(s, a.entries.front().raw_name)) return rc;
  s.rewrite_pass = true;
  for (ZipEntry& e : a.entries)
    if (int rc = zip_write_central_header(s, e)) return rc;
  s.rewrite_pass = false;
  return 0;
}

}  // namespace

int zip_delete_originals(ZipState& s) {
  ArchiveWork& a = *s.archive;
  struct Folder {
    std::string name;  // stored name, with its "/"
    std::string path;  // on disk
  };
  std::vector<Folder> folders;
  for (ZipEntry& e : a.entries) {
    if (!e.selected && !e.updated) continue;
    if (e.disk_name.empty()) continue;  // memory input has no original
    const bool folder = !e.name.empty() && e.name.back() == '/';
    if (folder) {
      folders.push_back({e.name, e.disk_name});
      continue;
    }
    platform::file_delete(source_of(e));
    if (s.cmd.noDirectoryEntriesFlag) {
      const std::size_t slash = e.name.rfind('/');
      const std::size_t sep = e.disk_name.find_last_of("\\/");
      if (slash != std::string::npos && sep != std::string::npos)
        folders.push_back({e.name.substr(0, slash + 1), e.disk_name.substr(0, sep + 1)});
    }
  }
  if (folders.empty()) return 0;
  auto key = [](const std::string& t) {
    std::string k = t;
    for (char& c : k) c = static_cast<char>(zip_lower(static_cast<unsigned char>(c)));
    return k;
  };
  // Deepest first: a folder sorts after its parent, so descending order
  // removes every folder before the one that holds it.
  std::stable_sort(folders.begin(), folders.end(),
                   [&](const Folder& x, const Folder& y) { return key(x.name) > key(y.name); });
  std::string previous;
  for (const Folder& f : folders) {
    if (platform::same_name(f.name, previous)) continue;
    previous = f.name;
    platform::dir_remove(f.path);
  }
  return 0;
}

int zip_run_operation(ZipState& s) {
  ArchiveWork* ap = zip_archive(s);
  if (!ap) return report_id(s, ZE_MEM, 103);
  ArchiveWork& a = *ap;
  ZIPCMDSTRUCT& c = s.cmd;
  const bool multi = (s.multi_vol & kMvMulti) != 0;
  const int mode = s.internal_mode;
  a.found.clear();
  a.memory_entry = nullptr;
  a.have_memory_entry = false;
  a.label_done = false;
  a.out_pos = 0;
  a.growing = false;
  a.stream_input = c.Function == ZIP_CALLBACK_ADD;
  a.cutoff = 0;
  a.comment_set = false;
  for (ZipEntry& e : a.entries) {
    e.selected = e.updated = e.is_new = false;
    e.found_name.clear();
  }
  // The list describes the archive on disk only after a good operation;
  // anything else reloads it next time.
  struct CacheGuard {
    ArchiveWork& a;
    bool keep = false;
    ~CacheGuard() {
      if (!keep) a.loaded = false;
    }
  } cache{a};

  // Patterns, and the archive name (".zip" when the name has no dot).
  if (int rc = zip_build_patterns(s)) return report_id(s, rc, 140);
  {
    const std::string name = platform::split_win_path(s.zip_path).second;
    if (name.find('.') == std::string::npos && s.zip_path != "-") s.zip_path += ".zip";
  }

  // The existing archive.
  a.repair = (c.fixFlag ? 1 : 0) + (c.fixHarderFlag ? 1 : 0);
  if (int rc = zip_read_archive(s)) return report(s, rc, s.zip_path);
  for (ZipEntry& e : a.entries) e.selected = e.updated = false;

  // Level and method: 0 stores, 1-9 Deflate, 10-19 Deflate64 at value - 10.
  int factor = std::clamp(c.compFactor, 0, 19);
  if (c.Function == ZIP_CALLBACK_ADD && factor == 0) factor = 1;
  s.method = factor == 0 ? 0 : factor >= 10 ? 9 : -1;
  s.comp_level = factor >= 10 ? factor - 10 : factor;
  a.level9 = factor == 9 || factor == 19;

  // Comment and store suffixes.
  if (c.addCommentFlag) {
    if (!c.lpszComment) return report_id(s, ZE_MEM, 263);
    a.comment.assign(c.lpszComment, c.lpszComment + strnlen(c.lpszComment, 0xFFFF));
    a.comment_set = true;
  }
  if (c.dontCompressTheseSuffixesFlag) s.store_suffixes = c.lpszStoreSuffixes ? c.lpszStoreSuffixes : "";

  // Password and cut-off date.
  if (int rc = zip_password_buffer(s)) return rc;
  PasswordScope wipe{s};
  if (c.afterDateFlag) {
    a.cutoff = parse_date(c.lpszDate);
    if (!a.cutoff) return report_id(s, ZE_PARMS, 148);
  }

  // The items: the memory entry first, then files to add or entries to delete.
  zip_major_status(s, zipMessageText(700, 1), 0, 0);
  std::vector<std::string> items = split_items(c.lpszItemList);
  const bool memory_like = s.memory_input || s.callback_input;
  for (std::size_t i = 0; i < items.size(); ++i) {
    int rc;
    if (memory_like && i == 0)
      rc = zip_collect_memory(s, items[i]);
    else if (mode == 0)
      rc = zip_select_delete(s, items[i]);
    else
      rc = zip_collect_files(s, items[i]);
    if (rc == -1) {
      zip_warn(s, std::string(zipMessageText(132, 1)) + items[i]);
    } else if (rc) {
      return report(s, rc, items[i]);
    }
  }

  // Freshen and update look at every entry that passes the patterns.
  if (mode == 2 || mode == 3) {
    for (ZipEntry& e : a.entries)
      if (zip_pattern_take(s, e.name)) e.selected = true;
    if (zip_poll_cancel(s)) return report(s, ZE_ABORT, "");
  }

  if (int rc = zip_sort_found(s)) return rc == ZE_ABORT ? report(s, rc, "") : report_id(s, rc, 150);

  // Options that make no sense for deleting.
  if (mode == 0 && (c.deleteOriginalFlag || c.recurseFlag || !s.password.empty() || c.addCommentFlag))
    return report_id(s, ZE_PARMS, 152);
  if (a.entries.empty() && (mode != 1 || c.growExistingFlag)) zip_warn(s, s.zip_path + zipMessageText(135, 1));
  std::string root;
  if (c.pathForTempFlag && c.lpszTempPath && !multi) {
    root = c.lpszTempPath;
  } else {
    const std::size_t cut = s.zip_path.find_last_of("\\/:");
    root = cut == std::string::npos ? std::string() : s.zip_path.substr(0, cut + 1);
  }

  // Old entries: replaced only when their source is newer (freshen, update)
  // and passes the cut-off; a source that is not newer marks the entry up to date.
  for (ZipEntry& e : a.entries) {
    if (zip_poll_cancel(s)) return report(s, ZE_ABORT, "");
    if (!e.selected || mode == 0 || &e == a.memory_entry) continue;
    std::uint32_t t = 0, at = 0;
    std::uint64_t size = 0;
    const bool exists = zip_file_facts(s, source_of(e), &t, &at, &size);
    const bool passes = exists && t >= a.cutoff;
    if (passes && (mode == 1 || e.time < t)) continue;
    e.selected = false;
    e.updated = passes;
  }

  // New files: none for delete and freshen; none older than the cut-off.
  if (mode == 0 || mode == 3) {
    a.found.clear();
  } else if (a.cutoff) {
    std::erase_if(a.found, [&](const FoundNode& n) { return !n.disk_name.empty() && n.time < a.cutoff; });
  }
  if (zip_poll_cancel(s)) return report(s, ZE_ABORT, "");

  // Nothing to do.
  int selected = 0;
  for (ZipEntry& e : a.entries) selected += e.selected;
  if (!selected && a.found.empty() && !(!a.entries.empty() && (c.oldAsLatestFlag || a.repair || a.comment_set))) {
    if (mode == 2 || mode == 3) return 0;
    const int rc = (!a.entries.empty() || !(c.oldAsLatestFlag || a.repair)) ? ZE_NONE : ZE_NAME;
    return report(s, rc, "");
  }
  a.items_total = selected + static_cast<int>(a.found.size());

  // Growing in place when nothing old is replaced; the archive must be creatable.
  a.growing = c.growExistingFlag && !selected && !a.entries.empty() && !multi;
  const bool archive_existed = platform::file_facts(s.zip_path).has_value();
  if (!(c.pathForTempFlag && a.entries.empty()) && !multi) {
    const int h = platform::file_open(s.zip_path, platform::OpenMode::kOpenAlways);
    if (h < 0) return report(s, ZE_CREAT, s.zip_path);
    platform::file_close(h);
    if (!archive_existed) platform::file_delete(s.zip_path);
  }

  // The output: the archive itself, the first volume, or a temporary archive
  // beside it that gets the old preamble first.
  Output out;
  std::string temp_path;
  auto drop_temp = [&] {
    if (out.out_is_temp) {
      if (s.out_fd >= 0) platform::file_close(s.out_fd);
      s.out_fd = -1;
      platform::file_delete(temp_path);
    }
  };
  if (!a.entries.empty() && !a.growing) {
    out.old_fd = platform::file_open(s.zip_path, platform::OpenMode::kRead);
    if (out.old_fd < 0) return report(s, ZE_NAME, s.zip_path);
  }
  if (a.growing) {
    s.out_fd = platform::file_open(s.zip_path, platform::OpenMode::kReadWrite);
    if (s.out_fd < 0) return report(s, ZE_NAME, s.zip_path);
    if (platform::file_seek(s.out_fd, static_cast<long long>(a.cd_offset), SEEK_SET) < 0) {
      platform::file_close(s.out_fd);
      s.out_fd = -1;
      return report(s, ZE_EOF, s.zip_path);
    }
    a.out_pos = a.cd_offset;
  } else if (multi) {
    s.out_fd = platform::file_open(s.zip_path, platform::OpenMode::kCreateAlways);
    if (s.out_fd < 0) return report(s, ZE_NAME, s.zip_path);
    s.rewrite_pass = false;
    a.cd_start_disk = 0xFFFF;
    a.last_cd_disk = 0xFFFFFFFF;
    a.cd_on_disk = 0;
  } else {
    if (!root.empty()) {
      if (platform::dir_create(root) != 0) return report(s, ZE_CREAT, root);
    }
    const std::string temp_dir = root.empty() ? platform::current_directory() : root;
    zip_remove_stale_temps(temp_dir);
    s.out_fd = zip_create_temp(temp_dir, static_cast<long>(::gettid()), &temp_path);
    if (s.out_fd < 0) return report(s, ZE_TEMP, root);
    out.out_is_temp = true;
    if (a.repair || out.old_fd < 0) a.preamble = 0;
    if (a.preamble) {
      const int rc = copy_bytes(s, out.old_fd, s.out_fd, a.preamble);
      if (rc) {
        drop_temp();
        return report(s, rc, rc == ZE_TEMP ? temp_path : s.zip_path);
      }
    }
  }

  // Without Zip64 records the counts must fit their 16-bit fields.
  std::uint64_t total = a.found.size();
  for (ZipEntry& e : a.entries) total += !(mode == 0 && e.selected);
  if (!s.large_files && total >= 65535) {
    drop_temp();
    if (s.out_fd >= 0) platform::file_close(s.out_fd);
    s.out_fd = -1;
    return report(s, ZE_BIG, "");
  }

  // Volumes start with the span signature, or with the directory of the new files.
  const bool directory_first = multi && (s.multi_vol & kMvDirectoryFirst) && !a.found.empty();
  std::uint64_t first_cd_size = 0;
  if (multi && !directory_first) {
    if (int rc = zip_write_span_signature(s)) return report(s, rc, s.zip_path);
  }
  if (directory_first) {
    if (int rc = write_found_directory(s, &first_cd_size)) return report(s, rc, s.zip_path);
  }

  // Old entries copied, replaced or deleted in archive order, then the new
  // files.  A new file that vanished ends the additions: the archive is
  // finished without it and the result is 18.
  int rc = 0;
  bool vanished = false;
  a.source_folder.clear();
  a.source_folder_mapped.clear();
  std::uint64_t good_end = a.out_pos;
  std::size_t good_count = a.entries.size();
  const std::size_t old_entries = a.entries.size();
  zip_entries_changed(a);  // entries go and come from here on
  for (std::size_t i = 0; i < old_entries && !rc; ++i) {
    ZipEntry& e = a.entries[i];
    const bool is_memory = &e == a.memory_entry;
    if (!e.selected && !is_memory) {
      if (!a.growing) {
        rc = copy_entry(s, e, out.old_fd);
        if (rc) report(s, rc, std::string(zipMessageText(159, 2)) + " " + e.name);
      }
      continue;
    }
    if (mode == 0) {
      zip_item_log(s, zip_format(zipMessageText(704, 1), {e.name.c_str()}));
      e.name.clear();  // marked for removal below
      continue;
    }
    const ZipEntry saved = e;
    // The found spelling passed the code page when it was found.
    if (std::string raw; !e.found_name.empty() && zip_name_to_archive(s, e.found_name, &raw)) {
      e.name = e.found_name;
      e.raw_name = std::move(raw);
    }
    if (!e.extras.get().local_extra.empty() || !e.extras.get().central_extra.empty()) {
      e.extras.set().local_extra.clear();
      e.extras.set().central_extra.clear();
    }
    e.local_zip64 = e.zip64_decided = false;
    e.zip64_local_len = 0;
    e.descriptor_len = 0;
    const std::uint64_t pos = a.out_pos;
    rc = zip_compress_entry(s, e);
    if (rc == ZE_OPEN) {
      e = saved;
      e.selected = false;
      zip_warn(s, std::string(zipMessageText(136, 1)) + e.name);
      a.out_pos = pos;
      if (platform::file_seek(s.out_fd, static_cast<long long>(pos), SEEK_SET) < 0) rc = ZE_EOF;
      else rc = copy_entry(s, e, out.old_fd);
      if (rc) report(s, rc, std::string(zipMessageText(159, 2)) + " " + e.name);
    } else if (rc) {
      report(s, rc, std::string(zipMessageText(158, 2)) + " " + e.name);
    }
  }
  if (mode == 0)
    std::erase_if(a.entries, [](const ZipEntry& e) { return e.name.empty(); });
  if (!rc) {
    good_end = a.out_pos;
    good_count = a.entries.size();
  }
  for (std::size_t i = 0; i < a.found.size() && !rc; ++i) {
    FoundNode& n = a.found[i];
    ZipEntry e;
    e.name = n.name;
    if (!zip_name_to_archive(s, e.name, &e.raw_name)) continue;
    const bool memory_node = n.disk_name.empty();
    e.disk_name = std::move(n.disk_name);  // the node is not read for it again
    e.is_new = true;
    e.selected = true;
    e.time = n.time;
    e.external_attr = n.attributes;
    a.entries.push_back(std::move(e));
    ZipEntry& added = a.entries.back();
    if (memory_node) a.memory_entry = &added;
    const std::uint64_t pos = a.out_pos;
    rc = zip_compress_entry(s, added);
    if (rc == ZE_OPEN) {
      zip_warn(s, std::string(zipMessageText(137, 1)) + n.name);
      a.entries.pop_back();
      a.out_pos = pos;
      if (platform::file_seek(s.out_fd, static_cast<long long>(pos), SEEK_SET) < 0) {
        rc = ZE_EOF;
        break;
      }
      vanished = true;
      rc = 0;
      break;
    }
    if (rc) {
      report(s, rc, std::string(zipMessageText(158, 2)) + " " + n.name);
      break;
    }
    good_end = a.out_pos;
    good_count = a.entries.size();
  }

  // The central directory and end records.
  if (!rc && directory_first)
    rc = rewrite_first_directory(s, first_cd_size);
  else if (!rc)
    rc = write_directory(s, true);
  if (!rc && multi && s.volumes) rc = s.volumes->finish(s);
  if (rc && a.growing) {
    // The archive itself was being appended to: give it back a directory
    // of what is complete so that it stays readable.
    while (a.entries.size() > good_count) a.entries.pop_back();
    a.out_pos = good_end;
    if (platform::file_seek(s.out_fd, static_cast<long long>(good_end), SEEK_SET) >= 0) {
      const int saved_report = s.report_count;
      if (write_directory(s, false) == 0) platform::file_truncate(s.out_fd, a.out_pos);
      s.report_count = saved_report;
    }
  }
  if (!rc && a.growing && platform::file_truncate(s.out_fd, a.out_pos) != 0) rc = ZE_WRITE;

  // Closing: the new archive must be on the disk before it replaces the old one.
  if (!a.growing && out.out_is_temp && !rc && platform::file_sync(s.out_fd) != 0) rc = ZE_TEMP;
  const int close_rc = s.out_fd >= 0 ? platform::file_close(s.out_fd) : 0;
  s.out_fd = -1;
  if (close_rc != 0 && !rc) rc = a.growing ? ZE_WRITE : ZE_TEMP;
  if (out.old_fd >= 0) platform::file_close(out.old_fd);
  out.old_fd = -1;
  zip_release_encoders(s);
  if (rc) {
    if (out.out_is_temp) platform::file_delete(temp_path);
    zip_report_error(s, rc);
    return rc;
  }

  if (out.out_is_temp) {
    const int rrc = replace_archive(s, s.zip_path, temp_path);
    if (rrc) {
      zip_warn(s, std::string(zipMessageText(139, 1)) + temp_path);
      return report_id(s, rrc, 156);
    }
  }

  // Finish: the archive's time, the cache, and the originals of a move.
  if (c.oldAsLatestFlag) {
    std::uint32_t newest = 0;
    for (const ZipEntry& e : a.entries) newest = std::max(newest, e.time);
    if (newest)
      platform::file_set_time(s.zip_path, zip_unix_time(newest));
    else
      zip_warn(s, zipMessageText(101, 1));
  }
  // The list now describes the new archive: keep it for the next call.
  if (const auto facts = platform::file_facts(s.zip_path); facts && !multi) {
    cache.keep = true;
    a.loaded = true;
    a.loaded_path = s.zip_path;
    a.loaded_mtime = facts->mtime;
    a.loaded_nsec = facts->mtime_nsec;
    a.loaded_size = facts->size;
    a.old_count = a.entries.size();
    zip_entries_changed(a);
  }
  if (vanished) return report(s, ZE_OPEN, "");
  // Originals go only once the new archive holds them.
  if (c.deleteOriginalFlag)
    if (int drc = zip_delete_originals(s)) return report(s, drc, "");
  return 0;
}

}  // namespace ziplib

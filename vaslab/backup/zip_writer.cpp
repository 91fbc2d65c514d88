#include "vaslab/backup/zip_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "platform/le_bytes.h"

namespace vaslab {
namespace {

constexpr std::uint32_t kLocalHeaderMagic = 0x04034B50;
constexpr std::uint32_t kCentralHeaderMagic = 0x02014B50;
constexpr std::uint32_t kEndHeaderMagic = 0x06054B50;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kOutputBufferSize = 16384;
constexpr std::size_t kBlockDataSize = 4075;
constexpr std::size_t kEndSearchWindow = 1028;
constexpr std::uint32_t kEndSearchLimit = 0xFFFF;

// The central directory is held in blocks so that the last record can be
// taken back and the size known without touching the file.
struct CentralDirBlock {
  CentralDirBlock* next = nullptr;
  std::uint32_t free = kBlockDataSize;
  std::uint32_t filled = 0;
  std::uint32_t chunks = 0;
  std::uint32_t last_chunk = 0;
  bool split = false;
  std::uint8_t data[kBlockDataSize];
};

struct CentralDirList {
  CentralDirBlock* first = nullptr;
  CentralDirBlock* before_last = nullptr;
  CentralDirBlock* last = nullptr;
};

std::uint32_t g_central_bytes = 0;

}  // namespace

struct ZipWriter {
  ZipFileFunctionTable io{};
  void* stream = nullptr;
  CentralDirList dir;
  bool entry_open = false;
  // Set when an entry is started, cleared when one is taken back: only an
  // entry of this writer, once, may be removed, or the cut would land on a
  // stale offset and eat the archive before it.
  bool can_remove = false;
  // The started entry's record is in the directory list.
  bool record_listed = false;

  z_stream zs{};
  bool zs_initialised = false;
  std::uint32_t buffered = 0;
  std::uint32_t local_header_pos = 0;
  std::vector<std::uint8_t> central_header;
  std::uint16_t flag = 0;
  int method = 0;
  bool raw = false;
  std::uint8_t out[kOutputBufferSize];
  std::uint32_t dos_date = 0;
  std::uint32_t crc = 0;
  std::uint64_t total_in = 0, total_out = 0;

  std::uint32_t begin_pos = 0;
  std::uint32_t add_offset = 0;
  std::uint32_t entries = 0;
};

namespace {

std::uint32_t saturate32(std::uint64_t v) { return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(v); }
std::uint16_t saturate16(std::uint64_t v) { return v > 0xFFFFu ? 0xFFFFu : static_cast<std::uint16_t>(v); }

void free_blocks(CentralDirBlock* b) {
  while (b) {
    CentralDirBlock* next = b->next;
    delete b;
    b = next;
  }
}

void init_list(CentralDirList& l) {
  l = CentralDirList{};
  g_central_bytes = 0;
}

int add_to_list(CentralDirList* l, const std::uint8_t* data, std::size_t len) {
  if (l == nullptr) return kZipInternalError;
  if (l->last == nullptr) {
    auto* b = new (std::nothrow) CentralDirBlock;
    if (b == nullptr) return kZipInternalError;
    l->first = l->before_last = l->last = b;
  }
  g_central_bytes += static_cast<std::uint32_t>(len);
  while (len > 0) {
    if (l->last->free == 0) {
      free_blocks(l->last->next);
      l->last->next = nullptr;
      auto* b = new (std::nothrow) CentralDirBlock;
      if (b == nullptr) return kZipInternalError;
      l->last->next = b;
      l->before_last = l->last;
      l->last = b;
    }
    CentralDirBlock* b = l->last;
    const std::uint32_t n = static_cast<std::uint32_t>(std::min<std::size_t>(len, b->free));
    std::memcpy(b->data + b->filled, data, n);
    ++b->chunks;
    b->last_chunk = n;
    b->filled += n;
    b->free -= n;
    data += n;
    len -= n;
    if (b->free == 0 && len > 0) b->split = true;
  }
  return kZipOk;
}

std::uint32_t dos_date_of(const ZipFileInfo& info) {
  if (info.dos_date != 0) return info.dos_date;
  std::uint32_t year = info.year;
  if (year > 1980)
    year -= 1980;
  else if (year > 80)
    year -= 80;
  return ((info.mday + 32 * (info.mon + 1) + 512 * year) << 16) | (info.sec / 2 + 32 * info.min + 2048 * info.hour);
}

int flush_output(ZipWriter* w) {
  int err = kZipOk;
  if (w->buffered > 0 && w->io.write(w->io.opaque, w->stream, w->out, w->buffered) != w->buffered) err = kZipErrno;
  w->total_out += w->buffered;
  w->buffered = 0;
  w->zs.next_out = w->out;
  w->zs.avail_out = kOutputBufferSize;
  return err;
}

// Reads one byte of the end record: a byte past the end of the file reads as
// 0, one that fails while the stream reports an error is an I/O error.
int read_byte(ZipWriter* w, std::uint8_t& b) {
  if (w->io.read(w->io.opaque, w->stream, &b, 1) == 1) return kZipOk;
  if (w->io.error(w->io.opaque, w->stream)) return kZipErrno;
  b = 0;
  return kZipOk;
}

int read_u16(ZipWriter* w, std::uint32_t& v) {
  std::uint8_t b[2];
  for (auto& x : b)
    if (read_byte(w, x) != kZipOk) return kZipErrno;
  v = platform::get_u16le(b);
  return kZipOk;
}

int read_u32(ZipWriter* w, std::uint32_t& v) {
  std::uint8_t b[4];
  for (auto& x : b)
    if (read_byte(w, x) != kZipOk) return kZipErrno;
  v = platform::get_u32le(b);
  return kZipOk;
}

// Position of the end-of-central-directory record, searched backwards over
// the last 64 KB in overlapping windows; 0 when not found.
std::uint32_t find_end_record(ZipWriter* w, bool& io_error) {
  io_error = true;
  if (w->io.seek(w->io.opaque, w->stream, 0, kZipSeekEnd) != 0) return 0;
  const std::int32_t size_signed = w->io.tell(w->io.opaque, w->stream);
  if (size_signed < 0) return 0;
  const auto size = static_cast<std::uint32_t>(size_signed);
  const std::uint32_t max_back = std::min(kEndSearchLimit, size);
  std::vector<std::uint8_t> buf(kEndSearchWindow);
  std::uint32_t back = 4;
  while (back < max_back) {
    back = std::min<std::uint32_t>(back + kEndSearchWindow - 4, max_back);
    const std::uint32_t read_pos = size - back;
    const std::uint32_t read_size = std::min<std::uint32_t>(kEndSearchWindow, size - read_pos);
    if (w->io.seek(w->io.opaque, w->stream, static_cast<long>(read_pos), kZipSeekSet) != 0) return 0;
    if (w->io.read(w->io.opaque, w->stream, buf.data(), read_size) != read_size) return 0;
    for (std::uint32_t i = read_size - 3; i-- > 0;)
      if (buf[i] == 0x50 && buf[i + 1] == 0x4B && buf[i + 2] == 0x05 && buf[i + 3] == 0x06) {
        io_error = false;
        return read_pos + i;
      }
  }
  return 0;
}

// Takes over an existing archive: its directory goes into memory and new
// entries are written over the old directory.
int load_existing(ZipWriter* w) {
  bool io_error = false;
  const std::uint32_t central_pos = find_end_record(w, io_error);
  if (io_error) return kZipErrno;
  if (w->io.seek(w->io.opaque, w->stream, static_cast<long>(central_pos), kZipSeekSet) != 0) return kZipErrno;
  std::uint32_t magic, disk, disk_with_dir, entries_here, entries, dir_size, dir_offset, comment_size;
  if (read_u32(w, magic) || read_u16(w, disk) || read_u16(w, disk_with_dir) || read_u16(w, entries_here) ||
      read_u16(w, entries) || read_u32(w, dir_size) || read_u32(w, dir_offset) || read_u16(w, comment_size))
    return kZipErrno;
  if (entries != entries_here || disk != 0 || disk_with_dir != 0) return kZipBadZipFile;
  if (static_cast<std::uint64_t>(central_pos) < static_cast<std::uint64_t>(dir_offset) + dir_size)
    return kZipBadZipFile;
  // The archive comment is read and dropped: the writer never writes one.
  if (comment_size > 0) {
    std::vector<std::uint8_t> comment(comment_size + 1u);
    if (w->io.read(w->io.opaque, w->stream, comment.data(), comment_size) != comment_size) return kZipErrno;
  }
  const std::uint32_t base = central_pos - (dir_offset + dir_size);
  w->add_offset = base;
  w->begin_pos = base;
  w->entries = entries;

  if (w->io.seek(w->io.opaque, w->stream, static_cast<long>(dir_offset + base), kZipSeekSet) != 0) return kZipErrno;
  std::vector<std::uint8_t> piece(kBlockDataSize);
  for (std::uint32_t left = dir_size; left > 0;) {
    const std::uint32_t n = std::min<std::uint32_t>(left, kBlockDataSize);
    if (w->io.read(w->io.opaque, w->stream, piece.data(), n) != n) return kZipErrno;
    if (const int r = add_to_list(&w->dir, piece.data(), n); r != kZipOk) return r;
    left -= n;
  }
  if (w->io.seek(w->io.opaque, w->stream, static_cast<long>(dir_offset + base), kZipSeekSet) != 0) return kZipErrno;
  return kZipOk;
}

void put_local_u32(ZipWriter* w, std::size_t at, std::uint32_t v) { platform::put_u32le(w->central_header.data() + at, v); }

}  // namespace

ZipWriter* zip_writer_open(const char* path, int mode, const ZipFileFunctionTable* table) {
  ZipFileFunctionTable io{};
  if (table)
    io = *table;
  else
    zip_file_functions(&io);
  const int bits = mode == kZipCreate ? (kZipModeRead | kZipModeWrite | kZipModeCreate)
                                      : (kZipModeRead | kZipModeWrite | kZipModeExisting);
  void* stream = io.open(io.opaque, path, bits);
  if (stream == nullptr) return nullptr;
  auto* w = new (std::nothrow) ZipWriter;
  if (w == nullptr) {
    io.close(io.opaque, stream);
    return nullptr;
  }
  w->io = io;
  w->stream = stream;
  const std::int32_t pos = io.tell(io.opaque, stream);
  w->begin_pos = pos < 0 ? 0 : static_cast<std::uint32_t>(pos);
  init_list(w->dir);
  if (mode == kZipAddInZip && load_existing(w) != kZipOk) {
    io.close(io.opaque, stream);
    free_blocks(w->dir.first);
    delete w;
    return nullptr;
  }
  return w;
}

ZipWriter* zip_writer_open_default(const char* path, int mode) { return zip_writer_open(path, mode, nullptr); }

int zip_writer_open_entry(ZipWriter* w, const char* name, const ZipFileInfo* info, const void* local_extra,
                          std::uint16_t local_extra_size, const void* central_extra,
                          std::uint16_t central_extra_size, const char* comment, int method, int level, int raw,
                          int window_bits, int mem_level, int strategy, const char* password,
                          std::uint32_t /*crc_for_crypting*/) {
  if (password != nullptr || w == nullptr || (method != 0 && method != Z_DEFLATED)) return kZipParamError;
  if (w->entry_open && zip_writer_close_entry(w) != kZipOk) return kZipCloseError;
  if (name == nullptr) name = "-";
  if (comment == nullptr) comment = "";
  const std::size_t name_size = std::strlen(name);
  const std::size_t comment_size = std::strlen(comment);
  if (name_size > 0xFFFF || comment_size > 0xFFFF) return kZipParamError;

  w->dos_date = info ? dos_date_of(*info) : 0;
  w->flag = 0;
  if (level == 8 || level == 9) w->flag |= 2;
  if (level == 2) w->flag |= 4;
  if (level == 1) w->flag |= 6;
  w->crc = 0;
  w->method = method;
  w->raw = raw != 0;
  const std::int32_t pos = w->io.tell(w->io.opaque, w->stream);
  if (pos < 0) return kZipErrno;
  w->local_header_pos = static_cast<std::uint32_t>(pos);
  w->can_remove = true;
  w->record_listed = false;

  auto& h = w->central_header;
  h.assign(kCentralHeaderSize + name_size + central_extra_size + comment_size, 0);
  std::uint8_t* p = h.data();
  platform::put_u32le(p, kCentralHeaderMagic);
  platform::put_u16le(p + 4, 0);   // made by
  platform::put_u16le(p + 6, 20);  // needed
  platform::put_u16le(p + 8, w->flag);
  platform::put_u16le(p + 10, static_cast<std::uint16_t>(method));
  platform::put_u32le(p + 12, w->dos_date);
  platform::put_u16le(p + 28, static_cast<std::uint16_t>(name_size));
  platform::put_u16le(p + 30, central_extra_size);
  platform::put_u16le(p + 32, static_cast<std::uint16_t>(comment_size));
  platform::put_u16le(p + 36, saturate16(info ? info->internal_attributes : 0));
  platform::put_u32le(p + 38, info ? info->external_attributes : 0);
  platform::put_u32le(p + 42, w->local_header_pos - w->add_offset);
  std::memcpy(p + kCentralHeaderSize, name, name_size);
  if (central_extra_size) std::memcpy(p + kCentralHeaderSize + name_size, central_extra, central_extra_size);
  std::memcpy(p + kCentralHeaderSize + name_size + central_extra_size, comment, comment_size);

  std::vector<std::uint8_t> local(kLocalHeaderSize + name_size + local_extra_size, 0);
  std::uint8_t* q = local.data();
  platform::put_u32le(q, kLocalHeaderMagic);
  platform::put_u16le(q + 4, 20);
  platform::put_u16le(q + 6, w->flag);
  platform::put_u16le(q + 8, static_cast<std::uint16_t>(method));
  platform::put_u32le(q + 10, w->dos_date);
  platform::put_u16le(q + 26, static_cast<std::uint16_t>(name_size));
  platform::put_u16le(q + 28, local_extra_size);
  std::memcpy(q + kLocalHeaderSize, name, name_size);
  if (local_extra_size) std::memcpy(q + kLocalHeaderSize + name_size, local_extra, local_extra_size);
  if (w->io.write(w->io.opaque, w->stream, local.data(), local.size()) != local.size()) return kZipErrno;

  w->buffered = 0;
  w->total_in = w->total_out = 0;
  w->zs = z_stream{};
  w->zs.next_out = w->out;
  w->zs.avail_out = kOutputBufferSize;
  w->zs_initialised = false;
  if (method == Z_DEFLATED && !w->raw) {
    const int r = deflateInit2(&w->zs, level, Z_DEFLATED, window_bits > 0 ? -window_bits : window_bits, mem_level,
                               strategy);
    if (r != Z_OK) return r;
    w->zs_initialised = true;
  }
  w->entry_open = true;
  return kZipOk;
}

int zip_writer_write(ZipWriter* w, const void* buf, std::size_t len) {
  if (w == nullptr || !w->entry_open) return kZipParamError;
  const auto* in = static_cast<const std::uint8_t*>(buf);
  w->crc = static_cast<std::uint32_t>(crc32(w->crc, in, static_cast<uInt>(len)));
  w->total_in += len;
  int err = kZipOk;
  if (w->zs_initialised) {
    w->zs.next_in = const_cast<Bytef*>(in);
    w->zs.avail_in = static_cast<uInt>(len);
    while (err == kZipOk && w->zs.avail_in > 0) {
      if (w->zs.avail_out == 0) err = flush_output(w);
      if (err != kZipOk) break;
      const uInt before = w->zs.avail_out;
      err = deflate(&w->zs, Z_NO_FLUSH);
      w->buffered += before - w->zs.avail_out;
    }
  } else {
    // Stored and raw entries: the bytes go out as they are.
    while (err == kZipOk && len > 0) {
      if (w->buffered == kOutputBufferSize) err = flush_output(w);
      if (err != kZipOk) break;
      const std::size_t n = std::min<std::size_t>(len, kOutputBufferSize - w->buffered);
      std::memcpy(w->out + w->buffered, in, n);
      w->buffered += static_cast<std::uint32_t>(n);
      in += n;
      len -= n;
    }
  }
  return err;
}

int zip_writer_close_entry_raw(ZipWriter* w, std::uint32_t uncompressed_size, std::uint32_t crc) {
  if (w == nullptr || !w->entry_open) return kZipParamError;
  int err = kZipOk;
  if (w->zs_initialised) {
    w->zs.avail_in = 0;
    while (err == kZipOk) {
      if (w->zs.avail_out == 0) err = flush_output(w);
      if (err != kZipOk) break;
      const uInt before = w->zs.avail_out;
      err = deflate(&w->zs, Z_FINISH);
      w->buffered += before - w->zs.avail_out;
    }
    if (err == Z_STREAM_END) err = kZipOk;
  }
  if (err == kZipOk) err = flush_output(w);
  bool text = false;
  if (w->zs_initialised) {
    text = w->zs.data_type == Z_TEXT;
    const int r = deflateEnd(&w->zs);
    if (err == kZipOk) err = r;
    w->zs_initialised = false;
  }
  if (!w->raw) {
    crc = w->crc;
    uncompressed_size = saturate32(w->total_in);
  }
  const std::uint32_t compressed_size = saturate32(w->total_out);

  put_local_u32(w, 16, crc);
  put_local_u32(w, 20, compressed_size);
  put_local_u32(w, 24, uncompressed_size);
  if (text) platform::put_u16le(w->central_header.data() + 36, 1);
  if (err == kZipOk) {
    err = add_to_list(&w->dir, w->central_header.data(), w->central_header.size());
    w->record_listed = err == kZipOk;
  }
  w->central_header.clear();
  w->central_header.shrink_to_fit();

  if (err == kZipOk) {
    // The sizes go into the local header afterwards, so that no data
    // descriptor follows the data.
    const std::int32_t cur = w->io.tell(w->io.opaque, w->stream);
    std::uint8_t sizes[12];
    platform::put_u32le(sizes, crc);
    platform::put_u32le(sizes + 4, compressed_size);
    platform::put_u32le(sizes + 8, uncompressed_size);
    if (cur < 0 || w->io.seek(w->io.opaque, w->stream, static_cast<long>(w->local_header_pos + 14), kZipSeekSet) != 0)
      err = kZipErrno;
    else if (w->io.write(w->io.opaque, w->stream, sizes, sizeof sizes) != sizeof sizes)
      err = kZipErrno;
    if (cur >= 0 && w->io.seek(w->io.opaque, w->stream, cur, kZipSeekSet) != 0) err = kZipErrno;
  }
  ++w->entries;
  w->entry_open = false;
  return err;
}

int zip_writer_close_entry(ZipWriter* w) { return zip_writer_close_entry_raw(w, 0, 0); }

int zip_writer_close(ZipWriter* w, const char* /*comment*/) {
  if (w == nullptr) return kZipParamError;
  int err = kZipOk;
  if (w->entry_open) err = zip_writer_close_entry(w);
  const std::int32_t dir_start = w->io.tell(w->io.opaque, w->stream);
  if (dir_start < 0 && err == kZipOk) err = kZipErrno;
  std::uint32_t dir_size = 0;
  for (CentralDirBlock* b = w->dir.first; b; b = b->next) {
    if (err == kZipOk && b->filled > 0 &&
        w->io.write_bytes(w->io.opaque, w->stream, b->data, b->filled) != b->filled)
      err = kZipErrno;
    dir_size += b->filled;
  }
  free_blocks(w->dir.first);
  w->dir = CentralDirList{};
  if (err == kZipOk) {
    std::uint8_t end[kEndRecordSize] = {};
    platform::put_u32le(end, kEndHeaderMagic);
    platform::put_u16le(end + 8, saturate16(w->entries));
    platform::put_u16le(end + 10, saturate16(w->entries));
    platform::put_u32le(end + 12, dir_size);
    platform::put_u32le(end + 16, static_cast<std::uint32_t>(dir_start) - w->add_offset);
    if (w->io.write(w->io.opaque, w->stream, end, sizeof end) != sizeof end) err = kZipErrno;
  }
  if (w->io.close(w->io.opaque, w->stream) != 0 && err == kZipOk) err = kZipErrno;
  if (w->zs_initialised) deflateEnd(&w->zs);
  delete w;
  return err;
}

std::uint32_t zip_writer_estimate_size(const ZipWriter* w) {
  if (w == nullptr) return 0;
  const std::int32_t pos = w->io.tell(w->io.opaque, w->stream);
  return (pos < 0 ? 0u : static_cast<std::uint32_t>(pos)) + g_central_bytes + kEndRecordSize;
}

int zip_writer_remove_last(ZipWriter* w) {
  if (w == nullptr || !w->can_remove) return 1;
  if (w->entry_open) (void)zip_writer_close_entry(w);  // the entry goes anyway
  const bool cut = zip_stream_truncate(w->io, w->stream, w->local_header_pos) == 0;
  if (w->io.seek(w->io.opaque, w->stream, 0, kZipSeekEnd) != 0 || !cut) return -1;
  w->can_remove = false;
  if (w->entries > 0) --w->entries;
  if (!w->record_listed || w->dir.last == nullptr) return 0;
  w->record_listed = false;
  CentralDirBlock* last = w->dir.last;
  CentralDirBlock* before = w->dir.before_last;
  if (last->chunks < 2 && before != last && before->split) {
    g_central_bytes -= last->filled + before->last_chunk;
    last->free = kBlockDataSize;
    last->filled = 0;
    before->free += before->last_chunk;
    before->filled -= before->last_chunk;
  } else {
    g_central_bytes -= last->last_chunk;
    last->filled -= last->last_chunk;
    last->free += last->last_chunk;
  }
  return 0;
}

}  // namespace vaslab

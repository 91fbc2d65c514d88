#include "vaslab/backup/zip_file_functions.h"

#include <minizip/ioapi.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/failure_cause.h"
#include "platform/file_io.h"

namespace vaslab {
namespace {

// The name goes with the handle: a failing read or write names its file.
struct Stream {
  int handle = -1;
  bool error = false;
  std::string name;
};

void* builtin_open(void*, const char* name, int mode) {
  if (name == nullptr) return nullptr;
  platform::OpenMode how;
  if ((mode & kZipModeReadWriteMask) == kZipModeRead)
    how = platform::OpenMode::kRead;
  else if (mode & kZipModeExisting)
    how = platform::OpenMode::kReadWrite;
  else if (mode & kZipModeCreate)
    how = platform::OpenMode::kCreateAlways;
  else
    return nullptr;
  const int h = platform::file_open(name, how);
  if (h < 0) {
    platform::note_failure_cause(name, h);
    return nullptr;
  }
  return new Stream{h, false, name};
}

unsigned long builtin_read(void*, void* stream, void* buf, unsigned long size) {
  auto* s = static_cast<Stream*>(stream);
  auto* p = static_cast<std::uint8_t*>(buf);
  unsigned long done = 0;
  while (done < size) {
    const long long n = platform::file_read(s->handle, p + done, size - done);
    if (n < 0) {
      s->error = true;
      platform::note_failure_cause(s->name, static_cast<int>(n));
      break;
    }
    if (n == 0) break;
    done += static_cast<unsigned long>(n);
  }
  return done;
}

unsigned long builtin_write(void*, void* stream, const void* buf, unsigned long size) {
  auto* s = static_cast<Stream*>(stream);
  long long n = platform::file_write(s->handle, buf, size);
  if (n >= 0 && static_cast<unsigned long>(n) < size) {
    // A short count keeps its reason: the rest, tried once more, tells it.
    const long long rest = platform::file_write(s->handle, static_cast<const char*>(buf) + n, size - n);
    if (rest < 0) platform::note_failure_cause(s->name, static_cast<int>(rest));
    n += rest < 0 ? 0 : rest;
  } else if (n < 0) {
    platform::note_failure_cause(s->name, static_cast<int>(n));
  }
  if (n < 0 || static_cast<unsigned long>(n) != size) {
    s->error = true;
    platform::note_failure_cause(s->name, -EIO);  // unless the system said why
  }
  return n < 0 ? 0 : static_cast<unsigned long>(n);
}

unsigned long builtin_write_bytes(void* opaque, void* stream, const void* buf, unsigned long size) {
  const auto* p = static_cast<const std::uint8_t*>(buf);
  unsigned long done = 0;
  while (done < size && builtin_write(opaque, stream, p + done, 1) == 1) ++done;
  return done;
}

std::int32_t builtin_tell(void*, void* stream) {
  auto* s = static_cast<Stream*>(stream);
  const long long pos = platform::file_seek(s->handle, 0, SEEK_CUR);
  if (pos < 0 || pos > INT32_MAX) return -1;
  return static_cast<std::int32_t>(pos);
}

long builtin_seek(void*, void* stream, long offset, int origin) {
  auto* s = static_cast<Stream*>(stream);
  int whence;
  switch (origin) {
    case kZipSeekSet: whence = SEEK_SET; break;
    case kZipSeekCur: whence = SEEK_CUR; break;
    case kZipSeekEnd: whence = SEEK_END; break;
    default: return -1;
  }
  return platform::file_seek(s->handle, offset, whence) < 0 ? -1 : 0;
}

int builtin_close(void*, void* stream) {
  auto* s = static_cast<Stream*>(stream);
  const int r = platform::file_close(s->handle);
  platform::note_failure_cause(s->name, r);
  delete s;
  return r == 0 ? 0 : -1;
}

int builtin_error(void*, void* stream) { return static_cast<Stream*>(stream)->error ? 1 : 0; }

// minizip calls with its own argument types; each slot hands on to the same
// slot of the table that the record's opaque value points at.
const ZipFileFunctionTable& table_of(voidpf opaque) { return *static_cast<const ZipFileFunctionTable*>(opaque); }

template <auto Slot>
struct Forward;
template <typename R, typename... Args, R (*ZipFileFunctionTable::*Slot)(void*, Args...)>
struct Forward<Slot> {
  static R call(voidpf opaque, Args... args) {
    const ZipFileFunctionTable& t = table_of(opaque);
    return (t.*Slot)(t.opaque, args...);
  }
};

// The two whose types differ from minizip's.
long mz_tell(voidpf opaque, voidpf stream) { return Forward<&ZipFileFunctionTable::tell>::call(opaque, stream); }
long mz_seek(voidpf opaque, voidpf stream, uLong offset, int origin) {
  return Forward<&ZipFileFunctionTable::seek>::call(opaque, stream, static_cast<long>(offset), origin);
}

}  // namespace

void zip_file_functions(ZipFileFunctionTable* table) {
  table->open = builtin_open;
  table->read = builtin_read;
  table->write = builtin_write;
  table->write_bytes = builtin_write_bytes;
  table->tell = builtin_tell;
  table->seek = builtin_seek;
  table->close = builtin_close;
  table->error = builtin_error;
  table->opaque = nullptr;
}

int zip_stream_truncate(const ZipFileFunctionTable& table, void* stream, std::uint32_t size) {
  if (table.open != builtin_open || stream == nullptr) return -1;
  return platform::file_truncate(static_cast<Stream*>(stream)->handle, size) == 0 ? 0 : -1;
}

void zip_minizip_functions(const ZipFileFunctionTable* table, zlib_filefunc_def_s* out) {
  out->zopen_file = Forward<&ZipFileFunctionTable::open>::call;
  out->zread_file = Forward<&ZipFileFunctionTable::read>::call;
  out->zwrite_file = Forward<&ZipFileFunctionTable::write>::call;
  out->ztell_file = mz_tell;
  out->zseek_file = mz_seek;
  out->zclose_file = Forward<&ZipFileFunctionTable::close>::call;
  out->zerror_file = Forward<&ZipFileFunctionTable::error>::call;
  out->opaque = const_cast<ZipFileFunctionTable*>(table);
}

}  // namespace vaslab

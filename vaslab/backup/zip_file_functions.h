// The file functions the backup's zip writer and the restore's zip reader
// share.  Both go through one table of nine slots, so that what the writer
// puts on a drive ("C:\TEMP\1.ZIP", "A:\ZVT_0001.ZIP") is read back through
// the same Windows-path file layer.
#pragma once

#include <cstdint>

struct zlib_filefunc_def_s;

namespace vaslab {

// Mode bits of the open slot.
constexpr int kZipModeRead = 1;
constexpr int kZipModeWrite = 2;
constexpr int kZipModeReadWriteMask = 3;
constexpr int kZipModeExisting = 4;
constexpr int kZipModeCreate = 8;

// Origins of the seek slot.
constexpr int kZipSeekSet = 0;
constexpr int kZipSeekCur = 1;
constexpr int kZipSeekEnd = 2;

struct ZipFileFunctionTable {
  // A stream, or null.  1 exactly: "rb"; else with bit 4: "r+b"; else with
  // bit 8: "wb"; anything else opens nothing.
  void* (*open)(void* opaque, const char* name, int mode);
  unsigned long (*read)(void* opaque, void* stream, void* buf, unsigned long size);
  unsigned long (*write)(void* opaque, void* stream, const void* buf, unsigned long size);
  // One byte at a time; stops at the first byte the stream refuses.
  unsigned long (*write_bytes)(void* opaque, void* stream, const void* buf, unsigned long size);
  std::int32_t (*tell)(void* opaque, void* stream);
  // 0, or -1 when the origin is unknown or the seek failed: a reader that
  // trusts a failed seek would read, and the writer patch, the wrong place.
  long (*seek)(void* opaque, void* stream, long offset, int origin);
  int (*close)(void* opaque, void* stream);
  int (*error)(void* opaque, void* stream);
  void* opaque;
};

// The built-in functions over the platform file layer; opaque 0.
void zip_file_functions(ZipFileFunctionTable* table);

// Cuts a stream opened by the built-in functions to `size` bytes; -1 for a
// stream of any other table or when the file layer refuses.
int zip_stream_truncate(const ZipFileFunctionTable& table, void* stream, std::uint32_t size);

// Fills minizip's eight-slot record so that it reads through `table`, which
// must outlive every use of the record.
void zip_minizip_functions(const ZipFileFunctionTable* table, zlib_filefunc_def_s* out);

}  // namespace vaslab

// The backup's own ZIP writer over zlib.  Unlike an ordinary writer it can
// say at any moment how large the archive would be if closed now, and take
// back the entry added last: the backup fills each diskette's archive study
// by study and drops the study that would overflow the diskette.
//
// One archive is written at a time: the count of central-directory bytes
// held in memory is program-wide.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vaslab/backup/zip_file_functions.h"

namespace vaslab {

// Results.  zlib's own codes pass through from the compression steps.
constexpr int kZipOk = 0;
constexpr int kZipErrno = -1;
constexpr int kZipParamError = -102;
constexpr int kZipBadZipFile = -103;
constexpr int kZipInternalError = -104;
constexpr int kZipCloseError = -105;

// Open modes.
constexpr int kZipCreate = 0;       // a new file (an existing one is emptied)
constexpr int kZipAddInZip = 2;     // entries added to an existing archive

struct ZipFileInfo {
  std::uint32_t sec, min, hour, mday, mon, year;  // mon 0-11
  std::uint32_t dos_date;  // date << 16 | time; used when non-zero
  std::uint32_t internal_attributes;
  std::uint32_t external_attributes;
};

struct ZipWriter;

ZipWriter* zip_writer_open(const char* path, int mode, const ZipFileFunctionTable* table);
ZipWriter* zip_writer_open_default(const char* path, int mode);

// Methods 0 (stored) and 8 (deflated); no password.
int zip_writer_open_entry(ZipWriter* w, const char* name, const ZipFileInfo* info, const void* local_extra,
                          std::uint16_t local_extra_size, const void* central_extra,
                          std::uint16_t central_extra_size, const char* comment, int method, int level, int raw,
                          int window_bits, int mem_level, int strategy, const char* password,
                          std::uint32_t crc_for_crypting);
int zip_writer_write(ZipWriter* w, const void* buf, std::size_t len);
int zip_writer_close_entry_raw(ZipWriter* w, std::uint32_t uncompressed_size, std::uint32_t crc32);
int zip_writer_close_entry(ZipWriter* w);
// Writes the directory and end record and frees the writer.  No archive
// comment is ever written.
int zip_writer_close(ZipWriter* w, const char* comment);

// What closing now would leave: the position plus the directory held in
// memory plus the 22-byte end record.
std::uint32_t zip_writer_estimate_size(const ZipWriter* w);

// Takes back the entry started last: 0 removed, 1 nothing to remove (no
// entry started since the archive was opened, or it was taken back already),
// -1 when the file could not be cut back (the entry then stays listed).
int zip_writer_remove_last(ZipWriter* w);

}  // namespace vaslab

// The compressor's volumes: an archive split into part files side by side on
// any drive, or spanned over diskettes that the user changes when asked, each
// wiped or formatted and labelled "PKBACK# nnn" first.  The library's own
// VolumeLayer lives here, with the drive, path and file-status routines that
// the decompressor shares (temporary files among them) and the names of split
// parts.  The diskette formatter that the volumes call has its own header,
// zip_format.h, and knows nothing of them.
#pragma once

#include "ziplib/zip_state.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ziplib {

// The library's own volume layer; zipCompress uses it unless a test has put
// another one in the state.
VolumeLayer& zip_volume_layer();

// Copies the caller's part sizes (wMultiVolControl bit 0x2000: pairs of
// 32-bit halves, low first; else 32-bit values), up to the ending zero and at
// most one per part name, and resets the volume counters.
void zip_volumes_begin(ZipState& s);

// --- Drives and paths -------------------------------------------------------

// 1..26 for "X:\" or "X:/" (a character other than a letter there means the
// current drive), -1 for a path without a drive.
int zipDriveOfPath(std::string_view path);
// "X:\" for 1..26; 0 is the current drive.
std::string zipDriveRoot(int drive);
// The drive's own kind: the diskette drives A: and B: are the removable ones,
// and no drive is a CD-ROM.
bool zip_drive_removable(int drive);
// zip_drive_removable, or any drive in split mode or with wZipSubOptions bit 7.
bool zipDriveIsRemovable(int drive, const ZipState& s);
// The drive letter a path lies on (its own, else the current directory's), 0
// for a network name.
char zip_drive_letter(const std::string& path);
// Whether the folder of a path takes names of 255 characters: never on a
// diskette, where names are 8.3.
bool zip_long_names_allowed(const std::string& win_path);

// Free bytes of the volume that holds the path; no limit (2^63 - 1) when it
// cannot be told.
std::uint64_t zipFreeSpace(const std::string& path);
// Tests: free space by path instead of the file system's (nullptr restores).
using FreeSpaceFn = std::optional<std::uint64_t> (*)(const std::string& win_path);
void set_zip_free_space(FreeSpaceFn fn);

// "~", two base-37 characters of the thread id and its last five digits,
// ".", a letter and "~" (the file layer's short temporary name); the letter
// is the first whose name can be created exclusively in `directory`
// (Windows form, with or without a trailing "\").  Returns the open
// descriptor and the Windows path, or -1.
int zip_create_temp(const std::string& directory, long thread_id, std::string* win_path);
// Removes the temporaries that killed runs left in a folder of the
// diskette, which the start-up sweep of the drive folders never sees; on
// other drives that sweep does it.  Run before an operation takes a
// temporary name there.
void zip_remove_stale_temps(const std::string& directory);
// The same names for an open file that has none yet (see
// platform::file_create_unnamed()): it is linked under the first free one.
// 0, else a negative errno.
int zip_link_temp(int fd, const std::string& directory, long thread_id, std::string* win_path);

// Name of split part n (1-based) of an archive: the text after the last dot
// replaced by "z%02d" up to 99, "%03d" from 100; with `long_form` the suffix
// is appended to the whole name ("name.zip.z01").
std::string zip_part_name(const std::string& zip_path, int n, bool long_form);

// Deletes parts first..999 of an archive in one naming form.
void zipDeleteParts(const std::string& zip_path, int first, bool long_form);
// Deletes every part (both naming forms, 1-999) of an archive and the archive.
void zip_delete_parts(const std::string& zip_path);

// The label of spanned disk n (1-based): "PKBACK# 001".
std::string zip_volume_label(int n);

// What zipFileStatus tells of a file: times are local calendar times that
// went through the DOS date and time (2-second steps, 1980 at the earliest).
struct ZipFileStatus {
  int drive = 0;  // 0 for A:, 1 for B:, ...; 0 without a drive letter
  std::uint32_t mode = 0;  // 0x41B6 folder, 0x81B6 file
  int links = 1;
  std::uint32_t size = 0;  // the low 32 bits
  std::int64_t access_time = 0;
  std::int64_t write_time = 0;
  std::int64_t create_time = 0;
};
// False (and `out` untouched) when the path is not found.
bool zipFileStatus(const std::string& path, ZipFileStatus* out);

// --- Disks ------------------------------------------------------------------

// Formats, or wipes, the new disk as the bits ask and labels it disk `number`
// (1-based).  False when any step fails; split mode has nothing to do.
bool zipPrepareDisk(int drive, std::uint16_t multi_vol, int number, ZipState& s);
bool zipWipeRootFiles(const std::string& root, bool clear_attributes, ZipState& s);
bool zipWipeVolume(int drive, bool clear_attributes, ZipState& s);
bool zipTestVolumeWritable(int drive, const ZipState& s);
void zipDismountVolume(int drive, const ZipState& s);

}  // namespace ziplib

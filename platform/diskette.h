// Drive A:, the diskette.  It is a 1.44 MB image file (or a floppy block
// device) named by $VASLAB_DRIVE_A, else <root>/a.img; the drive is present
// while that file exists, and a new file at the same path is a new diskette.
// There is no drive B:.
//
// Two layers share the one drive:
// - the raw layer works on sectors and tracks, as the volume and disk
//   controls of the instrument's drive did: lock, dismount, media types,
//   track formatting, sector reads and writes;
// - the FAT12 layer keeps files on those sectors, so that what the program
//   writes is a diskette that fsck.fat and mtools accept.  The Windows-path
//   file layer (file_io.h, find.h, paths.h) sends every "A:\..." here.
//
// Results are 0 (or a count) on success and a negative errno on failure:
//   -ENODEV     a drive other than A:
//   -ENOMEDIUM  no diskette (the image does not exist)
//   -ESTALE     the diskette was changed or removed while files were open
//   -EROFS      the diskette is write protected
//   -EACCES     the volume is locked, by this program or another
//   -EBUSY      files are open where the call needs none (lock, delete)
//   -EIO        an unreadable sector, or a damaged file system
//   -ENOSPC     the disk or the root folder is full
//   -ENAMETOOLONG  a name that is not 8.3
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_io.h"
#include "platform/find.h"

namespace platform::diskette {

constexpr std::uint32_t kSectorSize = 512;
// Every track format fills its sectors with this byte.
constexpr std::uint8_t kFormatFiller = 0xF6;

// The drive's file: $VASLAB_DRIVE_A, else <root>/a.img (read on each call, so
// that tests may point it elsewhere).
std::string drive_path();
// A: is present when its file exists; every other letter is false.
bool drive_present(char letter);

// --- Raw layer --------------------------------------------------------------

// Media types by the instrument's numbering of them.
enum class MediaType : int {
  kUnknown = 0,
  k525_1200K = 1,
  k35_1440K = 2,
  k35_2880K = 3,
  k35_720K = 5,
  k525_360K = 6,
};

struct Geometry {
  std::uint32_t cylinders = 0;
  MediaType media = MediaType::kUnknown;
  std::uint32_t heads = 0;  // tracks per cylinder
  std::uint32_t sectors_per_track = 0;
  std::uint32_t bytes_per_sector = kSectorSize;
  std::uint64_t capacity() const {
    return std::uint64_t{cylinders} * heads * sectors_per_track * bytes_per_sector;
  }
};

// The geometry of a media type, or nullopt for kUnknown and unknown values.
std::optional<Geometry> geometry_of(MediaType type);

// The media the drive formats, smallest first: a 3.5-inch high-density
// drive offers 720 KB and 1.44 MB.  Empty when `drive` is not A:.
std::vector<Geometry> media_types(char drive);

// The geometry of the diskette in the drive, from its size; nullopt when
// there is none or its size is no known medium (unformatted).
std::optional<Geometry> current_geometry(char drive);

// Locks the volume for this program alone (an exclusive flock on the drive's
// file).  -EBUSY while files on A: are open or another program holds it.
// While locked, file calls on A: answer -EACCES.
int lock_volume(char drive);
int unlock_volume(char drive);
bool volume_locked(char drive);

// Forgets everything known about the diskette: the next call reads the drive
// afresh.  Files still open become stale (-ESTALE).
int dismount_volume(char drive);

// True when the diskette is write protected (an image with no write
// permission bits, or a device opened read-only).
bool write_protected(char drive);

// Formats cylinders first..last, heads first..last, for `type` (one the
// drive offers): every sector is filled with kFormatFiller, and an image
// takes the size of the formatted medium.  Needs the volume lock (-EACCES).
int format_tracks(char drive, MediaType type, std::uint32_t first_cylinder, std::uint32_t last_cylinder,
                  std::uint32_t first_head, std::uint32_t last_head);

// Reads or writes `count` whole sectors from sector `lba` (0-based).  A
// range beyond the medium is -EIO.  Writes need the volume lock (-EACCES).
int read_sectors(char drive, std::uint32_t lba, std::uint32_t count, void* out);
int write_sectors(char drive, std::uint32_t lba, std::uint32_t count, const void* data);

// Test doubles on the same drive, kept across diskette changes until
// cleared: a bad sector fails every read and write of it with -EIO; a weak
// one takes writes but reads back other bytes than were put there.
void set_bad_sectors(std::vector<std::uint32_t> lbas);
void set_weak_sectors(std::vector<std::uint32_t> lbas);
void clear_sector_faults();

// --- FAT12 files ------------------------------------------------------------
// Paths are Windows paths on A: ("A:\SPAN.ZIP", "a:\sub\x.txt").  Names are
// 8.3 only; one written in lower case keeps that look through the entry's
// lower-case flags.  Long-name entries found on a diskette are skipped in
// listings and removed with their file.
//
// A file's new clusters and length reach the disk when it is closed or
// flushed: first its data, then (after a sync) both FAT copies, then (after
// another) its directory entry, and a last sync.  Until then the entry on
// the disk keeps the file as it was and the FAT on the disk does not name
// the new clusters, so a crash in the middle of writing leaves the file as
// it was before, and no entry or chain ever points at data not yet written.
// Listings and facts show an open file at the length it has now.
//
// What a writer killed part-way leaves (clusters no entry owns, a chain
// running on past its file's length, FAT copies that differ) is mended by
// the first call that changes the diskette or asks for its free space, when
// no other program has the diskette open; one whose folders and chains do
// not add up is left as it is.
//
// Other damage is read as far as it goes, but a change that would reach
// beyond the file it is made to is -EIO, with a note why, and changes
// nothing: opening for writing or deleting a file whose clusters another
// entry also holds (a cross-linked disk), writing to or growing a file
// whose entry says it is longer than its chain, removing a folder whose
// entry names no cluster.

// Handles of files on A: start here, above any descriptor the system hands
// out, so that the file layer tells them apart.
constexpr int kHandleBase = 1 << 30;
bool is_handle(int handle);

int open(std::string_view win_path, OpenMode mode);
long long read(int handle, void* buffer, std::size_t size);
long long write(int handle, const void* data, std::size_t size);
long long seek(int handle, long long offset, int whence);
int truncate(int handle, std::uint64_t size);
long long length(int handle);
// Puts what was written so far on the disk, as a close would.
int flush(int handle);
int close(int handle);

int remove_file(std::string_view win_path);
// Renames within one folder; -EXDEV across folders (the caller copies).
// An existing target is replaced, as the file layer promises.
int rename(std::string_view win_from, std::string_view win_to);
int make_dir(std::string_view win_path);   // parents made too
int remove_dir(std::string_view win_path);  // an empty folder only

// Attribute bits of find.h (read-only, hidden, system, archive); the
// folder and label bits cannot be set this way.
int set_attributes(std::string_view win_path, std::uint32_t attributes);
int set_time(std::string_view win_path, std::int64_t mtime);

// Entries of the folder of `win_pattern` that match its last component,
// sorted by name, "." and ".." left out.  The volume label entry (attribute
// 0x08) is listed in the root when `with_label` is set.
std::vector<FoundFile> list(std::string_view win_pattern, bool with_label = false);
std::optional<FoundFile> facts(std::string_view win_path);

// Free clusters times the cluster size; nullopt without a readable diskette.
std::optional<std::uint64_t> free_bytes();
// The label ("" when the disk has none), or nullopt.
std::optional<std::string> volume_label();
// Writes the label to the root's label entry and to the boot sector, so that
// the two agree; upper case, at most 11 characters.
int set_volume_label(std::string_view label);

}  // namespace platform::diskette

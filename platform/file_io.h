// Whole-file reading and writing for the stored records.  A file written is
// either complete or not there: it goes to a temporary name beside the target,
// every byte is checked, flushed to disk and then renamed over the old file.
//
// Stored files are read only when they are regular files: a FIFO or a device
// put where a record is expected would otherwise block the program for ever
// or hand it endless bytes, so it reads as a file that does not open.
#pragma once

#include <sys/types.h>
#include <time.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Writes `size` bytes as the file at a Linux path.  0 on success, else a
// negative errno; on failure the old file (if any) is untouched.  The
// temporary name is unique, created exclusively and never opened through a
// symbolic link.
[[nodiscard]] int write_file_atomic(const std::string& linux_path, const void* data,
                                    std::size_t size, mode_t mode = 0644);

// Opens a regular file for reading without ever waiting on it (a FIFO, a
// device or a folder is refused with -EINVAL).  A descriptor, else a negative
// errno.
int open_regular_file(const std::string& linux_path);

// Reads at most `max` bytes from the start of a regular file; nullopt when it
// does not open or is not a regular file.  A read error ends the data early,
// as a short file would.
std::optional<std::vector<std::uint8_t>> read_file(const std::string& linux_path,
                                                   std::size_t max = SIZE_MAX);

// Reads exactly `length` bytes at `offset` of a regular file; false when it
// does not open or is shorter.
[[nodiscard]] bool read_file_at(const std::string& linux_path, std::uint64_t offset, void* out, std::size_t length);
// The same on an open descriptor: the number of bytes read, fewer than
// `length` only at the end of the file or on an error.
std::size_t read_at(int fd, std::uint64_t offset, void* out, std::size_t length);

// Copies a whole file: written like write_file_atomic(), so the target is
// either the complete copy or left as it was.  0 on success, else a negative
// errno (-ENOENT when the source does not exist).
[[nodiscard]] int copy_file_atomic(const std::string& linux_from, const std::string& linux_to,
                                   mode_t mode = 0644);

// Last-access time of a file, or nullopt.
std::optional<timespec> file_access_time(const std::string& linux_path);
// Sets a file's access and modification times.  0, else a negative errno.
int set_file_times(const std::string& linux_path, const timespec& access, const timespec& modify);

// Size of a regular file, or nullopt.
std::optional<std::uint64_t> file_size(const std::string& linux_path);

// Whether a file name is one of the temporary names above (they begin with
// "~" and end in ".tmp~"; older runs left names with only the ending), or
// the short form for drives of 8.3 names: "~", seven characters, ".", one
// character and "~" (case aside).  Such a file is never a record of its own.
bool is_temporary_name(std::string_view name);

// Removes, in a folder and every folder below it (with `below` false, in
// the folder only), the temporary files that a run killed in the middle of
// a write left behind.  Symbolic links to folders are not entered.  Returns
// how many were removed.
int remove_stale_temporaries(const std::string& linux_folder, bool below = true);

// The first half of write_file_atomic(): `size` bytes written whole and
// flushed under a fresh temporary name beside `linux_path`, which goes to
// `staged`; nothing is left on failure.  A writer that must put several
// files in place together stages them all, then renames each.  0, else a
// negative errno.
[[nodiscard]] int stage_file(const std::string& linux_path, const void* data, std::size_t size, mode_t mode,
                             std::string& staged);

// The steps of a whole-or-nothing write, for writers that put several files
// in place together: every byte written (EINTR retried, a zero-length write
// is EIO), flushed, renamed.  0 or a negative errno.  They pass the fault
// hook below, as write_file_atomic() does.
[[nodiscard]] int write_all(int fd, const void* data, std::size_t size);
[[nodiscard]] int sync_file(int fd);
[[nodiscard]] int rename_file(const std::string& linux_from, const std::string& linux_to);
// As rename_file(), but never replaces: -EEXIST when `linux_to` exists.
[[nodiscard]] int rename_file_no_replace(const std::string& linux_from, const std::string& linux_to);

// Fault injection, present in every build so that the tested code is the
// shipped code; unarmed it costs one predictable branch per step.  Steps are
// the calls above and, on the folder drives, file_write() (but to a file
// opened to append, a log), file_sync() and file_rename() below (the
// diskette has steps of its own).  Armed, the `nth`
// write, fsync or rename from now on fails with `error`, or, when
// `error` is 0, ends the process right there with _exit(kFaultExitCode) (a
// write that ends the process first puts half its bytes down, as a crash in
// the middle of it would).  Steps before and after the nth go through.
constexpr int kFaultExitCode = 86;
void arm_write_fault(int nth, int error);
void disarm_write_fault();
// How many steps have passed the hook since it was armed.
int write_fault_steps();
// One step of the hook for a writer that does not go through write_all()
// and sync_file() (the diskette's sector writes and flushes): 0 to go on,
// else the errno to fail with; ends the process here when so armed.
[[nodiscard]] int write_fault_step();

// Tests: from now on a folder and everything below it behave as if their
// file system were full (ENOSPC: files are created, opened and renamed,
// but no byte is written) or read-only (EROFS: nothing is created, opened
// for writing, written, renamed or removed there).  Root writes where the
// permission bits forbid it, so this is how a test run as root meets a
// read-only folder.  The handle layer below, write_file_atomic() and the
// steps above all honour it; an empty folder ends it.
void arm_folder_fault(const std::string& linux_folder, int error);
// 0 when a file of that path may be written (an existing file, else a new
// one in its folder), else the negative errno that a write would meet.
[[nodiscard]] int check_writable(const std::string& linux_path);

// Tests: the source of the temporary names' random part (nullptr restores
// the system's random numbers).
void set_temporary_name_source(std::uint32_t (*source)());

}  // namespace platform

// --- The file layer on Windows paths -------------------------------------
// Every subsystem that names files by Windows path ("C:\STUDIES\1.PDF",
// "A:\ZVT_0001.ZIP") opens, reads and writes them through these calls, so
// that a drive can be something other than a folder without its callers
// knowing.  A handle is a small non-negative number; results below zero are
// a negative errno.
namespace platform {

enum class OpenMode {
  kRead,          // existing file, read only
  kReadWrite,     // existing file, read and write
  kCreateNew,     // read and write; fails when the file exists
  kCreateAlways,  // read and write; an existing file is emptied
  kOpenAlways,    // read and write; created when missing
  kAppend,        // write at the end; created when missing (logs)
};

int file_open(std::string_view win_path, OpenMode mode);
// Read up to `size` bytes: the count read (0 at the end) or -errno.
long long file_read(int handle, void* buffer, std::size_t size);
// Read up to `size` bytes from `offset`, the handle's position left
// undefined: the count read (0 at the end) or -errno.  One call where a
// seek and a read would be two.
long long file_read_at(int handle, std::uint64_t offset, void* buffer, std::size_t size);
// Writes everything: the count written (short only on failure) or -errno.
long long file_write(int handle, const void* data, std::size_t size);
// whence as lseek: the new position or -errno.
long long file_seek(int handle, long long offset, int whence);
int file_truncate(int handle, std::uint64_t size);
// Puts what was written to an open file on its medium: 0, or -errno.
int file_sync(int handle);
// 0, or -errno when the data could not be put away (a failed close counts).
int file_close(int handle);
// Size of an open file, or -errno.
long long file_length(int handle);

int file_delete(std::string_view win_path);
int dir_remove(std::string_view win_path);  // an empty folder only
int dir_create(std::string_view win_path);  // with its missing parents
// Replaces `to` by `from` in one step; -EXDEV when they lie on different
// file systems (the caller copies then).
int file_rename(std::string_view win_from, std::string_view win_to);
// A file with no name yet, read and write, in the folder `win_folder`: it
// takes a name with file_link() once whole and is gone if it never does, a
// crash included, so nothing half-written is ever seen under any name.
// -EOPNOTSUPP where the drive or its file system has no such files (the
// diskette): the caller writes to a temporary name and renames it then.
int file_create_unnamed(std::string_view win_folder);
// Gives an unnamed file its name, never replacing one: -EEXIST when the
// name is taken.
int file_link(int handle, std::string_view win_path);
// Sets the last-write and last-access time (seconds since 1970).
int file_set_time(std::string_view win_path, std::int64_t mtime);
// The same on an open file, without a look-up of its name: done writing, it
// keeps the time through its close.  -ENOTSUP on the diskette, whose files
// are given their time by name.
int file_set_time(int handle, std::int64_t mtime);
// Sets the attribute bits of find.h (read-only, hidden, system, archive);
// a folder drive keeps only read-only, as its write permission.
int file_set_attributes(std::string_view win_path, std::uint32_t attributes);

}  // namespace platform

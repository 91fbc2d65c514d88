// Drive letters and Windows-style paths on a Linux file system.
//
// The program keeps its fixed paths ("c:\studies\setup.hdw", "C:\TEMP\")
// and the drive letters of the instrument.  One root folder holds the drives:
// drive X: is the folder <root>/x/.  Names compare without regard to case, as
// on the instrument, so every component is matched case-insensitively against
// what exists; a component that does not exist yet keeps the case written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The folder that holds the drives: $VASLAB_ROOT, else $XDG_DATA_HOME/vaslab,
// else ~/.local/share/vaslab.  Read once; set_root() replaces it (tests).
const std::string& root();
void set_root(std::string path);

// The Windows current directory that relative paths ("_bmp\x.bmp") start
// from.  The instrument runs from "C:\PROGRAMS\".
const std::string& current_directory();
void set_current_directory(std::string win_dir);

// Maps a Windows path to the Linux path of the same file.  Forward slashes are
// accepted as well as backslashes; "." and ".." components are resolved
// textually and can never climb above the drive folder.  A path that is
// already an absolute Linux path (starts with '/') is returned unchanged.
std::string map_path(std::string_view win_path);

// For one long run of work on a folder tree (extracting thousands of files),
// keeps each folder's listing once read, so that mapping a name that is not
// there yet does not read its whole folder again for every file.  While a
// scope lives, map_path() on its thread answers from the listings; what the
// file layer creates (files, folders, rename targets) is added to them, so
// that a later spelling still finds it.  Names that other programs create,
// rename or delete in those folders meanwhile are not seen until the scope
// ends.  Scopes nest;
// the listings go with the outermost.
class ListingCacheScope {
 public:
  ListingCacheScope();
  ~ListingCacheScope();
  ListingCacheScope(const ListingCacheScope&) = delete;
  ListingCacheScope& operator=(const ListingCacheScope&) = delete;
};

// Tells the listings of a ListingCacheScope that the entry at a Linux path
// now exists (present) or is gone.  The file layer calls it after each
// create, rename and delete; nothing to do when no scope lives.
void note_entry(const std::string& linux_path, bool present);

// Inside a ListingCacheScope: whether the listing already read of the
// folder of a Linux path holds no entry of its name in any spelling, so that
// the path is known not to be there without a look at the disk.  False
// without a scope or a listing of that folder.
bool listed_missing(std::string_view linux_path);

// The components of a Windows path after its drive, "." and ".." worked
// out textually (never above the drive's root).
std::vector<std::string> path_components(std::string_view win_path);

// Like map_path(), then creates every missing folder of the path's parent
// (a path ending in a separator is a folder and is created itself).
std::string map_path_create_dirs(std::string_view win_path);

// The drive folder of a letter, <root>/x, whether or not it exists.
std::string drive_folder(char letter);

// True when a Windows path names drive A:, the diskette: its files live in
// platform/diskette, not in a folder.
bool on_diskette(std::string_view win_path);

// Whether two Windows paths lie on one volume of the instrument: the same
// drive (a relative path is on the current directory's drive), or two drive
// letters whose folders are one folder.  The diskette is a volume of its own.
bool same_volume(std::string_view win_a, std::string_view win_b);

// A drive is present when its folder exists; A: when its diskette is in the
// drive (diskette.h); B: never.
bool drive_present(char letter);

// Free bytes on the file system that holds a mapped path (on A:, of the
// diskette), or nullopt.
std::optional<std::uint64_t> free_space(std::string_view win_path);

// Creates a folder and its parents (Linux path).  True when it exists after.
bool make_dirs(const std::string& linux_path);

// Case-insensitive comparison of two names, ASCII only (as the instrument).
bool same_name(std::string_view a, std::string_view b);

// Splits a Windows path into folder (with its trailing separator) and name.
std::pair<std::string, std::string> split_win_path(std::string_view win_path);

}  // namespace platform

// Listing a folder with Windows wildcards and attribute bits.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Windows file attribute bits.
constexpr std::uint32_t kAttrReadOnly = 0x01;
constexpr std::uint32_t kAttrHidden = 0x02;
constexpr std::uint32_t kAttrSystem = 0x04;
constexpr std::uint32_t kAttrVolume = 0x08;  // the volume label entry of a diskette
constexpr std::uint32_t kAttrDirectory = 0x10;
constexpr std::uint32_t kAttrArchive = 0x20;

struct FoundFile {
  std::string name;       // the full name as stored
  std::uint32_t attributes = 0;
  std::uint64_t size = 0;
  std::int64_t mtime = 0;  // seconds since 1970
  long mtime_nsec = 0;     // and its nanoseconds
};

// Windows wildcard match without regard to case: '*' any run, '?' one
// character, and "*.*" also matches names without a dot.
bool wildcard_match(const std::string& pattern, const std::string& name);

// Every entry of the folder of `win_pattern` whose name matches the pattern's
// last component, sorted by name; "." and ".." are never listed.  Empty when
// the folder does not exist.
std::vector<FoundFile> list_files(const std::string& win_pattern);

// The facts of one file or folder (a trailing separator is ignored), or
// nullopt when it does not exist.
std::optional<FoundFile> file_facts(std::string_view win_path);

// Opens a file for reading, as file_open() with OpenMode::kRead does (a
// folder is refused with -EISDIR), and gives the facts of the file opened:
// one look-up of the name where the facts and then the opening would be
// two, and facts that cannot belong to another file put there in between.
// A handle of the file layer, else a negative errno.
int open_with_facts(std::string_view win_path, FoundFile& facts);

// Whether two Windows paths name one existing file however they are spelt
// (case, "." and "..", a relative name, a folder reached through a link, a
// second hard link): one device and inode on folder drives, one path on the
// diskette, which has no links.  False when either does not exist.
bool same_file(std::string_view win_a, std::string_view win_b);

}  // namespace platform

// Diskette images for tests, made and checked with the outside FAT tools
// (dosfstools, mtools), so that what the program writes is judged by
// someone else's reading of it.
#pragma once

#include <optional>
#include <string>

namespace testsupport {

// Runs a command through the shell; its exit status, its output (both
// streams) in `output` when given.
int run_command(const std::string& command, std::string* output = nullptr);

// A blank formatted diskette image of 1440 or 720 KB at a Linux path
// (mformat), with `label` when it is not empty.
bool make_diskette(const std::string& image, int kilobytes = 1440, const std::string& label = "");

// fsck.fat -n on the image: true when it finds nothing to mend; what it
// said goes to `report`.
bool diskette_clean(const std::string& image, std::string* report = nullptr);

// mdir of a folder of the image ("::" the root, "::/SUB").
std::string mdir(const std::string& image, const std::string& folder = "::");

// A file's bytes read by mcopy ("::/SUB/X.TXT"), or nullopt when it fails.
std::optional<std::string> mtools_read(const std::string& image, const std::string& dos_path);
// Puts bytes onto the image by mcopy (its folder made by mmd first).
bool mtools_write(const std::string& image, const std::string& dos_path, const std::string& bytes);

}  // namespace testsupport

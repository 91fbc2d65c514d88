// Whole-file reading and writing for the stored records.  A file written is
// either complete or not there: it goes to a temporary name beside the target,
// every byte is checked, flushed to disk and then renamed over the old file.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Writes `size` bytes as the file at a Linux path.  0 on success, else a
// negative errno; on failure the old file (if any) is untouched.
int write_file_atomic(const std::string& linux_path, const void* data, std::size_t size,
                      mode_t mode = 0644);

// Reads at most `max` bytes from the start of a file; nullopt when it does not
// open.  A read error ends the data early, as a short file would.
std::optional<std::vector<std::uint8_t>> read_file(const std::string& linux_path,
                                                   std::size_t max = SIZE_MAX);

// Copies a whole file: written like write_file_atomic(), so the target is
// either the complete copy or left as it was.  0 on success, else a negative
// errno (-ENOENT when the source does not exist).
int copy_file_atomic(const std::string& linux_from, const std::string& linux_to,
                     mode_t mode = 0644);

// Size of a regular file, or nullopt.
std::optional<std::uint64_t> file_size(const std::string& linux_path);

}  // namespace platform

// Files on drive A:: a FAT12 file system of the project's own over the
// diskette's sectors.
#include <cerrno>

#include "platform/diskette.h"
#include "platform/diskette_drive.h"

namespace platform::diskette {

// Not built yet: every call answers an error, never success.
bool is_handle(int handle) { return handle >= kHandleBase; }
int open(std::string_view, OpenMode) { return -ENOSYS; }
long long read(int, void*, std::size_t) { return -EBADF; }
long long write(int, const void*, std::size_t) { return -EBADF; }
long long seek(int, long long, int) { return -EBADF; }
int truncate(int, std::uint64_t) { return -EBADF; }
long long length(int) { return -EBADF; }
int close(int) { return -EBADF; }
int remove_file(std::string_view) { return -ENOSYS; }
int rename(std::string_view, std::string_view) { return -ENOSYS; }
int make_dir(std::string_view) { return -ENOSYS; }
int remove_dir(std::string_view) { return -ENOSYS; }
int set_attributes(std::string_view, std::uint32_t) { return -ENOSYS; }
int set_time(std::string_view, std::int64_t) { return -ENOSYS; }
std::vector<FoundFile> list(std::string_view, bool) { return {}; }
std::optional<FoundFile> facts(std::string_view) { return std::nullopt; }
std::optional<std::uint64_t> free_bytes() { return std::nullopt; }
std::optional<std::string> volume_label() { return std::nullopt; }
int set_volume_label(std::string_view) { return -ENOSYS; }

namespace detail {
int files_open() { return 0; }
}  // namespace detail

}  // namespace platform::diskette

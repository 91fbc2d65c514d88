// A fuzzed existing archive freshened and added to by zipCompress: the loader
// must refuse what is not an archive with an error code, and whatever it
// accepts must come out as an archive it accepts again.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "fuzz/scratch_root.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "ziplib/ziplib.h"

namespace {

void put(const std::string& path, const uint8_t* data, size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) abort();
  if (size && ::write(fd, data, size) != static_cast<ssize_t>(size)) abort();
  ::close(fd);
}

int compress(int function, const char* items) {
  ZIPCMDSTRUCT c{};
  c.structSize = kZipCmdV220;
  c.Function = function;
  c.lpszZIPFile = "C:\\F\\OLD.ZIP";
  c.lpszItemList = items;
  c.compFactor = 1;
  c.quietFlag = 1;
  return zipCompress(&c);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = false;
  const std::string& root = fuzz_scratch_root("zip_loader");
  if (!started) {
    platform::make_dirs(root + "/c/f");
    platform::set_current_directory("C:\\F\\");
    zipInit(nullptr);
    zipAttachThread();
    static const uint8_t kText[] = "a new entry\n";
    put(root + "/c/f/NEW.TXT", kText, sizeof kText - 1);
    started = true;
  }
  put(root + "/c/f/OLD.ZIP", data, size);
  compress(ZIP_FRESHEN, "*.*");
  const int rc = compress(ZIP_ADD, "NEW.TXT");
  // An archive the library wrote itself always loads again.
  if (rc == 0 && compress(ZIP_ADD, "NEW.TXT") != 0) abort();
  return 0;
}

// A whole archive from the fuzzer, opened through the drive layer (on tmpfs),
// then counted, listed item by item and by index, and tested; then counted
// and tested again as if on a removable drive, where a missing end record
// leads to the disk prompts (answered Cancel) or to a directory read from
// the start of the file.  Whatever the bytes claim, the library must
// neither crash nor read or allocate beyond what the file holds.
#include "fuzz/scratch_root.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "ziplib/unziplib.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = [] {
    fuzz_scratch_root("unzip");
    platform::make_dirs(platform::map_path("C:\\"));
    unzipInit(nullptr);
    return unzipAttachThread() == 1;
  }();
  if (!started) abort();
  const std::string path = platform::map_path("C:\\f.zip");
  if (platform::write_file_atomic(path, data, size) != 0) abort();

  UNZIPCMDSTRUCT c{};
  c.structSize = kUnzipCmdV170;
  c.lpszZIPFile = "C:\\f.zip";
  c.quietFlag = 1;
  c.index = -1;
  c.Function = UNZIP_COUNTALLITEMS;  // also drops the cached directory
  if (unzipCommand(&c) != 0) return 0;
  ZINFOEX x{};
  ZINFO z{};
  for (int i = 0; i < 64; ++i) {
    UNZIPCMDSTRUCT n = c;
    n.Function = UNZIP_GETNEXTZINFO;
    n.pZipInfoEx = &x;
    if (unzipCommand(&n) != 0) break;
    n.Function = UNZIP_GETINDEXEDZINFO;
    n.pZipInfoEx = nullptr;
    n.zInfo = &z;
    n.index = i;
    unzipCommand(&n);
  }
  UNZIPCMDSTRUCT t = c;
  t.Function = UNZIP_EXTRACT;
  t.lpszFilespec = "*.*";
  t.recurseFlag = 1;
  t.testFlag = 1;
  t.decryptFlag = 1;
  t.lpszDecryptCode = "pw";
  unzipCommand(&t);

  c.wUnzipSubOptions = kUnzAllRemovable;
  c.lpMessageDisplay = [](int, int, int, int, char*, char*, void*) { return 2; };  // Cancel
  if (unzipCommand(&c) != 0) return 0;
  t.wUnzipSubOptions = c.wUnzipSubOptions;
  t.lpMessageDisplay = c.lpMessageDisplay;
  unzipCommand(&t);
  return 0;
}

// ziptool: the ZIP library as a program, so that the benchmarks time it the
// way they time zip and unzip, one whole process a run.
//   ziptool add LEVEL ARCHIVE FOLDER   archives FOLDER's tree, names relative to it
//   ziptool extract ARCHIVE FOLDER     extracts every entry, overwriting
//   ziptool test ARCHIVE               tests every entry
// Paths are Windows paths on the drives of $VASLAB_ROOT ("C:\small\").  The
// exit status is the library's result (0 success), 2 for a wrong command.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/paths.h"
#include "ziplib/unziplib.h"
#include "ziplib/ziplib.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: ziptool add LEVEL ARCHIVE FOLDER\n"
               "       ziptool extract ARCHIVE FOLDER\n"
               "       ziptool test ARCHIVE\n");
  return 2;
}

int add(int level, const char* archive, std::string folder) {
  if (folder.empty() || (folder.back() != '\\' && folder.back() != '/')) folder += '\\';
  platform::set_current_directory(folder);
  ZIPCMDSTRUCT c{};
  c.structSize = kZipCmdV220;
  c.Function = ZIP_ADD;
  c.lpszZIPFile = archive;
  c.lpszItemList = "*.*";
  c.recurseFlag = 1;
  c.compFactor = level;
  c.quietFlag = 1;
  c.wZipSubOptions = 0x0001;  // names relative to the folder
  zipInit(nullptr);
  zipAttachThread();
  const int rc = zipCompress(&c);
  zipDetachThread();
  zipTerm();
  if (rc != 0) std::fprintf(stderr, "ziptool: adding %s to %s: %d\n", folder.c_str(), archive, rc);
  return rc;
}

int unzip(const char* archive, const char* folder, bool test) {
  UNZIPCMDSTRUCT c{};
  c.structSize = kUnzipCmdV170;
  c.Function = UNZIP_EXTRACT;
  c.lpszZIPFile = archive;
  c.lpszFilespec = "*.*";
  c.lpszDestination = folder;
  c.recurseFlag = 1;
  c.overWriteFlag = 1;
  c.quietFlag = 1;
  c.testFlag = test ? 1 : 0;
  c.index = -1;
  unzipInit(nullptr);
  unzipAttachThread();
  const int rc = unzipCommand(&c);
  unzipDetachThread();
  unzipTerm();
  if (rc != 0) std::fprintf(stderr, "ziptool: %s %s: %d\n", test ? "testing" : "extracting", archive, rc);
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "add") == 0) {
    char* end = nullptr;
    const long level = std::strtol(argv[2], &end, 10);
    if (*end || level < 0 || level > 9) return usage();
    return add(static_cast<int>(level), argv[3], argv[4]);
  }
  if (argc == 4 && std::strcmp(argv[1], "extract") == 0) return unzip(argv[2], argv[3], false);
  if (argc == 3 && std::strcmp(argv[1], "test") == 0) return unzip(argv[2], "", true);
  return usage();
}

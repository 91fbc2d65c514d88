// The fuzzer's bytes are the diskette in drive A: (padded with zeros to a
// 1.44 MB medium, so that small inputs still reach the data area).  Boot
// sector, FATs, folders and chains may all be damaged: the layer must answer
// errors, never crash, hang or touch memory or sectors it should not.  The
// first pass reads the label, every folder (bounded depth) and every file;
// the second writes a new file and checks it reads back, extends and removes
// files, and makes and removes folders.
#include "fuzz/scratch_root.h"
#include "platform/diskette.h"
#include "platform/file_io.h"
#include "platform/find.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kMedium = 1474560;
constexpr int kMaxDepth = 4;
constexpr int kMaxFolders = 48;

struct Tree {
  std::vector<std::string> files, folders;  // full Windows paths
};

void read_all(const std::string& path) {
  const int h = platform::file_open(path, platform::OpenMode::kRead);
  if (h < 0) return;
  std::uint8_t buf[4096];
  for (int i = 0; i < 512 && platform::file_read(h, buf, sizeof buf) > 0; ++i) {
  }
  platform::file_close(h);
}

void walk(const std::string& folder, int depth, Tree& t) {
  if (depth > kMaxDepth || t.folders.size() >= kMaxFolders) return;
  for (const platform::FoundFile& f : platform::list_files(folder + "*.*")) {
    const std::string path = folder + f.name;
    if (f.attributes & platform::kAttrDirectory) {
      t.folders.push_back(path);
      platform::file_facts(path);
      walk(path + "\\", depth + 1, t);
    } else {
      t.files.push_back(path);
    }
  }
}

// A file made on whatever free space there is must read back as written:
// its clusters are free ones, whatever the rest of the disk says.
void write_and_check(const std::string& path) {
  std::uint8_t data[1300];
  for (std::size_t i = 0; i < sizeof data; ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 1);
  int h = platform::file_open(path, platform::OpenMode::kCreateNew);
  if (h < 0) return;
  const long long put = platform::file_write(h, data, sizeof data);
  if (platform::file_close(h) != 0 || put != static_cast<long long>(sizeof data)) return;
  h = platform::file_open(path, platform::OpenMode::kRead);
  if (h < 0) return;
  std::uint8_t back[sizeof data + 1];
  const long long got = platform::file_read(h, back, sizeof back);
  platform::file_close(h);
  if (got >= 0 && (got != static_cast<long long>(sizeof data) || std::memcmp(back, data, sizeof data) != 0))
    abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string image = [] {
    fuzz_scratch_root("fat12");
    return platform::diskette::drive_path();
  }();
  // Each input is a new file at the drive's path: a new diskette.
  std::vector<std::uint8_t> disk(data, data + std::min(size, kMedium));
  disk.resize(kMedium, 0);
  if (platform::write_file_atomic(image, disk.data(), disk.size()) != 0) abort();

  for (int pass = 0; pass < 2; ++pass) {
    platform::diskette::volume_label();
    platform::diskette::free_bytes();
    platform::diskette::list("A:\\*.*", true);
    Tree t;
    walk("A:\\", 0, t);
    for (std::size_t i = 0; i < t.files.size() && i < 64; ++i) read_all(t.files[i]);
    if (pass == 1) break;

    write_and_check("A:\\FZNEW.DAT");
    if (!t.folders.empty()) write_and_check(t.folders.front() + "\\FZIN.DAT");
    if (!t.files.empty()) {
      const int h = platform::file_open(t.files.front(), platform::OpenMode::kAppend);
      if (h >= 0) {
        const char more[] = "appended line\r\n";
        platform::file_write(h, more, sizeof more - 1);
        platform::file_close(h);
      }
      platform::file_delete(t.files.back());
    }
    platform::dir_create("A:\\FZDIR\\SUB");
    platform::dir_remove("A:\\FZDIR\\SUB");
    platform::dir_remove("A:\\FZDIR");
    if (!t.folders.empty()) platform::dir_remove(t.folders.back());
  }
  return 0;
}

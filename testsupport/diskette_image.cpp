#include "testsupport/diskette_image.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace testsupport {
namespace {

// mtools is told not to question the geometry of an image: some of ours
// are made by the program's own formatter.
std::string mtools(const std::string& tool, const std::string& image) {
  return "MTOOLS_SKIP_CHECK=1 " + tool + " -i '" + image + "' ";
}

}  // namespace

int run_command(const std::string& command, std::string* output) {
  std::FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (!p) return -1;
  std::string out;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  const int status = ::pclose(p);
  if (output) *output = std::move(out);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool make_diskette(const std::string& image, int kilobytes, const std::string& label) {
  std::remove(image.c_str());
  std::string cmd = mtools("mformat", image) + "-C -f " + std::to_string(kilobytes);
  if (!label.empty()) cmd += " -v '" + label + "'";
  return run_command(cmd + " ::") == 0;
}

bool diskette_clean(const std::string& image, std::string* report) {
  return run_command("fsck.fat -n '" + image + "'", report) == 0;
}

std::string mdir(const std::string& image, const std::string& folder) {
  std::string out;
  run_command(mtools("mdir", image) + "'" + folder + "'", &out);
  return out;
}

std::optional<std::string> mtools_read(const std::string& image, const std::string& dos_path) {
  char tmp[] = "/tmp/mcopy-out-XXXXXX";
  const int fd = ::mkstemp(tmp);
  if (fd < 0) return std::nullopt;
  ::close(fd);
  std::optional<std::string> bytes;
  if (run_command(mtools("mcopy -n -o", image) + "'" + dos_path + "' " + tmp) == 0) {
    std::ifstream f(tmp, std::ios::binary);
    bytes = std::string(std::istreambuf_iterator<char>(f), {});
  }
  std::remove(tmp);
  return bytes;
}

bool mtools_write(const std::string& image, const std::string& dos_path, const std::string& bytes) {
  char tmp[] = "/tmp/mcopy-in-XXXXXX";
  const int fd = ::mkstemp(tmp);
  if (fd < 0) return false;
  ::close(fd);
  std::ofstream(tmp, std::ios::binary) << bytes;
  const auto slash = dos_path.rfind('/');
  if (slash != std::string::npos && slash > 2)
    run_command(mtools("mmd -D s", image) + "'" + dos_path.substr(0, slash) + "'");
  const bool ok = run_command(mtools("mcopy -o", image) + tmp + " '" + dos_path + "'") == 0;
  std::remove(tmp);
  return ok;
}

}  // namespace testsupport

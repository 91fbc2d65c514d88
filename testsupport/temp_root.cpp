#include "testsupport/temp_root.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/paths.h"

namespace testsupport {

TempRoot::TempRoot() {
  const char* tmp = std::getenv("TMPDIR");
  std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/vaslab-test-XXXXXX";
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
  platform::set_root(path_);
  platform::make_dirs(path_ + "/c");
}

TempRoot::~TempRoot() { remove_tree(path_); }

void TempRoot::write(std::string_view win_path, std::string_view bytes) const {
  std::string p = platform::map_path_create_dirs(win_path);
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + p);
}

std::string TempRoot::read(std::string_view win_path) const {
  std::ifstream f(platform::map_path(win_path), std::ios::binary);
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

bool TempRoot::exists(std::string_view win_path) const {
  struct stat st;
  return ::stat(platform::map_path(win_path).c_str(), &st) == 0;
}

void TempRoot::link_bitmaps() const {
  const char* build = std::getenv("VASLAB_BUILD_DIR");
  const std::string target = std::string(build ? build : ".") + "/_bmp";
  const std::string link = platform::map_path_create_dirs("C:\\PROGRAMS\\") + "_bmp";
  std::error_code ec;
  std::filesystem::remove(link, ec);
  std::filesystem::create_directory_symlink(target, link, ec);
  if (ec) throw std::runtime_error("cannot link " + link + ": " + ec.message());
}

void remove_tree(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

}  // namespace testsupport

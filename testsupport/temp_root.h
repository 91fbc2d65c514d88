// A scratch machine for one test: a fresh folder that holds the drives,
// installed as the platform root for the life of the object and removed after.
#pragma once

#include <string>
#include <string_view>

namespace testsupport {

class TempRoot {
 public:
  TempRoot();
  ~TempRoot();
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  const std::string& path() const { return path_; }
  // Writes a file at a Windows path under this root (folders created).
  void write(std::string_view win_path, std::string_view bytes) const;
  // Reads a whole file at a Windows path; empty when missing.
  std::string read(std::string_view win_path) const;
  bool exists(std::string_view win_path) const;
  // Links the build's bitmap folder (bitmaps and title font) as
  // C:\PROGRAMS\_bmp, where the program finds "_bmp\..." from its current
  // directory.  The screen cannot be built without it.
  void link_bitmaps() const;

 private:
  std::string path_;
};

// Removes a folder tree (Linux path).
void remove_tree(const std::string& path);

}  // namespace testsupport

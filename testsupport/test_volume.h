// A folder that is a file system of its own for the length of a test: full
// to its last byte, or read-only, as a stick or a share meets the exports.
// Root mounts a small tmpfs there, in a mount namespace of this test process
// alone, so that no mount outlives the process however it ends (root writes
// where the permission bits forbid it, so those cannot make it read-only).
// Without root a read-only folder is its permission bits, and a full one
// cannot be had: skip_reason() says so.
#pragma once

#include <string>

namespace testsupport {

class TestVolume {
 public:
  enum Kind { kFull, kReadOnly };
  // Mounts over `linux_folder` (made when missing); what was in it is out of
  // sight until the volume goes.
  TestVolume(const std::string& linux_folder, Kind kind);
  ~TestVolume();
  TestVolume(const TestVolume&) = delete;
  TestVolume& operator=(const TestVolume&) = delete;

  // Empty when the folder is the volume asked for, else why it is not.
  const std::string& skip_reason() const { return skip_reason_; }

 private:
  std::string folder_;
  std::string skip_reason_;
  bool mounted_ = false;
  bool chmodded_ = false;
};

}  // namespace testsupport

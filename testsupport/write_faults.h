// Crash and I/O-error injection for the writers of stored files.  A writer
// runs in a child process once for each step N = 1, 2, ... of the file
// layer's fault hook (every write, fsync and rename): first step N fails
// with EIO, then the process ends at step N, until a run completes without
// reaching N.  After every run each stored file must be, byte for byte, as
// it was before or as a complete write leaves it, never mixed or short, and
// once the next start's sweep has run no temporary file is left.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

struct StoredFile {
  std::string path;  // Linux path
  // Byte ranges (offset, length) the writer fills from the clock; they may
  // differ between runs and are not compared.
  std::vector<std::pair<std::size_t, std::size_t>> stamped = {};
};

// `prepare` runs in this process before every run and puts the old state in
// place (files and the program state the writer reads); `write` runs in the
// child and returns true when the writer reports success.  Checks, adding
// GoogleTest failures:
//  - each file in `files` is old or new (absent counts as a state);
//  - a writer that reports success has put every file new, and one that
//    reports failure was made to fail (the hook reached its step);
//  - after a reported failure no temporary file is left even before a restart;
//  - after platform::remove_stale_temporaries(`root`), as every start runs
//    it, no temporary file is left under `root`;
//  - then `restart`, when given, runs in this process with whether the
//    writer reported success: it does what the next start and the
//    operator's retry of a failed or killed run do, and checks that nothing
//    was handed over twice.
// Returns the number of hook steps a complete write takes.
int check_write_faults(const std::string& root, const std::vector<StoredFile>& files,
                       const std::function<void()>& prepare, const std::function<bool()>& write,
                       const std::function<void(bool done)>& restart = {});

}  // namespace testsupport

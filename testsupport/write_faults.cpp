#include "testsupport/write_faults.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>

#include "platform/file_io.h"

namespace testsupport {
namespace {

using Bytes = std::optional<std::string>;

// What a child reports through its exit status.
constexpr int kWriterFailed = 1;
constexpr int kFaultReached = 2;

Bytes read_bytes(const std::string& path) {
  auto b = platform::read_file(path);
  if (!b) return std::nullopt;
  return std::string(b->begin(), b->end());
}

// The bytes with the clock-stamped ranges blanked.
Bytes unstamped(Bytes b, const StoredFile& f) {
  if (!b) return b;
  for (const auto& [at, len] : f.stamped)
    for (std::size_t i = at; i < at + len && i < b->size(); ++i) (*b)[i] = 0;
  return b;
}

std::vector<std::string> temporaries(const std::string& root) {
  std::vector<std::string> found;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (platform::is_temporary_name(name)) found.push_back(it->path().string());
  }
  return found;
}

// Runs the writer in a child with the hook armed at `nth` (0: unarmed);
// the child's exit status, or -1 when it did not exit normally.
int run_child(const std::function<bool()>& write, int nth, int error) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (nth) platform::arm_write_fault(nth, error);
    const bool ok = write();
    const bool reached = nth && platform::write_fault_steps() >= nth;
    ::_exit((ok ? 0 : kWriterFailed) | (reached ? kFaultReached : 0));
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<Bytes> snapshot(const std::vector<StoredFile>& files) {
  std::vector<Bytes> out;
  for (const auto& f : files) out.push_back(unstamped(read_bytes(f.path), f));
  return out;
}

}  // namespace

int check_write_faults(const std::string& root, const std::vector<StoredFile>& files,
                       const std::function<void()>& prepare, const std::function<bool()>& write,
                       const std::function<void(bool done)>& restart) {
  prepare();
  const std::vector<Bytes> before = snapshot(files);
  EXPECT_EQ(run_child(write, 0, 0), 0) << "the writer fails with nothing injected";
  const std::vector<Bytes> after = snapshot(files);
  int complete_steps = 0;

  for (const int error : {EIO, 0}) {
    const char* mode = error ? "failed (EIO)" : "process ended";
    for (int nth = 1;; ++nth) {
      SCOPED_TRACE(std::string("step ") + std::to_string(nth) + " " + mode);
      prepare();
      const int status = run_child(write, nth, error);
      const bool ended = status == platform::kFaultExitCode;
      if (!ended && (status < 0 || status > 3)) {
        ADD_FAILURE() << "the writer ended with status " << status;
        return complete_steps;
      }
      const bool reached = ended || (status & kFaultReached);
      const bool ok = !ended && !(status & kWriterFailed);
      const std::vector<Bytes> now = snapshot(files);
      bool all_new = true;
      for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_TRUE(now[i] == before[i] || now[i] == after[i])
            << files[i].path << " is neither the old nor the new file ("
            << (now[i] ? std::to_string(now[i]->size()) + " bytes" : "absent") << ")";
        all_new = all_new && now[i] == after[i];
      }
      if (ok) {
        EXPECT_TRUE(all_new) << "the writer reported success with files not written";
      }
      if (!ok && !ended) {
        EXPECT_TRUE(reached) << "the writer failed without a fault";
        EXPECT_EQ(temporaries(root), std::vector<std::string>{}) << "left behind by a reported failure";
      }
      platform::remove_stale_temporaries(root);
      EXPECT_EQ(temporaries(root), std::vector<std::string>{}) << "left after the next start";
      if (restart) restart(ok);
      if (!reached) {
        complete_steps = nth - 1;
        break;
      }
      if (nth > 1000) {
        ADD_FAILURE() << "the writer never completes";
        break;
      }
    }
  }
  EXPECT_GT(complete_steps, 0) << "the writer went through no hooked step";
  return complete_steps;
}

}  // namespace testsupport

#include "platform/process.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/paths.h"

extern char** environ;

namespace platform {
namespace {

bool is_executable_file(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0;
}

// `search` looks a name without a slash up on PATH.
int spawn_and_wait(const std::string& path, const std::vector<std::string>& argv_s, bool search = false,
                   const std::string& cwd = {}) {
  std::vector<char*> argv;
  for (const auto& a : argv_s) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  const auto spawn = search ? ::posix_spawnp : ::posix_spawn;
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  if (!cwd.empty()) ::posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  const int e = spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  if (e != 0) {
    errno = e;
    return kNotStarted;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return kNotStarted;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return kNotStarted;
}

}  // namespace

std::string find_program(const std::string& win_path) {
  const std::string base = map_path(win_path);
  if (is_executable_file(base)) return base;
  auto [dir, name] = split_win_path(win_path);
  if (name.find('.') == std::string::npos) {
    for (const char* ext : {".exe", ".bat", ".sh"}) {
      std::string p = map_path(win_path + ext);
      if (is_executable_file(p)) return p;
    }
  }
  return {};
}

int run_program(const std::string& win_path, const std::vector<std::string>& args, const std::string& cwd) {
  const std::string path = find_program(win_path);
  if (path.empty()) {
    errno = ENOENT;
    return kNotStarted;
  }
  std::vector<std::string> argv{path};
  argv.insert(argv.end(), args.begin(), args.end());
  return spawn_and_wait(path, argv, false, cwd);
}

int run_command(const std::vector<std::string>& argv) {
  if (argv.empty() || argv[0].empty()) {
    errno = ENOENT;
    return kNotStarted;
  }
  return spawn_and_wait(argv[0], argv, true);
}

std::string shell_quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

int run_shell(const std::string& command_line) {
  return spawn_and_wait("/bin/sh", {"sh", "-c", command_line});
}

}  // namespace platform

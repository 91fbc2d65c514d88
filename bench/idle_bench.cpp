// Idle cost of the workstation: vaslab is left on its start screen in a real
// window (Xvfb when there is no display) with the simulated measuring module,
// and its CPU time (/proc/PID/stat), wake-ups (context switches in
// /proc/PID/status) and resident memory are read over 20 seconds, in five
// runs of 4 seconds; best and median of the runs.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_turns.h"

extern char** environ;

namespace {

constexpr int kSettleSeconds = 5;
constexpr int kRuns = 5;
constexpr int kRunSeconds = 4;

std::string build_dir() {
  char exe[4096];
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return ".";
  std::string p(exe, static_cast<std::size_t>(n));
  p.erase(p.rfind('/'));  // bin
  p.erase(p.rfind('/'));
  return p;
}

pid_t spawn(const std::vector<std::string>& args, int stdout_fd = -1) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (stdout_fd >= 0) posix_spawn_file_actions_adddup2(&fa, stdout_fd, 1);
  pid_t pid = -1;
  if (::posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

// The first line a program prints.
std::string first_line(const std::vector<std::string>& args, pid_t* keep = nullptr) {
  int p[2];
  if (::pipe(p) != 0) return "";
  const pid_t pid = spawn(args, p[1]);
  ::close(p[1]);
  std::string line;
  char c = 0;
  while (pid > 0 && ::read(p[0], &c, 1) == 1 && c != '\n') line += c;
  ::close(p[0]);
  if (keep)
    *keep = pid;
  else if (pid > 0)
    ::waitpid(pid, nullptr, 0);
  return line;
}

struct Sample {
  double cpu_seconds = 0;
  long switches = 0;
  long rss_kb = 0;
};

Sample sample(pid_t pid) {
  Sample s;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), {});
  // Fields after the command name, which may hold blanks: utime and stime
  // are fields 14 and 15.
  std::istringstream rest(text.substr(text.rfind(')') + 2));
  std::string field;
  unsigned long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::stoul(field);
    if (i == 15) stime = std::stoul(field);
  }
  s.cpu_seconds = static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
      s.switches += std::stol(line.substr(line.find(':') + 1));
    if (line.rfind("VmRSS:", 0) == 0) s.rss_kb = std::stol(line.substr(line.find(':') + 1));
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const char* display = std::getenv("DISPLAY");
  if ((!display || !*display) && !std::getenv("IDLE_BENCH_XVFB")) {
    ::setenv("IDLE_BENCH_XVFB", "1", 1);
    const std::string self = build_dir() + "/bin/idle_bench";
    ::execlp("xvfb-run", "xvfb-run", "-a", "-s", "-screen 0 640x480x24", self.c_str(), nullptr);
    std::perror("xvfb-run");
    return 1;
  }
  (void)argc;
  (void)argv;
  const std::string build = build_dir();
  const std::string root = first_line({"/bin/bash", VASLAB_SOURCE_DIR "/scripts/demo-root", build});
  if (root.empty()) {
    std::fprintf(stderr, "no demo root\n");
    return 1;
  }
  ::setenv("VASLAB_ROOT", root.c_str(), 1);
  ::setenv("XDG_RUNTIME_DIR", build.c_str(), 1);
  ::unsetenv("SDL_VIDEODRIVER");
  pid_t sim = -1;
  const std::string device = first_line({build + "/bin/modulesim", "--log", "/dev/null"}, &sim);
  const std::string port = first_line({build + "/bin/demo-settings", "--module-port"});
  if (device.empty() || port.empty()) {
    std::fprintf(stderr, "the module simulator did not start\n");
    return 1;
  }
  ::setenv(("VASLAB_COM" + port).c_str(), device.c_str(), 1);
  // A printer of its own, so that the start asks nothing and no real
  // printer is reached.
  const std::string cups_dir = build + "/bench-cups";
  const std::string cups = first_line({VASLAB_SOURCE_DIR "/scripts/private-cups", "start", cups_dir});
  if (cups.empty() ||
      !first_line({"/bin/sh", "-c", "\"$0\" printer \"$1\" bench \"$1/printed\" default && echo ok",
                   VASLAB_SOURCE_DIR "/scripts/private-cups", cups_dir}).size()) {
    std::fprintf(stderr, "the private printer did not start\n");
    return 1;
  }
  ::setenv("CUPS_SERVER", cups.c_str(), 1);
  const pid_t vaslab = spawn({build + "/bin/vaslab"});
  if (vaslab <= 0) {
    std::fprintf(stderr, "vaslab did not start\n");
    return 1;
  }
  ::sleep(kSettleSeconds);
  bench::Runs cpu_share, wakeups;
  Sample last;
  for (int run = 0; run < kRuns; ++run) {
    const Sample a = sample(vaslab);
    ::sleep(kRunSeconds);
    last = sample(vaslab);
    cpu_share.add(100.0 * (last.cpu_seconds - a.cpu_seconds) / kRunSeconds);
    wakeups.add(static_cast<double>(last.switches - a.switches) / kRunSeconds);
  }
  ::kill(vaslab, SIGKILL);
  ::waitpid(vaslab, nullptr, 0);
  ::kill(sim, SIGTERM);
  ::waitpid(sim, nullptr, 0);
  first_line({VASLAB_SOURCE_DIR "/scripts/private-cups", "stop", cups_dir});

  std::printf("vaslab idle on the start screen, %d runs of %d s: median %.2f%% of a core (best %.2f%%), "
              "median %.0f wake-ups a second (best %.0f), %ld MB resident\n",
              kRuns, kRunSeconds, cpu_share.median(), cpu_share.best(), wakeups.median(), wakeups.best(),
              last.rss_kb / 1024);
  return 0;
}

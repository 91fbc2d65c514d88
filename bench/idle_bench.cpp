// Idle cost of the workstation: vaslab is left on its start screen in a real
// window (Xvfb when there is no display) with the simulated measuring module,
// and its processor time (the nanoseconds each of its threads ran, from
// /proc/PID/task/*/schedstat), wake-ups (the context switches of its threads)
// and resident memory are read in five runs of 12 seconds: long enough that
// a goal of 0.5% of a core is 60 ms a run, which the clock resolves many
// times over, and that every timer of the screen fires dozens of times in
// each.  Median, best and worst run.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_turns.h"

extern char** environ;

namespace {

constexpr int kSettleSeconds = 5;
constexpr int kRuns = 5;
constexpr int kRunSeconds = 12;

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

// Every thread's time on a processor in nanoseconds (the first field of its
// schedstat) and its context switches; the threads are read each time, so a
// thread started meanwhile counts from its start.
Sample sample(pid_t pid) {
  Sample s;
  const std::string proc = "/proc/" + std::to_string(pid);
  std::error_code ec;
  for (const auto& task : std::filesystem::directory_iterator(proc + "/task", ec)) {
    std::ifstream sched(task.path() / "schedstat");
    unsigned long long ns = 0;
    if (sched >> ns) s.cpu_seconds += static_cast<double>(ns) * 1e-9;
    std::ifstream status(task.path() / "status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
        s.switches += std::stol(line.substr(line.find(':') + 1));
  }
  std::ifstream status(proc + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) s.rss_kb = std::stol(line.substr(line.find(':') + 1));
  return s;
}

std::string load_average() {
  std::ifstream in("/proc/loadavg");
  std::string a, b, c;
  in >> a >> b >> c;
  return a + " " + b + " " + c;
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

  std::printf("vaslab idle on the start screen, %d runs of %d s (load average at the end %s)\n", kRuns, kRunSeconds,
              load_average().c_str());
  std::printf("  processor time: median %.3f%% of a core, best %.3f%%, worst %.3f%%\n", cpu_share.median(),
              cpu_share.best(), cpu_share.worst());
  std::printf("  wake-ups a second: median %.1f, best %.1f, worst %.1f\n", wakeups.median(), wakeups.best(),
              wakeups.worst());
  std::printf("  resident: %ld MB\n", last.rss_kb / 1024);
  return 0;
}

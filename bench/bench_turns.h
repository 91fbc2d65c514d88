// How every benchmark takes its runs: the sides it compares (ours, the
// reference program, or the screens it measures) run in turns, one run of
// each a round, so that a load that comes and goes on the machine falls on
// all of them alike; each side's figures are then given as the best run and
// the median run.  Wall time is what the user waits for; processor time
// (user and system) is what a loaded machine disturbs less, and is the figure
// to compare on a shared machine.  A side that is a program of its own runs
// as a fresh process each time, ours as the other (run_program).
//
// What a benchmark makes it makes in temp_folder()s, which go when it ends,
// a failed check's exit included.
#pragma once

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

extern char** environ;

namespace bench {

// One quantity over the runs of one side.
struct Runs {
  std::vector<double> values;
  void add(double v) { values.push_back(v); }
  double best() const {
    if (values.empty()) std::abort();
    return *std::min_element(values.begin(), values.end());
  }
  // The middle run (the mean of the two middle ones for an even count).
  double median() const {
    if (values.empty()) std::abort();
    std::vector<double> v = values;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
  }
  // The highest run: for quantities where more is worse and the worst run
  // is the one to state (a share of a core that must stay under a limit).
  double worst() const {
    if (values.empty()) std::abort();
    return *std::max_element(values.begin(), values.end());
  }
};

// What one run cost, in seconds: processor time is user plus system.
struct Cost {
  double wall = 0, cpu = 0, user = 0, sys = 0;
};

// A side's costs over its runs.
struct Costs {
  Runs wall, cpu, user, sys;
  void add(const Cost& c) { wall.add(c.wall), cpu.add(c.cpu), user.add(c.user), sys.add(c.sys); }
};

inline double seconds_of(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
}

// User and system time of this process (RUSAGE_SELF, all its threads) or of
// its children that have been waited for (RUSAGE_CHILDREN).
inline double cpu_seconds(int who = RUSAGE_SELF) {
  rusage u{};
  ::getrusage(who, &u);
  return seconds_of(u.ru_utime) + seconds_of(u.ru_stime);
}

// The cost of `work`: its wall time, and the processor time this process
// (RUSAGE_SELF) or the programs it ran and waited for (RUSAGE_CHILDREN) took.
inline Cost cost_of(const std::function<void()>& work, int who = RUSAGE_SELF) {
  rusage a{}, b{};
  ::getrusage(who, &a);
  const auto t0 = std::chrono::steady_clock::now();
  work();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  ::getrusage(who, &b);
  Cost c;
  c.wall = wall;
  c.user = seconds_of(b.ru_utime) - seconds_of(a.ru_utime);
  c.sys = seconds_of(b.ru_stime) - seconds_of(a.ru_stime);
  c.cpu = c.user + c.sys;
  return c;
}

// The cost of `work` that runs programs and waits for them (std::system).
inline Cost child_cost_of(const std::function<void()>& work) { return cost_of(work, RUSAGE_CHILDREN); }

// Runs a program (no shell) as a fresh process, in folder `cwd` when given,
// and waits for it: its own wall, user and system time.  *status is its exit
// status (-1 when it did not start or was killed).
inline Cost run_program(const std::vector<std::string>& args, const std::string& cwd = "", int* status = nullptr) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&fa, cwd.c_str());
  Cost c;
  const auto t0 = std::chrono::steady_clock::now();
  pid_t pid = -1;
  const bool started = ::posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&fa);
  int st = -1;
  rusage u{};
  if (started) ::wait4(pid, &st, 0, &u);
  c.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  c.user = seconds_of(u.ru_utime);
  c.sys = seconds_of(u.ru_stime);
  c.cpu = c.user + c.sys;
  if (status) *status = started && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return c;
}

// A new folder from mkdtemp(`pattern`, ending in XXXXXX), removed with all
// it holds when the benchmark ends, by returning from main or by exit() (a
// failed check).  Exits with a message when none can be made.
inline std::string temp_folder(std::string pattern) {
  static std::vector<std::string> folders;
  if (folders.empty())
    std::atexit([] {
      for (const std::string& f : folders) {
        std::error_code ec;
        std::filesystem::remove_all(f, ec);
      }
    });
  if (!::mkdtemp(pattern.data())) {
    std::perror(pattern.c_str());
    std::exit(1);
  }
  folders.push_back(pattern);
  return pattern;
}

// The order of the sides in a round.  kSameLead: a b a b ...  kLeadChanges:
// a b b a a b ..., for work where what the run before left behind (freed
// inodes, a warm cache) falls on whichever side comes next.
enum class Order { kSameLead, kLeadChanges };

// `rounds` rounds in which every side runs once; the costs of each side, in
// the order the sides are given.
inline std::vector<Costs> in_turns(int rounds, const std::vector<std::function<Cost()>>& sides,
                                   Order order = Order::kSameLead) {
  std::vector<Costs> costs(sides.size());
  for (int round = 0; round < rounds; ++round)
    for (std::size_t k = 0; k < sides.size(); ++k) {
      const bool reversed = order == Order::kLeadChanges && round % 2 == 1;
      const std::size_t side = reversed ? sides.size() - 1 - k : k;
      costs[side].add(sides[side]());
    }
  return costs;
}

// "<label> best <a> <b> <a/b>x  median <a> <b> <a/b>x" for one quantity of
// two sides, in milliseconds (scale 1e3) or seconds (scale 1).
inline std::string best_and_median(const Runs& ours, const Runs& theirs, double scale = 1e3, int decimals = 1) {
  char line[160];
  std::snprintf(line, sizeof line, "best %9.*f %9.*f %6.3fx   median %9.*f %9.*f %6.3fx", decimals,
                ours.best() * scale, decimals, theirs.best() * scale, ours.best() / theirs.best(), decimals,
                ours.median() * scale, decimals, theirs.median() * scale, ours.median() / theirs.median());
  return line;
}

// The medians of two sides, ours and theirs, and ours over theirs, as rows
// that can be quoted as they stand:
//     medians of 5 (s)    user   system      CPU     wall
//     ours               0.212    0.301    0.513    0.710
//     zip                0.450    0.420    0.870    1.020
//     ours/zip           0.47x    0.72x    0.59x    0.70x
//     CPU ours/zip by round: 0.55 0.61 0.59 0.66 0.58
inline void print_medians(const char* indent, const char* ours, const char* theirs, const Costs& a, const Costs& b) {
  std::printf("%s%-22s %8s %8s %8s %8s\n", indent, ("medians of " + std::to_string(a.cpu.values.size()) + " (s)").c_str(),
              "user", "system", "CPU", "wall");
  for (const auto& [name, c] : {std::pair<const char*, const Costs*>{ours, &a}, {theirs, &b}})
    std::printf("%s%-22s %8.3f %8.3f %8.3f %8.3f\n", indent, name, c->user.median(), c->sys.median(), c->cpu.median(),
                c->wall.median());
  // A side too short for the system's count of its time has no ratio.
  auto ratio = [](const Runs& x, const Runs& y) {
    char r[16] = "       -";
    if (y.median() > 0 && x.median() > 0) std::snprintf(r, sizeof r, "%7.2fx", x.median() / y.median());
    return std::string(r);
  };
  const std::string over = std::string(ours) + "/" + theirs;
  std::printf("%s%-22s %s %s %s %s\n", indent, over.c_str(), ratio(a.user, b.user).c_str(), ratio(a.sys, b.sys).c_str(),
              ratio(a.cpu, b.cpu).c_str(), ratio(a.wall, b.wall).c_str());
  std::printf("%sCPU %s by round:", indent, over.c_str());
  for (std::size_t i = 0; i < a.cpu.values.size() && i < b.cpu.values.size(); ++i)
    std::printf(" %.2f", b.cpu.values[i] > 0 ? a.cpu.values[i] / b.cpu.values[i] : 0.0);
  std::printf("\n");
}

// The column heads over best_and_median's figures.
inline std::string best_and_median_heads(const char* ours, const char* theirs) {
  char line[160];
  std::snprintf(line, sizeof line, "     %9s %9s %7s          %9s %9s %7s", ours, theirs, "ratio", ours, theirs, "ratio");
  return line;
}

// A check by an outside reader failed: the benchmark's figures mean nothing.
[[noreturn]] inline void check_failed(const std::string& what) {
  std::fprintf(stderr, "\nCHECK FAILED: %s\n", what.c_str());
  std::fflush(stdout);
  std::exit(2);
}

// Runs a shell command that checks an output; a non-zero status fails the
// benchmark with the command named.
inline void check_command(const std::string& command) {
  if (std::system(command.c_str()) != 0) check_failed(command);
}

}  // namespace bench

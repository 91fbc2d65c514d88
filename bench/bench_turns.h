// How every benchmark takes its runs: the sides it compares (ours, the
// reference program, or the screens it measures) run in turns, one run of
// each a round, so that a load that comes and goes on the machine falls on
// all of them alike; each side's figures are then given as the best run and
// the median run.  Wall time is what the user waits for; processor time
// (user and system) is what a loaded machine disturbs less, and is the figure
// to compare on a shared machine.
#pragma once

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

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

// What one run cost, in seconds.
struct Cost {
  double wall = 0, cpu = 0;
};

// A side's costs over its runs.
struct Costs {
  Runs wall, cpu;
  void add(const Cost& c) { wall.add(c.wall), cpu.add(c.cpu); }
};

// User and system time of this process (RUSAGE_SELF, all its threads) or of
// its children that have been waited for (RUSAGE_CHILDREN).
inline double cpu_seconds(int who = RUSAGE_SELF) {
  rusage u{};
  ::getrusage(who, &u);
  auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; };
  return s(u.ru_utime) + s(u.ru_stime);
}

// The cost of `work`: its wall time, and the processor time this process
// (RUSAGE_SELF) or the programs it ran and waited for (RUSAGE_CHILDREN) took.
inline Cost cost_of(const std::function<void()>& work, int who = RUSAGE_SELF) {
  const double c0 = cpu_seconds(who);
  const auto t0 = std::chrono::steady_clock::now();
  work();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  return {wall, cpu_seconds(who) - c0};
}

// The cost of `work` that runs programs and waits for them (std::system).
inline Cost child_cost_of(const std::function<void()>& work) { return cost_of(work, RUSAGE_CHILDREN); }

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

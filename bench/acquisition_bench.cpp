// One pass of the live acquisition loop: the event wait, one measurement
// frame taken and both traces drawn, on the dual waveform screen, beside a
// pass of the single-pressure screen (one trace and the pressure readout)
// in the same run.  At 100 frames a second a pass has 10 ms; the target is
// under 1 ms.  The module link is a feeder that always has the next frame
// waiting; the window "closes" after the last one, which leaves the screen.
// Three runs of each screen, in turns; best and median.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_studies.h"
#include "bench/bench_turns.h"
#include "platform/paths.h"
#include "platform/window.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/main_window.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/core/toolkit/stopwatch.h"
#include "vaslab/studies/module_entries.h"
#include "vaslab/studies/sample_frames.h"
#include "vaslab/studies/single_pressure.h"
#include "vaslab/studies/study_template.h"

using Clock = std::chrono::steady_clock;

namespace {

constexpr int kFrames = 20000;

struct Backend : platform::NullBackend {
  bool gone = false;
  bool exists() const override { return exists_ && !gone; }
};

// Frames of a changing wave on both channels, one after the other.
struct Feeder : vaslab::ModuleBytes {
  Backend* backend = nullptr;
  long bytes = 0;
  Clock::time_point first, last;
  void send(int) override {}
  void drain() override {}
  std::uint16_t receive() override {
    if (bytes >= static_cast<long>(kFrames) * 7) {
      backend->gone = true;
      return 0xFFFF;
    }
    if (bytes == 0) first = Clock::now();
    const int frame = static_cast<int>(bytes / 7), k = static_cast<int>(bytes % 7);
    const int v = 40 + (frame * 3) % 180;
    ++bytes;
    if (bytes == static_cast<long>(kFrames) * 7) last = Clock::now();
    switch (k) {
      case 0: return 0x80;
      case 1: case 2: return 100;
      case 3: case 5: return static_cast<std::uint16_t>(v >> 7);
      default: return static_cast<std::uint16_t>(v & 0x7F);
    }
  }
};

double pass_time(int (*entry)(int, char*[]), const char* number, int count) {
  Backend backend;
  platform::set_window_backend(&backend);
  platform::set_window_proc(vaslab::window_proc);
  vaslab::reset_event_state();
  vaslab::reset_main_window();
  if (!vaslab::create_main_window(640, 480) || vaslab::set_display_mode(0) != 1) std::exit(1);
  vaslab::start_stopwatch();
  Feeder feeder;
  feeder.backend = &backend;
  vaslab::set_module_bytes(&feeder);
  bench::run_module_entry(entry, number, count);
  vaslab::set_module_bytes(nullptr);
  vaslab::free_screen();
  platform::set_window_backend(nullptr);
  return std::chrono::duration<double>(feeder.last - feeder.first).count() / kFrames;
}

}  // namespace

int main() {
  const std::string root = bench::temp_folder("/tmp/vaslab-acquisition-bench-XXXXXX");  // removed at the end
  platform::set_root(root);
  platform::set_current_directory("C:\\PROGRAMS\\");
  std::system(("ln -s " VASLAB_BUILD_DIR "/_bmp " + platform::map_path_create_dirs("C:\\PROGRAMS\\") + "_bmp").c_str());
  vaslab::default_hardware_settings(0);
  std::snprintf(vaslab::hardware_settings().data_directory, 64, "C:\\DATA\\");
  platform::make_dirs(platform::map_path("C:\\DATA\\"));

  bench::write_template("1", bench::digits_ppg_pair());
  bench::write_template("2", bench::brachial_pressure_step());

  // A pass's time, as a run's cost.
  auto pass = [](int (*entry)(int, char*[]), const char* number, int count) {
    return [=] { return bench::Cost{pass_time(entry, number, count), 0}; };
  };
  const auto runs = bench::in_turns(3, {pass(vaslab::dualppg_main, "1", 2), pass(vaslab::onepres_main, "2", 1)});
  std::system(("rm -rf '" + root + "'").c_str());
  std::printf("3 runs of %d frames each, the two screens in turns; best and median run\n", kFrames);
  std::printf("dual waveform pass   best %8.1f us, median %8.1f us\n", runs[0].wall.best() * 1e6,
              runs[0].wall.median() * 1e6);
  std::printf("single-pressure pass best %8.1f us, median %8.1f us\n", runs[1].wall.best() * 1e6,
              runs[1].wall.median() * 1e6);
  std::printf("target: under 1000 us a pass (median)\n");
  return runs[0].wall.median() < 1e-3 && runs[1].wall.median() < 1e-3 ? 0 : 1;
}

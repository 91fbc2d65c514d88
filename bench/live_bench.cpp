// The cost of a live study: each acquisition screen runs in a real window
// (Xvfb when there is no display) on the measuring-module simulator, which
// streams its frames over a pseudo-terminal as the module does, for 10
// seconds after 2 seconds of settling.  Printed for each screen: the share of
// a core it used (processor time over wall time), its wake-ups a second
// (context switches), and the frames that arrived at the port against those
// the screen took and drew; a screen that falls behind leaves frames unread.
// Three runs of each, the screens in turns; best and median of each figure.
// The start screen's idle figure, for comparison, is `idle_bench`.
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bench/bench_studies.h"
#include "bench/bench_turns.h"
#include "platform/le_bytes.h"
#include "platform/paths.h"
#include "platform/serial.h"
#include "platform/window.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/links/module_link.h"
#include "vaslab/core/links/serial_links.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/main_window.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/core/toolkit/stopwatch.h"
#include "vaslab/studies/module_entries.h"
#include "vaslab/studies/sample_frames.h"
#include "vaslab/studies/study_template.h"

namespace {

constexpr std::uint32_t kSettleMs = 2000;
constexpr std::uint32_t kMeasureMs = 10000;
constexpr int kFrameRate = 100;  // the simulator's default
constexpr int kRounds = 3;

struct Usage {
  std::chrono::steady_clock::time_point wall;
  double cpu = 0;
  long switches = 0;
  long frames = 0;
};

// The module link with the frame headers the screen reads counted.
struct CountingLink : vaslab::ModuleBytes {
  long headers = 0;
  void send(int byte) override { vaslab::send_module_byte(byte); }
  void drain() override { vaslab::drain_module_input(); }
  std::uint16_t receive() override {
    const std::uint16_t b = vaslab::receive_module_byte();
    if (b != 0xFFFF && (b & 0x80)) ++headers;
    return b;
  }
  int wait_descriptor() override { return vaslab::link_wait_descriptor(vaslab::SerialDevice::kModule); }
};

CountingLink g_link;
Usage g_start, g_end;

Usage usage_now() {
  rusage r{};
  ::getrusage(RUSAGE_SELF, &r);
  Usage u;
  u.wall = std::chrono::steady_clock::now();
  u.cpu = static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
          static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) * 1e-6;
  u.switches = r.ru_nvcsw + r.ru_nivcsw;
  u.frames = g_link.headers;
  return u;
}

void write_templates() {
  bench::write_template("1", bench::brachial_pressure_step());

  std::vector<std::uint8_t> rec(vaslab::kTemplateRecordSize, 0);

  vaslab::DopplerStep d{};
  d.module_type = 6;
  d.step_class = vaslab::kStudyStepClass;
  std::snprintf(d.label, sizeof d.label, "Right CFA");
  d.probe = 16;
  d.gain = 5;
  d.filter_code = 2;
  d.baseline = 128;
  d.filter_mode_flags = 4;
  d.volume = 4;
  d.report_window = 296;
  std::fill(rec.begin(), rec.end(), 0);
  vaslab::encode_doppler_step(d, rec.data());
  bench::write_template("2", rec);

  bench::write_template("3", bench::digits_ppg_pair());

  // A symptom step with its stopwatch running from the start.
  std::fill(rec.begin(), rec.end(), 0);
  rec[0] = 16;
  rec[1] = vaslab::kStudyStepClass;
  std::snprintf(reinterpret_cast<char*>(rec.data() + 2), 30, "Treadmill");
  rec[68] = 1;
  rec[69] = 0x1F;
  for (int i = 0; i < 10; ++i) platform::put_u16le(rec.data() + 83 + 2 * i, 0x1FFF);
  std::memcpy(rec.data() + 109, "Calf", 4);
  bench::write_template("4", rec);

  bench::write_template("5", bench::calf_pvr_pair());
}

struct Figures {
  double cpu_share = 0, wakeups = 0, taken = 0;
  long backlog = 0;
};

// Where the screen is touched at its start (0, 0: nowhere).
int g_touch_x = 0, g_touch_y = 0;

// One screen for the settling time and the measured time; the window then
// closes, which leaves the screen.  A touch at (touch_x, touch_y) comes at
// the start, as the operator's.
// The mouse at the bench's touch point.
void touch(platform::Msg msg) {
  platform::WindowMessage m;
  m.x = g_touch_x, m.y = g_touch_y;
  m.msg = msg;
  vaslab::window_proc(m);
}

Figures run_screen(int (*entry)(int, char*[]), const char* number, int steps, int touch_x, int touch_y) {
  auto backend = platform::make_sdl_backend();
  if (!backend) std::exit(1);
  platform::reset_pump();
  platform::set_window_backend(backend.get());
  platform::set_window_proc(vaslab::window_proc);
  vaslab::reset_event_state();
  vaslab::reset_main_window();
  if (!vaslab::create_main_window(640, 480) || vaslab::set_display_mode(0) != 1) std::exit(1);
  vaslab::start_stopwatch();
  vaslab::set_module_bytes(&g_link);
  g_link.headers = 0;
  g_touch_x = touch_x, g_touch_y = touch_y;
  if (touch_x || touch_y)
    platform::set_timer(9003, 300, [](int id) {
      platform::kill_timer(id);
      touch(platform::Msg::kMouseMove);
      touch(platform::Msg::kLeftDown);
      platform::set_timer(9004, 300, [](int up) {
        platform::kill_timer(up);
        touch(platform::Msg::kLeftUp);
      });
    });
  platform::set_timer(9001, kSettleMs, [](int id) {
    g_start = usage_now();
    platform::kill_timer(id);
    platform::set_timer(9002, kMeasureMs, [](int) {
      g_end = usage_now();
      platform::post_quit();
    });
  });
  bench::run_module_entry(entry, number, steps);
  int unread = 0;
  const int fd = vaslab::link_wait_descriptor(vaslab::SerialDevice::kModule);
  if (fd >= 0) ::ioctl(fd, FIONREAD, &unread);
  vaslab::drain_module_input();
  vaslab::set_module_bytes(nullptr);
  vaslab::destroy_main_window();
  vaslab::free_screen();
  platform::set_window_backend(nullptr);
  platform::reset_pump();

  const double wall = std::chrono::duration<double>(g_end.wall - g_start.wall).count();
  Figures f;
  f.cpu_share = 100.0 * (g_end.cpu - g_start.cpu) / wall;
  f.wakeups = static_cast<double>(g_end.switches - g_start.switches) / wall;
  f.taken = static_cast<double>(g_end.frames - g_start.frames) / wall;
  f.backlog = unread / 7;
  return f;
}

std::string first_line(const std::string& command, pid_t* pid) {
  int p[2];
  if (::pipe(p) != 0) return "";
  *pid = ::fork();
  if (*pid == 0) {
    ::dup2(p[1], 1);
    ::close(p[0]);
    ::execl(command.c_str(), command.c_str(), "--log", "/dev/null", nullptr);
    ::_exit(127);
  }
  ::close(p[1]);
  std::string line;
  char c = 0;
  while (::read(p[0], &c, 1) == 1 && c != '\n') line += c;
  ::close(p[0]);
  return line;
}

}  // namespace

// Without arguments every screen runs; else those whose names begin with one.
int main(int argc, char** argv) {
  const char* display = std::getenv("DISPLAY");
  if ((!display || !*display) && !std::getenv("LIVE_BENCH_XVFB")) {
    ::setenv("LIVE_BENCH_XVFB", "1", 1);
    std::vector<std::string> words{"xvfb-run", "-a", "-s", "-screen 0 640x480x24", VASLAB_BUILD_DIR "/bin/live_bench"};
    for (int i = 1; i < argc; ++i) words.push_back(argv[i]);
    std::vector<char*> args;
    for (auto& w : words) args.push_back(w.data());
    args.push_back(nullptr);
    ::execvp("xvfb-run", args.data());
    std::perror("xvfb-run");
    return 1;
  }
  ::unsetenv("SDL_VIDEODRIVER");
  const std::string root = bench::temp_folder("/tmp/vaslab-live-bench-XXXXXX");  // removed at the end
  platform::set_root(root);
  platform::set_current_directory("C:\\PROGRAMS\\");
  std::system(("ln -s " VASLAB_BUILD_DIR "/_bmp " + platform::map_path_create_dirs("C:\\PROGRAMS\\") + "_bmp").c_str());
  vaslab::default_hardware_settings(0);
  auto& hw = vaslab::hardware_settings();
  std::snprintf(hw.data_directory, sizeof hw.data_directory, "C:\\DATA\\");
  platform::make_dirs(platform::map_path("C:\\DATA\\"));
  write_templates();

  pid_t sim = -1;
  const std::string device = first_line(VASLAB_BUILD_DIR "/bin/modulesim", &sim);
  if (device.empty()) {
    std::fprintf(stderr, "the module simulator did not start\n");
    return 1;
  }
  hw.vascular_module_present = 1;
  hw.vascular_irq = 0;
  hw.vascular_port = 1;
  platform::set_com_path(1, device);
  if (vaslab::open_module_link() != 0) {
    std::fprintf(stderr, "the module link did not open\n");
    return 1;
  }

  struct Screen {
    const char* name;
    int (*entry)(int, char*[]);
    const char* number;
    int steps;
    int touch_x = 0, touch_y = 0;  // a button pressed at the start
  };
  const Screen all[] = {{"single pressure", vaslab::onepres_main, "1", 1},
                        {"Doppler", vaslab::doppler_main, "2", 1},
                        {"dual PPG", vaslab::dualppg_main, "3", 2},
                        // Inflate, so that both cuffs hold the pressure at which
                        // the pulse volumes show.
                        {"pulse volume", vaslab::dualpvr_main, "5", 2, 106, 313},
                        {"symptom stopwatch", vaslab::timer_main, "4", 1}};
  std::vector<const Screen*> screens;
  for (const Screen& s : all) {
    bool wanted = argc < 2;
    for (int i = 1; i < argc; ++i) wanted = wanted || std::strncmp(s.name, argv[i], std::strlen(argv[i])) == 0;
    if (wanted) screens.push_back(&s);
  }
  std::printf("each screen %u s on the simulated module, which streams %d frames/s while a screen asks for them "
              "(the symptom screen asks for none); %d runs of each, the screens in turns:\n",
              kMeasureMs / 1000, kFrameRate, kRounds);
  // Each run's figures go into its screen's series.
  struct Series {
    bench::Runs cpu_share, wakeups, taken, backlog;
  };
  std::vector<Series> series(screens.size());
  std::vector<std::function<bench::Cost()>> sides;
  for (std::size_t k = 0; k < screens.size(); ++k)
    sides.push_back([&, k] {
      const Figures f = run_screen(screens[k]->entry, screens[k]->number, screens[k]->steps, screens[k]->touch_x,
                                 screens[k]->touch_y);
      series[k].cpu_share.add(f.cpu_share);
      series[k].wakeups.add(f.wakeups);
      series[k].taken.add(f.taken);
      series[k].backlog.add(static_cast<double>(f.backlog));
      return bench::Cost{};
    });
  bench::in_turns(kRounds, sides);
  int worst = 0;
  for (std::size_t k = 0; k < screens.size(); ++k) {
    const Series& f = series[k];
    std::printf("  %-18s median %5.1f%% of a core (best %5.1f%%), %5.0f wake-ups/s; frames taken and drawn %5.1f/s, "
                "left unread at the end at most %.0f\n",
                screens[k]->name, f.cpu_share.median(), f.cpu_share.best(), f.wakeups.median(), f.taken.median(),
                f.backlog.worst());
    if (f.cpu_share.median() >= 10.0) worst = 1;
  }
  vaslab::reset_serial_links();
  ::kill(sim, SIGTERM);
  ::waitpid(sim, nullptr, 0);
  std::system(("rm -rf " + root).c_str());
  std::printf("target: every screen under 10%% of a core (median), every frame taken\n");
  return worst;
}

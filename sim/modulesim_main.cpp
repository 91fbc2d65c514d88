// modulesim: the measuring-module simulator on a pseudo-terminal.  Prints the
// device path to hand to the workstation (VASLAB_COM<n>), then serves until
// stopped, logging every command it receives (in hex, after a header line for
// the run) to standard error or the --log file.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "sim/module_sim.h"

namespace {

volatile sig_atomic_t g_quit = 0;
void on_signal(int) { g_quit = 1; }

const char kUsage[] =
    "usage: modulesim [options]\n"
    "  --version N        firmware version answered to \"S\" (5)\n"
    "  --new-version N    version after a completed download (5)\n"
    "  --delay MS         delay before each protocol answer (10)\n"
    "  --wire-time        send at the pace of 9600 baud\n"
    "  --bad-block N      block N arrives with a CRC error once (repeatable)\n"
    "  --stream-in-download  after its first block request the module streams\n"
    "                     frames instead of asking for blocks\n"
    "  --silent-after-block N  after block N the module never sends again\n"
    "  --restart-after-block N  after block N the module restarts with its old\n"
    "                     version, the download forgotten\n"
    "  --noise PERMILLE   frames with a stray byte or cut short\n"
    "  --status WORD      status word sent in channel 1 at the start of each stream,\n"
    "                     and in pulse volume mode when its cuff comes to a hold\n"
    "  --status-every N   ... and every N frames\n"
    "  --status2 WORD, --status-every2 N   the same in channel 2\n"
    "  --systolic1 MMHG, --systolic2 MMHG  pressure above which a cuff stops the\n"
    "                     pulse of channel 1 (120) and channel 2 (110)\n"
    "  --rate HZ          measurement frames per second (100)\n"
    "  --frame-type T     force the frame type 0..7\n"
    "  --wave1 KIND, --wave2 KIND   pressure, doppler, ppg or pvr: the wave each\n"
    "                     channel starts with (doppler, ppg)\n"
    "  --log FILE         command log (standard error)\n"
    "  --zero1 N, --zero2 N        transducer counts at 0 mmHg (30, 40)\n"
    "  --counts1 X, --counts2 X    transducer counts per mmHg (10, 10.25)\n"
    "Standard input: \"apply CHANNEL MMHG\" sets the pressure on channel 1 or 2's\n"
    "transducer (raw frames: 6144 + zero + pressure times counts per mmHg).\n"
    "\n"
    "The waves then follow the probe set-ups: 42 PPG on channel 1, 17 PPG on\n"
    "channel 2, 46 Doppler on channel 1, 44 pulse volume on both.  A pulse-volume\n"
    "wave grows with its cuff pressure up to 65 mmHg.  Cuffs inflate at 40 mmHg/s\n"
    "and deflate at 5; the stop commands end a hold where the cuff stands, command\n"
    "0 vents both cuffs (60 mmHg/s), and a cuff left standing leaks 0.1 mmHg/s.\n"
    "49 turns channel 1's Doppler wave over (48 back), 24 and 23 channel 2's.\n"
    "Command 3 switches both channels to steady test levels (100 and 130), 4 feeds\n"
    "value 3 from channel 2 and 5 from channel 1, so the diagnostic steps show a\n"
    "difference of 30.\n";

bool wave_of(const char* s, sim::Wave& w) {
  if (std::strcmp(s, "pressure") == 0) w = sim::Wave::kPressure;
  else if (std::strcmp(s, "doppler") == 0) w = sim::Wave::kDoppler;
  else if (std::strcmp(s, "ppg") == 0) w = sim::Wave::kPpg;
  else if (std::strcmp(s, "pvr") == 0) w = sim::Wave::kPvr;
  else return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  sim::ModuleOptions opt;
  const char* log_path = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    auto number = [&](auto& out) {
      if (!v) return false;
      out = static_cast<std::remove_reference_t<decltype(out)>>(std::atof(v));
      ++i;
      return true;
    };
    bool ok = true;
    if (a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (a == "--version") ok = number(opt.version);
    else if (a == "--new-version") ok = number(opt.new_version);
    else if (a == "--delay") ok = number(opt.reply_delay_ms);
    else if (a == "--wire-time") opt.wire_time = true;
    else if (a == "--bad-block") { int n = 0; ok = number(n); opt.bad_blocks.insert(n); }
    else if (a == "--stream-in-download") opt.stream_in_download = true;
    else if (a == "--silent-after-block") ok = number(opt.silent_after_block);
    else if (a == "--restart-after-block") ok = number(opt.restart_after_block);
    else if (a == "--noise") ok = number(opt.noise_per_mille);
    else if (a == "--status") ok = number(opt.status_word);
    else if (a == "--status-every") ok = number(opt.status_every);
    else if (a == "--status2") ok = number(opt.status_word2);
    else if (a == "--status-every2") ok = number(opt.status_every2);
    else if (a == "--systolic1") ok = number(opt.systolic1);
    else if (a == "--systolic2") ok = number(opt.systolic2);
    else if (a == "--rate") ok = number(opt.frame_rate);
    else if (a == "--zero1") ok = number(opt.zero1);
    else if (a == "--zero2") ok = number(opt.zero2);
    else if (a == "--counts1") ok = number(opt.counts1);
    else if (a == "--counts2") ok = number(opt.counts2);
    else if (a == "--frame-type") ok = number(opt.frame_type);
    else if (a == "--wave1") { ok = v && wave_of(v, opt.wave1); ++i; }
    else if (a == "--wave2") { ok = v && wave_of(v, opt.wave2); ++i; }
    else if (a == "--log") { ok = v != nullptr; log_path = v; ++i; }
    else ok = false;
    if (!ok) {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  std::FILE* log = stderr;
  if (log_path && !(log = std::fopen(log_path, "a"))) {
    std::perror(log_path);
    return 1;
  }
  sim::ModuleSimulator module(opt);
  module.set_log_file(log);
  if (!module.start()) {
    std::perror("openpty");
    return 1;
  }
  // Runs append to one log: each begins with a line of its own.
  char started[32];
  const std::time_t t = std::time(nullptr);
  std::strftime(started, sizeof started, "%Y-%m-%d %H:%M:%S", std::localtime(&t));
  std::fprintf(log, "modulesim started %s on %s: firmware version %d, %d after a download\n", started,
               module.device_path().c_str(), opt.version, opt.new_version);
  std::fflush(log);
  std::printf("%s\n", module.device_path().c_str());
  std::fflush(stdout);
  ::signal(SIGINT, on_signal);
  ::signal(SIGTERM, on_signal);
  // "apply CHANNEL MMHG" lines on standard input set a transducer's pressure.
  bool input_open = true;
  std::string line;
  while (!g_quit) {
    pollfd p{0, POLLIN, 0};
    if (!input_open || ::poll(&p, 1, 20) <= 0) {
      if (!input_open) ::usleep(20000);
      continue;
    }
    char buf[256];
    const ssize_t n = ::read(0, buf, sizeof buf);
    if (n <= 0) {
      input_open = false;
      continue;
    }
    line.append(buf, static_cast<std::size_t>(n));
    for (std::size_t nl; (nl = line.find('\n')) != std::string::npos; line.erase(0, nl + 1)) {
      int channel = 0, mmhg = 0;
      if (std::sscanf(line.substr(0, nl).c_str(), "apply %d %d", &channel, &mmhg) == 2 && (channel == 1 || channel == 2)) {
        module.apply_pressure(channel, mmhg);
        std::fprintf(log, "applied %d mmHg to channel %d\n", mmhg, channel);
      } else {
        std::fprintf(log, "modulesim: not understood (apply CHANNEL MMHG): %s\n", line.substr(0, nl).c_str());
      }
      std::fflush(log);
    }
    if (line.size() > 1024) line.clear();  // no line that long is a command
  }
  module.stop();
  std::fprintf(log, "modulesim stopped: %ld bytes received\n", module.bytes_received());
  return 0;
}

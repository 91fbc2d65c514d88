#include "sim/peer_sim.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace sim {

std::array<std::uint8_t, 3> touch_packet_type0(int raw_x, int raw_y, bool pressed) {
  const int lead = (pressed ? 0xC0 : 0x80) | ((raw_x >> 7) & 7) << 3 | ((raw_y >> 7) & 7);
  return {static_cast<std::uint8_t>(lead), static_cast<std::uint8_t>(raw_x & 0x7F),
          static_cast<std::uint8_t>(raw_y & 0x7F)};
}

std::array<std::uint8_t, 10> touch_packet_type1(int raw_x, int raw_y, int status) {
  const int v = 4095 - raw_y;
  std::array<std::uint8_t, 10> p = {'U', 'T', static_cast<std::uint8_t>(status), static_cast<std::uint8_t>(raw_x),
                                    static_cast<std::uint8_t>(raw_x >> 8), static_cast<std::uint8_t>(v),
                                    static_cast<std::uint8_t>(v >> 8), 0, 0, 0};
  int sum = 0xAA;
  for (int i = 0; i < 9; ++i) sum += p[i];
  p[9] = static_cast<std::uint8_t>(sum);
  return p;
}

std::array<std::uint8_t, 3> remote_frame(int key_index) {
  const auto code = static_cast<std::uint8_t>((key_index & 31) << 3);
  return {0xFF, code, static_cast<std::uint8_t>(255 - code)};
}

bool parse_script(const std::string& text, int touch_type, std::vector<ScriptStep>& steps, std::string& error) {
  std::istringstream in(text);
  std::string line;
  int number = 0;
  int last_x = 0, last_y = 0;
  while (std::getline(in, line)) {
    ++number;
    if (auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
    std::istringstream words(line);
    std::string word;
    if (!(words >> word)) continue;
    ScriptStep step;
    bool ok = true;
    if (word == "touch") {
      ok = static_cast<bool>(words >> last_x >> last_y);
      if (touch_type == 0) {
        const auto p = touch_packet_type0(last_x, last_y, true);
        step.bytes.assign(p.begin(), p.end());
      } else {
        const auto p = touch_packet_type1(last_x, last_y, 1);
        step.bytes.assign(p.begin(), p.end());
      }
    } else if (word == "release") {
      if (touch_type == 0) {
        const auto p = touch_packet_type0(last_x, last_y, false);
        step.bytes.assign(p.begin(), p.end());
      } else {
        const auto p = touch_packet_type1(last_x, last_y, 0);
        step.bytes.assign(p.begin(), p.end());
      }
    } else if (word == "key") {
      int key = 0;
      ok = static_cast<bool>(words >> key) && key >= 0 && key < 32;
      const auto f = remote_frame(key);
      step.bytes.assign(f.begin(), f.end());
    } else if (word == "bytes") {
      std::string hex;
      while (ok && words >> hex) {
        char* end = nullptr;
        const unsigned long v = std::strtoul(hex.c_str(), &end, 16);
        ok = *end == 0 && v <= 255;
        step.bytes.push_back(static_cast<std::uint8_t>(v));
      }
    } else if (word == "wait") {
      ok = static_cast<bool>(words >> step.wait_ms) && step.wait_ms >= 0;
    } else {
      ok = false;
    }
    if (!ok) {
      error = "script line " + std::to_string(number) + ": cannot read \"" + line + "\"";
      return false;
    }
    steps.push_back(std::move(step));
  }
  return true;
}

ScriptedPeer::~ScriptedPeer() { close(); }

bool ScriptedPeer::open() { return pty_.open(); }

void ScriptedPeer::play(std::vector<ScriptStep> steps) {
  wait();
  done_ = false;
  stop_ = false;
  thread_ = std::thread([this, steps = std::move(steps)] {
    for (const ScriptStep& s : steps) {
      if (stop_) break;
      std::size_t off = 0;
      while (off < s.bytes.size() && !stop_) {
        const ssize_t w = ::write(pty_.master(), s.bytes.data() + off, s.bytes.size() - off);
        if (w > 0)
          off += static_cast<std::size_t>(w);
        else
          ::usleep(1000);
      }
      for (int left = s.wait_ms; left > 0 && !stop_; left -= 10) ::usleep(static_cast<useconds_t>(std::min(left, 10)) * 1000);
    }
    done_ = true;
  });
}

void ScriptedPeer::wait() {
  if (thread_.joinable()) thread_.join();
}

void ScriptedPeer::close() {
  stop_ = true;
  wait();
  pty_.close();
}

namespace {

volatile sig_atomic_t g_quit = 0;
void on_signal(int) { g_quit = 1; }

void usage(const char* name, bool remote) {
  std::fprintf(stderr, "usage: %s %s[--repeat] SCRIPT\n", name, remote ? "" : "[--type 0|1] ");
}

}  // namespace

int run_peer_program(int argc, char** argv, bool remote) {
  int type = 1;
  bool repeat = false;
  std::string script_path;
  for (int i = 1; i < argc; ++i) {
    if (!remote && std::strcmp(argv[i], "--type") == 0 && i + 1 < argc) {
      type = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--repeat") == 0) {
      repeat = true;
    } else if (argv[i][0] != '-' && script_path.empty()) {
      script_path = argv[i];
    } else {
      usage(argv[0], remote);
      return 2;
    }
  }
  if (script_path.empty() || (type != 0 && type != 1)) {
    usage(argv[0], remote);
    return 2;
  }
  std::ifstream in(script_path);
  if (!in) {
    std::fprintf(stderr, "%s: cannot open %s: %s\n", argv[0], script_path.c_str(), std::strerror(errno));
    return 1;
  }
  std::stringstream text;
  text << in.rdbuf();
  std::vector<ScriptStep> steps;
  std::string error;
  if (!parse_script(text.str(), type, steps, error)) {
    std::fprintf(stderr, "%s: %s\n", argv[0], error.c_str());
    return 1;
  }
  ScriptedPeer peer;
  if (!peer.open()) {
    std::perror("openpty");
    return 1;
  }
  std::printf("%s\n", peer.device_path().c_str());
  std::fflush(stdout);
  ::signal(SIGINT, on_signal);
  ::signal(SIGTERM, on_signal);
  do {
    peer.play(steps);
    while (!peer.finished() && !g_quit) ::usleep(10000);
  } while (repeat && !g_quit);
  // The line stays up until the simulator is stopped.
  while (!g_quit) ::usleep(10000);
  peer.close();
  return 0;
}

}  // namespace sim

// A measuring module for study-module tests: records every byte the screens
// send and hands out queued bytes one at a time.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <vector>

#include "vaslab/studies/sample_frames.h"

struct FakeModule : vaslab::ModuleBytes {
  std::vector<int> sent;
  std::deque<std::uint8_t> incoming;
  int drains = 0;

  FakeModule() { vaslab::set_module_bytes(this); }
  ~FakeModule() override { vaslab::set_module_bytes(nullptr); }

  void send(int byte) override { sent.push_back(byte); }
  std::uint16_t receive() override {
    if (incoming.empty()) return 0xFFFF;
    const std::uint8_t b = incoming.front();
    incoming.pop_front();
    return b;
  }
  void drain() override {
    ++drains;
    incoming.clear();
  }

  static std::array<std::uint8_t, 7> frame(int type, int v1, int v2, int v3, int v4) {
    return {static_cast<std::uint8_t>(0x80 | (type & 7) << 4 | ((v2 >> 7) & 3) << 2 | ((v1 >> 7) & 3)),
            static_cast<std::uint8_t>(v1 & 0x7F),
            static_cast<std::uint8_t>(v2 & 0x7F),
            static_cast<std::uint8_t>((v3 >> 7) & 0x7F),
            static_cast<std::uint8_t>(v3 & 0x7F),
            static_cast<std::uint8_t>((v4 >> 7) & 0x7F),
            static_cast<std::uint8_t>(v4 & 0x7F)};
  }
  void queue_frame(int v1, int v2, int v3, int v4, int type = 0) {
    for (std::uint8_t b : frame(type, v1, v2, v3, v4)) incoming.push_back(b);
  }
  std::vector<int> take_sent() {
    std::vector<int> s;
    s.swap(sent);
    return s;
  }
};

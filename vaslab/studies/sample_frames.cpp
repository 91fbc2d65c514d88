#include "vaslab/studies/sample_frames.h"

#include <algorithm>
#include <cmath>

#include "vaslab/core/links/module_link.h"
#include "vaslab/studies/study_page.h"

namespace vaslab {
namespace {

constexpr std::uint16_t kNoByte = 0xFFFF;

ModuleBytes* g_bytes = nullptr;

std::uint16_t next_byte() { return g_bytes ? g_bytes->receive() : receive_module_byte(); }

void start_frame(FrameReader& r, std::uint8_t header, bool frame_starts) {
  r.header = header;
  r.step = frame_starts ? 1 : 0;
}

// A data byte into its part of the values; true when the frame is complete.
bool take_data_byte(FrameReader& r, std::uint8_t b) {
  switch (r.step) {
    case 1: r.value[0] = static_cast<std::int16_t>(b + 128 * (r.header & 3)); break;
    case 2: r.value[1] = static_cast<std::int16_t>(b + 128 * ((r.header >> 2) & 3)); break;
    case 3: r.value[2] = static_cast<std::int16_t>(128 * b); break;
    case 4: r.value[2] = static_cast<std::int16_t>(r.value[2] + b); break;
    case 5: r.value[3] = static_cast<std::int16_t>(128 * b); break;
    case 6: r.value[3] = static_cast<std::int16_t>(r.value[3] + b); break;
    default: return false;
  }
  if (r.step == 6) {
    r.step = 0;
    return true;
  }
  ++r.step;
  return false;
}

}  // namespace

void set_module_bytes(ModuleBytes* bytes) {
  g_bytes = bytes;
  set_module_source_descriptor(bytes != nullptr, bytes ? bytes->wait_descriptor() : kNothingToWatch);
}

void drain_module_bytes() {
  if (g_bytes) g_bytes->drain();
  else drain_module_input();
}

void send_module_command(int command, int argument) {
  auto send = [](int b) {
    if (g_bytes) g_bytes->send(b & 0xFF);
    else send_module_byte(b & 0xFF);
  };
  send(command);
  if (static_cast<std::int16_t>(argument) >= 0) send(argument);
}

int read_frame(FrameReader& r) {
  for (;;) {
    const std::uint16_t got = next_byte();
    if (got == kNoByte) return 0;
    const auto b = static_cast<std::uint8_t>(got);
    if (b & 0x80) {
      if (r.step != 0) std::fill(std::begin(r.value), std::end(r.value), std::int16_t{0});
      start_frame(r, b, ((b >> 4) & 7) == kFrameType0);
      continue;
    }
    if (r.step != 0 && take_data_byte(r, b)) return 1;
  }
}

int read_raw_frame(FrameReader& r) {
  for (;;) {
    const std::uint16_t got = next_byte();
    if (got == kNoByte) return 0;
    const auto b = static_cast<std::uint8_t>(got);
    if (b & 0x80) {
      r.step = 0;
      start_frame(r, b, ((b >> 4) & 3) == 1);
      continue;
    }
    if (r.step != 0 && take_data_byte(r, b)) return 1;
  }
}

const FilterRow kFilterRows[10] = {
    {2, 0, 4.427680255, -0.0371284475, -0.3746720013, -0.3950147543},
    {3, 0, 23.01615238, 0.1548776808, -0.7575353553, 1.2550756865},
    {3, 1, 2.571532139, -0.1491636627, -0.7369855456, -1.2248366037},
    {4, 0, 134.0564934, 0.4062229451, -1.5794376329, 2.1135383544},
    {4, 1, 13.44259787, 0.0878869778, -0.5201548847, 0.8371448454},
    {4, 2, 2.571532141, -0.1491636625, -0.7369855449, -1.2248366027},
    {5, 0, 888.0258701, 0.6392577842, -2.2026514676, 2.5543849369},
    {5, 1, 74.84092995, 0.3223461847, -1.3250970824, 1.8958575172},
    {5, 2, 13.44259788, 0.0878869779, -0.5201548849, 0.8371448459},
    {5, 3, 1.42299057, -0.4938356898, -1.826643265, -2.3014838097},
};

void select_filter(int mode_flags, int cutoff, IirLowPass& f) {
  f.mode = 0;
  const int mode = mode_flags & 7;
  if (mode < 2 || mode > 5) return;
  if (cutoff < 0 || cutoff > 4) return;
  const int high = (mode_flags & 8) ? 136 : 0;
  send_module_command(208, (6 - cutoff) * 17 + high);
  if (cutoff == 0) return;
  const int s = 4 - cutoff;
  if (mode < s + 2) return;
  for (const FilterRow& row : kFilterRows) {
    if (row.mode != mode || row.s != s) continue;
    f.mode = mode;
    f.gain = row.gain;
    f.c1 = row.c1;
    f.c2 = row.c2;
    f.c3 = row.c3;
    f.reset = true;
    return;
  }
}

int filter_sample(int x, IirLowPass& f) {
  if (f.mode < 2 || f.mode > 5) return x;
  if (x < 0) x = 0;
  const double u = x <= 256 ? x + 1 : 0;
  if (f.reset) {
    std::fill(std::begin(f.input), std::end(f.input), u / f.gain);
    std::fill(std::begin(f.output), std::end(f.output), u);
    f.reset = false;
  }
  f.input[3] = f.input[2];
  f.input[2] = f.input[1];
  f.input[1] = f.input[0];
  f.input[0] = u / f.gain;
  const double y = f.input[0] + 3 * f.input[1] + 3 * f.input[2] + f.input[3] + f.c1 * f.output[2] +
                   f.c2 * f.output[1] + f.c3 * f.output[0];
  f.output[2] = f.output[1];
  f.output[1] = f.output[0];
  f.output[0] = y;
  const double r = std::clamp(std::floor(y + 0.5), 0.0, 257.0);
  const int v = static_cast<int>(r) - 1;
  return v < 0 ? 257 : v;
}

int volume_command(int volume) {
  static const int table[11] = {78, 56, 57, 58, 59, 70, 71, 72, 73, 74, 75};
  return table[std::clamp(volume, 0, 10)];
}

int take_waveform_sample(StudyPage& page, int value, IirLowPass* f) {
  if (value >= 1000) {
    page.status = static_cast<std::uint16_t>(value & 0x1FFF);
    page.count = 0;
    page.newest = 0;
    return -1;
  }
  const int v = f ? filter_sample(value, *f) : value;
  if (page.count < kRingSamples) {
    if (page.count == 0) --page.newest;
    ++page.count;
  }
  page.newest = static_cast<std::int16_t>((page.newest + 1) % kRingSamples);
  if (page.newest < 0) page.newest = 0;
  page.channel_1[page.newest] = static_cast<std::int16_t>(v);
  return v;
}

}  // namespace vaslab

#include "sim/can_node.h"

#include <algorithm>

#include "sim/settings.h"

namespace sim {
namespace {

std::string hex(unsigned value, int digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4) out[static_cast<std::size_t>(i)] = kDigits[value & 15];
  return out;
}

std::string text(const CanFrame& f) {
  std::string out = hex(f.id, 3) + " [" + std::to_string(f.data.size()) + "]";
  for (std::uint8_t b : f.data) out += " " + hex(b, 2);
  return out;
}

unsigned word(const std::vector<std::uint8_t>& d, std::size_t at) {
  return at + 1 < d.size() ? static_cast<unsigned>(d[at] << 8 | d[at + 1]) : 0;
}

// Erase blocks start at these high address bytes of the first 64 KB.
const unsigned kBlockStarts[] = {0x00, 0x20, 0x40, 0x80, 0xC0, 0x100};

constexpr std::uint8_t kAck = 0x00;
constexpr std::uint8_t kMore = 0x02;

}  // namespace

CanNode::CanNode(const std::string& settings) {
  const Settings given = parse_settings(settings);
  cris_ = static_cast<unsigned>(setting(given, "cris", 16, 0)) & 0x7F;
  node_ = static_cast<unsigned>(setting(given, "node", 16, 0x2A)) & 0xFF;
  const auto flash = static_cast<std::uint32_t>(setting(given, "flash", 10, 131072));
  const auto data = static_cast<std::uint32_t>(setting(given, "data", 10, 4096));
  paged_ = setting(given, "paged", 10, 0) > 0;
  closed_ = setting(given, "closed", 10, 0) > 0;
  const auto version = static_cast<std::uint8_t>(setting(given, "version", 16, 0x12));
  const auto hardware = static_cast<std::uint8_t>(setting(given, "hardware", 16, 0xFF));
  frame_bytes_ = static_cast<unsigned>(std::clamp(setting(given, "frame", 10, 8), 1L, 8L));
  error_frame_ = static_cast<int>(setting(given, "error_frame", 10, 0));
  wrong_id_ = static_cast<int>(setting(given, "wrong_id", 10, 0));
  silent_ = setting(given, "silent", 10, 0) > 0;
  memories_[0].assign(flash, 0xFF);
  memories_[1].assign(data, 0xFF);
  if (paged_) {
    // Special bytes live in memories of their own, at their addresses.
    for (int m = 3; m <= 6; ++m) memories_[m].assign(128, 0xFF);
    memories_[3][0] = version;
    memories_[3][1] = 0xD7;
    memories_[3][2] = 0xBB;
    memories_[5][7] = hardware;
    memories_[6][0x30] = 0x58;
    memories_[6][0x31] = 0xD7;
    memories_[6][0x60] = 0xF7;
    memories_[6][0x61] = 0xDF;
  } else {
    special_ = {{0x0000, version}, {0x0001, 0xD7}, {0x0002, 0xBB}, {0x0100, 0xFF}, {0x0101, 0xFF},
                {0x0102, 0xFF},    {0x0103, 0xFF}, {0x0104, 0xFF}, {0x0105, 0xFF}, {0x0106, 0xFF},
                {0x011C, 0xFF},    {0x011D, 0xFF}, {0x011E, 0xFF}, {0x011F, 0xFF}, {0x0120, cris_},
                {0x0130, 0x58},    {0x0131, 0xD7}, {0x0160, 0xF7}, {0x0161, 0xDF}, {0x0200, hardware}};
  }
}

std::uint8_t CanNode::special(unsigned key) const {
  const auto it = special_.find(key);
  return it == special_.end() ? 0 : it->second;
}

CanFrame CanNode::reply(unsigned kind, std::vector<std::uint8_t> data) const {
  return {cris_ * 16 + kind, std::move(data)};
}

std::vector<CanFrame> CanNode::receive(const CanFrame& frame) {
  const unsigned base = cris_ * 16;
  if (frame.id < base || frame.id > base + 6) return {};
  const unsigned kind = frame.id - base;
  ++frames_;
  trace_ += "< " + text(frame) + "\n";
  if (silent_) return {};
  std::vector<CanFrame> out;
  if (kind != 0 && !open_) {
    trace_ += "  node not open\n";
    return {};
  }
  out = paged_ ? answerPaged(kind, frame.data) : answer(kind, frame.data);
  if (frames_ == error_frame_) out = {reply(6, {0x01})};
  if (frames_ == wrong_id_) {
    for (CanFrame& f : out) f.id = base + (kind + 1) % 6;
  }
  for (const CanFrame& f : out) trace_ += "> " + text(f) + "\n";
  return out;
}

void CanNode::erase(std::vector<std::uint8_t>& m, std::uint32_t from, std::uint32_t to) {
  for (std::uint32_t a = from; a < to && a < m.size(); ++a) m[a] = 0xFF;
}

std::vector<CanFrame> CanNode::display(unsigned kind, std::vector<std::uint8_t>& m, std::uint32_t from,
                                       std::uint32_t to) {
  if (to < from || to >= m.size()) return {reply(6, {0x02})};
  if (security_ >= 2 && &m == &memories_[0]) return {reply(6, {0x03})};
  std::vector<CanFrame> out;
  for (std::uint32_t a = from; a <= to; a += frame_bytes_) {
    std::vector<std::uint8_t> part;
    for (std::uint32_t b = a; b <= to && b < a + frame_bytes_; ++b) part.push_back(m[b]);
    out.push_back(reply(kind, std::move(part)));
  }
  return out;
}

std::vector<CanFrame> CanNode::answer(unsigned kind, const std::vector<std::uint8_t>& d) {
  switch (kind) {
    case 0:
      if (d.size() != 1 || d[0] != node_) return {};
      open_ = !closed_;
      return {reply(0, {0x01, static_cast<std::uint8_t>(open_ ? 1 : 0)})};
    case 1:
      if (d.size() != 5 || d[0] > 1) return {reply(6, {0x02})};
      if (security_ >= 1) return {reply(6, {0x01})};
      program_memory_ = d[0];
      program_next_ = word(d, 1);
      program_end_ = word(d, 3);
      return {reply(1, {kAck})};
    case 2: {
      if (program_memory_ < 0) return {reply(6, {0x02})};
      std::vector<std::uint8_t>& m = memories_[program_memory_];
      for (std::uint8_t b : d) {
        if (program_next_ > program_end_ || program_next_ >= m.size()) return {reply(6, {0x02})};
        m[program_next_++] = b;
      }
      if (program_next_ <= program_end_) return {reply(2, {kMore})};
      program_memory_ = -1;
      return {reply(2, {kAck})};
    }
    case 3: {
      if (d.size() != 5) return {reply(6, {0x02})};
      const std::uint32_t from = word(d, 1), to = word(d, 3);
      if (d[0] == 0x01) {
        for (std::uint32_t a = from; a <= to && a < memories_[0].size(); ++a) {
          if (memories_[0][a] != 0xFF) return {reply(3, {static_cast<std::uint8_t>(a >> 8), static_cast<std::uint8_t>(a)})};
        }
        return {reply(3, {})};
      }
      if (d[0] != 0x00 && d[0] != 0x02) return {reply(6, {0x02})};
      return display(3, memories_[d[0] == 0x00 ? 0 : 1], from, to);
    }
    case 4:
      if (d.size() == 2 && d[0] == 0x00) {
        if (d[1] == 0xFF) {
          erase(memories_[0], 0, static_cast<std::uint32_t>(memories_[0].size()));
          security_ = 0;
          special_[0x0105] = 0xFF;
        } else {
          unsigned to = 0x100;
          for (unsigned s : kBlockStarts) {
            if (s > d[1]) {
              to = s;
              break;
            }
          }
          erase(memories_[0], static_cast<std::uint32_t>(d[1]) << 8, to << 8);
        }
        return {reply(4, {kAck})};
      }
      if (!d.empty() && d[0] == 0x03) {
        trace_ += d.size() == 2 ? "  start application by reset\n" : "  start application at " + hex(word(d, 2), 4) + "\n";
        return {};
      }
      if (d.size() == 3 && special_.count(static_cast<unsigned>(d[0] << 8 | d[1])) != 0) {
        const unsigned key = static_cast<unsigned>(d[0] << 8 | d[1]);
        special_[key] = d[2];
        if (key == 0x0105) security_ = d[2] == 0xFE ? 1 : d[2] == 0xFC ? 2 : 0;
        return {reply(4, {kAck})};
      }
      return {reply(4, {0x01})};
    case 5: {
      const auto it = special_.find(word(d, 0));
      if (d.size() != 2 || it == special_.end()) return {reply(6, {0x02})};
      return {reply(5, {it->second})};
    }
    default: return {};
  }
}

std::vector<CanFrame> CanNode::answerPaged(unsigned kind, const std::vector<std::uint8_t>& d) {
  switch (kind) {
    case 0: return answer(0, d);
    case 6:
      if (d.size() != 3 || d[0] != 0x03 || memories_.count(d[1]) == 0) return {reply(6, {0x02})};
      selected_memory_ = d[1];
      page_base_ = static_cast<std::uint32_t>(d[2]) << 16;
      return {reply(6, {kAck})};
    case 1:
      if (d.size() == 5 && d[0] == 0x00) {
        if (security_ >= 1 && selected_memory_ <= 1) return {reply(6, {0x01})};
        program_memory_ = selected_memory_;
        program_next_ = page_base_ + word(d, 1);
        program_end_ = page_base_ + word(d, 3);
        return {reply(1, {kAck})};
      }
      if (d.size() == 3 && d[0] == 0x80) {
        std::vector<std::uint8_t>& m = memories_[selected_memory_];
        if (d[1] == 0xFF) {
          erase(m, 0, static_cast<std::uint32_t>(m.size()));
          if (selected_memory_ == 0) {
            security_ = 0;
            memories_[4][5] = 0xFF;
          }
        } else {
          const std::uint32_t block = 0x4000;
          erase(m, page_base_ + d[2] * block, page_base_ + (d[2] + 1u) * block);
        }
        return {reply(1, {kAck})};
      }
      return {reply(6, {0x02})};
    case 2: {
      const int memory = program_memory_;
      const std::vector<CanFrame> out = answer(2, d);
      if (memory == 4 && program_memory_ < 0) {
        const std::uint8_t ssb = memories_[4][5];
        security_ = ssb == 0xFE ? 1 : ssb == 0xFC ? 2 : 0;
      }
      return out;
    }
    case 3: {
      if (d.size() != 5) return {reply(6, {0x02})};
      std::vector<std::uint8_t>& m = memories_[selected_memory_];
      const std::uint32_t from = page_base_ + word(d, 1), to = page_base_ + word(d, 3);
      if (d[0] == 0x80) {
        for (std::uint32_t a = from; a <= to && a < m.size(); ++a) {
          if (m[a] != 0xFF) return {reply(3, {static_cast<std::uint8_t>(a >> 8), static_cast<std::uint8_t>(a)})};
        }
        return {reply(3, {})};
      }
      if (d[0] != 0x00) return {reply(6, {0x02})};
      return display(3, m, from, to);
    }
    case 4: return answer(4, d);
    default: return {};
  }
}

}  // namespace sim

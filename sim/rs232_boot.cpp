#include "sim/rs232_boot.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "sim/settings.h"
#include <algorithm>

namespace sim {
namespace {

int digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string hex(unsigned value, int digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4) out[static_cast<std::size_t>(i)] = kDigits[value & 15];
  return out;
}

// Control characters shown as \r, \n.
std::string visible(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

// CRC-16/X-25 over `count` bytes.
std::uint16_t crc_x25(const std::uint8_t* data, std::size_t count) {
  std::uint16_t crc = 0xFFFF;
  for (std::size_t i = 0; i < count; ++i) {
    crc ^= data[i];
    for (int b = 0; b < 8; ++b) crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0x8408) : crc >> 1;
  }
  return static_cast<std::uint16_t>(~crc);
}

// Erase blocks start at these high address bytes.
const unsigned kBlockStarts[] = {0x00, 0x20, 0x40, 0x80, 0xC0, 0x100};

}  // namespace

Rs232Boot::Rs232Boot(const std::string& settings, std::string trace_path) : trace_path_(std::move(trace_path)) {
  const Settings given = parse_settings(settings);
  settings_.sizes[0] = static_cast<std::uint32_t>(setting(given, "flash", 10, settings_.sizes[0]));
  settings_.sizes[1] = static_cast<std::uint32_t>(setting(given, "data", 10, settings_.sizes[1]));
  settings_.sizes[2] = static_cast<std::uint32_t>(setting(given, "memory2", 10, settings_.sizes[2]));
  settings_.line = static_cast<std::uint32_t>(std::max(1L, setting(given, "line", 10, settings_.line)));
  settings_.crc = setting(given, "crc", 10, 0) > 0;
  settings_.paged = setting(given, "paged", 10, 0) > 0;
  settings_.sync = static_cast<int>(setting(given, "sync", 10, settings_.sync));
  settings_.version = static_cast<std::uint8_t>(setting(given, "version", 16, settings_.version));
  settings_.hardware = static_cast<std::uint8_t>(setting(given, "hardware", 16, settings_.hardware));
  settings_.corrupt = static_cast<int>(setting(given, "corrupt", 10, 0));
  settings_.silent = setting(given, "silent", 10, 0) > 0;
  for (int m = 0; m < 3; ++m) memories_[m].assign(settings_.sizes[m], 0xFF);
  special_ = {{0x0F00, settings_.version}, {0x0700, 0xFF}, {0x0701, 0xFF}, {0x0702, 0x00},
              {0x0703, 0xFF}, {0x0704, 0xFF}, {0x0705, 0xFF}, {0x0706, 0xFF},
              {0x0800, settings_.version}, {0x0B00, settings_.hardware}, {0x0E00, 0xD7}, {0x0E01, 0xBB},
              {0x0000, 0x58}, {0x0001, 0xD7}, {0x0002, 0xF7}, {0x0003, 0xDF}};
  const std::time_t now = std::time(nullptr);
  char when[32] = "?";
  std::tm utc{};
  if (gmtime_r(&now, &utc) != nullptr) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", &utc);
  log(std::string("=== simulated RS-232 bootloader, run of ") + when + ", pid " + std::to_string(getpid()) +
      "; settings " + (settings.empty() ? "none" : settings) + " ===");
}

Rs232Boot::~Rs232Boot() { stop(); }

bool Rs232Boot::start() {
  stop();
  if (!pty_.open()) return false;
  running_ = true;
  thread_ = std::thread([this] { serve(); });
  return true;
}

void Rs232Boot::stop() {
  running_ = false;
  if (thread_.joinable()) thread_.join();
  pty_.close();
}

void Rs232Boot::serve() {
  while (running_) {
    pollfd p{pty_.master(), POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    std::uint8_t buffer[256];
    const ssize_t n = ::read(pty_.master(), buffer, sizeof buffer);
    if (n <= 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    for (ssize_t i = 0; i < n; ++i) take(buffer[i]);
  }
}

void Rs232Boot::send(const std::string& text) {
  if (settings_.silent || text.empty()) return;
  log("> " + visible(text));
  std::size_t done = 0;
  while (done < text.size() && running_) {
    const ssize_t n = ::write(pty_.master(), text.data() + done, text.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      return;
    } else {
      pollfd p{pty_.master(), POLLOUT, 0};
      ::poll(&p, 1, 20);
    }
  }
}

void Rs232Boot::log(const std::string& line) {
  trace_ += line + "\n";
  if (trace_path_.empty()) return;
  if (std::FILE* f = std::fopen(trace_path_.c_str(), "a")) {
    std::fputs((line + "\n").c_str(), f);
    std::fclose(f);
  }
}

void Rs232Boot::take(std::uint8_t byte) {
  const char c = static_cast<char>(byte);
  if (record_.empty()) {
    if (c == 'U') {
      ++sync_tries_;
      log("< U (try " + std::to_string(sync_tries_) + ")");
      if (sync_tries_ >= settings_.sync) send("U");
    } else if (c == ':') {
      record_ = ":";
    }
    return;
  }
  record_ += c;
  if (record_.size() < 3) return;
  const int hi = digit(record_[1]);
  const int lo = digit(record_[2]);
  // A length that is no number cannot be framed: the record is dropped.
  if (hi < 0 || lo < 0) {
    log("< " + visible(record_) + " (no length)");
    record_.clear();
    return;
  }
  if (record_.size() == 11 + 2 * static_cast<std::size_t>(hi * 16 + lo)) {
    std::string text;
    text.swap(record_);
    handle(std::move(text));
  }
}

void Rs232Boot::handle(std::string text) {
  ++records_;
  // Line noise: one digit of the record changes on its way.
  if (records_ == settings_.corrupt) text[3] = text[3] == '0' ? '1' : '0';
  log("< " + text);
  std::vector<std::uint8_t> bytes;
  unsigned sum = 0;
  for (std::size_t i = 1; i + 1 < text.size(); i += 2) {
    const int a = digit(text[i]);
    const int b = digit(text[i + 1]);
    if (a < 0 || b < 0) return send(text + "X\r");
    bytes.push_back(static_cast<std::uint8_t>(a * 16 + b));
    sum += bytes.back();
  }
  if ((sum & 0xFF) != 0) return send(text + "X\r");
  send(execute(text, bytes));
}

std::string Rs232Boot::execute(const std::string& echo, const std::vector<std::uint8_t>& r) {
  const std::size_t count = r[0];
  const unsigned address = static_cast<unsigned>(r[1] << 8 | r[2]);
  const std::uint8_t type = r[3];
  const std::uint8_t* data = r.data() + 4;
  const std::string done = echo + ".\r";
  const std::string refused = echo + "\r";
  switch (type) {
    case 0x00:
    case 0x07:
    case 0x08: {
      if (security_ >= 1) return echo + "P\r";
      const int memory = settings_.paged ? selected_memory_ : type == 0x00 ? 0 : type == 0x07 ? 1 : 2;
      return echo + write_data(memory, page_base_ + address, data, count);
    }
    case 0x02:
      if (!settings_.paged || count != 2) return refused;
      page_base_ = static_cast<std::uint32_t>(data[0] << 8 | data[1]) << 4;
      return done;
    case 0x04: {
      if (settings_.paged && count == 2) {
        selected_memory_ = data[0];
        return done;
      }
      if (count != 5) return refused;
      const std::uint32_t start = page_base_ + static_cast<std::uint32_t>(data[0] << 8 | data[1]);
      const std::uint32_t end = page_base_ + static_cast<std::uint32_t>(data[2] << 8 | data[3]);
      if (data[4] == 0x01) return blank_check(echo, settings_.paged ? selected_memory_ : 0, start, end);
      if (security_ >= 2) return echo + "L\r";
      int memory = data[4] == 0x00 ? 0 : data[4] == 0x02 ? 1 : data[4] == 0x03 ? (settings_.crc ? 0 : 2) : -1;
      if (settings_.paged) memory = selected_memory_;
      return display(echo, memory, start, end);
    }
    case 0x03: {
      const unsigned what = data[0];
      if (count == 1 && what == 0x07) {
        for (auto& b : memories_[0]) b = 0xFF;
        security_ = 0;
        special_[0x0700] = 0xFF;
        log("  flash erased");
        return done;
      }
      if (count == 2 && what == 0x01) {
        unsigned from = data[1], to = 0x100;
        for (unsigned s : kBlockStarts) {
          if (s > from) {
            to = s;
            break;
          }
        }
        for (std::uint32_t a = from << 8; a < (to << 8) && a < memories_[0].size(); ++a) memories_[0][a] = 0xFF;
        log("  block " + hex(from, 2) + " erased");
        return done;
      }
      if (count == 2 && what == 0x04) {
        special_[0x0701] = 0xFF;
        special_[0x0702] = 0xFF;
        return done;
      }
      if (count == 2 && what == 0x05 && data[1] <= 1) {
        security_ = data[1] + 1;
        special_[0x0700] = security_ == 1 ? 0xFE : 0xFC;
        log("  security level " + std::to_string(security_));
        return done;
      }
      if (what == 0x03) {
        log(count == 2 ? "  start application by reset" : "  start application at 0000");
        return {};
      }
      if (count == 3 && what == 0x06) {
        // Boot status, boot vector, configuration bytes, extra byte; 05 is
        // a special command, kept but not readable.
        static const unsigned kReadKey[] = {0x0701, 0x0702, 0x0703, 0x0704, 0x0705, 0x0605, 0x0706};
        if (data[1] > 6) return refused;
        special_[kReadKey[data[1]]] = data[2];
        log("  byte " + hex(kReadKey[data[1]], 4) + " = " + hex(data[2], 2));
        return done;
      }
      if (count == 3 && what == 0x0A) {
        std::uint8_t& hw = special_[0x0B00];
        const std::uint8_t bit = static_cast<std::uint8_t>(data[1] << 4);
        hw = data[2] == 0 ? static_cast<std::uint8_t>(hw & ~bit) : static_cast<std::uint8_t>(hw | bit);
        return done;
      }
      return refused;
    }
    case 0x05: {
      if (count != 2) return refused;
      const auto it = special_.find(static_cast<unsigned>(data[0] << 8 | data[1]));
      if (it == special_.end()) return refused;
      return echo + hex(it->second, 2) + ".\r";
    }
    default: return refused;
  }
}

std::string Rs232Boot::write_data(int memory, std::uint32_t address, const std::uint8_t* data, std::size_t count) {
  if (memory < 0 || memory > 2 || address + count > memories_[memory].size()) return "\r";
  std::vector<std::uint8_t>& m = memories_[memory];
  for (std::size_t i = 0; i < count; ++i) m[address + i] = data[i];
  if (settings_.crc && memory == 0 && address + count == m.size() && m.size() >= 2) {
    const std::uint16_t crc = crc_x25(m.data(), m.size() - 2);
    crc_valid_ = m[m.size() - 2] == (crc & 0xFF) && m[m.size() - 1] == (crc >> 8);
    log(crc_valid_ ? "  application CRC " + hex(crc, 4) + " good" : "  application CRC " + hex(crc, 4) + " bad");
  }
  return ".\r";
}

std::string Rs232Boot::display(const std::string& echo, int memory, std::uint32_t start, std::uint32_t end) {
  if (memory < 0 || memory > 2 || end < start || end >= memories_[memory].size()) return echo + "\r";
  const std::vector<std::uint8_t>& m = memories_[memory];
  std::string out = echo + "\n";
  for (std::uint32_t line = start; line <= end; line += settings_.line) {
    out += hex(line & 0xFFFF, 4) + "=";
    for (std::uint32_t a = line; a <= end && a < line + settings_.line; ++a) out += hex(m[a], 2);
    out += "\r";
  }
  return out;
}

std::string Rs232Boot::blank_check(const std::string& echo, int memory, std::uint32_t start, std::uint32_t end) {
  if (memory < 0 || memory > 2 || end < start || end >= memories_[memory].size()) return echo + "\r";
  for (std::uint32_t a = start; a <= end; ++a) {
    if (memories_[memory][a] != 0xFF) return echo + "\n" + hex(a & 0xFFFF, 4) + "\r";
  }
  return echo + ".\r";
}

std::vector<std::uint8_t> Rs232Boot::memory(int number) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return number >= 0 && number < 3 ? memories_[number] : std::vector<std::uint8_t>{};
}

void Rs232Boot::set_memory(int number, std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (number < 0 || number > 2) return;
  for (std::size_t i = 0; i < bytes.size() && address + i < memories_[number].size(); ++i) {
    memories_[number][address + i] = bytes[i];
  }
}

int Rs232Boot::security_level() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return security_;
}

int Rs232Boot::sync_tries() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sync_tries_;
}

int Rs232Boot::records() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return records_;
}

bool Rs232Boot::crc_valid() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return crc_valid_;
}

std::string Rs232Boot::trace() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return trace_;
}

}  // namespace sim

// Stand-in for the USB DFU link library "ovusbdfu": instead of a USB device
// it simulates the bootloader of the interface board's controller.  It takes
// the DFU class requests the programming library writes as hexadecimal texts,
// keeps the target's flash, data memory and special bytes, and answers
// GETSTATUS and UPLOAD as the bootloader would.  Settings make it the
// bootloader of another device: flash=N (its size), crc=1 (device 13: a
// program that reaches the flash's end checks the CRC in its last two
// bytes), ext=1 (devices 1 and 3 on hardware codes 9 to 11: memory units
// chosen by "0603MMPP", six-byte commands without memory codes).
//
// Control (tests and demo):
//   OVUSBDFU_SIM_CONFIG  settings applied at load ("key=value", ';'-separated,
//                        see applySettings)
//   OVUSBDFU_SIM_TRACE   file every call is appended to, one line each (ms
//                        since the run began), after a header line per run
//   OVUSBDFU_SIM_FLASH   file that keeps the flash between runs (read at load,
//                        rewritten after every change)
// and the ovusbdfu_sim_* entries for a test process that loads this library
// itself.
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <chrono>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "ovisp/link_library.h"
#include "sim/settings.h"

#define LINK_API extern "C" __attribute__((visibility("default")))

namespace {

constexpr std::size_t kFlashBytes = 32768;
constexpr std::size_t kDataBytes = 1024;
constexpr std::size_t kUnitBytes = 128;
constexpr std::size_t kBootBytes = 3072;

// DFU status and state values the bootloader reports.
constexpr std::uint8_t kOk = 0x00;
constexpr std::uint8_t kErrTarget = 0x01;
constexpr std::uint8_t kErrWrite = 0x03;
constexpr std::uint8_t kErrCheckErased = 0x05;
constexpr std::uint8_t kStateIdle = 2;
constexpr std::uint8_t kStateBusy = 4;
constexpr std::uint8_t kStateError = 10;

struct Settings {
  int refuseOpens = 0;
  int busyPolls = 0;             // busy replies before each idle one
  bool neverIdle = false;        // the target never leaves dfuERROR
  bool shortStatus = false;      // GETSTATUS answers 4 bytes
  int eraseStatus = kOk;         // status of a full erase (not done unless OK)
  int programStatus = kOk;       // status of a program request (not done unless OK)
  int blankStatus = kOk;         // status of a blank check (not checked unless OK)
  bool refuseProgram = false;    // the link refuses every program request
  long corruptAddress = -1;      // programming stores this byte inverted
  long stuckAddress = -1;        // erasing leaves 00 at this byte
  int canLength = -1;            // a CAN read answers a message of this length
  std::uint8_t bootloader = 0x12;
  std::uint8_t hardware = 0xFF;
  std::uint8_t security = 0xFF;
  std::size_t flashBytes = kFlashBytes;
  bool crc = false;
  bool ext = false;
};

struct Board {
  Settings settings;
  bool open = false;
  int opensRefused = 0;
  std::vector<std::uint8_t> flash = std::vector<std::uint8_t>(kFlashBytes);
  std::vector<std::uint8_t> data = std::vector<std::uint8_t>(kDataBytes, 0xFF);
  // The memory units of the extended command set: 0 the flash, 1 the data
  // memory, 3 to 6 the special bytes, 7 the boot memory.
  std::map<int, std::vector<std::uint8_t>> units;
  int unit = 0;
  bool crcValid = false;
  std::map<unsigned, std::uint8_t> special;
  std::uint8_t status = kOk;
  int busyLeft = 0;
  std::vector<std::uint8_t> upload;
  bool haveUpload = false;
  std::string trace;
  std::string traceCopy;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

std::mutex g_mutex;
Board* g_board = nullptr;

const char* env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

long number(const std::string& text, int base) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, base);
  return end != nullptr && *end == '\0' && !text.empty() ? value : -1;
}

// Keys: refuse_opens, busy, never_idle, short_status, erase_status,
// program_status, blank_status, refuse_program, corrupt (hex address), stuck (hex address),
// can_length, bootloader, hardware, security (hex bytes).  Unknown keys are
// ignored.
void applySettings(Settings& s, const std::string& text) {
  for (const auto& [key, value] : sim::parse_settings(text)) {
    const long dec = number(value, 10);
    const long hex = number(value, 16);
    if (key == "refuse_opens") s.refuseOpens = static_cast<int>(dec);
    if (key == "busy") s.busyPolls = static_cast<int>(dec);
    if (key == "never_idle") s.neverIdle = dec > 0;
    if (key == "short_status") s.shortStatus = dec > 0;
    if (key == "erase_status") s.eraseStatus = static_cast<int>(dec);
    if (key == "program_status") s.programStatus = static_cast<int>(dec);
    if (key == "blank_status") s.blankStatus = static_cast<int>(dec);
    if (key == "refuse_program") s.refuseProgram = dec > 0;
    if (key == "corrupt") s.corruptAddress = hex;
    if (key == "stuck") s.stuckAddress = hex;
    if (key == "can_length") s.canLength = static_cast<int>(dec);
    if (key == "bootloader") s.bootloader = static_cast<std::uint8_t>(hex);
    if (key == "hardware") s.hardware = static_cast<std::uint8_t>(hex);
    if (key == "security") s.security = static_cast<std::uint8_t>(hex);
    if (key == "flash" && dec > 0) s.flashBytes = static_cast<std::size_t>(dec);
    if (key == "crc") s.crc = dec > 0;
    if (key == "ext") s.ext = dec > 0;
  }
}

void saveFlash(const Board& b) {
  const char* path = env("OVUSBDFU_SIM_FLASH");
  if (path == nullptr) return;
  const std::string temp = std::string(path) + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.flash.data()), static_cast<std::streamsize>(b.flash.size()));
    if (!out) return;
  }
  std::rename(temp.c_str(), path);
}

// Memories of the configured sizes; the board arrives with an old program
// in its flash.
void shapeBoard(Board& b) {
  b.flash.assign(b.settings.flashBytes, 0);
  for (std::size_t i = 0; i < b.flash.size(); ++i) b.flash[i] = static_cast<std::uint8_t>((i * 13 + 7) & 0xFF);
  if (const char* path = env("OVUSBDFU_SIM_FLASH")) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() == b.flash.size()) std::memcpy(b.flash.data(), bytes.data(), bytes.size());
  }
  b.units.clear();
  b.unit = 0;
  for (int u = 3; u <= 6; ++u) b.units[u].assign(kUnitBytes, 0xFF);
  b.units[7].assign(kBootBytes, 0xFF);
  b.units[3][0] = b.settings.bootloader;
  b.units[3][1] = 0xD7;
  b.units[3][2] = 0xBB;
  b.units[4][5] = b.settings.security;
  b.units[5][0] = b.settings.hardware;
  b.units[6][0x30] = 0x58;
  b.units[6][0x31] = 0xD7;
  b.units[6][0x60] = 0xF7;
  b.units[6][0x61] = 0xDF;
}

void resetBoard(Board& b) {
  b = Board{};
  if (const char* config = env("OVUSBDFU_SIM_CONFIG")) applySettings(b.settings, config);
  shapeBoard(b);
  b.special = {{0x0000, b.settings.bootloader}, {0x0001, 0xD7}, {0x0002, 0xBB}, {0x0100, 0xFF},
               {0x0101, 0xFF}, {0x0102, 0xFF}, {0x0103, 0xFF}, {0x0104, 0xFF},
               {0x0105, b.settings.security}, {0x0106, 0xFF}, {0x0130, 0x58}, {0x0131, 0xD7},
               {0x0160, 0xF7}, {0x0161, 0xDF}, {0x0200, b.settings.hardware}};
}

// The first line of a run in the trace file, so that runs appended to one
// file can be told apart.
void traceRunHeader() {
  const char* path = env("OVUSBDFU_SIM_TRACE");
  if (path == nullptr) return;
  std::FILE* f = std::fopen(path, "a");
  if (f == nullptr) return;
  const std::time_t now = std::time(nullptr);
  char when[32] = "?";
  std::tm utc{};
  if (gmtime_r(&now, &utc) != nullptr) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", &utc);
  const char* flash = env("OVUSBDFU_SIM_FLASH");
  const char* config = env("OVUSBDFU_SIM_CONFIG");
  std::fprintf(f, "=== simulated board bootloader (USB DFU), run of %s, pid %ld; flash %s; settings %s ===\n", when,
               static_cast<long>(getpid()), flash != nullptr ? flash : "not kept", config != nullptr ? config : "none");
  std::fclose(f);
}

Board& board() {
  if (g_board == nullptr) {
    g_board = new Board;
    resetBoard(*g_board);
    traceRunHeader();
  }
  return *g_board;
}

void trace(Board& b, const std::string& line) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - b.start);
  const std::string text = std::to_string(ms.count()) + " " + line + "\n";
  b.trace += text;
  if (const char* path = env("OVUSBDFU_SIM_TRACE")) {
    if (std::FILE* f = std::fopen(path, "a")) {
      std::fputs(text.c_str(), f);
      std::fclose(f);
    }
  }
}

// Two hexadecimal digits a byte, optionally a blank between bytes.
std::string hexBytes(const std::uint8_t* bytes, std::size_t count, bool spaced = false) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < count; ++i) {
    if (spaced && i > 0) out += ' ';
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}

// The bootloader command a download carries, byte by byte: a program
// request's six header bytes and the size of its data, else the whole
// payload.
std::string commandText(const std::vector<std::uint8_t>& p) {
  if (p.empty()) return "(none)";
  if (p[0] != 0x01 || p.size() < 6) return hexBytes(p.data(), p.size(), true);
  const unsigned start = static_cast<unsigned>(p[2] << 8 | p[3]);
  const unsigned end = static_cast<unsigned>(p[4] << 8 | p[5]);
  return hexBytes(p.data(), 6, true) + " (" + std::to_string(end >= start ? end - start + 1 : 0) + " data bytes)";
}

bool parseHex(const char* text, std::vector<std::uint8_t>& out) {
  out.clear();
  const std::size_t n = std::strlen(text);
  if (n % 2 != 0) return false;
  for (std::size_t i = 0; i < n; i += 2) {
    auto digit = [](char c) -> int {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      return -1;
    };
    const int hi = digit(text[i]);
    const int lo = digit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
  }
  return true;
}

struct Setup {
  unsigned request = 0;  // bmRequestType << 8 | bRequest
  unsigned value = 0;
  unsigned index = 0;
  unsigned length = 0;
};

bool parseSetup(const char* text, Setup& s) {
  std::vector<std::uint8_t> bytes;
  if (text == nullptr || !parseHex(text, bytes) || bytes.size() != 8) return false;
  s.request = static_cast<unsigned>(bytes[0] << 8 | bytes[1]);
  s.value = static_cast<unsigned>(bytes[3] << 8 | bytes[2]);
  s.index = static_cast<unsigned>(bytes[5] << 8 | bytes[4]);
  s.length = static_cast<unsigned>(bytes[7] << 8 | bytes[6]);
  return true;
}

void setStatus(Board& b, std::uint8_t status) {
  b.status = status;
  b.busyLeft = b.settings.busyPolls;
}

void offerUpload(Board& b, std::vector<std::uint8_t> bytes) {
  b.upload = std::move(bytes);
  b.haveUpload = true;
}

// The memory of the selected unit (extended command set), or null.
std::vector<std::uint8_t>* unitMemory(Board& b) {
  if (b.unit == 0) return &b.flash;
  if (b.unit == 1) return &b.data;
  const auto it = b.units.find(b.unit);
  return it == b.units.end() ? nullptr : &it->second;
}

// A device that keeps a CRC checks it once its flash has been written to
// the end: X-25 of all but the last two bytes, low byte first.
void checkCrc(Board& b) {
  const std::vector<std::uint8_t>& f = b.flash;
  std::uint16_t crc = 0xFFFF;
  for (std::size_t i = 0; i + 2 < f.size(); ++i) {
    crc ^= f[i];
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0x8408) : crc >> 1;
  }
  crc = static_cast<std::uint16_t>(~crc);
  b.crcValid = f[f.size() - 2] == (crc & 0xFF) && f[f.size() - 1] == (crc >> 8);
  trace(b, std::string("  application CRC ") + (b.crcValid ? "good" : "bad"));
}

void program(Board& b, const std::vector<std::uint8_t>& p) {
  if (p.size() < 32 + 16) return setStatus(b, kErrWrite);
  const unsigned start = static_cast<unsigned>(p[2] << 8 | p[3]);
  const unsigned end = static_cast<unsigned>(p[4] << 8 | p[5]);
  std::vector<std::uint8_t>* target = b.settings.ext ? unitMemory(b) : p[1] == 0 ? &b.flash : &b.data;
  const std::size_t pad = start % 32;
  if (target == nullptr || p[1] > (b.settings.ext ? 0 : 1) || end < start || end >= target->size() ||
      p.size() != 32 + pad + (end - start + 1) + 16) {
    trace(b, "  bad program request");
    return setStatus(b, kErrWrite);
  }
  if (b.settings.programStatus != kOk) return setStatus(b, static_cast<std::uint8_t>(b.settings.programStatus));
  const bool flash = target == &b.flash;
  for (unsigned a = start; a <= end; ++a) {
    std::uint8_t value = p[32 + pad + (a - start)];
    if (flash && static_cast<long>(a) == b.settings.corruptAddress) value = static_cast<std::uint8_t>(~value);
    (*target)[a] = value;
  }
  if (flash) saveFlash(b);
  if (flash && b.settings.crc && end + 1 == b.flash.size() && b.flash.size() >= 2) checkCrc(b);
  setStatus(b, kOk);
}

void erase(Board& b, unsigned from, unsigned count) {
  for (unsigned a = from; a < from + count && a < b.flash.size(); ++a) b.flash[a] = 0xFF;
  if (b.settings.stuckAddress >= 0 && static_cast<std::size_t>(b.settings.stuckAddress) < b.flash.size()) {
    b.flash[static_cast<std::size_t>(b.settings.stuckAddress)] = 0x00;
  }
  saveFlash(b);
}

// The extended command set: units selected by 06 03 MM PP; 01 80 00 00
// erases the unit, 01 00 ... programs it, 03 00 / 03 80 read and blank-check
// it; special bytes are bytes of units 3 to 6.
void downloadExt(Board& b, const std::vector<std::uint8_t>& p) {
  if (p[0] == 0x06 && p.size() == 4 && p[1] == 0x03) {
    b.unit = p[2];
    return setStatus(b, unitMemory(b) != nullptr ? kOk : kErrTarget);
  }
  std::vector<std::uint8_t>* memory = unitMemory(b);
  if (memory == nullptr) return setStatus(b, kErrTarget);
  if (p[0] == 0x01 && p.size() == 4 && p[1] == 0x80) {
    std::fill(memory->begin(), memory->end(), 0xFF);
    trace(b, "  unit " + std::to_string(b.unit) + " erased");
    if (memory == &b.flash) saveFlash(b);
    return setStatus(b, kOk);
  }
  if (p[0] == 0x01) {
    program(b, p);
    if (b.unit == 3 && p.size() > 33 && p[2] == 0 && p[3] == 0 && p[4] == 0 && p[5] == 0) {
      trace(b, "  mode " + hexBytes(p.data() + 32, 1));
    }
    return;
  }
  if (p[0] == 0x03 && p.size() == 6 && (p[1] == 0x00 || p[1] == 0x80)) {
    const unsigned start = static_cast<unsigned>(p[2] << 8 | p[3]);
    const unsigned end = static_cast<unsigned>(p[4] << 8 | p[5]);
    if (end < start || end >= memory->size()) return setStatus(b, kErrTarget);
    if (p[1] == 0x00) {
      offerUpload(b, std::vector<std::uint8_t>(memory->begin() + start, memory->begin() + end + 1));
      return setStatus(b, kOk);
    }
    if (b.settings.blankStatus != kOk) return setStatus(b, static_cast<std::uint8_t>(b.settings.blankStatus));
    for (unsigned a = start; a <= end; ++a) {
      if ((*memory)[a] != 0xFF) {
        offerUpload(b, {static_cast<std::uint8_t>(a >> 8), static_cast<std::uint8_t>(a & 0xFF)});
        return setStatus(b, kErrCheckErased);
      }
    }
    return setStatus(b, kOk);
  }
  if (p[0] == 0x04 && p.size() == 4 && p[1] == 0x01 && p[2] == 0x05) {
    b.units[4][5] = p[3];
    trace(b, "  security byte " + hexBytes(p.data() + 3, 1));
    return setStatus(b, kOk);
  }
  return setStatus(b, kErrTarget);
}

void download(Board& b, const std::vector<std::uint8_t>& p) {
  b.haveUpload = false;
  if (p.empty()) {
    trace(b, "  end of download");
    return setStatus(b, kOk);
  }
  const unsigned word = p.size() >= 3 ? static_cast<unsigned>(p[1] << 8 | p[2]) : 0xFFFF;
  if (b.settings.ext) return downloadExt(b, p);
  switch (p[0]) {
    case 0x01: return program(b, p);
    case 0x03: {
      if (p.size() != 6) return setStatus(b, kErrTarget);
      const unsigned start = static_cast<unsigned>(p[2] << 8 | p[3]);
      const unsigned end = static_cast<unsigned>(p[4] << 8 | p[5]);
      if (p[1] == 0x01) {
        if (b.settings.blankStatus != kOk) return setStatus(b, static_cast<std::uint8_t>(b.settings.blankStatus));
        for (unsigned a = start; a <= end && a < b.flash.size(); ++a) {
          if (b.flash[a] != 0xFF) {
            offerUpload(b, {static_cast<std::uint8_t>(a >> 8), static_cast<std::uint8_t>(a & 0xFF)});
            return setStatus(b, kErrCheckErased);
          }
        }
        return setStatus(b, kOk);
      }
      const std::vector<std::uint8_t>& memory = p[1] == 0x00 ? b.flash : b.data;
      if ((p[1] != 0x00 && p[1] != 0x02) || end < start || end >= memory.size()) return setStatus(b, kErrTarget);
      offerUpload(b, std::vector<std::uint8_t>(memory.begin() + start, memory.begin() + end + 1));
      return setStatus(b, kOk);
    }
    case 0x04:
      if (p.size() == 3 && p[1] == 0x00) {
        if (p[2] == 0xFF) {
          if (b.settings.eraseStatus != kOk) return setStatus(b, static_cast<std::uint8_t>(b.settings.eraseStatus));
          trace(b, "  flash erased");
          erase(b, 0, static_cast<unsigned>(b.flash.size()));
        } else {
          erase(b, static_cast<unsigned>(p[2]) << 8, 0x2000);
        }
        return setStatus(b, kOk);
      }
      if (p[1] == 0x03 && p.size() == 3 && (p[2] == 0x00 || p[2] == 0xFF)) {
        trace(b, p[2] == 0x00 ? "  start application by reset" : "  start application by reset of all");
        return setStatus(b, kOk);
      }
      if (p[1] == 0x03 && p.size() == 5 && p[2] == 0x01) {
        trace(b, "  start application at " + hexBytes(p.data() + 3, 2));
        return setStatus(b, kOk);
      }
      if (p.size() == 4 && b.special.count(word) != 0) {
        b.special[word] = p[3];
        if (word == 0x0105) trace(b, "  security byte " + hexBytes(p.data() + 3, 1));
        return setStatus(b, kOk);
      }
      return setStatus(b, kErrTarget);
    case 0x05:
      if (p.size() == 3 && b.special.count(word) != 0) {
        offerUpload(b, {b.special[word]});
        return setStatus(b, kOk);
      }
      return setStatus(b, kErrTarget);
    case 0x06: return setStatus(b, kOk);
    default: return setStatus(b, kErrTarget);
  }
}

int usbWrite(Board& b, const char* setupText, const char* payloadText) {
  Setup setup;
  std::vector<std::uint8_t> payload;
  if (!b.open || !parseSetup(setupText, setup) || payloadText == nullptr || !parseHex(payloadText, payload) ||
      payload.size() != setup.length || setup.index != 0x0004) {
    return 1;
  }
  if (setup.request == 0x2101) {
    char block[32];
    std::snprintf(block, sizeof block, "  block %04X command ", setup.value);
    trace(b, block + commandText(payload));
    if (payload.size() > 0 && payload[0] == 0x01 && b.settings.refuseProgram) {
      trace(b, "  program request refused");
      return 1;
    }
    download(b, payload);
  }
  return 0;
}

int usbRead(Board& b, std::uint8_t* buffer, int length, const char* setupText, std::string& answer) {
  Setup setup;
  if (!b.open || buffer == nullptr || length < 0 || !parseSetup(setupText, setup) ||
      setup.length != static_cast<unsigned>(length)) {
    return -1;
  }
  if (setup.request == 0xA103) {
    std::uint8_t reply[6] = {b.status, 0x05, 0x00, 0x00, kStateIdle, 0x00};
    if (b.settings.neverIdle) {
      reply[4] = kStateError;
    } else if (b.busyLeft > 0) {
      --b.busyLeft;
      reply[0] = kOk;
      reply[4] = kStateBusy;
    }
    const int count = std::min(length, b.settings.shortStatus ? 4 : 6);
    std::memcpy(buffer, reply, static_cast<std::size_t>(count));
    answer = hexBytes(buffer, static_cast<std::size_t>(count));
    return count;
  }
  if (setup.request == 0xA102) {
    if (!b.haveUpload) return -1;
    const std::size_t count = std::min(b.upload.size(), static_cast<std::size_t>(length));
    std::memcpy(buffer, b.upload.data(), count);
    b.haveUpload = false;
    answer = hexBytes(buffer, std::min<std::size_t>(count, 16)) + (count > 16 ? "..." : "");
    return static_cast<int>(count);
  }
  return -1;
}

int lineCall(const char* name) {
  std::lock_guard<std::mutex> lock(g_mutex);
  trace(board(), std::string(name) + " = 0");
  return 0;
}

}  // namespace

LINK_API int Open(int mode, ...) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Board& b = board();
  std::string args;
  unsigned first = 0;
  // Mode 0 is a serial port name or a CAN value: nothing is read for it.
  if (mode != 0) {
    va_list ap;
    va_start(ap, mode);
    first = va_arg(ap, unsigned);
    va_end(ap);
    char text[16];
    std::snprintf(text, sizeof text, " %X", first);
    args = text;
  }
  int result = 0;
  if (mode != OV_LINK_MODE_USB) {
    result = 0;
  } else if (b.opensRefused < b.settings.refuseOpens) {
    ++b.opensRefused;
    result = 1;
  } else {
    b.open = true;
  }
  trace(b, "Open " + std::to_string(mode) + args + " = " + std::to_string(result));
  return result;
}

LINK_API int Write(int mode, ...) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Board& b = board();
  va_list ap;
  va_start(ap, mode);
  int result = 1;
  if (mode == OV_LINK_MODE_USB) {
    const char* setup = va_arg(ap, const char*);
    const char* payload = va_arg(ap, const char*);
    const int ms = va_arg(ap, int);
    trace(b, std::string("Write 1 ") + (setup ? setup : "(null)") + " " + (payload ? payload : "(null)") + " " +
                 std::to_string(ms));
    result = usbWrite(b, setup, payload);
  } else {
    const char* frame = va_arg(ap, const char*);
    trace(b, "Write " + std::to_string(mode) + " " + (frame ? frame : "(null)"));
  }
  va_end(ap);
  trace(b, "  = " + std::to_string(result));
  return result;
}

LINK_API int Read(int mode, ...) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Board& b = board();
  va_list ap;
  va_start(ap, mode);
  int result = 1;
  if (mode == OV_LINK_MODE_USB) {
    auto* buffer = va_arg(ap, std::uint8_t*);
    const int length = va_arg(ap, int);
    const char* setup = va_arg(ap, const char*);
    const int ms = va_arg(ap, int);
    std::string answer;
    result = usbRead(b, buffer, length, setup, answer);
    trace(b, "Read 1 " + std::to_string(length) + " " + (setup ? setup : "(null)") + " " + std::to_string(ms) +
                 " = " + std::to_string(result) + (answer.empty() ? "" : " " + answer));
  } else if (mode == OV_LINK_MODE_CAN_READ) {
    auto* message = va_arg(ap, OvLinkCanMessage*);
    if (b.settings.canLength >= 0 && message != nullptr) {
      std::memset(message, 0, sizeof *message);
      message->id = 0x123;
      message->length = static_cast<std::uint8_t>(b.settings.canLength);
      result = 0;
    }
    trace(b, "Read 2 = " + std::to_string(result));
  } else {
    // Not a serial link: an empty text and a failure.
    char* buffer = va_arg(ap, char*);
    if (buffer != nullptr) buffer[0] = '\0';
    trace(b, "Read " + std::to_string(mode) + " = 1");
  }
  va_end(ap);
  return result;
}

LINK_API int Close(int mode, ...) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Board& b = board();
  b.open = false;
  trace(b, "Close " + std::to_string(mode));
  return 0;
}

LINK_API int UpdateRxFilter(int mode, ...) {
  std::lock_guard<std::mutex> lock(g_mutex);
  va_list ap;
  va_start(ap, mode);
  const int cris = va_arg(ap, int);
  va_end(ap);
  trace(board(), "UpdateRxFilter " + std::to_string(mode) + " " + std::to_string(cris) + " = 0");
  return 0;
}

LINK_API int ClearDtr(void) { return lineCall("ClearDtr"); }
LINK_API int SetDtr(void) { return lineCall("SetDtr"); }
LINK_API int ClearRts(void) { return lineCall("ClearRts"); }
LINK_API int SetRts(void) { return lineCall("SetRts"); }

// ---- Control of the simulation -------------------------------------------

// A fresh board with the default settings, then `settings` applied.
LINK_API void ovusbdfu_sim_reset(const char* settings) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Board& b = board();
  resetBoard(b);
  if (settings != nullptr) {
    applySettings(b.settings, settings);
    shapeBoard(b);
    b.special[0x0000] = b.settings.bootloader;
    b.special[0x0105] = b.settings.security;
    b.special[0x0200] = b.settings.hardware;
  }
}

// The calls since the last reset, one line each; valid until the next call.
LINK_API const char* ovusbdfu_sim_trace(void) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Board& b = board();
  b.traceCopy = b.trace;
  return b.traceCopy.c_str();
}

// Copies `count` bytes of memory 0 (flash) or 1 (data) from `address`; the
// number copied.
LINK_API int ovusbdfu_sim_memory(int memory, unsigned address, unsigned char* out, int count) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Board& b = board();
  static const std::vector<std::uint8_t> kNone;
  const auto unit = b.units.find(memory);
  const std::vector<std::uint8_t>& m = memory == 0 ? b.flash : memory == 1 ? b.data : unit != b.units.end() ? unit->second : kNone;
  if (out == nullptr || count < 0 || address >= m.size()) return 0;
  const std::size_t n = std::min(static_cast<std::size_t>(count), m.size() - address);
  std::memcpy(out, m.data() + address, n);
  return static_cast<int>(n);
}

// A special byte by its two command bytes (0x0200 the hardware byte); -1
// when the board has no such byte.
LINK_API int ovusbdfu_sim_special(unsigned code) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Board& b = board();
  auto it = b.special.find(code);
  return it == b.special.end() ? -1 : it->second;
}

// Whether the last program that reached the flash's end found the CRC in
// its last two bytes good (crc=1).
LINK_API int ovusbdfu_sim_crc_valid(void) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return board().crcValid ? 1 : 0;
}

// A target's RS-232 bootloader on a pseudo-terminal: it takes Intel HEX
// records as the programming library sends them, echoes each one and
// answers as the bootloader would.
//
// Framing of the answers (the echo is the record as received):
//   one-line command   echo, the answer ("." done, "VV." a value, "X"
//                      checksum error, "P" write-protected, "L" read/write-
//                      protected), CR
//   display            echo, LF, then per line "AAAA=", the data pairs, CR
//   blank check fail   echo, LF, the first offset that is not blank, CR
//   autobaud "U"       "U", from the configured try on
//   start application  nothing
//
// Settings, "key=value" separated by ';' (numbers decimal unless said):
//   flash, data, memory2  sizes of memories 0, 1, 2 (65536, 2048, 65536)
//   line                  data bytes per display line (16)
//   crc=1                 devices 13 and 21: display code 03 is the flash,
//                         and a write of the flash's last byte checks the
//                         CRC in its last two bytes
//   paged=1               device 24: memory and 64 KB page by records
//                         ":02000004MM00" and ":02000002S000"
//   sync=N                the N-th "U" is the first answered (1)
//   version, hardware     bootloader version and hardware byte (hex; 12, FF)
//   corrupt=N             the N-th record arrives with one digit changed
//   silent=1              nothing is ever answered
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/pty.h"

namespace sim {

class Rs232Boot {
 public:
  // `trace_path` (optional) gets every record and answer appended.
  explicit Rs232Boot(const std::string& settings = "", std::string trace_path = "");
  ~Rs232Boot();
  Rs232Boot(const Rs232Boot&) = delete;
  Rs232Boot& operator=(const Rs232Boot&) = delete;

  // Opens the pseudo-terminal and serves it in a thread.
  bool start();
  void stop();
  const std::string& slave_path() const { return pty_.slave_path(); }
  int slave_fd() const { return pty_.slave(); }

  // Copies of the state, safe while serving.
  std::vector<std::uint8_t> memory(int number) const;
  void set_memory(int number, std::uint32_t address, const std::vector<std::uint8_t>& bytes);
  int security_level() const;
  int sync_tries() const;
  int records() const;
  // Whether the last write of the flash's last byte found a matching CRC.
  bool crc_valid() const;
  std::string trace() const;

 private:
  struct Options {
    std::uint32_t sizes[3] = {65536, 2048, 65536};
    std::uint32_t line = 16;
    bool crc = false;
    bool paged = false;
    int sync = 1;
    std::uint8_t version = 0x12;
    std::uint8_t hardware = 0xFF;
    int corrupt = 0;
    bool silent = false;
  };

  void serve();
  void take(std::uint8_t byte);
  void handle(std::string text);
  std::string execute(const std::string& echo, const std::vector<std::uint8_t>& bytes);
  std::string display(const std::string& echo, int memory, std::uint32_t start, std::uint32_t end);
  std::string blank_check(const std::string& echo, int memory, std::uint32_t start, std::uint32_t end);
  std::string write_data(int memory, std::uint32_t address, const std::uint8_t* data, std::size_t count);
  void send(const std::string& text);
  void log(const std::string& line);

  Options settings_;
  std::string trace_path_;
  Pty pty_;
  std::thread thread_;
  std::atomic<bool> running_{false};
  mutable std::mutex mutex_;
  std::vector<std::uint8_t> memories_[3];
  std::map<unsigned, std::uint8_t> special_;
  std::string record_;
  int selected_memory_ = 0;
  std::uint32_t page_base_ = 0;
  int security_ = 0;
  int sync_tries_ = 0;
  int records_ = 0;
  bool crc_valid_ = false;
  std::string trace_;
};

}  // namespace sim

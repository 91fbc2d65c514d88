// The output stage every decoder writes through: a work buffer, the CRC-32 of
// the delivered bytes, the cap at the item's size, the check for far more
// output than declared, text-mode line ends, and delivery to a file, a memory
// block or the host.  One stage serves one item.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "ziplib/decode.h"

namespace ziplib {

enum class OutputMode {
  kTest,    // decode and check only
  kFile,    // write_file
  kMemory,  // into `block`, or without one to `host` (extraction of one named item)
  kHost,    // every byte to `host` (the host also supplies the item)
};

// Host delivery: the bytes and their position in the item; answers 3 to go
// on, anything else stops the item.
using HostDelivery = std::function<int(const uint8_t* data, size_t n, uint64_t position)>;

constexpr size_t kWorkBufferSize = 61440;
constexpr size_t kSmallWorkBufferSize = 8192;  // extraction to memory or the host
constexpr uint64_t kOverrunMargin = 1000;

struct OutputSettings {
  OutputMode mode = OutputMode::kTest;
  uint64_t item_size = 0;  // uncompressed size; output past it is dropped
  bool text_mode = false;  // files only: each LF written as CR LF
  size_t work_size = kWorkBufferSize;
  std::function<bool(const uint8_t* data, size_t n)> write_file;
  uint8_t* block = nullptr;  // memory mode
  uint64_t block_size = 0;
  uint64_t start_offset = 0;  // memory mode: item bytes before this are skipped
  HostDelivery host;
  // Called with the bytes decoded so far at each delivery; true cancels.
  std::function<bool(uint64_t produced)> progress;
};

enum class OutputStop {
  kNone,
  kBlockFull,    // the memory block is full: the item ends without error
  kHostEnded,    // the host answered other than "go on"
  kWriteFailed,  // a file write failed or wrote nothing
  kCancelled,
  kOverrun,      // output ran more than kOverrunMargin past the item's size
};

class OutputStage : public ByteSink {
 public:
  explicit OutputStage(OutputSettings settings);
  ~OutputStage() override;

  bool put(const uint8_t* data, size_t n) override;
  // Delivers what the work buffer still holds; false when delivery stopped.
  bool finish();
  // Stops delivery as cancelled (a prompt or the host asked to).
  void cancel();

  const OutputSettings& settings() const { return s_; }
  OutputStop stop() const { return stop_; }
  uint64_t produced() const { return produced_; }    // bytes the decoder gave
  uint64_t delivered() const { return delivered_; }  // bytes taken, capped at the item size
  uint64_t in_memory() const { return in_memory_; }  // bytes placed in the block or given to the host
  uint32_t crc() const { return ~crc_; }

 private:
  bool deliver(const uint8_t* data, size_t n);

  OutputSettings s_;
  std::unique_ptr<uint8_t[]> work_;
  size_t fill_ = 0;
  uint64_t produced_ = 0;
  uint64_t passed_ = 0;  // bytes handed to delivery, before the cap
  uint64_t delivered_ = 0;
  uint64_t in_memory_ = 0;
  uint32_t crc_ = 0xFFFFFFFFu;
  OutputStop stop_ = OutputStop::kNone;
};

struct ItemParams {
  int method = 0;          // compression method of the local header
  uint16_t flags = 0;      // general purpose bit flag
  uint32_t crc = 0;        // stored CRC-32
  bool host_input = false; // the host supplies the item; its end of data ends the item
};

// Decodes one item through `out` (whose settings hold the item's size and
// target) and checks its CRC.  Returns a DecodeResult.
int decode_item(const ItemParams& item, ByteSource& in, OutputStage& out);

}  // namespace ziplib

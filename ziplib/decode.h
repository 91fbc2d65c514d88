// Decoder interface of the ZIP library's extraction side: where compressed
// bytes come from, where decoded bytes go, and the result codes the decoders
// and the per-item decode report.  The archive reader (decryption, spanned
// disks) plugs in as a ByteSource and the output stage as a ByteSink, so tests
// and fuzz targets drive the same decoders with memory buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace ziplib {

// Item results, numbered as the extraction call reports them to the host.
enum DecodeResult : int {
  kDecodeOk = 0,
  kDecodeBadData = 2,        // "Unexpected end of zip file"
  kDecodeOverrun = 3,        // "Zip file structure invalid": far more output than declared
  kDecodeNoMemory = 5,       // "Out of memory"
  kDecodeBadCrc = 39,        // "Bad CRC"
  kDecodeUnknownMethod = 42, // "File skipped, unknown compression method"
  kDecodeCancelled = 48,     // "User cancelled this operation"
  kDecodeWriteFailed = 50,   // "Disk full"
};

// What a single decoder reports.  The per-item decode turns these into a
// DecodeResult.
enum class CodecResult : int {
  kOk = 0,
  kBadCode = 1,       // invalid code, bad stored length, incomplete or over-full table
  kBadBlockType = 2,  // Deflate block type 3
  kNoMemory = 3,
  kBadTree = 4,       // explode: tree description with too many or too few lengths
  kInputLeft = 5,     // explode: output complete but compressed bytes remain
  kInputEnded = 6,    // the compressed data ended before the item did
  kStopped = 7,       // the sink refused more output (full, failed or cancelled)
};

// Source of an item's compressed bytes.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // The next run of input, valid until the following call; empty once the
  // item's compressed data is exhausted (and on every later call).
  virtual std::span<const uint8_t> next() = 0;
  // True when the input ended because the operation was cancelled.
  virtual bool cancelled() const { return false; }
};

// Destination of decoded bytes.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Takes n decoded bytes.  False asks the decoder to stop; the sink knows why.
  virtual bool put(const uint8_t* data, size_t n) = 0;
};

// A memory buffer handed out in runs of at most `chunk` bytes (0: all at
// once), so that tests can exercise every refill boundary.
class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::span<const uint8_t> data, size_t chunk = 0)
      : data_(data), chunk_(chunk) {}
  std::span<const uint8_t> next() override;

 private:
  std::span<const uint8_t> data_;
  size_t chunk_;
  size_t pos_ = 0;
};

// Collects everything into a vector, up to an optional limit (0: none) after
// which it refuses more.
class VectorSink : public ByteSink {
 public:
  explicit VectorSink(size_t limit = 0) : limit_(limit) {}
  bool put(const uint8_t* data, size_t n) override;
  std::vector<uint8_t> bytes;

 private:
  size_t limit_;
};

// The decoders.  Each decodes one item's data from `in` into `out`; the
// history window belongs to the call, so nothing of an earlier item is seen.

// Deflate (32 KiB window) or, with deflate64, the 64 KiB variant.
CodecResult inflate(ByteSource& in, ByteSink& out, bool deflate64);

// Imploded data.  `flags` is the item's general purpose bit flag (bit 1: 8 KiB
// window, bit 2: literal tree).  `size` bytes are produced.  With host_input
// the end of the host's data completes the item.
CodecResult explode(ByteSource& in, ByteSink& out, uint16_t flags, uint64_t size,
                    bool host_input = false);

// Reduced data with compression factor 1 to 4 (method - 1).
CodecResult unreduce(ByteSource& in, ByteSink& out, int factor, uint64_t size,
                     bool host_input = false);

// Shrunk data (dynamic LZW, 9 to 13 bit codes).
CodecResult unshrink(ByteSource& in, ByteSink& out, uint64_t size);

}  // namespace ziplib

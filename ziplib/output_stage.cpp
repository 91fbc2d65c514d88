#include "ziplib/output_stage.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "ziplib/crc32.h"

namespace ziplib {

OutputStage::OutputStage(OutputSettings settings) : s_(std::move(settings)) {
  if (s_.work_size == 0) s_.work_size = kWorkBufferSize;
  // Only the bytes put in are ever delivered: the rest needs no filling.
  work_.reset(new uint8_t[s_.work_size]);
}

OutputStage::~OutputStage() = default;

void OutputStage::cancel() {
  if (stop_ == OutputStop::kNone) stop_ = OutputStop::kCancelled;
}

bool OutputStage::put(const uint8_t* data, size_t n) {
  if (stop_ != OutputStop::kNone) return false;
  produced_ += n;
  while (n > 0) {
    if (fill_ == 0 && n >= s_.work_size) {
      // A whole buffer's worth goes out without the copy.
      if (!deliver(data, s_.work_size)) return false;
      data += s_.work_size;
      n -= s_.work_size;
      continue;
    }
    size_t k = std::min(n, s_.work_size - fill_);
    std::memcpy(work_.get() + fill_, data, k);
    fill_ += k;
    data += k;
    n -= k;
    if (fill_ == s_.work_size) {
      fill_ = 0;
      if (!deliver(work_.get(), s_.work_size)) return false;
    }
  }
  return true;
}

bool OutputStage::finish() {
  if (stop_ != OutputStop::kNone) return false;
  size_t n = fill_;
  fill_ = 0;
  return n == 0 || deliver(work_.get(), n);
}

bool OutputStage::deliver(const uint8_t* data, size_t n) {
  passed_ += n;
  if (s_.mode == OutputMode::kTest || s_.mode == OutputMode::kFile) {
    // A memory block bounds itself; the host's items have no trusted size.
    if (passed_ > s_.item_size + kOverrunMargin) {
      stop_ = OutputStop::kOverrun;
      return false;
    }
  }
  if (s_.progress && s_.mode != OutputMode::kHost && s_.progress(passed_)) {
    stop_ = OutputStop::kCancelled;
    return false;
  }
  if (s_.mode != OutputMode::kHost) {
    // Never more than the item holds.
    uint64_t room = s_.item_size > delivered_ ? s_.item_size - delivered_ : 0;
    if (n > room) n = size_t(room);
  }
  if (n == 0) return true;
  const uint64_t position = delivered_;
  crc_ = crc32_update(crc_, data, n);
  delivered_ += n;

  switch (s_.mode) {
    case OutputMode::kTest:
      return true;
    case OutputMode::kFile: {
      bool ok;
      if (!s_.text_mode) {
        ok = s_.write_file && s_.write_file(data, n);
      } else {
        std::vector<uint8_t> text;
        text.reserve(n + n / 8 + 16);
        for (size_t i = 0; i < n; ++i) {
          if (data[i] == '\n') text.push_back('\r');
          text.push_back(data[i]);
        }
        ok = s_.write_file && s_.write_file(text.data(), text.size());
      }
      if (!ok) stop_ = OutputStop::kWriteFailed;
      return ok;
    }
    case OutputMode::kMemory: {
      // The part of [position, position + n) that lies in the window
      // [start_offset, start_offset + block_size).
      uint64_t from = std::max(position, s_.start_offset);
      uint64_t to = std::min(position + n, s_.start_offset + s_.block_size);
      if (from < to) {
        const uint8_t* p = data + (from - position);
        size_t k = size_t(to - from);
        if (s_.block) {
          std::memcpy(s_.block + (from - s_.start_offset), p, k);
        } else if (!s_.host || s_.host(p, k, from - s_.start_offset) != 3) {
          stop_ = OutputStop::kHostEnded;
          return false;
        }
        in_memory_ += k;
      }
      if (position + n > s_.start_offset + s_.block_size) {
        stop_ = OutputStop::kBlockFull;
        return false;
      }
      return true;
    }
    case OutputMode::kHost:
      if (!s_.host || s_.host(data, n, position) != 3) {
        stop_ = OutputStop::kHostEnded;
        return false;
      }
      in_memory_ += n;
      return true;
  }
  return false;
}

namespace {

CodecResult copy_stored(ByteSource& in, ByteSink& out) {
  for (;;) {
    std::span<const uint8_t> run = in.next();
    if (run.empty()) return CodecResult::kOk;
    if (!out.put(run.data(), run.size())) return CodecResult::kStopped;
  }
}

int stop_result(OutputStop stop) {
  switch (stop) {
    case OutputStop::kOverrun: return kDecodeOverrun;
    case OutputStop::kCancelled: return kDecodeCancelled;
    case OutputStop::kWriteFailed: return kDecodeWriteFailed;
    case OutputStop::kHostEnded: return kDecodeBadData;
    case OutputStop::kBlockFull:
    case OutputStop::kNone: break;
  }
  return kDecodeOk;
}

}  // namespace

int decode_item(const ItemParams& item, ByteSource& in, OutputStage& out) {
  const OutputSettings& s = out.settings();
  const uint64_t size = s.item_size;
  CodecResult r;
  switch (item.method) {
    case 0: r = copy_stored(in, out); break;
    case 1: r = unshrink(in, out, size); break;
    case 2: case 3: case 4: case 5:
      r = unreduce(in, out, item.method - 1, size, item.host_input);
      break;
    case 6: r = explode(in, out, item.flags, size, item.host_input); break;
    case 8: r = inflate(in, out, false); break;
    case 9: r = inflate(in, out, true); break;
    default: return kDecodeUnknownMethod;
  }

  if (in.cancelled()) out.cancel();
  if (int stopped = stop_result(out.stop())) return stopped;

  switch (r) {
    case CodecResult::kOk:
    case CodecResult::kInputLeft:
    case CodecResult::kStopped:
      break;
    case CodecResult::kNoMemory:
      return kDecodeNoMemory;
    case CodecResult::kInputEnded:
      // The host ending its data ends the item; anywhere else the item is cut short.
      if (!item.host_input) return kDecodeBadData;
      break;
    default:
      return kDecodeBadData;
  }

  if (out.stop() == OutputStop::kNone && !out.finish())
    if (int stopped = stop_result(out.stop())) return stopped;

  if (s.mode == OutputMode::kHost) return kDecodeOk;
  if (s.mode == OutputMode::kMemory &&
      (s.start_offset != 0 || s.block_size < size || out.stop() == OutputStop::kBlockFull))
    return kDecodeOk;
  return out.crc() == item.crc ? kDecodeOk : kDecodeBadCrc;
}

}  // namespace ziplib

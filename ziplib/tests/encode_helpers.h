// Shared by the compressor tests: run an encoder over a byte string into a
// scratch file, inflate with zlib, and wrap streams as one-entry archives for
// the outside checkers.
#pragma once

#include "ziplib/deflate.h"
#include "ziplib/zip_state.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace ziptest {

struct MemoryInput {
  const std::string* data;
  std::size_t pos = 0;
  std::size_t max_read = SIZE_MAX;  // to feed the encoder in small pieces
};

inline std::size_t read_memory(unsigned char* buf, std::size_t size, ziplib::ZipState& s) {
  auto* in = static_cast<MemoryInput*>(s.reader_context);
  std::size_t n = std::min<std::size_t>({size, in->data->size() - in->pos, in->max_read});
  std::copy_n(in->data->data() + in->pos, n, buf);
  in->pos += n;
  return n;
}

struct Encoded {
  std::string bytes;
  std::uint16_t method = 0;
  std::uint16_t flags = 0;
  std::uint16_t attr = 0xFFFF;
  std::uint64_t size = 0;
  int error = 0;
};

// Reads a whole descriptor from the start.
inline std::string slurp(std::FILE* f) {
  std::string out;
  std::rewind(f);
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  return out;
}

// Encodes into a seekable scratch file, as an archive on one volume.  The
// state may be prepared by the caller (password, output kind).
inline Encoded encode(ziplib::ZipState& s, const std::string& data, int level, bool d64,
                      std::size_t max_read = SIZE_MAX) {
  MemoryInput in{&data, 0, max_read};
  s.reader = read_memory;
  s.reader_context = &in;
  std::FILE* f = nullptr;
  if (!s.memory_output) {
    f = std::tmpfile();
    s.out_fd = fileno(f);
    // A split archive is written to its current part.
    if ((s.multi_vol & ziplib::kMvMulti) && (s.multi_vol & ziplib::kMvSplit)) s.temp_fd = s.out_fd;
  }
  Encoded e;
  e.method = d64 ? 9 : 8;
  if (d64) {
    ziplib::zipDeflate64Start(s, level, &e.flags);
    ziplib::zipTrees64Start(s, &e.attr, &e.method);
    e.size = ziplib::zipDeflate64(s);
  } else {
    ziplib::zipDeflateStart(s, level, &e.flags);
    ziplib::zipTreesStart(s, &e.attr, &e.method);
    e.size = ziplib::zipDeflate(s);
  }
  e.error = s.error;
  if (f) {
    e.bytes = slurp(f);
    std::fclose(f);
    s.out_fd = -1;
    s.temp_fd = -1;
  }
  return e;
}

inline Encoded encode(const std::string& data, int level, bool d64 = false) {
  ziplib::ZipState s;
  return encode(s, data, level, d64);
}

// zlib raw inflate; false on any error or trailing garbage.
inline bool inflate_raw(const std::string& in, std::string* out) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  out->clear();
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(in.size());
  char buf[65536];
  int rc;
  do {
    z.next_out = reinterpret_cast<Bytef*>(buf);
    z.avail_out = sizeof buf;
    rc = inflate(&z, Z_NO_FLUSH);
    out->append(buf, sizeof buf - z.avail_out);
  } while (rc == Z_OK);
  const bool ok = rc == Z_STREAM_END && z.avail_in == 0;
  inflateEnd(&z);
  return ok;
}

inline std::uint32_t crc_of(const std::string& d) {
  return static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(d.data()), static_cast<uInt>(d.size())));
}

struct ArchiveEntry {
  std::string name;
  std::uint16_t method;
  std::uint16_t flags;
  std::string data;  // as stored (compressed, maybe encrypted)
  std::uint32_t crc;
  std::uint32_t size;
  std::uint16_t dos_time = 0x6000;
  std::uint16_t dos_date = 0x5A21;
};

inline void put16(std::string& o, unsigned v) {
  o += static_cast<char>(v & 0xFF);
  o += static_cast<char>((v >> 8) & 0xFF);
}
inline void put32(std::string& o, std::uint32_t v) {
  put16(o, v & 0xFFFF);
  put16(o, v >> 16);
}

// A plain single-volume archive of the given entries.
inline std::string build_zip(const std::vector<ArchiveEntry>& entries) {
  std::string out, central;
  for (const ArchiveEntry& e : entries) {
    const std::uint32_t offset = static_cast<std::uint32_t>(out.size());
    const unsigned needed = e.method == 9 ? 21 : 20;
    put32(out, 0x04034B50);
    put16(out, needed);
    put16(out, e.flags);
    put16(out, e.method);
    put16(out, e.dos_time);
    put16(out, e.dos_date);
    put32(out, e.crc);
    put32(out, static_cast<std::uint32_t>(e.data.size()));
    put32(out, e.size);
    put16(out, static_cast<unsigned>(e.name.size()));
    put16(out, 0);
    out += e.name;
    out += e.data;
    put32(central, 0x02014B50);
    put16(central, needed);
    put16(central, needed);
    put16(central, e.flags);
    put16(central, e.method);
    put16(central, e.dos_time);
    put16(central, e.dos_date);
    put32(central, e.crc);
    put32(central, static_cast<std::uint32_t>(e.data.size()));
    put32(central, e.size);
    put16(central, static_cast<unsigned>(e.name.size()));
    put16(central, 0);
    put16(central, 0);
    put16(central, 0);
    put16(central, 0);
    put32(central, 0);
    put32(central, offset);
    central += e.name;
  }
  const std::uint32_t cd_offset = static_cast<std::uint32_t>(out.size());
  out += central;
  put32(out, 0x06054B50);
  put16(out, 0);
  put16(out, 0);
  put16(out, static_cast<unsigned>(entries.size()));
  put16(out, static_cast<unsigned>(entries.size()));
  put32(out, static_cast<std::uint32_t>(central.size()));
  put32(out, cd_offset);
  put16(out, 0);
  return out;
}

// Runs a shell command; its exit status and combined output.
inline int run(const std::string& cmd, std::string* output = nullptr) {
  std::FILE* p = ::popen((cmd + " 2>&1").c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  std::string out;
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int rc = ::pclose(p);
  if (output) *output = out;
  return rc;
}

}  // namespace ziptest

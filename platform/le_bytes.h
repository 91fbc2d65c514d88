// Little-endian fields of stored records, read and written byte by byte so
// that no record is ever laid over raw bytes.  Callers check lengths first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace platform {

inline std::uint8_t get_u8(const std::uint8_t* p) { return p[0]; }
inline std::uint16_t get_u16le(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::int16_t get_s16le(const std::uint8_t* p) {
  return static_cast<std::int16_t>(get_u16le(p));
}
inline std::uint32_t get_u32le(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::int32_t get_s32le(const std::uint8_t* p) {
  return static_cast<std::int32_t>(get_u32le(p));
}

inline void put_u8(std::uint8_t* p, std::uint8_t v) { p[0] = v; }
inline void put_u16le(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put_s16le(std::uint8_t* p, std::int16_t v) {
  put_u16le(p, static_cast<std::uint16_t>(v));
}
inline void put_u32le(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void put_s32le(std::uint8_t* p, std::int32_t v) {
  put_u32le(p, static_cast<std::uint32_t>(v));
}

// Generic forms for records whose fields sit at odd offsets (packed structs,
// whose members cannot be bound to references): s.f = le_load<T>(p + off).
template <class T>
T le_load(const std::uint8_t* p) {
  static_assert(sizeof(T) <= 8);
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) v |= static_cast<std::uint64_t>(p[i]) << (8 * i);
  return static_cast<T>(v);
}
template <class T>
void le_store(std::uint8_t* p, T value) {
  static_assert(sizeof(T) <= 8);
  auto v = static_cast<std::uint64_t>(value);
  for (std::size_t i = 0; i < sizeof(T); ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Walks a byte image field by field.  Reading and writing a record share one
// list of fields: the same walk with a reader or a writer.
class LeReader {
 public:
  LeReader(const std::uint8_t* data, std::size_t size) : p_(data), size_(size) {}
  std::size_t pos() const { return pos_; }
  void field(std::uint8_t& v) { v = *take(1); }
  void field(std::int8_t& v) { v = static_cast<std::int8_t>(*take(1)); }
  void field(std::uint16_t& v) { v = get_u16le(take(2)); }
  void field(std::int16_t& v) { v = get_s16le(take(2)); }
  void field(std::uint32_t& v) { v = get_u32le(take(4)); }
  void field(std::int32_t& v) { v = get_s32le(take(4)); }
  template <std::size_t N>
  void field(char (&text)[N]) { std::memcpy(text, take(N), N); }
  template <std::size_t N>
  void field(std::uint8_t (&bytes)[N]) { std::memcpy(bytes, take(N), N); }
  template <class T, std::size_t N>
  void field(T (&arr)[N]) {
    for (auto& e : arr) field(e);
  }
  // A nested record: its own visit_fields(walker, record), found by ADL.
  template <class T>
  void field(T& rec) { visit_fields(*this, rec); }

 private:
  // An overrun is a programming fault (the caller sized the image), so it
  // stops the program rather than reading past the buffer.
  const std::uint8_t* take(std::size_t n) {
    if (n > size_ - pos_) __builtin_trap();
    const std::uint8_t* at = p_ + pos_;
    pos_ += n;
    return at;
  }
  const std::uint8_t* p_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

class LeWriter {
 public:
  LeWriter(std::uint8_t* data, std::size_t size) : p_(data), size_(size) {}
  std::size_t pos() const { return pos_; }
  void field(const std::uint8_t& v) { put_u8(take(1), v); }
  void field(const std::int8_t& v) { put_u8(take(1), static_cast<std::uint8_t>(v)); }
  void field(const std::uint16_t& v) { put_u16le(take(2), v); }
  void field(const std::int16_t& v) { put_s16le(take(2), v); }
  void field(const std::uint32_t& v) { put_u32le(take(4), v); }
  void field(const std::int32_t& v) { put_s32le(take(4), v); }
  template <std::size_t N>
  void field(const char (&text)[N]) { std::memcpy(take(N), text, N); }
  template <std::size_t N>
  void field(const std::uint8_t (&bytes)[N]) { std::memcpy(take(N), bytes, N); }
  template <class T, std::size_t N>
  void field(const T (&arr)[N]) {
    for (const auto& e : arr) field(e);
  }
  template <class T>
  void field(const T& rec) { visit_fields(*this, rec); }

 private:
  std::uint8_t* take(std::size_t n) {
    if (n > size_ - pos_) __builtin_trap();
    std::uint8_t* at = p_ + pos_;
    pos_ += n;
    return at;
  }
  std::uint8_t* p_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace platform

// Field-by-field copies between a record `s` of struct S and its stored
// bytes `in` (reading) or `out` (writing), as the calling function names
// them: numbers little-endian, byte arrays as they stand.
#define LE_LOAD_FIELD(S, f) s.f = platform::le_load<decltype(s.f)>(in + offsetof(S, f))
#define LE_STORE_FIELD(S, f) platform::le_store(out + offsetof(S, f), s.f)
#define LE_LOAD_BYTES(S, f) std::memcpy(s.f, in + offsetof(S, f), sizeof s.f)
#define LE_STORE_BYTES(S, f) std::memcpy(out + offsetof(S, f), s.f, sizeof s.f)

#include "ziplib/crc32.h"

#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#define ZIPLIB_CLMUL 1
#endif

namespace ziplib {
namespace {

constexpr std::uint32_t kPoly = 0xEDB88320u;

using Tables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr Tables make_tables() {
  Tables t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? kPoly ^ (c >> 1) : c >> 1;
    t[0][i] = c;
  }
  for (std::uint32_t i = 0; i < 256; ++i)
    for (int s = 1; s < 8; ++s) t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
  return t;
}

constexpr Tables kTables = make_tables();

}  // namespace

// The data are read as little-endian words.
std::uint32_t crc32_update_tables(std::uint32_t c, const std::uint8_t* p, std::size_t n) {
  while (n >= 8) {
    std::uint32_t lo, hi;
    std::memcpy(&lo, p, 4);
    std::memcpy(&hi, p + 4, 4);
    lo ^= c;
    c = kTables[7][lo & 0xFF] ^ kTables[6][(lo >> 8) & 0xFF] ^ kTables[5][(lo >> 16) & 0xFF] ^
        kTables[4][lo >> 24] ^ kTables[3][hi & 0xFF] ^ kTables[2][(hi >> 8) & 0xFF] ^
        kTables[1][(hi >> 16) & 0xFF] ^ kTables[0][hi >> 24];
    p += 8;
    n -= 8;
  }
  while (n--) c = kTables[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
  return c;
}

namespace {

#ifdef ZIPLIB_CLMUL

// Folding: a 128-bit lane A, loaded little-endian so that bit i stands for
// x^(127-i), lies D bits before the lane it is added to.  Its low half H and
// high half L are replaced by H * (x^(D+32) mod P) + L * (x^(D-32) mod P),
// which is congruent to A * x^D and again 128 bits wide.  Each constant is
// kept so that bit j stands for x^(32-j): the product of a 64-bit half with it
// then lands 32 places short, which the exponents above already make up.
constexpr std::uint64_t fold_constant(unsigned n) {
  std::uint32_t r = 1;  // x^n mod P, in the usual bit order (bit m = x^m)
  for (unsigned i = 0; i < n; ++i) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
  std::uint64_t k = 0;
  for (unsigned m = 0; m < 32; ++m)
    if ((r >> m) & 1) k |= std::uint64_t(1) << (32 - m);
  return k;
}

constexpr std::uint64_t kFold512Low = fold_constant(512 + 32), kFold512High = fold_constant(512 - 32);
constexpr std::uint64_t kFold128Low = fold_constant(128 + 32), kFold128High = fold_constant(128 - 32);

__attribute__((target("pclmul"))) inline __m128i fold(__m128i a, __m128i k, __m128i next) {
  const __m128i low = _mm_clmulepi64_si128(a, k, 0x00);
  const __m128i high = _mm_clmulepi64_si128(a, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

inline __m128i load(const std::uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// At least 64 bytes: four lanes folded 512 bits at a time, then into one
// lane, then 16 bytes at a time; what is left of the lane and the tail go
// through the tables.
__attribute__((target("pclmul"))) std::uint32_t crc32_clmul(std::uint32_t c, const std::uint8_t* p,
                                                          std::size_t n) {
  const __m128i k512 = _mm_set_epi64x(static_cast<long long>(kFold512High), static_cast<long long>(kFold512Low));
  const __m128i k128 = _mm_set_epi64x(static_cast<long long>(kFold128High), static_cast<long long>(kFold128Low));
  // The running register stands in for the first four bytes' complement.
  __m128i x0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(c)));
  __m128i x1 = load(p + 16), x2 = load(p + 32), x3 = load(p + 48);
  p += 64;
  n -= 64;
  while (n >= 64) {
    x0 = fold(x0, k512, load(p));
    x1 = fold(x1, k512, load(p + 16));
    x2 = fold(x2, k512, load(p + 32));
    x3 = fold(x3, k512, load(p + 48));
    p += 64;
    n -= 64;
  }
  __m128i x = fold(fold(fold(x0, k128, x1), k128, x2), k128, x3);
  while (n >= 16) {
    x = fold(x, k128, load(p));
    p += 16;
    n -= 16;
  }
  std::uint8_t lane[16];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(lane), x);
  return crc32_update_tables(crc32_update_tables(0, lane, sizeof lane), p, n);
}

bool have_clmul() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("pclmul");
}

#endif

}  // namespace

const std::array<std::uint32_t, 256> kCrc32Table = kTables[0];

std::uint32_t crc32_update(std::uint32_t c, const std::uint8_t* p, std::size_t n) {
#ifdef ZIPLIB_CLMUL
  static const bool clmul = have_clmul();
  if (clmul && n >= 64) return crc32_clmul(c, p, n);
#endif
  return crc32_update_tables(c, p, n);
}

}  // namespace ziplib

#include "ziplib/zip_writer.h"

#include "platform/file_io.h"

#include "ziplib/crc32.h"
#include "ziplib/zip_progress.h"
#include "ziplib/zip_state.h"

#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace ziplib {
namespace {

unsigned char encrypt_byte(unsigned char plain, ZipState& s) {
  unsigned char c = plain ^ zipKeystreamByte(s);
  zipUpdateKeys(plain, s);
  return c;
}

bool random_bytes(unsigned char* out, std::size_t n) {
  while (n) {
    ssize_t got = ::getrandom(out, n, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    out += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

bool multi_volume(const ZipState& s) { return (s.multi_vol & kMvMulti) != 0; }

// Spanned disk, no staging file: the volume layer makes room before writes.
std::uint64_t write_spanned(const unsigned char* p, std::uint64_t len, ZipState& s) {
  std::uint64_t done = 0;
  if (s.volumes && s.volumes->disk_free(s) >= len) {
    done = write_all(s.out_fd, p, len);
  } else {
    // Piece by piece, so that the disk can change between two pieces.
    while (done < len) {
      const std::uint64_t piece = std::min<std::uint64_t>(512, len - done);
      const int rc = s.volumes ? s.volumes->write_volume(s, piece) : ZE_MEDIA;
      if (rc) {
        s.volume_error = rc;
        break;
      }
      const std::uint64_t n = write_all(s.out_fd, p + done, piece);
      done += n;
      s.volume_offset += n;
      zip_pump(s);
      if (n != piece) return done;
    }
    return done;
  }
  s.volume_offset += done;
  return done;
}

// Split part or staging file: fill what is left of it, then go on in the next.
std::uint64_t write_parts(const unsigned char* p, std::uint64_t len, ZipState& s) {
  std::uint64_t done = 0;
  while (done < len) {
    const std::uint64_t room = s.volumes ? s.volumes->free_room(s) : len - done;
    const std::uint64_t rest = len - done;
    if (rest <= room) {
      const std::uint64_t n = write_all(s.temp_fd, p + done, rest);
      done += n;
      s.volume_offset += n;
      break;
    }
    const std::uint64_t n = write_all(s.temp_fd, p + done, room);
    done += n;
    s.volume_offset += n;
    if (n != room) break;
    if (int rc = s.volumes->next_part(s)) {
      s.volume_error = rc;
      break;
    }
    zip_pump(s);
  }
  zip_pump(s);
  return done;
}

// Adds to what is held, or, past the limit, writes it all and this block.
std::uint64_t write_holding(const unsigned char* p, std::uint64_t len, ZipState& s) {
  if (s.held.size() + len <= kHoldLimit) {
    try {
      s.held.insert(s.held.end(), p, p + len);
      return len;
    } catch (const std::bad_alloc&) {
      // Written now instead.
    }
  }
  const std::uint64_t held = s.held.size();
  const bool whole = write_all(s.out_fd, s.held.data(), held) == held;
  zip_drop_held(s);
  return whole ? write_all(s.out_fd, p, len) : 0;
}

}  // namespace

bool zip_hold(const std::vector<std::uint8_t>& header, ZipState& s) {
  // One buffer for all the entries of an operation.
  try {
    s.held.reserve(kHoldLimit);
  } catch (const std::bad_alloc&) {
    return false;
  }
  s.held.assign(header.begin(), header.end());
  s.holding = true;
  return true;
}

int zip_write_held(const std::vector<std::uint8_t>& header, ZipState& s) {
  std::copy(header.begin(), header.end(), s.held.begin());
  const std::uint64_t n = write_all(s.out_fd, s.held.data(), s.held.size());
  const bool whole = n == s.held.size();
  zip_drop_held(s);
  if (whole) return 0;
  return n < header.size() ? ZE_TEMP : -1;
}

void zip_drop_held(ZipState& s) {
  s.holding = false;
  s.held.clear();
}

std::uint64_t write_all(int fd, const unsigned char* data, std::uint64_t length) {
  const long long n = platform::file_write(fd, data, static_cast<std::size_t>(length));
  return n < 0 ? 0 : static_cast<std::uint64_t>(n);
}

void zipInitKeys(const char* password, ZipState& s) {
  s.keys[0] = 0x12345678;
  s.keys[1] = 0x23456789;
  s.keys[2] = 0x34567890;
  for (const char* p = password ? password : ""; *p; ++p) zipUpdateKeys(static_cast<unsigned char>(*p), s);
}

void zipUpdateKeys(unsigned char plain, ZipState& s) {
  s.keys[0] = crc32_byte(s.keys[0], plain);
  s.keys[1] = (s.keys[1] + (s.keys[0] & 0xFF)) * 134775813u + 1;
  s.keys[2] = crc32_byte(s.keys[2], static_cast<unsigned char>(s.keys[1] >> 24));
}

unsigned char zipKeystreamByte(const ZipState& s) {
  const std::uint16_t t = static_cast<std::uint16_t>(s.keys[2] | 2);
  return static_cast<unsigned char>((t * (t ^ 1u)) >> 8);
}

int zipWriteEncryptionHeader(const char* password, std::uint32_t check, ZipState& s) {
  // The random bytes only need to be unpredictable; a time-based seed would
  // repeat the keystream for two entries written within the same second.
  unsigned char header[12];
  if (!random_bytes(header, 10)) return ZE_MEM;
  zipInitKeys(password, s);
  header[10] = static_cast<unsigned char>(~(check >> 24));
  header[11] = static_cast<unsigned char>(check >> 24);
  for (unsigned char& b : header) b = encrypt_byte(b, s);

  if (s.memory_output) {
    std::uint32_t taken = sizeof header;
    int status = 3;
    if (s.data_proc) s.data_proc(1, header, &taken, s.mem_pos, s.out_position, s.data_user, &status);
    if (status == 2) {
      s.cancel = true;
      return ZE_ABORT;
    }
    if (!s.data_proc || status != 3 || taken != sizeof header) return ZE_MEM;
    s.out_position += sizeof header;
    return 0;
  }
  int fd = s.out_fd;
  if (multi_volume(s) && s.temp_fd >= 0) {
    while (s.volumes && s.volumes->free_room(s) < sizeof header) {
      if (int rc = s.volumes->next_part(s)) return rc;
    }
    fd = s.temp_fd;
  } else if (multi_volume(s)) {
    if (!s.volumes || s.volumes->write_volume(s, sizeof header) != 0) return s.cancel ? ZE_ABORT : ZE_MEDIA;
  }
  if (fd < 0 || write_all(fd, header, sizeof header) != sizeof header) return ZE_TEMP;
  if (multi_volume(s)) s.volume_offset += sizeof header;
  return 0;
}

std::uint64_t zipWriteData(unsigned char* buffer, std::uint64_t length, ZipState& s) {
  if (s.encrypt_entry && !s.password.empty())
    for (std::uint64_t i = 0; i < length; ++i) buffer[i] = encrypt_byte(buffer[i], s);

  if ((s.sub_options & kSubNeedsCallback) && s.data_proc) {
    // The host asked for a copy of everything written.
    std::uint32_t n = static_cast<std::uint32_t>(length);
    int status = 3;
    s.data_proc(2, buffer, &n, s.mem_pos, s.out_position, s.data_user, &status);
    if (status == 0 || status == 1 || status == 2) {
      s.cancel = true;
      return 0;
    }
  }

  if (s.memory_output) {
    std::uint64_t done = 0;
    while (done < length) {
      // The callback's count is 32-bit; a larger block goes in pieces.
      std::uint32_t n = static_cast<std::uint32_t>(std::min<std::uint64_t>(length - done, 0x40000000));
      const std::uint32_t offered = n;
      int status = 3;
      if (!s.data_proc) return done;
      s.data_proc(1, buffer + done, &n, s.mem_pos, s.out_position, s.data_user, &status);
      if (status == 2) {
        s.cancel = true;
        return done;
      }
      if (status != 3 || n != offered) return done;
      s.out_position += n;
      done += n;
    }
    zip_pump(s);
    return done;
  }

  std::uint64_t done = 0;
  if (multi_volume(s) && s.temp_fd >= 0) {
    done = write_parts(buffer, length, s);
  } else if (s.out_fd < 0) {
    return 0;
  } else if (multi_volume(s)) {
    done = write_spanned(buffer, length, s);
    zip_pump(s);
  } else if (s.holding) {
    done = write_holding(buffer, length, s);
    zip_pump(s);
    if (done != length) return 0;
  } else {
    done = write_all(s.out_fd, buffer, length);
    zip_pump(s);
    if (done != length) return 0;
  }
  return done;
}

}  // namespace ziplib

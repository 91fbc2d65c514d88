// The traditional PKWARE stream cipher and the one data writer through which
// every compressed byte of the compressor leaves: encryption, the host's copy
// and memory-output callbacks, and the spreading of data over volumes.
#pragma once

#include <cstdint>
#include <vector>

namespace ziplib {

struct ZipState;

// Cipher keys (state.keys): set the initial keys, then update them with every
// byte of the password.
void zipInitKeys(const char* password, ZipState& s);
void zipUpdateKeys(unsigned char plain, ZipState& s);
unsigned char zipKeystreamByte(const ZipState& s);

// Builds and writes the 12-byte encryption header: ten random bytes from the
// operating system, then the complement of the check value's high byte and
// the high byte itself, all encrypted.  The check value is the entry's CRC,
// or its DOS time shifted up 16 bits when a data descriptor follows.  The keys
// continue into the data.  Returns 0, 4, 9, 10 or 19.
int zipWriteEncryptionHeader(const char* password, std::uint32_t check, ZipState& s);

// Writes a block of entry data (encrypted in place when the entry's switch is
// on and a password is set) and returns the count written.
std::uint64_t zipWriteData(unsigned char* buffer, std::uint64_t length, ZipState& s);

// Holding an entry of a single archive: `header` is kept instead of written,
// and the data writer adds to it, until more than kHoldLimit bytes would be
// held; then it writes everything held and goes on writing as usual.
constexpr std::size_t kHoldLimit = 64 * 1024;
// Returns whether it holds (it does not when memory is short).
bool zip_hold(const std::vector<std::uint8_t>& header, ZipState& s);
// Puts `header` (as long as the one held) in front of the held data and
// writes it all at once.  Returns 0, 10 when the header's bytes did not all
// go out, or -1 when the data's did not.  Holding ends either way.
int zip_write_held(const std::vector<std::uint8_t>& header, ZipState& s);
// Ends holding without writing (an entry given up).
void zip_drop_held(ZipState& s);

// write() until done or failed; the count written.
std::uint64_t write_all(int fd, const unsigned char* data, std::uint64_t length);

}  // namespace ziplib

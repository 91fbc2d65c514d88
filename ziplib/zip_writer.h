// The traditional PKWARE stream cipher and the one data writer through which
// every compressed byte of the compressor leaves: encryption, the host's copy
// and memory-output callbacks, and the spreading of data over volumes.
#pragma once

#include <cstdint>

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

// write() until done or failed; the count written.
std::uint64_t write_all(int fd, const unsigned char* data, std::uint64_t length);

}  // namespace ziplib

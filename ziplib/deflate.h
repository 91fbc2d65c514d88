// The compressor's own Deflate (method 8) and Deflate64 (method 9) encoders.
//
// One entry at a time: start the encoder with a level (1-9), prepare the
// Huffman stage with the entry's internal attributes and method, then let it
// pull the whole input through the state's reader and push its output through
// the data writer.  The window and hash tables stay with the thread until
// zip_release_encoders(); the output buffer lives for one entry.
#pragma once

#include <cstdint>

namespace ziplib {

struct ZipState;

// Chooses the level row, sets the entry's flag bits (Deflate: level 1 sets
// bit 2, level 9 bit 1; Deflate64: levels 1-2 bit 2, levels 8-9 bit 1),
// clears the hash and reads the first input.  0, or 4 when the work areas
// cannot be had.
int zipDeflateStart(ZipState& s, int level, std::uint16_t* flags);
int zipDeflate64Start(ZipState& s, int level, std::uint16_t* flags);

// Prepares the Huffman stage.  `internal_attr` 0xFFFF asks the encoder to
// decide text (bit 0) at the first block; `method` becomes 0 when the whole
// entry ends up stored.  Both stay referenced until the entry is done.
void zipTreesStart(ZipState& s, std::uint16_t* internal_attr, std::uint16_t* method);
void zipTrees64Start(ZipState& s, std::uint16_t* internal_attr, std::uint16_t* method);

// Compresses the whole input; returns the compressed size in bytes.  Errors
// are reported in the state (4 memory, 9 cancel, 14 write).
std::uint64_t zipDeflate(ZipState& s);
std::uint64_t zipDeflate64(ZipState& s);

// Frees the window, hash tables and buffers of both encoders.
void zip_release_encoders(ZipState& s);

}  // namespace ziplib

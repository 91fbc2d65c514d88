// The boot sector every diskette formatted by the library starts from: a
// FAT12 boot record for a 360 KB diskette (the formatter writes the real
// medium's values over it) and a loader of our own that only says the disk
// cannot start the machine, waits for a key and hands back to the BIOS.
#include "ziplib/zip_format.h"

#include <array>
#include <cstring>

namespace ziplib {
namespace {

constexpr char kMessage[] =
    "\r\nKorvani Q7 disk or disk error\r\n"
    "Replace and press any key when ready\r\n";

// 16-bit code at 0x7C3E (offset 62), its message right behind it at 0x7C60.
constexpr std::uint8_t kLoader[] = {
    0xFA,                    // cli
    0x31, 0xC0,              // xor ax, ax
    0x8E, 0xD8,              // mov ds, ax
    0x8E, 0xD0,              // mov ss, ax
    0xBC, 0x00, 0x7C,        // mov sp, 0x7C00
    0xFB,                    // sti
    0xBE, 0x60, 0x7C,        // mov si, message
    0xAC,                    // next: lodsb
    0x08, 0xC0,              // or al, al
    0x74, 0x09,              // jz wait
    0xB4, 0x0E,              // mov ah, 0x0E   (teletype output)
    0xBB, 0x07, 0x00,        // mov bx, 0x0007
    0xCD, 0x10,              // int 0x10
    0xEB, 0xF2,              // jmp next
    0x30, 0xE4,              // wait: xor ah, ah
    0xCD, 0x16,              // int 0x16       (read a key)
    0xCD, 0x19,              // int 0x19       (bootstrap again)
};
constexpr std::size_t kLoaderAt = 62;
constexpr std::size_t kMessageAt = 0x60;
static_assert(kLoaderAt + sizeof kLoader == kMessageAt, "the message follows the code at 0x7C60");
static_assert(kMessageAt + sizeof kMessage <= 510, "the loader fits before the signature");

std::array<std::uint8_t, 512> build() {
  std::array<std::uint8_t, 512> b{};
  const std::uint8_t head[] = {
      0xEB, 0x3C, 0x90,                        // jmp 0x3E; nop
      'R', 'E', 'D', 'U', 'D', 'I', 'Z', '2',  // OEM name
      0x00, 0x02,                              // 512 bytes a sector
      2,                                       // sectors a cluster
      0x01, 0x00,                              // reserved sectors
      2,                                       // FATs
      112, 0,                                  // root entries
      0xD0, 0x02,                              // 720 sectors
      0xFD,                                    // media
      2, 0,                                    // sectors a FAT
      9, 0,                                    // sectors a track
      2, 0,                                    // heads
      0, 0, 0, 0,                              // hidden sectors
      0, 0, 0, 0,                              // 32-bit total
      0,                                       // drive
      0,                                       // reserved
      0x29,                                    // extended boot record
      0, 0, 0, 0,                              // serial
  };
  static_assert(sizeof head == 43);
  std::memcpy(b.data(), head, sizeof head);
  std::memcpy(b.data() + 43, "ZARIVUR_200", 11);
  std::memcpy(b.data() + 54, "FAT12   ", 8);
  std::memcpy(b.data() + kLoaderAt, kLoader, sizeof kLoader);
  std::memcpy(b.data() + kMessageAt, kMessage, sizeof kMessage);
  b[510] = 0x55;
  b[511] = 0xAA;
  return b;
}

const std::array<std::uint8_t, 512> kImage = build();

}  // namespace

const std::uint8_t* zip_boot_sector_image() { return kImage.data(); }

}  // namespace ziplib

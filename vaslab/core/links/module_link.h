// The measuring module on its serial link: single bytes both ways, its
// firmware image "c:\studies\romv5.bin", and the connection state machine
// that asks the module for its firmware version and replaces older firmware
// block by block.  The main menu steps the machine once per pass of its loop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vaslab {

// Bytes.  Without a module, or without a link, sending does nothing and
// receiving gives 0xFFFF; receiving never waits.
void send_module_byte(int value);
std::uint16_t receive_module_byte();
void drain_module_input();
void close_module_link();

// What a wait for module bytes watches (see link_wait_descriptor): the
// link's, unless the study screens take their bytes from another source,
// which then tells its own (kCannotWatch when it has none).
int module_wait_descriptor();
void set_module_source_descriptor(bool other_source, int descriptor);

// The firmware image file: the version byte and 32 blocks of 256 bytes.
constexpr std::size_t kFirmwareImageSize = 8192;
constexpr std::size_t kFirmwareFileSize = kFirmwareImageSize + 1;
constexpr int kFirmwareBlocks = 32;
constexpr std::size_t kFirmwareBlockSize = 256;
extern const char kFirmwareFile[];

// Reads the image file; when it opens and holds exactly the version and the
// image, sends 0x00 to the module, sets the connection state to 0 and
// returns 1.  Otherwise 0 and nothing is sent.
int load_firmware_image();
std::uint16_t firmware_file_version();
// Why load_firmware_image() failed, in words for the operator ("\r" between
// lines): the file is missing or not 8193 bytes long.
std::string firmware_image_fault();

// CRC-16 (reflected polynomial 0x8408, register starting at 0, no final
// inversion) of the block number followed by `count` bytes.
std::uint16_t firmware_block_crc(const std::uint8_t* data, std::size_t count, int block);
// Sends block n of the image: its number, the 256 bytes, the CRC high byte
// first.
void send_firmware_block(int block);

// Connection states: 0 to 8 on the way, 9 ready, 10 given up: the module
// kept an older firmware after the last of kMaxFirmwareDownloads downloads,
// or was not heard of again after a failed one.  A download fails when the
// module does not start it or stops asking for blocks (2 s), sends other
// data (streams), or asks for far more blocks than the image has.
constexpr int kModuleReady = 9;
constexpr int kModuleUpdateFailed = 10;
constexpr int kMaxFirmwareDownloads = 3;
int module_connection_state();
void set_module_connection_state(int state);
std::uint16_t module_firmware_version();
// Why the connection gave up, in words for the operator ("\r" between
// lines), ending "Firmware update failed.".
std::string firmware_update_fault();

// One step of the connection; it never waits longer than its time-out
// (1000 ms in state 0, 200 ms in states 1 to 3, 10 ms in state 8).
void step_module_connection();
// Hides the menu entries that need the module and asks the module again, up
// to ten steps (eleven when a download must follow); 0 when it is ready.
int connect_module();

// Back to the start state (tests).
void reset_module_link();

}  // namespace vaslab

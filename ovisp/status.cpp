#include "ovisp/status.h"

#include <array>

namespace ovisp {
namespace {

// Code 49 has no text of its own; an empty entry keeps every later code at
// its own index.
constexpr std::array<const char*, kStatusCount> kMessages = {
    "Pass",
    "Dynamic memory allocation error.",
    "Address is out of range.",
    "Function is not implemented.",
    "Timeout error.",
    "Reading error.",
    "Checksum error.",
    "Device does not exist.",
    "Protocol does not exist.",
    "Cannot execute command.",
    "Invalid device-hardware association.",
    "Cannot create device object.",
    "Cannot create protocol object.",
    "Hardware does not exist.",
    "Command does not exist.",
    "Cannot open port.",
    "Cannot close port.",
    "Cannot write to port.",
    "Framing error.",
    "The device is write-protected.",
    "The device is r/w-protected.",
    "Software security error.",
    "Cannot open file.",
    "Invalid HEX file syntax.",
    "Invalid HEX file checksum.",
    "Invalid HEX file pathname.",
    "Verify device fail at ",
    "Wrong target reply.",
    "Blank check fail at ",
    "CAN message length is not valid.",
    "CAN message ID is not valid.",
    "The CAN node is closed.",
    "Cannot execute command.",
    "Invalid memory configuration.",
    "Invalid bootloader reply.",
    "Invalid CRIS value.",
    "No argument was given. Use -h to get help.",
    "Parameter is missing.",
    "The device switch is missing.",
    "The operation switch is missing.",
    "Invalid number of device argument.",
    "Invalid port selection.",
    "Invalid baudrate.",
    "Invalid CAN bitrate",
    "No operation specified.",
    "Invalid operation.",
    "Invalid argument on command line.",
    "Too many operations.",
    "Invalid command file argument.",
    "",
    "No USB device found.",
    "Could not open USB device.",
    "Could not write to USB device.",
    "Could not read from USB device.",
    "Could not load DLL.",
    "Serial number out of range.",
    "Bad serialization arguments.",
    "The serial number must be a 64-bit value.",
    "USB driver not installed. \n\nExecute Start > Programs > Orvex > Plyx > Install USB Driver",
};

constexpr std::array<const char*, 20> kSpecialByteNames = {
    "BOOTLOADER_VERSION", "SOFTWARE_BOOT_VECTOR", "SOFTWARE_SECURITY_BYTE", "BOOT_STATUS_BYTE",
    "HARDWARE_BYTE",      "EXTRA_BYTE",           "DEVICE_BOOT_ID1",        "DEVICE_BOOT_ID2",
    "DEVICE_MANUF_ID",    "DEVICE_ID1",           "DEVICE_ID2",             "DEVICE_ID3",
    "BTC_1",              "BTC_2",                "BTC_3",                  "NNB",
    "CRIS",               "P1_CONF",              "P3_CONF",                "P4_CONF",
};

}  // namespace

void raise(int code) { throw IspError{code}; }

std::vector<std::string> errorMessageTable() {
  return std::vector<std::string>(kMessages.begin(), kMessages.end());
}

std::string specialByteName(int code) {
  if (code < 0 || code >= static_cast<int>(kSpecialByteNames.size())) return {};
  return kSpecialByteNames[static_cast<std::size_t>(code)];
}

std::string hexText(std::uint32_t value, int width) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  do {
    out.insert(out.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  if (static_cast<int>(out.size()) < width) out.insert(0, static_cast<std::size_t>(width) - out.size(), '0');
  return out;
}

std::string decimalText(std::uint32_t value) { return std::to_string(value); }
std::string decimalText(std::int64_t value) { return std::to_string(value); }

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool isHexPair(const char* two) {
  return two != nullptr && hexDigitValue(two[0]) >= 0 && hexDigitValue(two[1]) >= 0;
}

}  // namespace ovisp

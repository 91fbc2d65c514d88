// Status codes of the library, their message table, the names of the special
// bytes and the number-to-text helpers every part of the library uses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ovisp {

// Codes index the message table; a code's number never changes.
enum Status : int {
  kPass = 0,
  kAllocationError = 1,
  kAddressOutOfRange = 2,
  kNotImplemented = 3,
  kTimeout = 4,
  kReadingError = 5,
  kChecksumError = 6,
  kNoSuchDevice = 7,
  kNoSuchProtocol = 8,
  kCannotExecute = 9,
  kBadDeviceHardware = 10,
  kCannotCreateDevice = 11,
  kCannotCreateProtocol = 12,
  kNoSuchHardware = 13,
  kNoSuchCommand = 14,
  kCannotOpenPort = 15,
  kCannotClosePort = 16,
  kCannotWritePort = 17,
  kFramingError = 18,
  kWriteProtected = 19,
  kRwProtected = 20,
  kSoftwareSecurity = 21,
  kCannotOpenFile = 22,
  kHexSyntax = 23,
  kHexChecksum = 24,
  kHexPathname = 25,
  kVerifyFail = 26,
  kWrongReply = 27,
  kBlankCheckFail = 28,
  kCanLength = 29,
  kCanId = 30,
  kCanNodeClosed = 31,
  kCannotExecuteCommand = 32,
  kBadMemory = 33,
  kBadBootloaderReply = 34,
  kBadCris = 35,
  kNoUsbDevice = 50,
  kCannotOpenUsb = 51,
  kCannotWriteUsb = 52,
  kCannotReadUsb = 53,
  kCannotLoadLibrary = 54,
  kSerialOutOfRange = 55,
  kBadSerializeArgs = 56,
  kSerialNot64Bit = 57,
  kUsbDriverMissing = 58,
};

constexpr int kStatusCount = 59;

// A failure raised inside the library; the exported function that catches it
// stores the code as the last error and answers 0.
struct IspError {
  int code;
};

// Throws IspError{code}.
[[noreturn]] void raise(int code);

// The 59 message texts, index = code.
std::vector<std::string> errorMessageTable();

// Name of a special-byte code 0..19 for the trace; empty for other codes.
std::string specialByteName(int code);

// Upper-case hexadecimal, zero-filled on the left to `width` digits (a wider
// value keeps all its digits).  Signed values show their 32-bit pattern.
std::string hexText(std::uint32_t value, int width);
inline std::string hexText(std::int32_t value, int width) {
  return hexText(static_cast<std::uint32_t>(value), width);
}
inline std::string hexText(std::uint8_t value, int width) {
  return hexText(static_cast<std::uint32_t>(value), width);
}

std::string decimalText(std::uint32_t value);
std::string decimalText(std::int64_t value);

// Value of one hexadecimal digit (either case), or -1.
int hexDigitValue(char c);
// True when both characters are hexadecimal digits.
bool isHexPair(const char* two);

}  // namespace ovisp

// The buffer operations of the manager: Intel HEX reading and writing,
// filling, summing, single bytes and serial numbers.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include "ovisp/device.h"
#include "ovisp/manager.h"
#include "ovisp/session.h"
#include "ovisp/status.h"
#include "platform/file_io.h"
#include "platform/paths.h"

namespace ovisp {
namespace {

// Records longer than this are refused rather than read in part.
constexpr std::size_t kMaxHexLine = 254;

std::uint32_t hexField(const std::string& line, std::size_t pos, std::size_t digits) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < digits; ++i) v = (v << 4) | static_cast<std::uint32_t>(hexDigitValue(line[pos + i]));
  return v;
}

struct HexFileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Opens a HEX file for reading.  Only a regular file is one: a directory is
// refused like a missing file, and a FIFO or device is refused at once
// instead of being waited on.
std::unique_ptr<std::FILE, HexFileCloser> openHexFile(const std::string& linuxPath) {
  const int fd = ::open(linuxPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  std::FILE* file = nullptr;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) file = ::fdopen(fd, "rb");
  if (file == nullptr) ::close(fd);
  return std::unique_ptr<std::FILE, HexFileCloser>(file);
}

Device& currentDevice() {
  Device* device = session().device();
  if (device == nullptr) {
    setLastError(kCannotExecute);
    raise(kCannotExecute);
  }
  return *device;
}

// A byte text given by a caller: two hexadecimal digits (either case).
void requireByteText(const char* text) {
  if (text == nullptr || !isHexPair(text)) {
    setLastError(kCannotExecute);
    raise(kCannotExecute);
  }
}

void storeByte(Device& device, std::uint32_t index, std::string_view text) {
  if (!device.writeBufferByte(index >> 16, index & 0xFFFF, text)) {
    setLastError(kAddressOutOfRange);
    raise(kAddressOutOfRange);
  }
}

}  // namespace

std::string IspManager::hexChecksum(const std::string& record) const {
  if (demoMode_) return {};
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < record.size(); i += 2) {
    std::uint32_t group = 0;
    for (std::size_t j = i; j < std::min(i + 2, record.size()); ++j) {
      int d = hexDigitValue(record[j]);
      group = (group << 4) | static_cast<std::uint32_t>(d < 0 ? 0 : d);
    }
    sum += group;
  }
  return hexText(static_cast<std::uint32_t>((0u - sum) & 0xFF), 2);
}

void IspManager::parseHexFile(const std::string& path) {
  if (demoMode_) return;
  Device& device = currentDevice();
  const std::unique_ptr<std::FILE, HexFileCloser> file = openHexFile(platform::map_path(path));
  if (!file) fail(kCannotOpenFile);

  const std::uint64_t start = device.memoryStart();
  const std::uint64_t size = device.memorySize();
  // The file's bytes are gathered apart and reach the buffer only when the
  // whole file has been read: a damaged file leaves the buffer as it was.
  std::vector<std::array<char, 2>> image(size);
  std::vector<bool> stored(size, false);
  std::uint64_t base = 0;
  std::uint64_t lowest = 0xFFFFFF;
  std::uint64_t highest = 0;
  bool ended = false;
  // Room for the longest record, its line break and the terminator.
  char text[kMaxHexLine + 3];
  while (std::fgets(text, sizeof text, file.get()) != nullptr) {
    std::string line = text;
    if (line.empty() || (line.back() != '\n' && !std::feof(file.get()))) fail(kHexSyntax);
    // Files from other systems end their lines with CR LF.
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    if (line == ":00000001FF") {
      ended = true;
      break;
    }
    if (line.empty() || line[0] != ':') fail(kHexSyntax);
    if (line.size() > kMaxHexLine || line.size() < 11) fail(kHexSyntax);
    for (std::size_t i = 1; i < line.size(); ++i) {
      if (hexDigitValue(line[i]) < 0) fail(kHexSyntax);
    }
    const std::uint32_t count = hexField(line, 1, 2);
    if (line.size() != 11 + 2 * static_cast<std::size_t>(count)) fail(kHexSyntax);
    // By value: tools that write lower-case digits write the checksum so too.
    if (hexField(hexChecksum(line.substr(1, line.size() - 3)), 0, 2) != hexField(line, line.size() - 2, 2)) {
      fail(kHexChecksum);
    }
    if (!std::isdigit(static_cast<unsigned char>(line[7])) || !std::isdigit(static_cast<unsigned char>(line[8]))) {
      fail(kHexSyntax);
    }
    const int type = (line[7] - '0') * 10 + (line[8] - '0');
    switch (type) {
      case 0: {
        if (count == 0) break;
        const std::uint64_t address = hexField(line, 3, 4) + base;
        const std::uint64_t last = address + count - 1;
        if (last > highest) highest = last;
        if (address < start || last >= start + size) fail(kAddressOutOfRange);
        if (address < lowest) lowest = address;
        for (std::uint32_t j = 0; j < count; ++j) {
          const std::size_t index = static_cast<std::size_t>(address + j - start);
          image[index] = {line[9 + 2 * j], line[10 + 2 * j]};
          stored[index] = true;
        }
        break;
      }
      case 2:
      case 4:
        if (count != 2) fail(kHexSyntax);
        base = static_cast<std::uint64_t>(hexField(line, 9, 4)) << (type == 2 ? 4 : 16);
        break;
      case 1:
        // An end record with another address or spelling: the reading goes
        // on, but the file did end properly.
        ended = true;
        break;
      case 3:
      case 5:
        break;  // start addresses mean nothing to a programmer
      default:
        fail(kHexSyntax);
    }
  }
  // A file cut short (or unreadable part-way) is refused: its missing part
  // would be left unprogrammed.
  if (!ended && std::ferror(file.get())) fail(kCannotOpenFile);
  if (!ended) fail(kHexSyntax);
  bool any = false;
  for (std::size_t i = 0; i < image.size(); ++i) {
    if (!stored[i]) continue;
    storeByte(device, static_cast<std::uint32_t>(i), std::string_view(image[i].data(), 2));
    any = true;
  }
  bufferLow_ = static_cast<std::uint32_t>(lowest - start);
  bufferHigh_ = static_cast<std::uint32_t>(highest - start);
  bufferLoaded_ = any;
}

bool IspManager::writeHexFile(std::uint32_t start, std::uint32_t end, const std::string& path) {
  if (demoMode_) return true;
  Device& device = currentDevice();
  if (end < start || end >= device.memorySize()) fail(kAddressOutOfRange);

  std::string out;
  std::uint32_t upper = 0;
  for (std::uint64_t offset = start; offset <= end;) {
    if ((offset >> 16) != upper) {
      upper = static_cast<std::uint32_t>(offset >> 16);
      std::string body = "02000004" + hexText(upper, 4);
      out += ':' + body + hexChecksum(body) + '\n';
    }
    const std::uint64_t pageLeft = 0x10000 - (offset & 0xFFFF);
    const std::uint32_t count = static_cast<std::uint32_t>(std::min<std::uint64_t>({16, end - offset + 1, pageLeft}));
    const std::uint32_t low = static_cast<std::uint32_t>(offset & 0xFFFF);
    std::uint32_t sum = count + (low >> 8) + (low & 0xFF);
    std::string data;
    for (std::uint32_t i = 0; i < count; ++i) {
      data += device.readBufferByte(upper, low + i);
      sum += device.segment().byteValue(static_cast<std::uint32_t>(offset + i));
    }
    out += ':' + hexText(count, 2) + hexText(low, 4) + "00" + data + hexText((0u - sum) & 0xFF, 2) + '\n';
    offset += count;
  }
  out += ":00000001FF\n";
  // Written whole or not at all: a failed write leaves no half file.
  if (platform::write_file_atomic(platform::map_path_create_dirs(path), out.data(), out.size()) != 0) {
    lastError_ = kCannotOpenFile;
    return false;
  }
  return true;
}

void IspManager::fillBufferAddrRange(std::uint32_t start, std::uint32_t end, const char* text) {
  if (demoMode_) return;
  Device& device = currentDevice();
  requireByteText(text);
  if (end < start || end >= device.memorySize()) fail(kAddressOutOfRange);
  for (std::uint64_t i = start; i <= end; ++i) storeByte(device, static_cast<std::uint32_t>(i), text);
}

void IspManager::fillBuffer(const char* text) {
  if (demoMode_) return;
  Device& device = currentDevice();
  requireByteText(text);
  for (std::uint32_t i = 0; i < device.memorySize(); ++i) storeByte(device, i, text);
}

void IspManager::resetBuffer() { currentDevice().resetBuffer(); }

void IspManager::randomizeBuffer() {
  Device& device = currentDevice();
  static std::mt19937 generator{std::random_device{}()};
  for (std::uint32_t i = 0; i < device.memorySize(); ++i) {
    storeByte(device, i, hexText(static_cast<std::uint32_t>(generator() & 0xFF), 2));
  }
  bufferLow_ = 0;
  bufferHigh_ = device.memorySize() - 1;
  bufferLoaded_ = true;
}

void IspManager::computeBufferChecksum(std::uint32_t start, std::uint32_t end) {
  if (demoMode_) return;
  Device& device = currentDevice();
  // A range past the memory would only add default bytes, for up to four
  // billion steps.
  if (end >= device.memorySize() && end >= start) fail(kAddressOutOfRange);
  std::uint32_t sum = 0;
  for (std::uint64_t i = start; i <= end; ++i) sum += device.segment().byteValue(static_cast<std::uint32_t>(i));
  lastResult_ = hexText(sum, 6);
}

void IspManager::computeCrc() {
  if (demoMode_) {
    lastResult_ = "0000";
    return;
  }
  lastResult_ = hexText(static_cast<std::uint32_t>(currentDevice().computeCrc()), 4);
}

void IspManager::writeSingleByte(std::uint32_t offset, const char* text) {
  Device& device = currentDevice();
  requireByteText(text);
  storeByte(device, offset, text);
}

void IspManager::readSingleByte(std::uint32_t offset) {
  lastResult_ = currentDevice().readBufferByte(offset >> 16, offset & 0xFFFF);
}

void IspManager::getBufferAddrLo() { lastResult_ = hexText(bufferLow_, 4); }
void IspManager::getBufferAddrHi() { lastResult_ = hexText(bufferHigh_, 6); }
void IspManager::getMemorySize() { lastResult_ = decimalText(currentDevice().memorySize()); }

void IspManager::serialize(int memory, std::uint32_t start, std::int64_t value, std::uint8_t base,
                           const std::string& form) {
  if (demoMode_) return;
  std::string upperForm = form;
  for (char& c : upperForm) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  requireReady();
  // Groups are two digits of 10 or 16 only; other bases have no byte form,
  // and 0 or 1 would never finish dividing.
  if (base != 10 && base != 16) fail(kBadSerializeArgs);
  if (value < 0) fail(kSerialOutOfRange);
  selectMemory(memory);
  Device& device = currentDevice();

  const std::uint64_t b = base;
  std::uint64_t v = static_cast<std::uint64_t>(value);
  int n = 2;
  for (std::uint64_t q = v / b; q >= b; q /= b) ++n;
  const bool number = upperForm == "NUMBER";
  const bool ascii = upperForm == "ASCII";
  const std::uint32_t bytes = number ? static_cast<std::uint32_t>((n + 1) / 2) : ascii ? n : 2u * static_cast<std::uint32_t>(n);
  if (static_cast<std::uint64_t>(start) + bytes - 1 >= device.memorySize()) fail(kAddressOutOfRange);

  std::uint32_t offset = start;
  const int top = (n + 1) / 2 * 2 - 2;
  for (int o = top; o >= 0; o -= 2) {
    std::uint64_t power = 1;
    for (int i = 0; i < o; ++i) power *= b;
    const std::uint64_t g = o == 0 ? v % (base == 10 ? 100 : 256) : v / power;
    std::string text = base == 16 ? hexText(static_cast<std::uint32_t>(g), 2) : std::to_string(g);
    if (text.size() == 1 && (o != top || number)) text = std::string{'0', text[0]};
    if (number) {
      storeByte(device, offset++, text);
    } else {
      for (char d : text) {
        storeByte(device, offset++, std::string{'3', d});
        if (!ascii) storeByte(device, offset++, "00");
      }
    }
    v -= g * power;
  }
  programAddrRange(start, start + bytes - 1);
}

}  // namespace ovisp

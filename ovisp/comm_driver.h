// The link library of the selected communication hardware: the one way the
// library reaches a serial port, CAN adapter or USB device.  The manager
// loads it by hardware code and calls it through these wrappers; the
// protocols send their frames through it.
//
// This build carries no link libraries: load() fails, so hardware selection
// ends with "Could not load DLL.".  Tests install a replacement through
// IspSession::setCommDriver.
#pragma once

#include <cstdint>
#include <string>

namespace ovisp {

// File name of the link library of a hardware code 1..11 (null otherwise).
const char* linkLibraryFile(int hardwareCode);

class CommDriver {
 public:
  CommDriver() = default;
  CommDriver(const CommDriver&) = delete;
  CommDriver& operator=(const CommDriver&) = delete;
  virtual ~CommDriver() = default;

  // Loads and binds the link library of a hardware code, replacing any
  // loaded one.  False when it cannot be loaded.
  virtual bool load(int hardwareCode);
  // Frees the loaded library, if any.
  virtual void unload();
  virtual bool loaded() const;

  virtual bool openSerial(const std::string& port, int baud, std::uint8_t a, std::uint8_t b, std::uint8_t c);
  virtual bool openCan(int hardwareCode, std::uint32_t a, std::uint8_t b, std::uint16_t c, std::uint8_t d,
                       std::uint8_t e, std::uint32_t f);
  virtual bool openUsb(std::uint32_t productId);
  virtual bool close();
  virtual bool updateRxFilter(std::uint8_t cris);
  virtual bool clearDtr();
  virtual bool setDtr();
  virtual bool clearRts();
  virtual bool setRts();
};

}  // namespace ovisp
